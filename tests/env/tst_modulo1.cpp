#include "env/Prompts.h"
#include "env/Settings.h"
#include "env/modulo1.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using TestFiles::readAll;
using TestFiles::writeFile;

class TestModulo1 : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup() {
        modulo1::setCommonAppDataRoot({});
        modulo1::setScanFolder({});
        modulo1::resetDataFolder();
    }

    // The data folder lies below the common application data root; a root that cannot be
    // found leaves the bare folder and tells the operator.
    void dataFolder_data() {
        QTest::addColumn<bool>("rootFound");
        QTest::newRow("root found") << true;
        QTest::newRow("root missing") << false;
    }
    void dataFolder() {
        QFETCH(bool, rootFound);
        QTemporaryDir root;
        modulo1::setCommonAppDataRoot(rootFound ? root.path() : root.filePath(QStringLiteral("missing")));
        ScriptedPrompts prompts;
        modulo1::ResolveDataFolder(prompts);
        QCOMPARE(modulo1::DataFolder(),
                 (rootFound ? QDir::cleanPath(root.path()) : QString()) + QStringLiteral("/Orvanta/Vetra/"));
        QCOMPARE(prompts.messages, rootFound
                                       ? QStringList()
                                       : QStringList{QStringLiteral(
                                             "Impossibile trovare il percorso della cartella Program.\n"
                                             "Se il problema persiste contattare l'assistenza di Orvanta.")});
    }

    // Scanned pages go into a folder only the user can enter, in files only the user can read,
    // whatever the folder's mode was and whatever the umask is.
    void scanFilesArePrivate_data() {
        QTest::addColumn<QString>("where"); // the folder, below a temporary one
        QTest::addColumn<int>("startMode"); // its mode before the first scan; 0: missing
        QTest::newRow("folder made on first use") << QStringLiteral("a/vetra") << 0;
        QTest::newRow("open folder made private") << QStringLiteral("vetra") << 0755;
    }
    void scanFilesArePrivate() {
        QFETCH(QString, where);
        QFETCH(int, startMode);
        QTemporaryDir root;
        const QString folder = root.filePath(where);
        if (startMode) {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), mode_t(startMode)) == 0);
        }
        modulo1::setScanFolder(folder);
        const mode_t oldMask = ::umask(0);
        const QString first = modulo1::MakeScanFileName(QStringLiteral("scansione"));
        const QString second = modulo1::MakeScanFileName(QStringLiteral("sca"));
        ::umask(oldMask);
        struct stat info {};
        QVERIFY(::stat(QFile::encodeName(folder).constData(), &info) == 0);
        QCOMPARE(int(info.st_mode & 07777), 0700);
        for (const QString& name : {first, second}) {
            QCOMPARE(QFileInfo(name).absolutePath(), QFileInfo(folder).canonicalFilePath());
            QVERIFY2(QRegularExpression(QStringLiteral("^sca[0-9A-F]{1,4}\\.tmp$"))
                         .match(QFileInfo(name).fileName())
                         .hasMatch(),
                     qPrintable(name));
            QVERIFY(::stat(QFile::encodeName(name).constData(), &info) == 0);
            QCOMPARE(int(info.st_mode & 07777), 0600);
            QCOMPARE(int(info.st_size), 0);
        }
        QVERIFY(first != second);
    }

    // A folder that is a link to somewhere else is not used.
    void scanFolderThatIsALinkIsRefused() {
        QTemporaryDir root;
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("elsewhere"))));
        QVERIFY(
            QFile::link(root.filePath(QStringLiteral("elsewhere")), root.filePath(QStringLiteral("vetra"))));
        modulo1::setScanFolder(root.filePath(QStringLiteral("vetra")));
        QCOMPARE(modulo1::ScanFolder(), QString());
        QCOMPARE(modulo1::MakeScanFileName(QStringLiteral("sca")), QString());
    }

    // A runtime folder that others may write to (or that is not the user's) is not trusted
    // with the scan folder: whoever may rename entries in it could put a folder of links
    // in its place. The pages go to the cache folder instead.
    void runtimeFolderOthersMayWriteIsRefused_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("othersOwn");
        QTest::addColumn<bool>("used");
        QTest::newRow("0700, the user's") << 0700 << false << true;
        QTest::newRow("0777") << 0777 << false << false;
        QTest::newRow("1777, sticky like /tmp") << 01777 << false << false;
        QTest::newRow("0770, the group may write") << 0770 << false << false;
        QTest::newRow("0700, another user's") << 0700 << true << false;
    }

    void runtimeFolderOthersMayWriteIsRefused() {
        QFETCH(int, mode);
        QFETCH(bool, othersOwn);
        QFETCH(bool, used);
        if (othersOwn && ::geteuid() != 0)
            QSKIP("needs root to give the folder to another user");
        QTemporaryDir root;
        const QString runtime = root.filePath(QStringLiteral("run"));
        const QString cache = root.filePath(QStringLiteral("cache"));
        QVERIFY(QDir().mkpath(runtime) && QDir().mkpath(cache));
        QVERIFY(::chmod(QFile::encodeName(runtime).constData(), mode_t(mode)) == 0);
        if (othersOwn)
            QVERIFY(::chown(QFile::encodeName(runtime).constData(), 65534, 65534) == 0);
        const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        const QString folder = modulo1::ScanFolder();
        const QString file = modulo1::MakeScanFileName(QStringLiteral("sca"));
        qputenv("XDG_RUNTIME_DIR", oldRuntime);
        qputenv("XDG_CACHE_HOME", oldCache);
        const QString expected =
            used ? runtime + QStringLiteral("/vetra") : cache + QStringLiteral("/Orvanta/Vetra/scansioni");
        QCOMPARE(folder, QFileInfo(expected).canonicalFilePath());
        QCOMPARE(QFileInfo(file).absolutePath(), folder);
        QCOMPARE(QFileInfo::exists(runtime + QStringLiteral("/vetra")), used);
    }

    // The page is written through the folder's descriptor: a link put where the scan file
    // was (by whoever could rename things there) is not followed, and the file it points
    // to is left as it was.
    void scanFileSwappedForALinkIsNotFollowed() {
        QTemporaryDir root;
        modulo1::setScanFolder(root.filePath(QStringLiteral("vetra")));
        const QString file = modulo1::MakeScanFileName(QStringLiteral("sca"));
        QVERIFY(!file.isEmpty());
        const int fd = modulo1::OpenScanFile(file);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "BM", 2), ssize_t(2));
        ::close(fd);
        QCOMPARE(QFileInfo(file).size(), 2);

        const QString victim = root.filePath(QStringLiteral("theirs.txt"));
        writeFile(victim, "untouched");
        QVERIFY(QFile::remove(file));
        QVERIFY(QFile::link(victim, file));
        QCOMPARE(modulo1::OpenScanFile(file), -1);
        QCOMPARE(readAll(victim), QByteArray("untouched"));
    }

    // At start-up the scan files of a run that crashed go; nothing else in the folder does,
    // and RemoveScanFile deletes only scan files of the folder.
    void scanLeftoversRemoved() {
        QTemporaryDir root;
        modulo1::setScanFolder(root.path());
        const QString a = modulo1::MakeScanFileName(QStringLiteral("sca"));
        const QString b = modulo1::MakeScanFileName(QStringLiteral("sca"));
        const QString other = root.filePath(QStringLiteral("note.tmp"));
        const QString lower = root.filePath(QStringLiteral("scaab.tmp"));
        QTemporaryDir elsewhere;
        const QString outside = elsewhere.filePath(QStringLiteral("sca1.tmp"));
        for (const QString& path : {other, lower, outside})
            writeFile(path, {});
        modulo1::RemoveScanFile(outside);
        QVERIFY(QFile::exists(outside));
        modulo1::RemoveScanFile(a);
        QVERIFY(!QFile::exists(a));
        QCOMPARE(modulo1::RemoveScanLeftovers(), 1);
        QVERIFY(!QFile::exists(b));
        QVERIFY(QFile::exists(other));
        QVERIFY(QFile::exists(lower));
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
        writeFile(file, {});
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

    // The settings are read only from a regular file (or a link to one): a FIFO would block
    // the reader until someone writes, a folder or a device is no settings file at all.
    void settingsFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("read");
        QTest::newRow("regular file") << QStringLiteral("file") << true;
        QTest::newRow("none yet") << QStringLiteral("missing") << true;
        QTest::newRow("link to a regular file") << QStringLiteral("link to file") << true;
        QTest::newRow("FIFO") << QStringLiteral("fifo") << false;
        QTest::newRow("link to a FIFO") << QStringLiteral("link to fifo") << false;
        QTest::newRow("folder") << QStringLiteral("folder") << false;
        QTest::newRow("device") << QStringLiteral("device") << false;
    }

    void settingsFile() {
        QFETCH(QString, kind);
        QFETCH(bool, read);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Vetra.conf"));
        const QString regular = dir.filePath(QStringLiteral("real.conf"));
        const QString fifo = dir.filePath(QStringLiteral("pipe"));
        writeFile(regular, "[Workspace]\nAutoFrame=false\n");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        if (kind == QLatin1String("file"))
            QVERIFY(QFile::copy(regular, file));
        else if (kind == QLatin1String("link to file"))
            QVERIFY(QFile::link(regular, file));
        else if (kind == QLatin1String("fifo"))
            QVERIFY(QFile::rename(fifo, file));
        else if (kind == QLatin1String("link to fifo"))
            QVERIFY(QFile::link(fifo, file));
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(file));
        else if (kind == QLatin1String("device"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), file));

        const std::unique_ptr<QSettings> settings = Settings::open(file);
        const QString refusal = Settings::refusal(file);
        QCOMPARE(bool(settings), read);
        QCOMPARE(refusal.isEmpty(), read);
        if (!read) {
            QVERIFY2(refusal.contains(file) && refusal.contains(QLatin1String("impostazioni predefinite")),
                     qPrintable(refusal));
            return;
        }
        QCOMPARE(settings->value(QStringLiteral("Workspace/AutoFrame"), true).toBool(),
                 kind == QLatin1String("missing"));
        settings->setValue(QStringLiteral("Scanner/DefaultSource"), QStringLiteral("test:0"));
        settings->sync();
        QCOMPARE(settings->status(), QSettings::NoError);
        QCOMPARE(
            QSettings(file, QSettings::IniFormat).value(QStringLiteral("Scanner/DefaultSource")).toString(),
            QStringLiteral("test:0"));
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
        if (!code.isNull())
            writeFile(modulo1::InstallationFile(), "[Installazione]\nCodice=\"" + code.toUtf8() + "\"\n");
        QCOMPARE(modulo1::InstallationCode(), code);
        QCOMPARE(modulo1::UpdaterFile(), modulo1::DataFolder() + name);
    }
};

QTEST_MAIN(TestModulo1)
#include "tst_modulo1.moc"
