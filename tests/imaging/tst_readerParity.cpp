#include "imaging/BmpHeader.h"
#include "imaging/BmpRegionReader.h"
#include "imaging/ImageFile.h"
#include "imaging/PageDecoder.h"
#include "imaging/PageFile.h"
#include "imaging/RegionReader.h"
#include "tests/support/BatchProcess.h"
#include "tests/support/HostilePages.h"
#include "tests/support/PageFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using BatchProcess::Run;
using BatchProcess::vetraBatch;
using BatchProcess::words;

} // namespace

// The workspace's load and the batch command's region reads share one page reader: on
// every page, whole, damaged or unusual, they give the same verdict, and the batch
// command's verdict does not depend on the rectangle.
class TestReaderParity : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

  private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void sameVerdictEverywhere_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<QString>("reason");
        for (const HostilePages::Page& page : HostilePages::all()) {
            const QString path = m_dir.filePath(page.name);
            QVERIFY(PageFiles::write(path, page.bytes));
            QTest::newRow(qPrintable(page.name)) << path << page.loads << page.reason;
        }
    }
    void sameVerdictEverywhere() {
        QFETCH(QString, path);
        QFETCH(bool, loads);
        QFETCH(QString, reason);

        ImageFile window;
        QCOMPARE(window.loadFile(path), loads);
        QCOMPARE(window.isNull(), !loads);
        QCOMPARE(window.frameCount() > 0, loads);
        if (!loads)
            QVERIFY2(window.errorString().contains(reason), qPrintable(window.errorString()));

        // Rectangles at the top and at the bottom of the page, upright and turned.
        QString why;
        const QSize stored = RegionReader::pageSize(path, &why);
        const QSize size = stored.isEmpty() ? QSize(240, 320) : stored;
        const QRect corners[] = {QRect(0, 0, 16, 12), QRect(size.width() - 16, size.height() - 12, 16, 12)};
        for (const QRect& rect : corners)
            for (int rotation : {0, 180}) {
                const PageRegion region =
                    RegionReader::read({path, {rotation, PageTransform::Mirror::None}, rect, {}});
                QVERIFY2(region.ok() == loads && region.error.contains(reason),
                         qPrintable(QStringLiteral("rect %1,%2 turned %3: %4")
                                        .arg(rect.x())
                                        .arg(rect.y())
                                        .arg(rotation)
                                        .arg(region.error)));
                QVERIFY(loads || region.image.isNull()); // no made-up pixels

                // The rest of the page checked on a thread of its own: the same verdict once
                // finished, and the same pixels.
                RegionRequest request{path, {rotation, PageTransform::Mirror::None}, rect, {}};
                request.deferWholeness = true;
                PageRegion deferred = RegionReader::read(request);
                QCOMPARE(deferred.finish(), loads);
                QVERIFY2(deferred.error.contains(reason), qPrintable(deferred.error));
                QCOMPARE(deferred.image, region.image);

                // "Known whole" holds only for bytes handed in, never for the file read afresh.
                request.deferWholeness = false;
                request.wholeKnown = true;
                QCOMPARE(RegionReader::read(request).ok(), loads);
                request.wholeKnown = false;

                // The bytes of a whole read handed back and read again as known whole.
                request.keepData = true;
                const PageRegion kept = RegionReader::read(request);
                QCOMPARE(kept.ok(), loads);
                if (loads) {
                    request.keepData = false;
                    request.data = kept.data;
                    request.wholeKnown = !kept.data.isEmpty();
                    const PageRegion again = RegionReader::read(request);
                    QVERIFY(again.ok());
                    QCOMPARE(again.image, region.image);

                    // The region cut from the whole page read at full size: the same pixels.
                    const PageRegion whole = RegionReader::read({path, {}, QRect(QPoint(0, 0), stored), {}});
                    QVERIFY(whole.ok());
                    const PageRegion cut = RegionReader::cut(
                        whole.image, whole.method, {path, {rotation, PageTransform::Mirror::None}, rect, {}});
                    QVERIFY(cut.ok());
                    QCOMPARE(cut.image, region.image);
                    QCOMPARE(cut.pageSize, region.pageSize);
                    QCOMPARE(cut.origin, region.origin);
                }
            }

        const QString out = m_dir.filePath(QStringLiteral("out.jpg"));
        QFile::remove(out);
        const Run rect =
            vetraBatch(words(QStringLiteral("--kind foto --rect 0,0,120,144")) + QStringList{path, out});
        QCOMPARE(rect.exitCode, loads ? 0 : 3);
        if (!loads) {
            QVERIFY(!QFile::exists(out));
            // The reason once, after the file's name once.
            QVERIFY2(rect.err.count(QFileInfo(path).fileName()) == 1, qPrintable(rect.err));
            QVERIFY2(rect.err.contains(reason), qPrintable(rect.err));
        }
        const Run frame =
            vetraBatch(words(QStringLiteral("--kind foto --frame 10,10,90,108")) + QStringList{path, out});
        QCOMPARE(frame.exitCode, loads ? 0 : 3);
    }

    // Only regular files are pages: a named pipe (also behind a link), a device or a
    // folder is refused at once with its reason, never waited on.
    void specialFilesAreRefused_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        const QString fifo = m_dir.filePath(QStringLiteral("pipe.jpg"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString link = m_dir.filePath(QStringLiteral("link-to-pipe.jpg"));
        QVERIFY(QFile::link(fifo, link));
        QTest::newRow("named pipe") << fifo << QStringLiteral("file speciale");
        QTest::newRow("link to a named pipe") << link << QStringLiteral("file speciale");
        QTest::newRow("device") << QStringLiteral("/dev/zero") << QStringLiteral("file speciale");
        QTest::newRow("folder") << m_dir.path() << QStringLiteral("cartella");
    }
    void specialFilesAreRefused() {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        ImageFile window;
        QVERIFY(!window.loadFile(path));
        QVERIFY2(window.errorString().contains(reason), qPrintable(window.errorString()));
        const PageRegion region = RegionReader::read({path, {}, QRect(0, 0, 10, 10), {}});
        QVERIFY2(region.error.contains(reason), qPrintable(region.error));
        QString why;
        QVERIFY(RegionReader::pageSize(path, &why).isEmpty());
        QVERIFY2(why.contains(reason), qPrintable(why));
        if (QFileInfo(path).isDir())
            return; // a folder is the batch command's folder mode
        const Run run = vetraBatch(words(QStringLiteral("--kind foto --rect 0,0,10,10")) +
                                   QStringList{path, m_dir.filePath(QStringLiteral("o.jpg"))});
        QCOMPARE(run.exitCode, 3);
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
    }

    // A folder run with a link to a named pipe among its pages finishes, saves the others.
    void folderWithPipeFinishes() {
        QTemporaryDir in;
        QTemporaryDir out;
        QVERIFY(in.isValid() && out.isValid());
        QVERIFY(PageFiles::write(in.filePath(QStringLiteral("a.jpg")),
                                 PageFiles::jpeg(PageFiles::paintPage(240, 320), 90, true)));
        const QString fifo = m_dir.filePath(QStringLiteral("folder-pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QFile::link(fifo, in.filePath(QStringLiteral("b.jpg"))));
        const Run run = vetraBatch(words(QStringLiteral("--kind foto --rect 0,0,120,144")) +
                                   QStringList{in.path(), out.path()});
        QVERIFY2(run.exitCode == 0 || run.exitCode == 1, qPrintable(run.err));
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("a.jpg"))));
        QVERIFY(!QFile::exists(out.filePath(QStringLiteral("b.jpg"))));
    }

    // A file cut short after it was opened gives short reads, never a bus error, and the
    // page is refused as changed.
    void fileShrinkingWhileReadIsRefused() {
        const QString path = m_dir.filePath(QStringLiteral("shrinks.bmp"));
        const QByteArray bytes = PageFiles::bmp(PageFiles::paintPage(300, 200), 24);
        QVERIFY(PageFiles::write(path, bytes));
        PageFile file;
        QString error;
        QVERIFY2(file.open(path, &error), qPrintable(error));
        BmpHeader bmp;
        QVERIFY(BmpHeader::parse(reinterpret_cast<const uchar*>(file.head().constData()), file.head().size(),
                                 file.size(), &bmp, &error));
        QCOMPARE(::truncate(QFile::encodeName(path).constData(), 2000), 0);

        PageDecoder::Page page;
        QVERIFY(!PageDecoder::decodeBmp(file, bmp, PageLimits::kPageBytes, 0, page));
        QVERIFY(page.image.isNull());
        QCOMPARE(page.error, PageFile::changedReason());
        PageRegion region;
        const auto readAt = [&file](qint64 offset, void* to, qint64 length) {
            return file.readAt(offset, to, length);
        };
        QCOMPARE(BmpRegionReader::read(bmp, readAt, {path, {}, QRect(0, 150, 20, 20), {}}, &region),
                 BmpRegionReader::Result::Failed);
        QCOMPARE(region.error, PageFile::changedReason());
        QByteArray all;
        QVERIFY(!file.readAll(&all, &error));
        QCOMPARE(error, PageFile::changedReason());
    }
};

QTEST_GUILESS_MAIN(TestReaderParity)
#include "tst_readerParity.moc"
