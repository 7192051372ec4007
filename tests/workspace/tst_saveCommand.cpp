// The save command: the dialog, the name, the file it writes and what the operator is told.
#include "encode/GPP2J.h"
#include "tests/support/JpegCheck.h"
#include "tests/support/SamplePictures.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestFiles.h"
#include "workspace/SaveCommand.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

Q_DECLARE_METATYPE(OutputKind)

using namespace JpegCheck;
using TestFiles::readAll;

namespace {

QImage pictureFor(const QString& name, QSize size) {
    if (name == QLatin1String("photo"))
        return SamplePictures::photo(size);
    if (name == QLatin1String("signature"))
        return SamplePictures::signature(size);
    return SamplePictures::noisyPhoto(size);
}

} // namespace

class TestSaveCommand : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void savedFilePerKind_data() {
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<QString>("picture");
        for (const OutputKindInfo& info : kOutputKinds) {
            for (const char* picture : {"photo", "signature", "noisy"}) {
                QTest::addRow("%s %s", info.frameName, picture) << info.kind << QString::fromLatin1(picture);
            }
        }
    }

    // The files are judged as an outside tool would judge them: markers, decoded size,
    // the quality that their quantisers reveal.
    void savedFilePerKind() {
        QFETCH(OutputKind, kind);
        QFETCH(QString, picture);
        const OutputKindInfo& info = outputKindInfo(kind);
        const QImage image = pictureFor(picture, info.outputSize);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.jpg"));
        ScriptedPrompts prompts;
        prompts.fileAnswers << path;

        const SaveCommand::Report report = SaveCommand::run(prompts, kind, image, true);

        QCOMPARE(report.outcome, SaveCommand::Outcome::Saved);
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(prompts.saveRequests.size(), 1);
        const Prompts::FileRequest& request = prompts.saveRequests.constFirst();
        QCOMPARE(request.title, QStringLiteral("Salva con nome"));
        QCOMPARE(request.fileName, QString::fromLatin1(info.defaultFileName));
        QVERIFY(request.confirmOverwrite);
        QVERIFY(request.filters.value(0).contains(QLatin1String("*.jpg")));

        const QByteArray bytes = readAll(path);
        QCOMPARE(bytes.size(), report.size);
        QVERIFY2(bytes.size() <= info.sizeLimit, qPrintable(QString::number(bytes.size())));
        const JpegFacts facts = readFacts(bytes);
        QVERIFY(facts.valid);
        QVERIFY(facts.baseline);
        QCOMPARE(QSize(facts.width, facts.height), info.outputSize);
        QCOMPARE(facts.sampling, (QList<int>{22, 11, 11}));
        QVERIFY(facts.jfif);
        QCOMPARE(facts.densityUnit, 1);
        QCOMPARE(facts.xDensity, 300);
        QCOMPARE(facts.yDensity, 300);
        QCOMPARE(sorted(facts.lumaQuant), expectedLumaQuant(report.quality));
        QCOMPARE(decode(bytes).size(), info.outputSize);

        // The best quality that fits: the next one up would not have.
        if (report.quality < 100) {
            GPP2J writer;
            const QByteArray higher = writer.encode(image, report.quality + 1, 300, 300);
            QVERIFY(higher.size() > info.sizeLimit);
        }
    }

    void unwritableTarget_data() {
        QTest::addColumn<QString>("target"); // relative to a temporary folder unless absolute
        QTest::newRow("inside a regular file") << QStringLiteral("plain.txt/foto.jpg");
        QTest::newRow("missing folder") << QStringLiteral("missing/foto.jpg");
        QTest::newRow("kernel folder") << QStringLiteral("/proc/vetra-foto.jpg");
        QTest::newRow("a folder's name") << QStringLiteral("folder.jpg");
    }

    void unwritableTarget() {
        QFETCH(QString, target);
        QTemporaryDir dir;
        QFile plain(dir.filePath(QStringLiteral("plain.txt")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.jpg")));
        const QString path = QDir::isAbsolutePath(target) ? target : dir.filePath(target);
        ScriptedPrompts prompts;
        prompts.fileAnswers << path;

        const SaveCommand::Report report =
            SaveCommand::run(prompts, OutputKind::Firma,
                             SamplePictures::signature(outputKindInfo(OutputKind::Firma).outputSize), true);

        QCOMPARE(report.outcome, SaveCommand::Outcome::WriteFailed);
        QCOMPARE(prompts.messages.size(), 1);
        const QString text = prompts.messages.constFirst();
        QVERIFY2(text.startsWith(QStringLiteral("Impossibile salvare il file ") + path +
                                 QStringLiteral(".\nMotivo: ")),
                 qPrintable(text));
        QVERIFY(text.size() > (QStringLiteral("Impossibile salvare il file .\nMotivo: ") + path).size());
        QVERIFY(!QFileInfo(path).isFile());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("folder.jpg"), QStringLiteral("plain.txt")}));
    }

    void previewVisibility_data() {
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("written");
        QTest::newRow("photo hidden") << OutputKind::Foto << false << false;
        QTest::newRow("photo shown") << OutputKind::Foto << true << true;
        QTest::newRow("ADR-CQC hidden") << OutputKind::AdrCqc << false << false;
        QTest::newRow("ADR-CQC shown") << OutputKind::AdrCqc << true << true;
        QTest::newRow("signature hidden") << OutputKind::Firma << false << true;
        QTest::newRow("signature shown") << OutputKind::Firma << true << true;
    }

    void previewVisibility() {
        QFETCH(OutputKind, kind);
        QFETCH(bool, visible);
        QFETCH(bool, written);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("v.jpg"));
        ScriptedPrompts prompts;
        prompts.fileAnswers << path;

        const SaveCommand::Report report =
            SaveCommand::run(prompts, kind, SamplePictures::photo(outputKindInfo(kind).outputSize), visible);

        QCOMPARE(prompts.saveRequests.size(), 1); // the dialog is shown either way
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(QFile::exists(path), written);
        QCOMPARE(report.outcome, written ? SaveCommand::Outcome::Saved : SaveCommand::Outcome::PreviewHidden);
    }

    void cancelledDialog_data() {
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::newRow("cancel") << std::optional<QString>();
        QTest::newRow("empty name") << std::optional<QString>(QString());
    }

    void cancelledDialog() {
        QFETCH(std::optional<QString>, answer);
        ScriptedPrompts prompts;
        prompts.fileAnswers << answer;
        const SaveCommand::Report report =
            SaveCommand::run(prompts, OutputKind::Firma, SamplePictures::signature(QSize(375, 72)), true);
        QCOMPARE(report.outcome, SaveCommand::Outcome::Cancelled);
        QVERIFY(prompts.messages.isEmpty());
    }

    void jpegExtension_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("used");
        QTest::newRow("bare") << QStringLiteral("/tmp/firma") << QStringLiteral("/tmp/firma.jpg");
        QTest::newRow("trailing dot") << QStringLiteral("/tmp/firma.") << QStringLiteral("/tmp/firma.jpg");
        QTest::newRow("dotted folder")
            << QStringLiteral("/tmp/a.b/foto") << QStringLiteral("/tmp/a.b/foto.jpg");
        QTest::newRow("jpg kept") << QStringLiteral("/tmp/foto.JPG") << QStringLiteral("/tmp/foto.JPG");
        QTest::newRow("other extension kept")
            << QStringLiteral("/tmp/foto.jpeg") << QStringLiteral("/tmp/foto.jpeg");
    }

    void jpegExtension() {
        QFETCH(QString, typed);
        QFETCH(QString, used);
        QCOMPARE(SaveCommand::withJpegExtension(typed), used);
    }

    // A completed name that already exists is only replaced after the operator agrees.
    void completedNameAsksBeforeReplacing_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("new file, no question") << false << -1 << true;
        QTest::newRow("existing, yes") << true << int(Prompts::Answer::Yes) << true;
        QTest::newRow("existing, no") << true << int(Prompts::Answer::No) << false;
    }

    void completedNameAsksBeforeReplacing() {
        QFETCH(bool, exists);
        QFETCH(int, answer);
        QFETCH(bool, replaced);
        QTemporaryDir dir;
        const QString typed = dir.filePath(QStringLiteral("firma"));
        const QString final = typed + QStringLiteral(".jpg");
        if (exists) {
            QFile old(final);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old");
        }
        ScriptedPrompts prompts;
        prompts.fileAnswers << typed;
        if (answer >= 0)
            prompts.answers << Prompts::Answer(answer);

        const SaveCommand::Report report =
            SaveCommand::run(prompts, OutputKind::Firma, SamplePictures::signature(QSize(375, 72)), true);

        QCOMPARE(prompts.messages.size(), exists ? 1 : 0);
        if (exists) {
            QCOMPARE(prompts.messages.constFirst(), final + QStringLiteral(" esiste già.\nSostituirlo?"));
            QCOMPARE(prompts.messageButtons.constFirst(), Prompts::Buttons::YesNo);
        }
        QCOMPARE(report.outcome,
                 replaced ? SaveCommand::Outcome::Saved : SaveCommand::Outcome::ReplaceDeclined);
        QCOMPARE(readAll(final) == QByteArray("old"), !replaced);
        QVERIFY(!QFile::exists(typed));
    }

    // Failures the operator is told about; nothing is written.
    void reportedFailures_data() {
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("message");
        QTest::newRow("limit out of reach")
            << OutputKind::AdrCqc << SamplePictures::harshNoise(QSize(400, 400))
            << int(SaveCommand::Outcome::LimitUnreachable)
            << QStringLiteral(
                   "Impossibile salvare l'immagine entro il limite di 9.900 byte, nemmeno alla qualità "
                   "minima.\nIl file non è stato scritto.");
        QTest::newRow("empty preview")
            << OutputKind::Foto << QImage() << int(SaveCommand::Outcome::EncodeFailed)
            << QStringLiteral(
                   "Impossibile creare l'immagine JPEG: immagine vuota.\nIl file non è stato scritto.");
    }

    void reportedFailures() {
        QFETCH(OutputKind, kind);
        QFETCH(QImage, image);
        QFETCH(int, outcome);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("n.jpg"));
        ScriptedPrompts prompts;
        prompts.fileAnswers << path;

        const SaveCommand::Report report = SaveCommand::run(prompts, kind, image, true);

        QCOMPARE(int(report.outcome), outcome);
        QCOMPARE(prompts.messages, QStringList{message});
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_MAIN(TestSaveCommand)
#include "tst_saveCommand.moc"
