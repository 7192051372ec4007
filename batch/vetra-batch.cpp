// vetra-batch: the workspace's crop and save from the command line, for one page or a
// folder of pages. See BatchArguments::usage().

#include "batch/BatchJob.h"
#include "batch/BatchOptions.h"
#include "batch/LocatorLoader.h"
#include "core/OpenFolder.h"
#include "core/SystemReason.h"
#include "imaging/PageFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace {

void printLine(FILE* stream, const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

int exitCode(BatchExit exit) {
    return int(exit);
}

// quality=Q bytes=N, and with --auto the turn, the straightening and the crop rectangle the
// locator chose: given back as --rotate, --straighten and --rect they make the same file.
QString resultText(const BatchOptions& options, const BatchJob::Outcome& outcome) {
    QString text = QStringLiteral("quality=%1 bytes=%2").arg(outcome.quality).arg(outcome.bytes);
    if (options.area == BatchOptions::Area::Auto)
        text += QStringLiteral(" turn=%1 straighten=%2 rect=%3,%4,%5,%6")
                    .arg(outcome.turn)
                    .arg(BatchJob::degreesText(outcome.straighten))
                    .arg(outcome.rect.x())
                    .arg(outcome.rect.y())
                    .arg(outcome.rect.width())
                    .arg(outcome.rect.height());
    return text;
}

// Entries of folder named as pages (the workspace's formats), in name order: unreadable
// ones and special files too, so that each is reported, not skipped.
QStringList pagesIn(const QDir& folder) {
    const QStringList suffixes = pageSuffixes();
    QStringList pages;
    const QFileInfoList entries =
        folder.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (suffixes.contains(entry.suffix().toLower()))
            pages << entry.fileName();
    }
    return pages;
}

// mkdir -p, with the system's reason for the first step that failed.
bool makePath(const QString& path, int* error) {
    const QString clean = QDir::cleanPath(path);
    qsizetype from = clean.startsWith(QLatin1Char('/')) ? 1 : 0;
    for (;;) {
        const qsizetype slash = clean.indexOf(QLatin1Char('/'), from);
        const QString step = slash < 0 ? clean : clean.left(slash);
        if (::mkdir(QFile::encodeName(step).constData(), 0777) != 0 && errno != EEXIST) {
            *error = errno;
            return false;
        }
        if (slash < 0)
            break;
        from = slash + 1;
    }
    struct stat st {};
    if (::stat(QFile::encodeName(clean).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = errno != 0 ? errno : ENOTDIR;
        return false;
    }
    return true;
}

int runFolder(const BatchOptions& options, LocatorLoader* locator) {
    const QDir input(options.input);
    const QString shownInput = QDir::toNativeSeparators(options.input);
    const QString shownOutput = QDir::toNativeSeparators(options.output);
    const QFileInfo outputInfo(options.output);
    if (outputInfo.exists() && !outputInfo.isDir()) {
        printLine(stderr,
                  QStringLiteral("vetra-batch: %1 è una cartella, quindi anche l'uscita %2 deve esserlo")
                      .arg(shownInput, shownOutput));
        return exitCode(BatchExit::Usage);
    }
    // Nothing is made for a folder without pages.
    const QStringList pages = pagesIn(input);
    if (pages.isEmpty()) {
        printLine(stderr, QStringLiteral("vetra-batch: nessuna immagine in %1").arg(shownInput));
        return exitCode(BatchExit::Unreadable);
    }
    int error = 0;
    if (!makePath(options.output, &error)) {
        printLine(stderr, QStringLiteral("vetra-batch: impossibile creare la cartella %1: %2")
                              .arg(shownOutput, SystemReason::text(error)));
        return exitCode(BatchExit::WriteFailed);
    }
    // Opened once: every page is written into this folder, even if its path is made to
    // point somewhere else during the run.
    const OpenFolder output = OpenFolder::open(options.output, &error);
    if (!output.isOpen()) {
        printLine(stderr, QStringLiteral("vetra-batch: impossibile aprire la cartella %1: %2")
                              .arg(shownOutput, SystemReason::text(error)));
        return exitCode(BatchExit::WriteFailed);
    }
    // Pages named like their outputs would be replaced by them.
    struct stat in {};
    struct stat out {};
    if (::stat(QFile::encodeName(options.input).constData(), &in) == 0 && ::fstat(output.fd(), &out) == 0 &&
        in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        printLine(stderr, QStringLiteral("vetra-batch: la cartella di uscita deve essere diversa da quella "
                                         "di ingresso"));
        return exitCode(BatchExit::Usage);
    }

    // Without the locator no page could be done: said once, not for every page.
    if (options.area == BatchOptions::Area::Auto) {
        QString reason;
        if (!locator->ready(&reason)) {
            printLine(stderr, QStringLiteral("vetra-batch: %1").arg(reason));
            return exitCode(BatchExit::LocatorMissing);
        }
    }

    QSet<QString> written;
    int failed = 0;
    const int total = int(pages.size());
    for (int i = 0; i < total; ++i) {
        const QString& page = pages.at(i);
        const QString path = input.filePath(page);
        const QString target = QFileInfo(page).completeBaseName() + QStringLiteral(".jpg");
        const QString counter = QStringLiteral("[%1/%2] %3").arg(i + 1).arg(total).arg(page);
        const auto failure = [&](QString reason) {
            ++failed;
            // The counter names the page already.
            const QString shown = QDir::toNativeSeparators(path);
            if (reason.startsWith(shown + QStringLiteral(": ")))
                reason = reason.mid(shown.size() + 2);
            if (reason.contains(shown))
                printLine(stderr, QStringLiteral("[%1/%2] ERRORE: %3").arg(i + 1).arg(total).arg(reason));
            else
                printLine(stderr, QStringLiteral("%1: ERRORE: %2").arg(counter, reason));
        };
        if (written.contains(target.toLower())) {
            failure(QStringLiteral("%1 è già stato scritto da un'altra pagina").arg(target));
            continue;
        }
        const BatchJob::Outcome outcome = BatchJob::run(
            options, path, BatchJob::Output{output.path() + QLatin1Char('/') + target, &output, target},
            locator);
        if (outcome.exit != BatchExit::Ok) {
            failure(outcome.error);
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

    // The locator's module loads while the page is read.
    LocatorLoader locator(QCoreApplication::applicationDirPath());
    if (options.area == BatchOptions::Area::Auto)
        locator.start();

    if (QFileInfo(options.input).isDir())
        return runFolder(options, &locator);
    if (QFileInfo(options.output).isDir()) {
        printLine(stderr,
                  QStringLiteral("vetra-batch: l'uscita %1 è una cartella: indicare il nome del file JPEG")
                      .arg(QDir::toNativeSeparators(options.output)));
        return exitCode(BatchExit::Usage);
    }
    const BatchJob::Outcome outcome = BatchJob::run(options, options.input, options.output, &locator);
    if (outcome.exit != BatchExit::Ok) {
        printLine(stderr, QStringLiteral("vetra-batch: %1").arg(outcome.error));
        return exitCode(outcome.exit);
    }
    printLine(stdout, resultText(options, outcome));
    // The file is on the disk and the result said (printLine flushes): freeing the page's
    // buffers and tearing Qt down would change nothing but the time the caller waits.
    std::_Exit(0);
}
