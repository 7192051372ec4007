// The batch road's region reader on GIF pages it leaves to Qt's reader: the page is what
// Qt decodes (the whole screen), as the workspace sees it, and the size read on its own
// agrees with it.

#include "imaging/RegionReader.h"
#include "tests/support/TestImages.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

// One red image of 8 x 6 at (left, top) on a screen of the given size.
QByteArray placedGif(QSize screen, QPoint at) {
    QByteArray gif = TestImages::animatedGif(8, 6, {QColor(Qt::red)});
    qToLittleEndian<quint16>(quint16(screen.width()), gif.data() + 6);
    qToLittleEndian<quint16>(quint16(screen.height()), gif.data() + 8);
    const qsizetype image = gif.indexOf(char(0x2C), 13 + 3 * 128);
    qToLittleEndian<quint16>(quint16(at.x()), gif.data() + image + 1);
    qToLittleEndian<quint16>(quint16(at.y()), gif.data() + image + 3);
    return gif;
}

QImage onWhite(const QImage& image) {
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter(&flat).drawImage(0, 0, image);
    return flat;
}

} // namespace

class TestRegionGif : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void pageIsTheWholeScreen_data() {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QRect>("rect");
        QTest::newRow("image inside the screen") << QSize(30, 20) << QPoint(10, 5) << QRect(0, 0, 30, 20);
        QTest::newRow("image at the corner") << QSize(30, 20) << QPoint(0, 0) << QRect(0, 0, 30, 20);
        QTest::newRow("rectangle past the image") << QSize(30, 20) << QPoint(10, 5) << QRect(12, 8, 15, 10);
        // Qt's reader announces the first image's size for a screen this much taller than it.
        QTest::newRow("tall screen") << QSize(8, 16000) << QPoint(0, 0) << QRect(0, 0, 8, 40);
        QTest::newRow("tall screen, image further down")
            << QSize(8, 16000) << QPoint(0, 9000) << QRect(0, 8990, 8, 30);
    }
    void pageIsTheWholeScreen() {
        QFETCH(QSize, screen);
        QFETCH(QPoint, at);
        QFETCH(QRect, rect);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("page.gif"));
        QVERIFY(TestImages::writeBytes(path, placedGif(screen, at)));
        const QImage seen = onWhite(QImage(path));
        QCOMPARE(seen.size(), screen);

        QString error;
        QCOMPARE(RegionReader::pageSize(path, &error), screen);
        RegionRequest request;
        request.path = path;
        request.rect = rect;
        const PageRegion region = RegionReader::read(request);
        QVERIFY2(region.ok(), qPrintable(region.error));
        QCOMPARE(region.pageSize, screen);
        QCOMPARE(region.image.size(), rect.size());
        QCOMPARE(region.image, seen.copy(rect));
        // The red image is where the file puts it.
        if (rect.contains(at + QPoint(2, 2)))
            QCOMPARE(region.image.pixel(at + QPoint(2, 2) - rect.topLeft()), qRgb(255, 0, 0));
    }

    void emptyScreenIsRefusedByBoth() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("empty-screen.gif"));
        QVERIFY(TestImages::writeBytes(path, placedGif(QSize(0, 20), QPoint(0, 0))));
        QString error;
        QVERIFY(RegionReader::pageSize(path, &error).isEmpty());
        QVERIFY(!error.isEmpty());
        RegionRequest request;
        request.path = path;
        request.rect = QRect(0, 0, 8, 6);
        const PageRegion region = RegionReader::read(request);
        QVERIFY(!region.ok());
        QVERIFY(!region.error.isEmpty());
    }
};

QTEST_MAIN(TestRegionGif)

#include "tst_regiongif.moc"
