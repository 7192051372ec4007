#include "env/Prompts.h"
#include "env/modulo1.h"
#include "tests/support/ScriptedPrompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class TestModulo1 : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup() {
        modulo1::setCommonAppDataRoot({});
        modulo1::setTempFolder({});
        modulo1::resetDataFolder();
    }

    void dataFolderFromRoot() {
        QTemporaryDir root;
        modulo1::setCommonAppDataRoot(root.path());
        ScriptedPrompts prompts;
        modulo1::ResolveDataFolder(prompts);
        QCOMPARE(modulo1::DataFolder(), QDir::cleanPath(root.path()) + QStringLiteral("/Orvanta/Vetra/"));
        QVERIFY(prompts.messages.isEmpty());
    }

    void dataFolderLookupFails() {
        QTemporaryDir root;
        modulo1::setCommonAppDataRoot(root.filePath(QStringLiteral("missing")));
        ScriptedPrompts prompts;
        modulo1::ResolveDataFolder(prompts);
        QCOMPARE(modulo1::DataFolder(), QStringLiteral("/Orvanta/Vetra/"));
        QCOMPARE(prompts.messages,
                 QStringList{QStringLiteral("Impossibile trovare il percorso della cartella Program.\n"
                                            "Se il problema persiste contattare l'assistenza di Orvanta.")});
    }

    void tempFileName_data() {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("stem");
        QTest::newRow("sca") << QStringLiteral("sca") << QStringLiteral("sca");
        QTest::newRow("long prefix cut to three") << QStringLiteral("scansione") << QStringLiteral("sca");
        QTest::newRow("short prefix") << QStringLiteral("x") << QStringLiteral("x");
    }

    void tempFileName() {
        QFETCH(QString, prefix);
        QFETCH(QString, stem);
        QTemporaryDir folder;
        modulo1::setTempFolder(folder.path());
        const QString first = modulo1::MakeTempFileName(prefix);
        const QString second = modulo1::MakeTempFileName(prefix);
        for (const QString& name : {first, second}) {
            QVERIFY(!name.isEmpty());
            const QFileInfo info(name);
            QCOMPARE(info.absolutePath(), QFileInfo(folder.path()).canonicalFilePath());
            QVERIFY2(QRegularExpression(QStringLiteral("^") + stem + QStringLiteral("[0-9A-F]{1,4}\\.tmp$"))
                         .match(info.fileName())
                         .hasMatch(),
                     qPrintable(info.fileName()));
            QVERIFY(info.isFile());
            QCOMPARE(info.size(), 0);
        }
        QVERIFY(first != second);
    }

    void tempFileNameInUnusableFolder() {
        QTemporaryDir folder;
        modulo1::setTempFolder(folder.filePath(QStringLiteral("gone")));
        QCOMPARE(modulo1::MakeTempFileName(QStringLiteral("sca")), QString());
    }

    void longPathName() {
        QTemporaryDir folder;
        QCOMPARE(modulo1::ToLongPathName(folder.filePath(QStringLiteral("missing.bmp"))), QString());
        QCOMPARE(modulo1::ToLongPathName(QString()), QString());
        QDir(folder.path()).mkpath(QStringLiteral("a/b"));
        QCOMPARE(modulo1::ToLongPathName(folder.filePath(QStringLiteral("a/b/../b"))),
                 QFileInfo(folder.filePath(QStringLiteral("a/b"))).canonicalFilePath());
    }

    void fileExists() {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("f.txt"));
        QVERIFY(!modulo1::FileExists(file));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(modulo1::FileExists(file));
        QVERIFY(!modulo1::FileExists(folder.path()));
        QVERIFY(!modulo1::FileExists(QString()));
    }

    void qtNameFilter_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("qt");
        QTest::newRow("one") << QStringLiteral("Immagine Bitmap (*.bmp)")
                             << QStringLiteral("Immagine Bitmap (*.bmp)");
        QTest::newRow("two") << QStringLiteral("Immagine JPeg (*.jpg;*.jpeg)")
                             << QStringLiteral("Immagine JPeg (*.jpg *.jpeg)");
        QTest::newRow("all files") << QStringLiteral("Tutti i Files (*.*)")
                                   << QStringLiteral("Tutti i Files (*)");
        QTest::newRow("no patterns") << QStringLiteral("Plain") << QStringLiteral("Plain");
    }

    void qtNameFilter() {
        QFETCH(QString, filter);
        QFETCH(QString, qt);
        QCOMPARE(QtPrompts::qtNameFilter(filter), qt);
    }

    void updaterFile_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << QStringLiteral("AB12") << QStringLiteral("agAB12.EXE");
        QTest::newRow("trailing blanks trimmed") << QStringLiteral("AB12   ") << QStringLiteral("agAB12.EXE");
        QTest::newRow("inner blank kept") << QStringLiteral("AB 12") << QStringLiteral("agAB 12.EXE");
        QTest::newRow("no code") << QString() << QStringLiteral("ag.EXE");
    }

    void updaterFile() {
        QFETCH(QString, code);
        QFETCH(QString, name);
        QTemporaryDir root;
        modulo1::setCommonAppDataRoot(root.path());
        ScriptedPrompts prompts;
        modulo1::ResolveDataFolder(prompts);
        QVERIFY(QDir().mkpath(modulo1::DataFolder()));
        if (!code.isNull()) {
            QFile ini(modulo1::InstallationFile());
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write("[Installazione]\nCodice=\"" + code.toUtf8() + "\"\n");
        }
        QCOMPARE(modulo1::InstallationCode(), code);
        QCOMPARE(modulo1::UpdaterFile(), modulo1::DataFolder() + name);
    }
};

QTEST_MAIN(TestModulo1)
#include "tst_modulo1.moc"
