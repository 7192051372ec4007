// vetra-batch: the workspace's crop and save from the command line, for one page or a
// folder of pages. See BatchArguments::usage().

#include "batch/BatchJob.h"
#include "batch/BatchOptions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QSet>

#include <cstdio>

namespace {

void printLine(FILE* stream, const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

int exitCode(BatchExit exit) {
    return int(exit);
}

// quality=Q bytes=N, and with --auto the turn and the crop rectangle the locator chose.
QString resultText(const BatchOptions& options, const BatchJob::Outcome& outcome) {
    QString text = QStringLiteral("quality=%1 bytes=%2").arg(outcome.quality).arg(outcome.bytes);
    if (options.area == BatchOptions::Area::Auto)
        text += QStringLiteral(" turn=%1 rect=%2,%3,%4,%5")
                    .arg(outcome.turn)
                    .arg(outcome.rect.x())
                    .arg(outcome.rect.y())
                    .arg(outcome.rect.width())
                    .arg(outcome.rect.height());
    return text;
}

// Files of folder that Qt or the region reader can read, by extension, in name order.
QStringList pagesIn(const QDir& folder) {
    QSet<QString> suffixes;
    const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    for (const QByteArray& format : formats)
        suffixes.insert(QString::fromLatin1(format).toLower());
    suffixes << QStringLiteral("jpg") << QStringLiteral("jpeg") << QStringLiteral("bmp")
             << QStringLiteral("gif");
    QStringList pages;
    const QFileInfoList entries = folder.entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (suffixes.contains(entry.suffix().toLower()))
            pages << entry.fileName();
    }
    return pages;
}

int runFolder(const BatchOptions& options) {
    const QDir input(options.input);
    const QFileInfo outputInfo(options.output);
    if (outputInfo.exists() && !outputInfo.isDir()) {
        printLine(
            stderr,
            QStringLiteral("vetra-batch: %1 è una cartella, quindi anche l'uscita %2 deve esserlo")
                .arg(QDir::toNativeSeparators(options.input), QDir::toNativeSeparators(options.output)));
        return exitCode(BatchExit::Usage);
    }
    if (!QDir().mkpath(options.output)) {
        printLine(stderr, QStringLiteral("vetra-batch: impossibile creare la cartella %1")
                              .arg(QDir::toNativeSeparators(options.output)));
        return exitCode(BatchExit::WriteFailed);
    }
    const QDir output(options.output);
    // Pages named like their outputs would be replaced by them.
    if (input.canonicalPath() == output.canonicalPath()) {
        printLine(stderr, QStringLiteral("vetra-batch: la cartella di uscita deve essere diversa da quella "
                                         "di ingresso"));
        return exitCode(BatchExit::Usage);
    }
    const QStringList pages = pagesIn(input);
    if (pages.isEmpty()) {
        printLine(stderr, QStringLiteral("vetra-batch: nessuna immagine in %1")
                              .arg(QDir::toNativeSeparators(options.input)));
        return exitCode(BatchExit::Unreadable);
    }

    QSet<QString> written;
    int failed = 0;
    const int total = int(pages.size());
    for (int i = 0; i < total; ++i) {
        const QString& page = pages.at(i);
        const QString target = QFileInfo(page).completeBaseName() + QStringLiteral(".jpg");
        const QString counter = QStringLiteral("[%1/%2] %3").arg(i + 1).arg(total).arg(page);
        if (written.contains(target.toLower())) {
            ++failed;
            printLine(
                stderr,
                QStringLiteral("%1: ERRORE: %2 è già stato scritto da un'altra pagina").arg(counter, target));
            continue;
        }
        const BatchJob::Outcome outcome =
            BatchJob::run(options, input.filePath(page), output.filePath(target));
        if (outcome.exit != BatchExit::Ok) {
            ++failed;
            printLine(stderr, QStringLiteral("%1: ERRORE: %2").arg(counter, outcome.error));
            continue;
        }
        written.insert(target.toLower());
        printLine(stdout, QStringLiteral("%1 -> %2 %3").arg(counter, target, resultText(options, outcome)));
    }
    printLine(
        stdout,
        QStringLiteral("%1 pagine: %2 salvate, %3 non riuscite").arg(total).arg(total - failed).arg(failed));
    return exitCode(failed == 0 ? BatchExit::Ok : BatchExit::SomeFilesFailed);
}

} // namespace

int main(int argc, char* argv[]) {
    // Decoding, stretching and encoding need no display: no GUI application is made.
    QCoreApplication app(argc, argv);

    BatchOptions options;
    QString error;
    if (!BatchArguments::parse(app.arguments().mid(1), &options, &error)) {
        // The error, the two lines of the synopsis and where the rest is.
        const QString synopsis = BatchArguments::usage().section(QLatin1Char('\n'), 0, 1);
        printLine(
            stderr,
            QStringLiteral("vetra-batch: %1\n%2\n(vetra-batch --help per i dettagli)").arg(error, synopsis));
        return exitCode(BatchExit::Usage);
    }
    if (options.help) {
        std::fputs(qPrintable(BatchArguments::usage()), stdout);
        return 0;
    }

    if (QFileInfo(options.input).isDir())
        return runFolder(options);
    if (QFileInfo(options.output).isDir()) {
        printLine(stderr,
                  QStringLiteral("vetra-batch: l'uscita %1 è una cartella: indicare il nome del file JPEG")
                      .arg(QDir::toNativeSeparators(options.output)));
        return exitCode(BatchExit::Usage);
    }
    const BatchJob::Outcome outcome = BatchJob::run(options, options.input, options.output);
    if (outcome.exit != BatchExit::Ok) {
        printLine(stderr, QStringLiteral("vetra-batch: %1").arg(outcome.error));
        return exitCode(outcome.exit);
    }
    printLine(stdout, resultText(options, outcome));
    return 0;
}
