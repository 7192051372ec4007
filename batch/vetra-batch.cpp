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

#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    if (outcome.checked)
        text += QStringLiteral(" check=") + PhotoCheck::token(outcome.check);
    return text;
}

// --check: one line on stderr for each check the photo does not pass, after prefix.
void printProblems(const QString& prefix, const BatchJob::Outcome& outcome) {
    if (!outcome.checked)
        return;
    for (const QString& problem : PhotoCheck::problems(outcome.check))
        printLine(stderr, prefix + problem);
}

// --strict: whether the photo saved fails a check.
bool failsStrictly(const BatchOptions& options, const BatchJob::Outcome& outcome) {
    return options.strict && outcome.checked && outcome.check.worst() == PhotoCheck::Verdict::Fail;
}

// A page of a folder run. Names are bytes to the system: one that is not UTF-8 (a Latin-1
// "caf\xe9.jpg" from an older machine) has no path Qt can open, so it is read through a
// descriptor opened by its bytes.
struct FolderPage {
    QByteArray raw; // the name as the folder holds it
    QString name;   // as text: UTF-8, or else Latin-1 (every byte a letter), for the output's name
    QString shown;  // for the report, escaped as ls -b does: one page is one line
};

bool isUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder.decode(bytes); // the decoding happens here
    return !decoder.hasError();
}

// Control characters, backslashes and bytes that are not UTF-8 as C escapes (\n, \\, \351),
// the rest as it is.
QString escapedName(const QByteArray& raw) {
    QByteArray out;
    for (qsizetype i = 0; i < raw.size();) {
        const unsigned char c = static_cast<unsigned char>(raw.at(i));
        qsizetype length = 1;
        if (c >= 0x80) {
            length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (length == 1 || i + length > raw.size() || !isUtf8(raw.mid(i, length)))
                length = 0;
        }
        if (length > 1) {
            out += raw.mid(i, length);
            i += length;
            continue;
        }
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7F || c >= 0x80) {
                char octal[5];
                std::snprintf(octal, sizeof octal, "\\%03o", c);
                out += octal;
            } else {
                out += char(c);
            }
        }
        ++i;
    }
    return QString::fromUtf8(out);
}

// Entries of folder named as pages (the workspace's formats), hidden ones too, in name
// order: unreadable ones and special files too, so that each is reported, not skipped.
// Only folders are left out.
QList<FolderPage> pagesIn(const QString& folder) {
    const QStringList suffixes = pageSuffixes();
    QList<FolderPage> pages;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return pages;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray raw(entry->d_name);
        if (raw == "." || raw == "..")
            continue;
        FolderPage page{raw, isUtf8(raw) ? QString::fromUtf8(raw) : QString::fromLatin1(raw),
                        escapedName(raw)};
        const qsizetype dot = page.name.lastIndexOf(QLatin1Char('.'));
        if (dot < 0 || !suffixes.contains(page.name.mid(dot + 1).toLower()))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode))
            continue;
        pages << page;
    }
    ::closedir(dir);
    std::sort(pages.begin(), pages.end(), [](const FolderPage& a, const FolderPage& b) {
        return a.name != b.name ? a.name < b.name : a.raw < b.raw;
    });
    return pages;
}

// The output's name for each page: its name with ".jpg" for its extension. Two pages of the
// same name but for the extension or the case of letters (twin.JPG, Twin.jpg: one file on
// a disk that ignores case) would share it: the later one in name order takes
// "<name>-2.jpg" (or -3, ...), a name no other page of the folder takes.
QStringList outputNames(const QList<FolderPage>& pages) {
    const auto stem = [](const QString& name) { return name.left(name.lastIndexOf(QLatin1Char('.'))); };
    QSet<QString> natural;
    for (const FolderPage& page : pages)
        natural.insert((stem(page.name) + QStringLiteral(".jpg")).toLower());
    QSet<QString> taken;
    QStringList names;
    for (const FolderPage& page : pages) {
        QString name = stem(page.name) + QStringLiteral(".jpg");
        for (int n = 2; taken.contains(name.toLower()); ++n) {
            const QString candidate = stem(page.name) + QStringLiteral("-%1.jpg").arg(n);
            if (!natural.contains(candidate.toLower()))
                name = candidate;
        }
        taken.insert(name.toLower());
        names << name;
    }
    return names;
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
    const QList<FolderPage> pages = pagesIn(options.input);
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
    if (options.area == BatchOptions::Area::Auto || options.check) {
        QString reason;
        if (!locator->ready(&reason)) {
            printLine(stderr, QStringLiteral("vetra-batch: %1").arg(reason));
            return exitCode(BatchExit::LocatorMissing);
        }
    }

    const QStringList targets = outputNames(pages);
    const int inputFd =
        ::open(QFile::encodeName(options.input).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int failed = 0;
    int notConforming = 0;
    const int total = int(pages.size());
    for (int i = 0; i < total; ++i) {
        const FolderPage& page = pages.at(i);
        const QString& target = targets.at(i);
        // A name Qt cannot give back as bytes is read through a descriptor of its own.
        int pageFd = -1;
        QString path = input.filePath(page.name);
        if (QFile::encodeName(page.name) != page.raw) {
            pageFd =
                inputFd < 0 ? -1 : ::openat(inputFd, page.raw.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            path = pageFd < 0 ? path : QStringLiteral("/proc/self/fd/%1").arg(pageFd);
        }
        const QString shownPath = QDir::toNativeSeparators(input.filePath(page.shown));
        const QString counter = QStringLiteral("[%1/%2] %3").arg(i + 1).arg(total).arg(page.shown);
        const auto failure = [&](QString reason) {
            ++failed;
            // The counter names the page already.
            const QString shown = QDir::toNativeSeparators(path);
            reason.replace(shown, shownPath);
            if (reason.startsWith(shownPath + QStringLiteral(": ")))
                reason = reason.mid(shownPath.size() + 2);
            if (reason.contains(shownPath))
                printLine(stderr, QStringLiteral("[%1/%2] ERRORE: %3").arg(i + 1).arg(total).arg(reason));
            else
                printLine(stderr, QStringLiteral("%1: ERRORE: %2").arg(counter, reason));
        };
        const BatchJob::Outcome outcome = BatchJob::run(
            options, path, BatchJob::Output{output.path() + QLatin1Char('/') + target, &output, target},
            locator);
        if (pageFd >= 0)
            ::close(pageFd);
        // A module that fails would fail every page the same way: said once, as at the start.
        if (outcome.exit == BatchExit::LocatorMissing) {
            printLine(stderr, QStringLiteral("vetra-batch: %1").arg(outcome.error));
            return exitCode(BatchExit::LocatorMissing);
        }
        if (outcome.exit != BatchExit::Ok) {
            failure(outcome.error);
            continue;
        }
        printLine(stdout,
                  QStringLiteral("%1 -> %2 %3")
                      .arg(counter, escapedName(QFile::encodeName(target)), resultText(options, outcome)));
        printProblems(counter + QStringLiteral(": "), outcome);
        notConforming += failsStrictly(options, outcome);
    }
    if (inputFd >= 0)
        ::close(inputFd);
    printLine(
        stdout,
        QStringLiteral("%1 pagine: %2 salvate, %3 non riuscite").arg(total).arg(total - failed).arg(failed));
    // A page not saved outweighs a photo saved that does not conform.
    return exitCode(failed > 0          ? BatchExit::SomeFilesFailed
                    : notConforming > 0 ? BatchExit::CheckFailed
                                        : BatchExit::Ok);
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
    if (options.area == BatchOptions::Area::Auto || options.check)
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
    printProblems(QStringLiteral("vetra-batch: "), outcome);
    if (failsStrictly(options, outcome))
        std::_Exit(exitCode(BatchExit::CheckFailed));
    // The file is on the disk and the result said (printLine flushes): freeing the page's
    // buffers and tearing Qt down would change nothing but the time the caller waits.
    std::_Exit(0);
}
