// vetra-batch --auto as a separate process, on pages made from the sample form.
#include "imaging/OutputKinds.h"
#include "tests/support/BatchProcess.h"
#include "tests/support/PageFiles.h"
#include "tests/support/SampleForm.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestImages.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include <sys/stat.h>

namespace {

using BatchProcess::Run;

using BatchProcess::vetraBatch;
using BatchProcess::words;

// An install of vetra-batch alone in a scratch folder, laid out as the package lays it
// out (bin/, lib/vetra/): the modules are the caller's to add. False if it cannot be made.
bool installProgram(const QTemporaryDir& install) {
    return install.isValid() && QDir(install.path()).mkpath(QStringLiteral("bin")) &&
           QDir(install.path()).mkpath(QStringLiteral("lib/vetra")) &&
           QFile::copy(QStringLiteral(VETRA_BATCH_EXE), install.filePath(QStringLiteral("bin/vetra-batch")));
}

// The two modules beside it, each with its ".sum" as the build wrote it.
bool installModules(const QTemporaryDir& install) {
    for (const QString& module :
         {QStringLiteral(VETRA_LOCATOR_MODULE), QStringLiteral(VETRA_CASCADE_MODULE)}) {
        const QString to = install.filePath(QStringLiteral("lib/vetra/") + QFileInfo(module).fileName());
        if (!QFile::copy(module, to) ||
            !QFile::copy(module + QStringLiteral(".sum"), to + QStringLiteral(".sum")))
            return false;
    }
    return true;
}

} // namespace

class TestBatchAuto : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

  private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QImage sample = SampleForm::page();
        QVERIFY(QFile::copy(SampleForm::path(), path(QStringLiteral("upright.jpg"))));
        QVERIFY(TestImages::write(SampleForm::storedTurned(sample, 90), path(QStringLiteral("sideways.jpg")),
                                  "jpg", 90));
        QVERIFY(TestImages::write(SampleForm::storedTurned(sample, 270), path(QStringLiteral("sideways.bmp")),
                                  "bmp"));
        QVERIFY(TestImages::write(SampleForm::withoutSignature(sample),
                                  path(QStringLiteral("nosignature.jpg")), "jpg", 90));
        QImage blank(sample.size(), QImage::Format_RGB32);
        blank.fill(QColor(250, 249, 244));
        QVERIFY(TestImages::write(blank, path(QStringLiteral("blank.jpg")), "jpg", 90));
    }

    void found_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("turn");
        const auto row = [](const char* name, const char* page, const char* kind, int turn) {
            QTest::newRow(name) << QString::fromLatin1(page) << QString::fromLatin1(kind) << turn;
        };
        row("foto, upright", "upright.jpg", "foto", 0);
        row("adr, upright", "upright.jpg", "adr", 0);
        row("firma, upright", "upright.jpg", "firma", 0);
        row("foto, sideways JPEG", "sideways.jpg", "foto", 90);
        row("firma, sideways BMP", "sideways.bmp", "firma", 270);
    }
    void found() {
        QFETCH(QString, page);
        QFETCH(QString, kind);
        QFETCH(int, turn);
        const QString output = path(QStringLiteral("found-%1-%2.jpg").arg(kind, QFileInfo(page).baseName()));
        const Run run =
            vetraBatch({QStringLiteral("--kind"), kind, QStringLiteral("--auto"), path(page), output});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
        const QRegularExpressionMatch line =
            QRegularExpression(QStringLiteral("^quality=\\d+ bytes=(\\d+) turn=(\\d+) straighten=(-?[0-9.]+) "
                                              "rect=((\\d+),(\\d+),(\\d+),(\\d+))\\n$"))
                .match(run.out);
        QVERIFY2(line.hasMatch(), qPrintable(run.out));
        QCOMPARE(line.captured(2).toInt(), turn);
        const QRect rect(line.captured(5).toInt(), line.captured(6).toInt(), line.captured(7).toInt(),
                         line.captured(8).toInt());
        if (kind == QLatin1String("firma"))
            QVERIFY(SampleForm::signatureBox().contains(rect.center()));
        else
            QVERIFY2(SampleForm::photo().contains(rect), qPrintable(run.out));
        QCOMPARE(QFileInfo(output).size(), line.captured(1).toLongLong());
        QCOMPARE(QImage(output).size(), outputKindInfo(BatchProcess::kindNamed(kind)).outputSize);

        // The answer given back by hand makes the same file, byte for byte.
        const QString replayed = path(QStringLiteral("replayed.jpg"));
        QFile::remove(replayed);
        QStringList byHand{QStringLiteral("--kind"), kind};
        if (turn != 0)
            byHand << QStringLiteral("--rotate") << QString::number(turn);
        byHand << QStringLiteral("--straighten") << line.captured(3) << QStringLiteral("--rect")
               << line.captured(4) << path(page) << replayed;
        const Run replay = vetraBatch(byHand);
        QCOMPARE(replay.exitCode, 0);
        QVERIFY(TestFiles::readAll(output) == TestFiles::readAll(replayed));
    }

    // Nothing found: its own exit code, an Italian message, and no file.
    void notFound_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("kind");
        for (const auto& [page, kind] : {std::pair{"blank.jpg", "foto"}, std::pair{"blank.jpg", "firma"},
                                         std::pair{"nosignature.jpg", "firma"}})
            QTest::addRow("%s on %s", kind, page) << QString::fromLatin1(page) << QString::fromLatin1(kind);
    }
    void notFound() {
        QFETCH(QString, page);
        QFETCH(QString, kind);
        const QString output = path(QStringLiteral("none.jpg"));
        const Run run =
            vetraBatch({QStringLiteral("--kind"), kind, QStringLiteral("--auto"), path(page), output});
        QCOMPARE(run.exitCode, 7);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(QLatin1String("nessuna")), qPrintable(run.err));
        QVERIFY(!QFileInfo::exists(output));
    }

    void folder() {
        const QString in = path(QStringLiteral("cartella"));
        const QString out = path(QStringLiteral("uscita"));
        QVERIFY(QDir().mkpath(in));
        QVERIFY(QFile::copy(path(QStringLiteral("blank.jpg")), in + QStringLiteral("/a.jpg")));
        QVERIFY(QFile::copy(path(QStringLiteral("sideways.jpg")), in + QStringLiteral("/b.jpg")));
        const Run run = vetraBatch(words(QStringLiteral("--kind foto --auto")) + QStringList{in, out});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith(QLatin1String("[1/2] a.jpg: ERRORE: ")), qPrintable(run.err));
        QVERIFY2(run.out.contains(QRegularExpression(
                     QStringLiteral("\\[2/2\\] b.jpg -> b.jpg quality=\\d+ bytes=\\d+ "
                                    "turn=90 straighten=\\S+ rect=\\d+,\\d+,\\d+,\\d+\\n"))),
                 qPrintable(run.out));
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{QStringLiteral("b.jpg")});
    }

    // --check adds the verdicts to the result line and says each problem on stderr; the photo
    // is saved whatever they are, and --strict makes a failed check exit 9.
    void check_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("token");   // the result line's, its checks in any order
        QTest::addColumn<QString>("problem"); // a line on stderr
        const QString kind = QStringLiteral("--kind");
        // Round the drawn head; round the whole photograph (the head half its height); paper.
        const QString good = QStringLiteral("1950,780,305,366");
        const QString loose = QStringLiteral("1897,707,411,493");
        const QString paper = QStringLiteral("200,2900,400,480");
        const auto row = [&](const char* name, QStringList arguments, int exit, const char* token,
                             const char* problem) {
            QTest::newRow(name) << arguments << exit << QString::fromUtf8(token)
                                << QString::fromUtf8(problem);
        };
        row("good frame",
            {kind, QStringLiteral("foto"), QStringLiteral("--check"), QStringLiteral("--rect"), good}, 0,
            "ok", "");
        row("good frame, strict",
            {kind, QStringLiteral("foto"), QStringLiteral("--strict"), QStringLiteral("--rect"), good}, 0,
            "ok", "");
        row("loose frame",
            {kind, QStringLiteral("foto"), QStringLiteral("--check"), QStringLiteral("--rect"), loose}, 0,
            "face-size:fail", "vetra-batch: Volto troppo piccolo: ");
        row("loose frame, strict",
            {kind, QStringLiteral("foto"), QStringLiteral("--rect"), loose, QStringLiteral("--strict")}, 9,
            "face-size:fail", "vetra-batch: Volto troppo piccolo: ");
        row("paper, strict",
            {kind, QStringLiteral("foto"), QStringLiteral("--strict"), QStringLiteral("--rect"), paper}, 9,
            "face-count:fail", "vetra-batch: Nessun volto riconosciuto nella foto");
        // The square photo has no rule for the head's size.
        row("square, loose",
            {kind, QStringLiteral("adr"), QStringLiteral("--strict"), QStringLiteral("--rect"),
             QStringLiteral("1897,800,411,411")},
            0, "", "");
    }
    void check() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, token);
        QFETCH(QString, problem);
        const QString output = path(QStringLiteral("checked.jpg"));
        QFile::remove(output);
        const Run run = vetraBatch(arguments << path(QStringLiteral("upright.jpg")) << output);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(QFileInfo(output).size() > 0, "a failed check never stops the save");
        const QRegularExpressionMatch line =
            QRegularExpression(QStringLiteral("^quality=\\d+ bytes=\\d+ check=(\\S+)\\n$")).match(run.out);
        QVERIFY2(line.hasMatch(), qPrintable(run.out));
        const QStringList checks = line.captured(1).split(QLatin1Char(','));
        if (!token.isEmpty())
            QVERIFY2(checks.contains(token), qPrintable(run.out));
        for (const QString& check : checks)
            QVERIFY2(check == QLatin1String("ok") || check.endsWith(QLatin1String(":warn")) ||
                         check.endsWith(QLatin1String(":fail")),
                     qPrintable(run.out));
        QVERIFY2(!checks.contains(QStringLiteral("face-size:fail")) ||
                     !arguments.contains(QStringLiteral("adr")),
                 qPrintable(run.out));
        // One line on stderr for each check named.
        QCOMPARE(run.err.count(QLatin1Char('\n')),
                 checks == QStringList{QStringLiteral("ok")} ? 0 : checks.size());
        QVERIFY2(run.err.contains(problem), qPrintable(run.err));
    }

    // A folder under --strict: each page's problems under its name, and 9 at the end when a
    // saved photo failed; a page that could not be saved outweighs it (1).
    void checkFolder() {
        const QString in = path(QStringLiteral("controllo"));
        QVERIFY(QDir().mkpath(in));
        QVERIFY(QFile::copy(path(QStringLiteral("upright.jpg")), in + QStringLiteral("/a.jpg")));
        const QStringList loose = {QStringLiteral("--kind"), QStringLiteral("foto"),
                                   QStringLiteral("--strict"), QStringLiteral("--rect"),
                                   QStringLiteral("1897,707,411,493")};
        Run run = vetraBatch(QStringList(loose) << in << path(QStringLiteral("controllati")));
        QCOMPARE(run.exitCode, 9);
        QVERIFY2(run.out.contains(QLatin1String("[1/1] a.jpg -> a.jpg quality=")) &&
                     run.out.contains(QLatin1String("check=face-size:fail")),
                 qPrintable(run.out));
        QVERIFY2(run.err.startsWith(QLatin1String("[1/1] a.jpg: Volto troppo piccolo: ")),
                 qPrintable(run.err));
        QVERIFY(QFile::copy(path(QStringLiteral("blank.jpg")), in + QStringLiteral("/b.bmp")));
        QFile(in + QStringLiteral("/b.bmp")).resize(100);
        run = vetraBatch(QStringList(loose) << in << path(QStringLiteral("controllati2")));
        QCOMPARE(run.exitCode, 1);
    }

    // --check is for photographs.
    void checkRefusesTheSignature() {
        const Run run =
            vetraBatch({QStringLiteral("--kind"), QStringLiteral("firma"), QStringLiteral("--check"),
                        QStringLiteral("--rect"), QStringLiteral("0,0,375,72"),
                        path(QStringLiteral("upright.jpg")), path(QStringLiteral("firma.jpg"))});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(QLatin1String("--check")), qPrintable(run.err));
    }

    // The locator is a module loaded for --auto only: without it (or with a damaged one)
    // --auto ends with its own code and a message naming it, and the other ways still work.
    void moduleUnavailable_data() {
        QTest::addColumn<QString>("module"); // what lies where the module should be
        QTest::addColumn<bool>("folder");
        QTest::newRow("missing") << QString() << false;
        QTest::newRow("missing, folder") << QString() << true;
        QTest::newRow("empty file") << QStringLiteral("empty") << false;
        QTest::newRow("not a library") << QStringLiteral("text") << false;
        QTest::newRow("a folder") << QStringLiteral("folder") << false;
    }
    void moduleUnavailable() {
        QFETCH(QString, module);
        QFETCH(bool, folder);
        QTemporaryDir install;
        QVERIFY(installProgram(install));
        const QString program = install.filePath(QStringLiteral("bin/vetra-batch"));
        const QString modulePath = install.filePath(QStringLiteral("lib/vetra/vetra-locator.so"));
        if (module == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(modulePath));
        } else if (!module.isEmpty()) {
            QFile file(modulePath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (module == QLatin1String("text"))
                file.write("not a shared object\n");
        }
        const QString input =
            folder ? install.filePath(QStringLiteral("pagine")) : path(QStringLiteral("upright.jpg"));
        if (folder) {
            QVERIFY(QDir().mkpath(input));
            QVERIFY(QFile::copy(path(QStringLiteral("upright.jpg")), input + QStringLiteral("/a.jpg")));
        }
        const QString output =
            install.filePath(folder ? QStringLiteral("uscita") : QStringLiteral("out.jpg"));
        const Run run = BatchProcess::run(program, words(QStringLiteral("--kind foto --auto")) +
                                                       QStringList{input, output});
        QCOMPARE(run.exitCode, 8);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(QDir::toNativeSeparators(QDir::cleanPath(modulePath))),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(QLatin1String("modulo")), qPrintable(run.err));
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        QVERIFY(!QFileInfo::exists(folder ? output + QStringLiteral("/a.jpg") : output));

        // A rectangle given by hand needs no locator.
        const QString byHand = install.filePath(QStringLiteral("byhand.jpg"));
        const Run rect =
            BatchProcess::run(program, words(QStringLiteral("--kind foto --rect 100,100,400,480")) +
                                           QStringList{path(QStringLiteral("upright.jpg")), byHand});
        QCOMPARE(rect.exitCode, 0);
        QVERIFY(QFileInfo(byHand).size() > 0);
        // --check measures with the locator's module: without it, 8 and nothing written.
        const QString checked = install.filePath(QStringLiteral("checked.jpg"));
        const Run check = BatchProcess::run(program, {QStringLiteral("--kind"), QStringLiteral("foto"),
                                                      QStringLiteral("--check"), QStringLiteral("--rect"),
                                                      QStringLiteral("100,100,400,480"),
                                                      path(QStringLiteral("upright.jpg")), checked});
        QCOMPARE(check.exitCode, 8);
        QVERIFY(!QFileInfo::exists(checked));
    }

    // The face cascade, which finds the sample form's drawn face, is a module of its own
    // that the locator's module loads from beside itself, wherever the program lies. Either
    // module missing, cut short, damaged, open to others' writes, or failing to load: exit 8
    // and a message naming the module, never "no face" (7) nor a signal.
    void modulesChecked_data() {
        QTest::addColumn<QString>("module"); // which: locator, cascade, folder
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("exitCode");
        const auto row = [](const char* name, const char* module, const char* damage, int exitCode) {
            QTest::newRow(name) << QString::fromLatin1(module) << QString::fromLatin1(damage) << exitCode;
        };
        row("both installed", "", "", 0);
        row("cascade missing", "cascade", "missing", 8);
        row("cascade cut short", "cascade", "cut", 8);
        row("locator cut short", "locator", "cut", 8);
        row("locator, 4 KB overwritten", "locator", "overwritten", 8);
        row("locator without its sum", "locator", "no sum", 8);
        row("locator writable by others", "locator", "0666", 8);
        row("cascade writable by the group", "cascade", "0664", 8);
        row("folder writable by others", "folder", "0777", 8);
        // Its sum rewritten to match, as a careless installer might: it passes the check and
        // fails to load when the first page needs it.
        row("cascade not a library, sum matching", "cascade", "not a library", 8);
    }
    void modulesChecked() {
        QFETCH(QString, module);
        QFETCH(QString, damage);
        QFETCH(int, exitCode);
        QTemporaryDir install;
        QVERIFY(installProgram(install) && installModules(install));
        const QString program = install.filePath(QStringLiteral("bin/vetra-batch"));
        const QString folder = install.filePath(QStringLiteral("lib/vetra"));
        const QString target = module == QLatin1String("folder") ? folder
                               : module == QLatin1String("cascade")
                                   ? folder + QStringLiteral("/vetra-face-cascade.so")
                                   : folder + QStringLiteral("/vetra-locator.so");
        const QByteArray native = QFile::encodeName(target);
        QFile file(target);
        if (damage == QLatin1String("missing")) {
            QVERIFY(file.remove());
        } else if (damage == QLatin1String("cut")) {
            QVERIFY(file.resize(file.size() / 2));
        } else if (damage == QLatin1String("overwritten")) {
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek(file.size() / 2));
            QCOMPARE(file.write(QByteArray(4096, '\x5a')), 4096);
            file.close();
        } else if (damage == QLatin1String("no sum")) {
            QVERIFY(QFile::remove(target + QStringLiteral(".sum")));
        } else if (damage == QLatin1String("not a library")) {
            const QByteArray text = "not a shared object\n";
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text);
            file.close();
            QFile sum(target + QStringLiteral(".sum"));
            QVERIFY(sum.open(QIODevice::WriteOnly | QIODevice::Truncate));
            sum.write(QByteArray::number(text.size()) + ' ' +
                      QCryptographicHash::hash(text, QCryptographicHash::Blake2b_512).toHex() + '\n');
        } else if (!damage.isEmpty()) {
            QCOMPARE(::chmod(native.constData(), mode_t(damage.toInt(nullptr, 8))), 0);
        }
        const QString output = install.filePath(QStringLiteral("out.jpg"));
        const Run run =
            BatchProcess::run(program, words(QStringLiteral("--kind foto --auto")) +
                                           QStringList{path(QStringLiteral("upright.jpg")), output});
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 0) {
            QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
            QVERIFY(QFileInfo(output).size() > 0);
        } else {
            QVERIFY2(run.err.contains(QDir::toNativeSeparators(target)) &&
                         run.err.contains(QLatin1String("Reinstallare")),
                     qPrintable(run.err));
            QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
            QVERIFY(!QFileInfo::exists(output));
        }
    }

    // --auto holds a page read through Qt's reader about once more than a --rect read of it
    // does; it held it three times (twice its 32-bit size more: 529 MB on a grey PNG of
    // 8192 x 8192, where the window peaks at 374 MB).
    void memoryOnPagesReadByQt_data() {
        QTest::addColumn<QString>("format");
        QTest::newRow("grey PNG") << "png";
        QTest::newRow("interlaced GIF") << "gif";
    }
    void memoryOnPagesReadByQt() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizer's own memory would be counted with the page's");
#endif
        QFETCH(QString, format);
        constexpr int kSide = 6000;
        const bool gif = format == QLatin1String("gif");
        QImage page(kSide, kSide, gif ? QImage::Format_Indexed8 : QImage::Format_Grayscale8);
        if (gif) {
            QList<QRgb> greys;
            for (int i = 0; i < 256; ++i)
                greys << qRgb(i, i, i);
            page.setColorTable(greys);
        }
        for (int y = 0; y < kSide; ++y)
            std::memset(page.scanLine(y), 128 + (y / 64 % 2) * 100, kSide);
        const QString file = path(QStringLiteral("large.") + format);
        QVERIFY(gif ? PageFiles::write(file, PageFiles::gif(page, true)) : page.save(file, "png"));

        const QString output = path(QStringLiteral("large-out.jpg"));
        const long byRect = BatchProcess::peakMemoryKb(
            QStringLiteral(VETRA_BATCH_EXE),
            words(QStringLiteral("--kind foto --rect 10,10,400,480")) + QStringList{file, output});
        const long automatic = BatchProcess::peakMemoryKb(QStringLiteral(VETRA_BATCH_EXE),
                                                          words(QStringLiteral("--kind foto --auto")) +
                                                              QStringList{file, output});
        QVERIFY(byRect > 0 && automatic > 0);
        const double pageKb = double(kSide) * kSide * 4 / 1024;
        QVERIFY2(automatic - byRect < 1.5 * pageKb,
                 qPrintable(QStringLiteral("--rect %1 KB, --auto %2 KB").arg(byRect).arg(automatic)));
    }

    void refusesATurnByHand_data() {
        QTest::addColumn<QStringList>("extra");
        for (const char* option : {"--rotate 90", "--mirror h", "--rect 1,1,10,10", "--straighten 1"})
            QTest::newRow(option) << words(QString::fromLatin1(option));
    }
    void refusesATurnByHand() {
        QFETCH(QStringList, extra);
        const QString output = path(QStringLiteral("refused.jpg"));
        const Run run = vetraBatch(words(QStringLiteral("--kind foto --auto")) + extra +
                                   QStringList{path(QStringLiteral("upright.jpg")), output});
        QCOMPARE(run.exitCode, 2);
        QVERIFY(!QFileInfo::exists(output));
    }
};

QTEST_GUILESS_MAIN(TestBatchAuto)
#include "tst_batchAuto.moc"
