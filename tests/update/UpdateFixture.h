#pragma once

#include "VendorServer.h"
#include "env/modulo1.h"
#include "tests/support/ScriptedPrompts.h"
#include "update/HttpSession.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

// A data folder in a temporary root, an installation file, a local vendor server and a
// session pointed at it with short time limits.
struct UpdateFixture {
    QTemporaryDir root;
    VendorServer server;
    ScriptedPrompts prompts;
    std::unique_ptr<HttpSession> session;

    explicit UpdateFixture(bool withAccount = true) {
        modulo1::setCommonAppDataRoot(root.path());
        ScriptedPrompts quiet;
        modulo1::ResolveDataFolder(quiet);
        QDir().mkpath(modulo1::DataFolder());
        if (withAccount)
            writeInstallationFile(
                "[Installazione]\nCodice= AB12\n[Account]\nUtente=mario rossi\nPassword=p&ss word\n");
        if (!server.listen())
            qFatal("the test server cannot listen");
        session = std::make_unique<HttpSession>(server.baseUrl());
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
    }

    // Names in the data folder besides the installation file.
    QStringList strayFiles() const {
        QStringList names = QDir(modulo1::DataFolder()).entryList(QDir::Files | QDir::Hidden);
        names.removeAll(QLatin1String(modulo1::kInstallationFileName));
        return names;
    }
};
