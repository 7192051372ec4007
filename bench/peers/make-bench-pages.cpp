// Writes the benchmark pages into a folder and the list of jobs on them, one line a job:
//   JOB FILE KIND ROTATION X,Y,W,H
// where KIND is vetra-batch's (foto, firma, adr) and the rectangle the box to crop on the
// page turned by ROTATION. The pages are scanned sideways, so each needs a quarter turn
// clockwise. The GIF pages (a4-300.gif, and from it a4-300-interlaced.gif and
// a4-300-frames.gif) are made from the BMP page by scripts/bench, since Qt writes no GIF.
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
    QFile list(dir.filePath(QStringLiteral("jobs.txt")));
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
    }
    struct Job {
        const char* name;
        const char* file;
        const char* kind;
        int dpi;
        bool signature;
        bool far = false; // the box on the other side of the page, as bench_region's "far" one
    };
    const Job jobs[] = {
        {"photo-a4-300-jpeg", "a4-300.jpg", "foto", 300, false},
        {"photo-noisy-300-jpeg", "noisy-300.jpg", "foto", 300, false},
        {"photo-a4-300-gif", "a4-300.gif", "foto", 300, false},
        {"square-a4-300-jpeg", "a4-300.jpg", "adr", 300, false},
        {"photo-a4-600-jpeg", "a4-600.jpg", "foto", 600, false},
        {"photo-a4-300-bmp", "a4-300.bmp", "foto", 300, false},
        {"signature-a4-300-jpeg", "a4-300.jpg", "firma", 300, true},
        {"photo-300-gif-inter", "a4-300-interlaced.gif", "foto", 300, false},
        {"photo-far-gif-inter", "a4-300-interlaced.gif", "foto", 300, false, true},
        {"photo-300-gif-frames", "a4-300-frames.gif", "foto", 300, false},
    };
    for (const Job& job : jobs) {
        QRect r = job.signature ? FormPage::signatureRect(job.dpi) : FormPage::photoRect(job.dpi);
        if (job.far) // near the upright page's left edge: its stored rows come last in the file
            r.moveLeft(r.left() * 100 / 1690);
        out << job.name << ' ' << job.file << ' ' << job.kind << " 90 " << r.x() << ',' << r.y() << ','
            << r.width() << ',' << r.height() << '\n';
    }
    return 0;
}
