// The checked writer where writes really fail: a small tmpfs, written as an ordinary user.
// A write that does not fit reports the disk full in Italian and leaves the old file (or no
// file) and no temporary file; one that fits leaves exactly its bytes.

#include "core/CheckedFile.h"

#include "tests/support/FsFaults.h"
#include "tests/support/TestFiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using TestFiles::everything;
using TestFiles::readAll;

class TestCheckedFile : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void fullDisk_data() {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<bool>("streamed");
        // 16 KB stay free on the disk.
        QTest::newRow("new file, fits") << false << 9000 << true << false;
        QTest::newRow("new file, one byte past a page too many") << false << 16385 << false << false;
        QTest::newRow("new file, far too large, in pieces") << false << 40000 << false << true;
        QTest::newRow("replacing, fits") << true << 9000 << true << true;
        QTest::newRow("replacing, too large") << true << 20000 << false << false;
    }

    void fullDisk() {
        QFETCH(bool, existing);
        QFETCH(int, size);
        QFETCH(bool, fits);
        QFETCH(bool, streamed);
        QTemporaryDir dir;
        fsfaults::SmallDisk disk(dir.path(), 64 * 1024);
        if (!disk.active())
            QSKIP(qPrintable(disk.reason()));
        const QString path = dir.filePath(QStringLiteral("good.jpg"));
        const QByteArray old(5000, 'o');
        if (existing)
            TestFiles::writeFile(path, old);
        QVERIFY(disk.fillLeaving(16 * 1024));
        const QStringList before = everything(dir.path());

        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(i * 7);
        bool ok = false;
        QString reason;
        {
            fsfaults::AsUser user;
            if (streamed) {
                CheckedFile file(path);
                ok = file.open();
                for (int at = 0; ok && at < size; at += 1000)
                    ok = file.write(bytes.mid(at, 1000));
                ok = ok && file.commit();
                reason = file.errorString();
            } else {
                ok = CheckedFile::writeAll(path, bytes, &reason);
            }
        }

        QCOMPARE(ok, fits);
        if (fits) {
            QCOMPARE(readAll(path), bytes);
            QVERIFY(reason.isEmpty());
        } else {
            QCOMPARE(reason, QStringLiteral("spazio esaurito sul disco"));
            QCOMPARE(everything(dir.path()), before);
            if (existing)
                QCOMPARE(readAll(path), old);
        }
        if (fits && !existing)
            QCOMPARE(everything(dir.path()),
                     (QStringList{QStringLiteral("filler"), QStringLiteral("good.jpg")}));
    }

    // A flush ahead of the decision leaves the target as it was until commit(): a cancel
    // then keeps the old file, and bytes written after the flush still reach the disk.
    void flushBeforeDeciding_data() {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("after"); // written after the flush
        QTest::addColumn<bool>("commit");
        QTest::newRow("flushed, committed") << QByteArray(3000, 'a') << QByteArray() << true;
        QTest::newRow("flushed, more written, committed")
            << QByteArray(3000, 'a') << QByteArray("tail") << true;
        QTest::newRow("flushed, cancelled") << QByteArray(3000, 'a') << QByteArray() << false;
        QTest::newRow("flushed, more written, cancelled")
            << QByteArray("a") << QByteArray(5000, 'b') << false;
    }

    void flushBeforeDeciding() {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, after);
        QFETCH(bool, commit);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.jpg"));
        TestFiles::writeFile(path, "old");
        {
            CheckedFile file(path);
            QVERIFY(file.open() && file.write(first) && file.flush());
            QCOMPARE(readAll(path), QByteArray("old"));
            if (!after.isEmpty())
                QVERIFY(file.write(after));
            if (commit) {
                QVERIFY(file.commit());
                QCOMPARE(file.written(), first.size() + after.size());
            } else {
                file.cancel();
            }
        }
        QCOMPARE(readAll(path), commit ? first + after : QByteArray("old"));
        QCOMPARE(everything(dir.path()), QStringList{QStringLiteral("a.jpg")});
    }

    // The folder was opened before it was swapped for a link: the file still lands in it.
    void folderSwappedForLink() {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkdir(out));
        QVERIFY(QDir().mkdir(elsewhere));
        const OpenFolder folder = OpenFolder::open(out);
        QVERIFY(folder.isOpen());
        QVERIFY(QDir().rename(out, dir.filePath(QStringLiteral("moved"))));
        QVERIFY(QFile::link(elsewhere, out));

        QVERIFY(CheckedFile::writeAll(folder, QStringLiteral("a.jpg"), "first"));
        QVERIFY(everything(elsewhere).isEmpty());
        QCOMPARE(readAll(dir.filePath(QStringLiteral("moved/a.jpg"))), QByteArray("first"));
    }

    // A save that crashed left its hidden temporary file (a whole photograph); the next save
    // into the folder removes it, and nothing else: not a recent one (a save under way), not
    // another's, not a link, a folder or a name that is not ours.
    void staleTemporariesRemoved() {
        QTemporaryDir dir;
        const qint64 stale = CheckedFile::kStaleTemporarySeconds + 60;
        struct Entry {
            const char* name;
            qint64 age;
            char kind; // f: file, l: link, d: folder, o: another user's file
            bool kept;
        };
        QList<Entry> entries{
            {".vetra-3k9x0a2b1c.tmp", stale, 'f', false}, {".vetra-z.tmp", stale * 100, 'f', false},
            {".vetra-fresh0.tmp", 5, 'f', true},          {".vetra-abc.tmp.jpg", stale, 'f', true},
            {".vetra-ABC.tmp", stale, 'f', true},         {".vetra-.tmp", stale, 'f', true},
            {"vetra-abc.tmp", stale, 'f', true},          {".vetra-link0.tmp", stale, 'l', true},
            {".vetra-dir0.tmp", stale, 'd', true},        {".vetra-0123456789abcd.tmp", stale, 'f', true}};
        if (::geteuid() == 0)
            entries.append({".vetra-theirs.tmp", stale, 'o', true});
        const QString outside = dir.filePath(QStringLiteral("outside"));
        QVERIFY(QDir().mkdir(outside));
        const QString target = outside + QStringLiteral("/photo.jpg");
        TestFiles::writeFile(target, "photo");
        const QString out = dir.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkdir(out));
        for (const Entry& entry : entries) {
            const QString path = out + QLatin1Char('/') + QLatin1String(entry.name);
            if (entry.kind == 'l')
                QVERIFY(QFile::link(target, path));
            else if (entry.kind == 'd')
                QVERIFY(QDir().mkdir(path));
            else
                TestFiles::writeFile(path, "photo");
            if (entry.kind == 'o')
                QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
            const timespec when{::time(nullptr) - time_t(entry.age), 0};
            const timespec times[2]{when, when};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW),
                     0);
        }
        QVERIFY(CheckedFile::writeAll(out + QStringLiteral("/a.jpg"), "new"));
        QStringList expected{QStringLiteral("a.jpg")};
        for (const Entry& entry : entries) {
            if (entry.kept)
                expected << QLatin1String(entry.name);
        }
        QStringList left = everything(out);
        left.sort();
        expected.sort();
        QCOMPARE(left, expected);
        QCOMPARE(readAll(target), QByteArray("photo"));
    }

    void refusedTargets_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a folder") << QStringLiteral("folder")
                                  << QStringLiteral("il percorso indica una cartella");
        QTest::newRow("missing folder")
            << QStringLiteral("nowhere/a.jpg") << QStringLiteral("file o cartella inesistente");
    }

    void refusedTargets() {
        QFETCH(QString, target);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        QString why;
        QVERIFY(!CheckedFile::writeAll(dir.filePath(target), "bytes", &why));
        QCOMPARE(why, reason);
        QCOMPARE(everything(dir.path()), QStringList{QStringLiteral("folder")});
        QVERIFY(everything(dir.filePath(QStringLiteral("folder"))).isEmpty());
    }

    // A replaced file keeps its permission bits; explicit ones win.
    void permissions() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.jpg"));
        TestFiles::writeFile(path, "old");
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
        QVERIFY(CheckedFile::writeAll(path, "new"));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, 0640u);

        CheckedFile file(path);
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(file.open() && file.write("newer") && file.commit());
        QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, 0700u);
        QCOMPARE(readAll(path), QByteArray("newer"));
    }
};

QTEST_GUILESS_MAIN(TestCheckedFile)
#include "tst_checkedFile.moc"
