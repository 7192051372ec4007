#pragma once

#include "tests/support/TestKeys.h"
#include "tests/support/VendorServer.h"
#include "env/modulo1.h"
#include "tests/support/ScriptedPrompts.h"
#include "update/HttpSession.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

// A data folder in a temporary root, an installation file (mode 0640, as installed), a
// local vendor server that signs what it serves with the test key, and a session pointed
// at it with short time limits, trusting that key (and, over https, the test authority).
struct UpdateFixture {
    QTemporaryDir root;
    VendorServer server;
    ScriptedPrompts prompts;
    std::unique_ptr<HttpSession> session;

    enum class Transport { Http, Https };

    explicit UpdateFixture(bool withAccount = true, Transport transport = Transport::Http) {
        modulo1::setCommonAppDataRoot(root.path());
        ScriptedPrompts quiet;
        modulo1::ResolveDataFolder(quiet);
        QDir().mkpath(modulo1::DataFolder());
        if (withAccount)
            writeInstallationFile(
                "[Installazione]\nCodice= AB12\n[Account]\nUtente=mario rossi\nPassword=p&ss word\n");
        if (transport == Transport::Https) {
            if (!testkeys::authority().isValid())
                qFatal("the test certificate authority cannot be made (openssl)");
            server.useTls(testkeys::authority().serverConfiguration());
        }
        if (!testkeys::signer().isValid())
            qFatal("the test signing key cannot be made (minisign)");
        server.sign = [](const QByteArray& payload) { return testkeys::signer().sign(payload); };
        if (!server.listen())
            qFatal("the test server cannot listen");
        session = std::make_unique<HttpSession>(server.baseUrl());
        session->setUpdateKey(testkeys::signer().publicKey());
        if (transport == Transport::Https)
            session->addCaCertificates(testkeys::authority().caCertificates());
        session->setConnectionTest([] { return true; });
        HttpSession::Limits limits;
        limits.versionTotalMs = 1000;
        limits.pageTotalMs = 1000;
        limits.transferSilenceMs = 600;
        session->setLimits(limits);
    }

    ~UpdateFixture() {
        modulo1::setCommonAppDataRoot({});
        modulo1::resetDataFolder();
    }

    void writeInstallationFile(const QByteArray& text) {
        QFile file(modulo1::InstallationFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        QVERIFY(
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    }

    // Names in the data folder besides the installation file.
    QStringList strayFiles() const {
        QStringList names = QDir(modulo1::DataFolder()).entryList(QDir::Files | QDir::Hidden);
        names.removeAll(QLatin1String(modulo1::kInstallationFileName));
        return names;
    }
};
