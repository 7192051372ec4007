#pragma once

#include "imaging/OutputKinds.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

// vetra-batch run as a separate process, as an operator's script would run it.
namespace BatchProcess {

struct Run {
    int exitCode = -1; // -1 when it did not end normally within two minutes
    QString out;
    QString err;
};

// asUser: the command runs as an ordinary user (nobody) when the tests run as root, in the
// C locale, so that the system's own words would show if they ever reached the operator.
inline Run run(const QString& program, const QStringList& arguments, bool asUser = false) {
    QProcess process;
    if (asUser) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        environment.insert(QStringLiteral("LANG"), QStringLiteral("C"));
        process.setProcessEnvironment(environment);
        if (::geteuid() == 0) {
            process.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(126);
            });
        }
    }
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// A command line's words, split at blanks (none may hold one).
inline QStringList words(const QString& line) {
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

#ifdef VETRA_BATCH_EXE
// The vetra-batch this build made (the test's target names it).
inline Run vetraBatch(const QStringList& arguments, bool asUser = false) {
    return run(QStringLiteral(VETRA_BATCH_EXE), arguments, asUser);
}
#endif

// The kind a --kind word names: foto, firma, adr.
inline OutputKind kindNamed(const QString& word) {
    if (word == QLatin1String("firma"))
        return OutputKind::Firma;
    return word == QLatin1String("adr") ? OutputKind::AdrCqc : OutputKind::Foto;
}

// The program run with arguments, its output thrown away: the most memory it held at once
// (peak resident set), in kilobytes; -1 when it could not be run.
inline long peakMemoryKb(const QString& program, const QStringList& arguments) {
    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        words.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    // wait4 gives this child's own peak, not the largest of every child so far.
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 127)
        return -1;
    return usage.ru_maxrss;
}

} // namespace BatchProcess
