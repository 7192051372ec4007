// Writes the largest pages the readers accept, for measuring peak memory of the window and
// of vetra-batch --auto on them (bench/README.md, "Memory on the largest pages"): the
// sample form stretched over 8192 x 8192 pixels as GIFs (256 colours; plain, interlaced,
// with a transparent colour), as a grey PNG, a 24-bit BMP and a JPEG.
//
// Usage: largest_pages FOLDER
#include "tests/support/PageFiles.h"
#include "tests/support/SampleForm.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: largest_pages FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    constexpr int kSide = 8192; // 64 Mpixel, 256 MB of 32-bit pixels: the page limit
    const QImage form =
        SampleForm::page().scaled(kSide, kSide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage indexed = form.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    // Interlaced and transparent GIFs go through Qt's reader instead of our own decoder.
    const bool gif =
        PageFiles::write(folder.filePath(QStringLiteral("form-8192.gif")), PageFiles::gif(indexed)) &&
        PageFiles::write(folder.filePath(QStringLiteral("form-8192-interlaced.gif")),
                         PageFiles::gif(indexed, true)) &&
        PageFiles::write(folder.filePath(QStringLiteral("form-8192-transparent.gif")),
                         PageFiles::gif(indexed, false, 0));
    const bool png = form.convertToFormat(QImage::Format_Grayscale8)
                         .save(folder.filePath(QStringLiteral("form-8192-grey.png")), "png");
    const bool others =
        PageFiles::write(folder.filePath(QStringLiteral("form-8192.bmp")), PageFiles::bmp(form, 24)) &&
        PageFiles::write(folder.filePath(QStringLiteral("form-8192.jpg")), PageFiles::jpeg(form, 90, true));
    std::printf("%s\n%s\n", gif ? "GIF pages written" : "GIF failed",
                png ? "PNG page written" : "PNG failed");
    return gif && png && others ? 0 : 1;
}
