#include "tests/support/HostilePages.h"

#include "tests/support/PageFiles.h"
#include "tests/support/TestImages.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QtEndian>

namespace {

// The first restart marker number marker after the scan header, or -1.
qsizetype findRestart(const QByteArray& jpeg, int number) {
    const qsizetype scan = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    int seen = 0;
    for (qsizetype at = scan + 2; scan >= 0 && at + 1 < jpeg.size(); ++at)
        if (uchar(jpeg[at]) == 0xFF && (uchar(jpeg[at + 1]) & 0xF8) == 0xD0 && ++seen == number)
            return at;
    return -1;
}

} // namespace

QList<HostilePages::Page> HostilePages::all() {
    const QImage page = PageFiles::paintPage(240, 320);
    const QImage indexed = page.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    QList<Page> pages;
    const auto add = [&pages](const char* name, const QByteArray& bytes, bool loads,
                              const char* reason = "") {
        pages.append({QString::fromLatin1(name), bytes, loads, QString::fromUtf8(reason)});
    };

    const QByteArray jpeg = PageFiles::jpeg(page, 90, true);
    add("jpeg.jpg", jpeg, true);
    add("jpeg-1mb-of-zeros-after.jpg", jpeg + QByteArray(1 << 20, '\0'), true);
    add("jpeg-text-after.jpg", jpeg + QByteArray("saved by some scanner program\r\n"), true);
    add("jpeg-cut-in-half.jpg", jpeg.left(jpeg.size() / 2), false, "troncato");
    add("jpeg-third-and-end-marker.jpg", jpeg.left(jpeg.size() / 3) + QByteArray("\xFF\xD9", 2), false,
        "danneggiato");
    // Metadata blocks pushing the frame header past the first 64 KB.
    QByteArray metadata;
    for (int i = 0; i < 2; ++i)
        metadata += QByteArray("\xFF\xE1\xFF\xFF", 4) + QByteArray(0xFFFF - 2, 'm');
    add("jpeg-128kb-of-metadata.jpg", jpeg.left(2) + metadata + jpeg.mid(2), true);
    QByteArray scrambled = jpeg;
    for (qsizetype i = scrambled.size() * 85 / 100; i < scrambled.size() * 85 / 100 + 24; ++i)
        scrambled[i] = char(0xFF);
    add("jpeg-damaged-near-bottom.jpg", scrambled, false, "danneggiato");
    add("jpeg-16000-square-no-data.jpg",
        PageFiles::withJpegSize(jpeg.left(jpeg.indexOf(QByteArray("\xFF\xDA", 2)) + 14), 16000, 16000) +
            QByteArray("\xFF\xD9", 2),
        false, "limiti");

    PageFiles::JpegOptions restarts;
    restarts.restartRows = 1;
    const QByteArray withRestarts = PageFiles::jpeg(page, restarts);
    add("jpeg-restarts.jpg", withRestarts, true);
    QByteArray badRestart = withRestarts;
    const qsizetype restart = findRestart(badRestart, 5);
    if (restart > 0)
        badRestart[restart + 1] = char(0xD0 + (uchar(badRestart[restart + 1]) - 0xD0 + 3) % 8);
    add("jpeg-damaged-restart-marker.jpg", badRestart, false, "danneggiato");

    PageFiles::JpegOptions arithmetic;
    arithmetic.arithmetic = true;
    const QByteArray arith = PageFiles::jpeg(page, arithmetic);
    add("jpeg-arithmetic.jpg", arith, true);
    add("jpeg-arithmetic-cut-by-two-thirds.jpg", arith.left(arith.size() / 3), false, "troncato");

    const QByteArray progressive = PageFiles::jpeg(page, 90, true, true);
    add("jpeg-progressive.jpg", progressive, true);
    add("jpeg-progressive-cut.jpg", progressive.left(progressive.size() * 2 / 3), false, "troncato");
    add("jpeg-progressive-16000-square.jpg", PageFiles::withJpegSize(progressive, 16000, 16000), false,
        "limiti");
    PageFiles::JpegOptions manyScans;
    manyScans.scanPerCoefficient = true;
    const QImage gray = page.convertToFormat(QImage::Format_Grayscale8);
    add("jpeg-127-scans.jpg", PageFiles::jpeg(gray, manyScans), false, "limiti");

    const QByteArray cmyk = PageFiles::jpegCmyk(page);
    add("jpeg-cmyk.jpg", cmyk, true);
    add("jpeg-cmyk-cut.jpg", cmyk.left(cmyk.size() * 3 / 4), false, "troncato");
    add("jpeg-cmyk-9000-square.jpg", PageFiles::withJpegSize(cmyk, 9000, 9000), false, "limiti");

    const QByteArray bmp = PageFiles::bmp(page, 24);
    add("bmp-24.bmp", bmp, true);
    add("bmp-24-bytes-after.bmp", bmp + QByteArray(4096, 'x'), true);
    add("bmp-1.bmp", PageFiles::bmp(page, 1), true);
    add("bmp-8-top-down.bmp", PageFiles::bmp(page, 8, true), true);
    add("bmp-cut.bmp", bmp.left(bmp.size() - 700), false, "troncato");
    add("bmp-header-only.bmp", bmp.left(54), false, "troncato");
    add("bmp-run-length.bmp", PageFiles::bmpRle8(indexed), false, "RLE");
    QByteArray huge = bmp;
    qToLittleEndian<qint32>(20000, huge.data() + 18);
    qToLittleEndian<qint32>(20000, huge.data() + 22);
    add("bmp-20000-square.bmp", huge, false, "troncato");

    const QByteArray gif = PageFiles::gif(indexed);
    add("gif.gif", gif, true);
    add("gif-bytes-after-trailer.gif", gif + QByteArray(300, '\0'), true);
    add("gif-cut-in-data.gif", gif.left(gif.size() * 3 / 4), false, "troncato");
    add("gif-without-trailer.gif", gif.left(gif.size() - 1), false, "troncato");
    // The data of a shorter page under the header of a taller one: the image ends early.
    QByteArray shortData = PageFiles::gif(indexed.copy(0, 0, 240, 200));
    qToLittleEndian<quint16>(320, shortData.data() + 8);
    const qsizetype descriptor = 13 + 3 * (2 << (uchar(shortData[10]) & 7));
    qToLittleEndian<quint16>(320, shortData.data() + descriptor + 7);
    add("gif-data-ends-early.gif", shortData, false, "incompleti");
    const QByteArray interlaced = PageFiles::gif(indexed, true);
    add("gif-interlaced.gif", interlaced, true);
    // The same for interlaced rows: the page's last pass is missing.
    QByteArray shortInterlaced = PageFiles::gif(indexed.copy(0, 0, 240, 200), true);
    qToLittleEndian<quint16>(320, shortInterlaced.data() + 8);
    qToLittleEndian<quint16>(320, shortInterlaced.data() + descriptor + 7);
    add("gif-interlaced-data-ends-early.gif", shortInterlaced, false, "incompleti");
    add("gif-interlaced-cut.gif", interlaced.left(interlaced.size() / 2), false, "troncato");
    add("gif-transparent.gif", PageFiles::gif(indexed, false, 3), true);
    add("gif-animated.gif", TestImages::animatedGif(60, 40, {Qt::red, Qt::green, Qt::blue}), true);
    QByteArray wideGif = gif;
    qToLittleEndian<quint16>(40000, wideGif.data() + 6);
    qToLittleEndian<quint16>(40000, wideGif.data() + 8);
    add("gif-40000-square-screen.gif", wideGif, false, "limiti");

    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        page.save(&buffer, "PNG");
    }
    add("png.png", png, true);
    add("png-cut.png", png.left(png.size() * 2 / 3), false, "troncato");

    add("text.jpg", QByteArray("not a picture at all\n"), false, "BMP, JPEG, GIF o PNG");
    add("empty.bmp", QByteArray(""), false, "vuoto");
    add("tiff-little-endian.tif", QByteArray("II*\0\x08\0\0\0\0\0", 10), false, "BMP, JPEG, GIF o PNG");
    add("jpeg-signature-only.jpg", QByteArray("\xFF\xD8\xFF", 3), false, "JPEG");
    return pages;
}
