// The quick quality search must answer exactly what the step search answers (every quality
// from 100 down until a file fits): same outcome, same quality, same bytes, for every kind,
// on a wide mix of pictures.

#include "encode/GPP2J.h"
#include "encode/QualitySearch.h"
#include "imaging/OutputKinds.h"
#include "tests/support/SamplePictures.h"

#include <QtTest>

namespace {

// The quick search gives the step search's outcome, quality and bytes, in no more encodes.
void sameAsStepSearch(const QImage& picture, qint64 limit) {
    GPP2J stepWriter;
    const QualitySearch::Result expected = QualitySearch::runSequential(stepWriter, picture, limit, 300, 300);
    GPP2J writer;
    const QualitySearch::Result result = QualitySearch::run(writer, picture, limit, 300, 300);
    QCOMPARE(result.status, expected.status);
    QCOMPARE(result.quality, expected.quality);
    QCOMPARE(result.bytes, expected.bytes);
    QVERIFY(result.encodes <= expected.encodes);
}

} // namespace

class TestExactSearch : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void sameAnswer_data() {
        QTest::addColumn<int>("index");
        for (int index = 0; index < 204; ++index)
            QTest::addRow("picture %d", index) << index;
    }

    void sameAnswer() {
        QFETCH(int, index);
        for (const OutputKindInfo& info : kOutputKinds) {
            const QImage picture = SamplePictures::varied(index, info.outputSize);
            sameAsStepSearch(picture, info.sizeLimit);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // A picture that fits at once, and limits that leave the answer at the very bottom.
    void edges_data() {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<qint64>("limit");
        QTest::newRow("fits at 100") << SamplePictures::signature(QSize(60, 20)) << qint64(34900);
        QTest::newRow("only the lowest fits") << SamplePictures::noisyPhoto(QSize(200, 200)) << qint64(2200);
        QTest::newRow("nothing fits") << SamplePictures::harshNoise(QSize(400, 400)) << qint64(9900);
        QTest::newRow("a limit below any header") << SamplePictures::photo(QSize(40, 40)) << qint64(100);
    }

    void edges() {
        QFETCH(QImage, picture);
        QFETCH(qint64, limit);
        sameAsStepSearch(picture, limit);
    }

    // A failed encode is reported at the step search's quality, with the writer's reason.
    void encodeFailure() {
        GPP2J writer;
        const QualitySearch::Result result = QualitySearch::run(writer, QImage(), 34900, 300, 300);
        QCOMPARE(result.status, QualitySearch::Status::EncodeFailed);
        QCOMPARE(result.quality, 100);
        QVERIFY(result.bytes.isEmpty());
        QVERIFY(!writer.lastError().isEmpty());

        const QualitySearch::Result badDensity =
            QualitySearch::run(writer, SamplePictures::photo(QSize(40, 40)), 34900, 0x10000, 300);
        QCOMPARE(badDensity.status, QualitySearch::Status::EncodeFailed);
        QCOMPARE(badDensity.quality, 100);
        QVERIFY(writer.lastError().contains(QLatin1String("65536")));
    }
};

QTEST_GUILESS_MAIN(TestExactSearch)
#include "tst_exactSearch.moc"
