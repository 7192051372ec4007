// Writes the benchmark pages into a folder and a list of them, one line a page:
//   FILE ROTATION X,Y,W,H
// where the rectangle is the photograph's box on the page turned by ROTATION.
// The pages are scanned sideways, so each needs a quarter turn clockwise.
#include "tests/support/FormPage.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-bench-pages FOLDER\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "make-bench-pages: cannot create %s\n", argv[1]);
        return 1;
    }
    QFile list(dir.filePath(QStringLiteral("pages.txt")));
    if (!list.open(QIODevice::WriteOnly | QIODevice::Text))
        return 1;
    QTextStream out(&list);

    struct Page {
        const char* name;
        int dpi;
        bool noisy;
        const char* format;
    };
    const Page pages[] = {
        {"a4-300.jpg", 300, false, "jpeg"},
        {"a4-600.jpg", 600, false, "jpeg"},
        {"noisy-300.jpg", 300, true, "jpeg"},
        {"a4-300.bmp", 300, false, "bmp"},
    };
    for (const Page& page : pages) {
        const QString file = dir.filePath(QString::fromLatin1(page.name));
        QImageWriter writer(file, page.format);
        writer.setQuality(90);
        const QImage sideways = FormPage::sideways(FormPage::paint(page.dpi, page.noisy));
        if (!writer.write(sideways)) {
            std::fprintf(stderr, "make-bench-pages: %s: %s\n", qPrintable(file),
                         qPrintable(writer.errorString()));
            return 1;
        }
        const QRect r = FormPage::photoRect(page.dpi);
        out << page.name << " 90 " << r.x() << ',' << r.y() << ',' << r.width() << ',' << r.height() << '\n';
    }
    return 0;
}
