// The quality search that encodes several qualities at once must find what the
// one-at-a-time search finds: the same quality, the same bytes, the same outcome.

#include "encode/GPP2J.h"
#include "encode/QualitySearch.h"
#include "imaging/OutputKinds.h"
#include "tests/support/SamplePictures.h"

#include <QtTest>

class TestParallelSearch : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup() { qunsetenv("VETRA_ENCODE_THREADS"); }

    void sameAnswer_data() {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<int>("threads");

        for (const OutputKindInfo& info : kOutputKinds) {
            const QSize size = info.outputSize;
            for (int threads : {2, 3, 4}) {
                QTest::addRow("%s photo, %d threads", info.frameName, threads)
                    << SamplePictures::photo(size) << info.sizeLimit << threads;
                QTest::addRow("%s signature, %d threads", info.frameName, threads)
                    << SamplePictures::signature(size) << info.sizeLimit << threads;
                QTest::addRow("%s noisy, %d threads", info.frameName, threads)
                    << SamplePictures::noisyPhoto(size, 5 + quint32(threads)) << info.sizeLimit << threads;
            }
        }
        QTest::newRow("fits at 100") << SamplePictures::signature(QSize(60, 20)) << qint64(34900) << 2;
        QTest::newRow("a low limit") << SamplePictures::noisyPhoto(QSize(200, 200)) << qint64(2500) << 4;
        QTest::newRow("nothing fits") << SamplePictures::harshNoise(QSize(400, 400)) << qint64(9900) << 2;
        QTest::newRow("one thread") << SamplePictures::photo(QSize(400, 480)) << qint64(34900) << 1;
    }

    void sameAnswer() {
        QFETCH(QImage, picture);
        QFETCH(qint64, limit);
        QFETCH(int, threads);

        GPP2J sequentialWriter;
        const QualitySearch::Result expected =
            QualitySearch::runSequential(sequentialWriter, picture, limit, 300, 300);
        qputenv("VETRA_ENCODE_THREADS", QByteArray::number(threads));
        QCOMPARE(QualitySearch::threads(), threads);
        GPP2J writer;
        const QualitySearch::Result result = QualitySearch::run(writer, picture, limit, 300, 300);

        QCOMPARE(result.status, expected.status);
        QCOMPARE(result.quality, expected.quality);
        QCOMPARE(result.encodes, expected.encodes);
        QCOMPARE(result.bytes, expected.bytes);
        if (result.status == QualitySearch::Status::Found)
            QVERIFY(result.bytes.size() <= limit);
    }

    // A failed encode stops both searches at the same quality, and the caller's writer
    // says why even when another thread's writer met the failure.
    void encodeFailure() {
        qputenv("VETRA_ENCODE_THREADS", "3");
        GPP2J writer;
        const QualitySearch::Result result = QualitySearch::run(writer, QImage(), 34900, 300, 300);
        QCOMPARE(result.status, QualitySearch::Status::EncodeFailed);
        QCOMPARE(result.quality, 100);
        QVERIFY(result.bytes.isEmpty());
        QVERIFY(!writer.lastError().isEmpty());

        const QualitySearch::Result badDensity =
            QualitySearch::run(writer, SamplePictures::photo(QSize(40, 40)), 34900, 0x10000, 300);
        QCOMPARE(badDensity.status, QualitySearch::Status::EncodeFailed);
        QVERIFY(writer.lastError().contains(QLatin1String("65536")));
    }
};

QTEST_GUILESS_MAIN(TestParallelSearch)
#include "tst_parallelSearch.moc"
