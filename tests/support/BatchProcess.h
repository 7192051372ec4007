#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <grp.h>
#include <unistd.h>

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

} // namespace BatchProcess
