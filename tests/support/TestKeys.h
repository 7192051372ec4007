#pragma once

// Keys made for one test run: a minisign key pair that signs updaters as the vendor
// would, and a certificate authority with a certificate for 127.0.0.1. Nothing is kept
// between runs; the tools are the ones scripts/setup installs (minisign, openssl).

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace testkeys {

inline bool run(const QString& program, const QStringList& arguments, const QString& folder) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        qWarning().noquote() << program << arguments.join(QLatin1Char(' ')) << process.readAll();
        return false;
    }
    return true;
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A minisign key pair without a password.
class Signer {
  public:
    Signer() {
        m_ok = !QStandardPaths::findExecutable(QStringLiteral("minisign")).isEmpty() &&
               run(QStringLiteral("minisign"),
                   {QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"), path("key.pub"),
                    QStringLiteral("-s"), path("key.sec")},
                   m_dir.path());
        if (m_ok)
            m_publicKey = readFile(path("key.pub")).split('\n').value(1).trimmed();
        m_ok = m_ok && m_publicKey.startsWith("RW");
    }

    bool isValid() const { return m_ok; }
    // The key line, as VETRA_UPDATE_PUBLIC_KEY holds it.
    const QByteArray& publicKey() const { return m_publicKey; }

    // The .minisig text for data: prehashed unless legacy. Empty when minisign failed.
    QByteArray sign(const QByteArray& data, bool legacy = false) const {
        const QString file = path("payload");
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(data) != data.size())
            return {};
        out.close();
        QFile::remove(file + QStringLiteral(".minisig"));
        QStringList arguments{
            QStringLiteral("-S"), QStringLiteral("-s"),        path("key.sec"), QStringLiteral("-m"), file,
            QStringLiteral("-t"), QStringLiteral("Vetra 2.27")};
        if (legacy)
            arguments.prepend(QStringLiteral("-l"));
        if (!run(QStringLiteral("minisign"), arguments, m_dir.path()))
            return {};
        return readFile(file + QStringLiteral(".minisig"));
    }

  private:
    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }

    QTemporaryDir m_dir;
    QByteArray m_publicKey;
    bool m_ok = false;
};

// A certificate authority and a server certificate for 127.0.0.1 and localhost signed by it.
class Authority {
  public:
    Authority() {
        const QString dir = m_dir.path();
        const QString openssl = QStringLiteral("openssl");
        const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
        {
            QFile ext(m_dir.filePath(QStringLiteral("ext")));
            m_ok = ext.open(QIODevice::WriteOnly) &&
                   ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n") > 0;
        }
        m_ok =
            m_ok &&
            run(openssl,
                QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
                    QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                                QStringLiteral("ca.crt"), QStringLiteral("-days"), QStringLiteral("2"),
                                QStringLiteral("-subj"), QStringLiteral("/CN=Vetra test authority")},
                dir) &&
            run(openssl,
                QStringList{QStringLiteral("req")} + ec +
                    QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"),
                                QStringLiteral("-out"), QStringLiteral("server.csr"), QStringLiteral("-subj"),
                                QStringLiteral("/CN=127.0.0.1")},
                dir) &&
            run(openssl,
                {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                 QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
                 QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
                 QStringLiteral("-out"), QStringLiteral("server.crt"), QStringLiteral("-days"),
                 QStringLiteral("2"), QStringLiteral("-extfile"), QStringLiteral("ext")},
                dir);
        if (!m_ok)
            return;
        m_ca = QSslCertificate::fromData(readFile(m_dir.filePath(QStringLiteral("ca.crt"))));
        const auto server = QSslCertificate::fromData(readFile(m_dir.filePath(QStringLiteral("server.crt"))));
        const QSslKey key(readFile(m_dir.filePath(QStringLiteral("server.key"))), QSsl::Ec);
        m_ok = m_ca.size() == 1 && server.size() == 1 && !key.isNull();
        if (!m_ok)
            return;
        m_server = QSslConfiguration::defaultConfiguration();
        m_server.setLocalCertificate(server.constFirst());
        m_server.setPrivateKey(key);
        m_server.setPeerVerifyMode(QSslSocket::VerifyNone);
    }

    bool isValid() const { return m_ok; }
    const QList<QSslCertificate>& caCertificates() const { return m_ca; }
    const QSslConfiguration& serverConfiguration() const { return m_server; }

  private:
    QTemporaryDir m_dir;
    QList<QSslCertificate> m_ca;
    QSslConfiguration m_server;
    bool m_ok = false;
};

} // namespace testkeys

namespace testkeys {

// One of each per test process: making them costs a few processes.
inline const Signer& signer() {
    static const Signer instance;
    return instance;
}

inline const Authority& authority() {
    static const Authority instance;
    return instance;
}

} // namespace testkeys
