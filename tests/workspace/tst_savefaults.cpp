// The save command against a hostile file system: a read-only folder, a full disk, and
// a name that turns into a link between the dialog and the write. Nothing partial is
// ever left, and a file already there survives unless the new one was written whole.

#include "tests/support/FsFaults.h"
#include "tests/support/SamplePictures.h"
#include "workspace/SaveCommand.h"

#include "tests/support/TestFiles.h"
#include <QImageReader>
#include <QTemporaryDir>

#include <QtTest>
#include <functional>

using TestFiles::everything;
using TestFiles::readAll;
using TestFiles::writeFile;

namespace {

// Answers the save dialog with one path, and runs `beforeReturning` as the dialog closes:
// whatever it does happens between the operator's choice and the write.
class DialogThenSwap final : public Prompts {
  public:
    Answer message(const QString& text, Buttons) override {
        messages << text;
        return Answer::Yes;
    }
    std::optional<QString> openFile(const FileRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileRequest&) override {
        if (beforeReturning)
            beforeReturning();
        return path;
    }

    QString path;
    std::function<void()> beforeReturning;
    QStringList messages;
};

// A whole JPEG of the kind's size, as an outside reader sees it.
bool isWholeJpeg(const QByteArray& bytes, QSize size) {
    if (!bytes.startsWith("\xFF\xD8") || !bytes.endsWith("\xFF\xD9"))
        return false;
    QImage image;
    return image.loadFromData(bytes, "JPEG") && image.size() == size;
}

const OutputKind kKind = OutputKind::Foto;

QImage preview() {
    return SamplePictures::photo(outputKindInfo(kKind).outputSize);
}

} // namespace

class TestSaveFaults : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void unwritable_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("existing");
        QTest::newRow("read-only folder, new file") << QStringLiteral("read-only") << false;
        QTest::newRow("read-only folder, file there") << QStringLiteral("read-only") << true;
        QTest::newRow("disk full, new file") << QStringLiteral("full") << false;
        QTest::newRow("disk full, file there") << QStringLiteral("full") << true;
        QTest::newRow("small tmpfs full, new file") << QStringLiteral("tmpfs") << false;
        QTest::newRow("small tmpfs full, file there") << QStringLiteral("tmpfs") << true;
    }

    void unwritable() {
        QFETCH(QString, fault);
        QFETCH(bool, existing);
        QTemporaryDir dir;
        std::optional<fsfaults::SmallDisk> disk;
        if (fault == QLatin1String("tmpfs")) {
            disk.emplace(dir.path(), 64 * 1024);
            if (!disk->active())
                QSKIP(qPrintable(disk->reason()));
        }
        DialogThenSwap prompts;
        prompts.path = dir.filePath(QStringLiteral("foto.jpg"));
        if (existing)
            writeFile(prompts.path, "the operator's earlier photo");
        if (disk)
            QVERIFY(disk->fillLeaving(4096)); // less than any photo
        const QStringList before = everything(dir.path());

        SaveCommand::Report report;
        {
            std::optional<fsfaults::ReadOnlyFolder> readOnly;
            std::optional<fsfaults::PermissionChecks> checks;
            std::optional<fsfaults::DiskFull> full;
            std::optional<fsfaults::AsUser> user;
            if (fault == QLatin1String("tmpfs")) {
                user.emplace();
            } else if (fault == QLatin1String("read-only")) {
                readOnly.emplace(dir.path());
                checks.emplace();
                if (!checks->active() || !fsfaults::PermissionChecks::refuses(dir.path()))
                    QSKIP("this process writes past permission bits");
            } else {
                // Far below one photo: the write fails part way.
                full.emplace(4096);
                QVERIFY(full->active());
            }
            report = SaveCommand::run(prompts, kKind, preview(), true);
        }

        QCOMPARE(report.outcome, SaveCommand::Outcome::WriteFailed);
        QCOMPARE(prompts.messages.size(), 1);
        const QString prefix =
            QStringLiteral("Impossibile salvare il file ") + prompts.path + QStringLiteral(".\nMotivo: ");
        QVERIFY2(prompts.messages.constFirst().startsWith(prefix) &&
                     prompts.messages.constFirst().size() > prefix.size(),
                 qPrintable(prompts.messages.constFirst()));
        // The reason in the operator's language, whatever the machine's.
        const QString reason = prompts.messages.constFirst().mid(prefix.size());
        QCOMPARE(reason, fault == QLatin1String("read-only") ? QStringLiteral("permesso negato")
                         : fault == QLatin1String("full")    ? QStringLiteral("file troppo grande")
                                                             : QStringLiteral("spazio esaurito sul disco"));
        QCOMPARE(everything(dir.path()), before); // no partial file, no temporary file
        if (existing)
            QCOMPARE(readAll(prompts.path), QByteArray("the operator's earlier photo"));
    }

    // The chosen name becomes a link after the dialog closed. The save writes through a
    // link, as editors do, and replaces the file it points to whole; a link to a folder
    // fails without touching anything.
    void nameTurnsIntoLink_data() {
        QTest::addColumn<QString>("pointsTo");
        QTest::newRow("a file elsewhere") << QStringLiteral("file");
        QTest::newRow("a folder") << QStringLiteral("folder");
        QTest::newRow("nothing (dangling)") << QStringLiteral("nothing");
    }

    void nameTurnsIntoLink() {
        QFETCH(QString, pointsTo);
        QTemporaryDir dir;
        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath(QStringLiteral("target"));
        if (pointsTo == QLatin1String("file"))
            writeFile(victim, "someone else's file");
        else if (pointsTo == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(victim));
        DialogThenSwap prompts;
        prompts.path = dir.filePath(QStringLiteral("foto.jpg"));
        prompts.beforeReturning = [&] { QVERIFY(QFile::link(victim, prompts.path)); };

        const SaveCommand::Report report = SaveCommand::run(prompts, kKind, preview(), true);

        QVERIFY(QFileInfo(prompts.path).isSymLink());
        QCOMPARE(everything(dir.path()), QStringList{QStringLiteral("foto.jpg")});
        QCOMPARE(everything(elsewhere.path()), QStringList{QStringLiteral("target")});
        const QSize size = outputKindInfo(kKind).outputSize;
        if (pointsTo == QLatin1String("folder")) {
            QCOMPARE(report.outcome, SaveCommand::Outcome::WriteFailed);
            QVERIFY(QFileInfo(victim).isDir());
            QVERIFY(everything(victim).isEmpty());
            return;
        }
        QCOMPARE(report.outcome, SaveCommand::Outcome::Saved);
        QVERIFY(prompts.messages.isEmpty());
        QVERIFY(isWholeJpeg(readAll(victim), size));
        QCOMPARE(readAll(victim).size(), report.size);
    }
};

QTEST_MAIN(TestSaveFaults)
#include "tst_savefaults.moc"
