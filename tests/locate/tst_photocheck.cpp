#include "locate/FramePlacement.h"
#include "locate/PhotoCheck.h"
#include "tests/support/SampleForm.h"

#include <QPainter>
#include <QTransform>
#include <QtTest>

#include <functional>

using PhotoCheck::Measures;

namespace {

// A 400x480 photo that passes every check: head 75 % of the height, eyes 60 % above the
// bottom edge and in the middle, level, sharp, well exposed, plain background.
Measures conforming() {
    Measures m;
    m.size = QSize(400, 480);
    m.faces = 1;
    m.face = QRectF(120, 140, 160, 160);
    m.eyesSeen = true;
    m.leftEye = QPointF(170, 192);
    m.rightEye = QPointF(230, 192);
    m.crown = 40;
    m.chin = 400;
    m.sharpness = 0.15;
    m.luma = 0.55;
    m.backgroundEdges = 1;
    m.backgroundHue = 2;
    return m;
}

using Change = std::function<void(Measures&)>;

void headShare(Measures& m, double share) {
    m.chin = m.crown + share * m.size.height();
}

void eyesAt(Measures& m, double x, double y) {
    m.leftEye = QPointF(x - 30, y);
    m.rightEye = QPointF(x + 30, y);
}

// The sample form's photograph (a drawn face, 413x531 at 300 dpi) on its page.
const QImage& samplePage() {
    static const QImage page = SampleForm::page();
    return page;
}

// The photograph's own pixels, the paper round it left out.
QRect samplePhotograph() {
    return SampleForm::photo().adjusted(12, 12, -12, -12);
}

// A crop of the page scaled to 400x480, turned clockwise by tilt degrees about its middle.
QImage cropOf(const QRectF& rect, double tilt = 0) {
    QImage crop(400, 480, QImage::Format_RGB32);
    crop.fill(Qt::white);
    QPainter painter(&crop);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(200, 240);
    painter.rotate(tilt);
    painter.translate(-200, -240);
    painter.drawImage(QRectF(0, 0, 400, 480), samplePage(), rect);
    return crop;
}

// Where the face detector's box would lie round the drawn face, in pixels of the page:
// about brow to chin (the drawing's eyes are 248 pixels down its photograph, its chin 368).
QRectF sampleFace() {
    const QRect photo = samplePhotograph();
    return QRectF(photo.left() + 120, photo.top() + 201, 173, 173);
}

// The face box in the pixels of cropOf(rect, tilt).
QRect faceIn(const QRectF& rect, double tilt = 0) {
    const double scale = 400 / rect.width();
    const QRectF face = sampleFace();
    QRectF inCrop((face.left() - rect.left()) * scale, (face.top() - rect.top()) * scale,
                  face.width() * scale, face.height() * scale);
    QTransform turn;
    turn.translate(200, 240);
    turn.rotate(tilt);
    turn.translate(-200, -240);
    inCrop.moveCenter(turn.map(inCrop.center()));
    return inCrop.toRect();
}

// Around the drawn head: the crop an operator frames well, in page pixels.
QRectF goodFrame() {
    const QRect photo = samplePhotograph();
    // The drawing's crown is 100 and its chin 368 pixels down the photograph, its middle at 206.
    const double height = (368 - 100) / 0.75;
    const double width = height * 400 / 480;
    return QRectF(photo.left() + 206 - width / 2, photo.top() + 100 - 0.05 * height, width, height);
}

QImage withPixels(QImage image, const std::function<QRgb(QRgb)>& change) {
    for (int y = 0; y < image.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = change(line[x]);
    }
    return image;
}

QImage blurred(const QImage& image) {
    return image.scaled(image.size() / 6, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .scaled(image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage withBusyBackground(QImage image) {
    // Shelves and posters behind the head, above it and beside it down to the eyes.
    QPainter painter(&image);
    const QColor colours[] = {Qt::red, Qt::darkGreen, Qt::blue, Qt::yellow, Qt::black, Qt::magenta};
    int k = 0;
    for (int y = 0; y < 200; y += 25) {
        for (int x = 0; x < 400; x += 30) {
            if (x > 80 && x < 320 && y > 10)
                continue;
            painter.fillRect(x, y, 30, 25, colours[k++ % 6]);
        }
    }
    return image;
}

QString verdictOf(const PhotoCheck::Report& report, PhotoCheck::Check check) {
    for (const PhotoCheck::Result& r : report.results) {
        if (r.check == check)
            return r.verdict == PhotoCheck::Verdict::Ok     ? QStringLiteral("ok")
                   : r.verdict == PhotoCheck::Verdict::Warn ? QStringLiteral("warn")
                                                            : QStringLiteral("fail");
    }
    return QStringLiteral("none");
}

// A form at 150 dpi whose photograph holds a head drawn as marks a measure can read back
// exactly: the head crown to chin in red, the eyes in blue. The detector's face box, which
// the frame is first placed by, is given apart, so it can mislead the placement.
struct MarkedHead {
    QRect photo;   // in pixels of the upright, level page
    QRect head;    // crown to chin, cheek to cheek
    int eyesY = 0; // the eyes' line, down the page
    QRect face;    // the detector's box
};

// The page as it is stored: drawn upright and level, then turned back by turn and tilted by
// -straighten, so that the locator's turn and straightening bring it back.
QImage markedPage(const MarkedHead& scene, int turn, double straighten) {
    QImage page(1240, 1754, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    painter.fillRect(scene.photo, QColor(215, 220, 225));
    painter.fillRect(scene.head, QColor(220, 20, 20));
    const int apart = scene.head.width() / 4;
    for (int side : {-1, 1})
        painter.fillRect(QRect(scene.head.center().x() + side * apart - 4, scene.eyesY - 3, 9, 7), Qt::blue);
    painter.end();
    QTransform back;
    back.translate(page.width() / 2.0, page.height() / 2.0);
    back.rotate(-straighten);
    back.translate(-page.width() / 2.0, -page.height() / 2.0);
    QImage tilted(page.size(), QImage::Format_RGB32);
    tilted.fill(Qt::white);
    QPainter tilting(&tilted);
    tilting.setRenderHint(QPainter::SmoothPixmapTransform);
    tilting.setTransform(back);
    tilting.drawImage(0, 0, page);
    tilting.end();
    return tilted.transformed(QTransform().rotate(-turn));
}

// Reads the marks back from a crop: crown, chin and cheeks from the red, the eyes from the
// blue on either side of the middle; what a good face measure gives on a real crop.
bool readMarks(const QImage& crop, Measures* m) {
    *m = conforming();
    m->size = crop.size();
    QRect red;
    QPointF eyes[2];
    int eyeCount[2] = {0, 0};
    for (int y = 0; y < crop.height(); ++y) {
        for (int x = 0; x < crop.width(); ++x) {
            const QRgb p = crop.pixel(x, y);
            if (qRed(p) > 150 && qGreen(p) < 90 && qBlue(p) < 90)
                red |= QRect(x, y, 1, 1);
            else if (qBlue(p) > 150 && qRed(p) < 90 && qGreen(p) < 90) {
                const int side = x < crop.width() / 2 ? 0 : 1;
                eyes[side] += QPointF(x, y);
                ++eyeCount[side];
            }
        }
    }
    m->faces = red.isEmpty() ? 0 : 1;
    if (red.isEmpty())
        return true;
    m->face = red;
    m->crown = red.top();
    m->chin = red.bottom() + 1;
    // An eye cut off or both on one side: placed as the rules' middle would have them.
    for (int side : {0, 1})
        eyes[side] =
            eyeCount[side] ? eyes[side] / eyeCount[side] : QPointF(red.center().x(), red.center().y());
    m->leftEye = eyes[0];
    m->rightEye = eyes[1];
    return true;
}

// The checks of the frame's geometry that fail on a crop.
QStringList geometryFails(const QImage& crop, bool square) {
    Measures m;
    readMarks(crop, &m);
    QStringList fails;
    for (const PhotoCheck::Result& r : PhotoCheck::evaluate(m, square).results) {
        if (r.verdict == PhotoCheck::Verdict::Fail)
            fails << PhotoCheck::name(r.check);
    }
    return fails;
}

} // namespace

Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(MarkedHead)
Q_DECLARE_METATYPE(OutputKind)
Q_DECLARE_METATYPE(PhotoCheck::Check)

class PhotoCheckTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // What the rules make of measures: the result line's token and the window's words.
    void verdicts_data() {
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("square");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("readout");
        const auto row = [](const char* name, Change change, const char* token, const char* readout,
                            bool square = false) {
            QTest::newRow(name) << change << square << QString::fromUtf8(token) << QString::fromUtf8(readout);
        };
        row(
            "conforming", [](Measures&) {}, "ok", "Foto conforme");
        row(
            "no face", [](Measures& m) { m.faces = 0; }, "face-count:fail",
            "Nessun volto riconosciuto nella foto");
        row(
            "two faces", [](Measures& m) { m.faces = 2; }, "face-count:fail",
            "Più di un volto nella foto (2)");
        row(
            "head 68 %", [](Measures& m) { headShare(m, 0.68); }, "face-size:warn",
            "Volto troppo piccolo: 68 % dell'altezza (70–80 %)");
        row(
            "head 62 %", [](Measures& m) { headShare(m, 0.62); }, "face-size:fail",
            "Volto troppo piccolo: 62 % dell'altezza (70–80 %)");
        row(
            "head 88 %", [](Measures& m) { headShare(m, 0.88); }, "face-size:fail",
            "Volto troppo grande: 88 % dell'altezza (70–80 %)");
        row(
            "eyes 22 mm up", [](Measures& m) { eyesAt(m, 200, 480 - 22.0 / 45 * 480); }, "eye-line:fail",
            "Occhi troppo in basso: 22 mm dal bordo inferiore (23–31 mm)");
        row(
            "eyes 32 mm up", [](Measures& m) { eyesAt(m, 200, 480 - 32.0 / 45 * 480); }, "eye-line:fail",
            "Occhi troppo in alto: 32 mm dal bordo inferiore (23–31 mm)");
        row(
            "centre 7 % right", [](Measures& m) { eyesAt(m, 228, 192); }, "centre:warn",
            "Volto non centrato: spostato a destra del 7 % della larghezza");
        row(
            "centre 12 % left", [](Measures& m) { eyesAt(m, 152, 192); }, "centre:fail",
            "Volto non centrato: spostato a sinistra del 12 % della larghezza");
        row(
            "tilt 5", [](Measures& m) { m.roll = 5; }, "tilt:warn", "Testa inclinata di 5°");
        row(
            "tilt -9", [](Measures& m) { m.roll = -9; }, "tilt:fail", "Testa inclinata di 9°");
        // A roll from the face's symmetry alone, its eyes not found, warns at most.
        row(
            "tilt -9, eyes not seen",
            [](Measures& m) {
                m.roll = -9;
                m.eyesSeen = false;
            },
            "tilt:warn", "Testa inclinata di 9°");
        row(
            "soft", [](Measures& m) { m.sharpness = 0.08; }, "blur:warn", "Foto sfocata");
        row(
            "blurred", [](Measures& m) { m.sharpness = 0.03; }, "blur:fail", "Foto sfocata");
        row(
            "dark", [](Measures& m) { m.luma = 0.15; }, "exposure:fail", "Foto troppo scura");
        row(
            "shadows crushed", [](Measures& m) { m.darkClipped = 0.02; }, "exposure:fail",
            "Foto troppo scura");
        row(
            "highlights burnt", [](Measures& m) { m.lightClipped = 0.02; }, "exposure:fail",
            "Foto troppo chiara");
        row(
            "busy background", [](Measures& m) { m.backgroundHue = 40; }, "background:warn",
            "Sfondo non uniforme");
        // The failure is said before the warning, whatever their order on the line.
        row(
            "small and soft",
            [](Measures& m) {
                headShare(m, 0.62);
                m.sharpness = 0.08;
            },
            "face-size:fail,blur:warn", "Volto troppo piccolo: 62 % dell'altezza (70–80 %)");
        // The square photo has no rule for the head's size and the eyes' height.
        row(
            "square, small head", [](Measures& m) { headShare(m, 0.5); }, "ok", "Foto conforme", true);
        row(
            "square, off centre", [](Measures& m) { eyesAt(m, 260, 192); }, "centre:fail",
            "Volto non centrato: spostato a destra del 15 % della larghezza", true);
    }
    void verdicts() {
        QFETCH(Change, change);
        QFETCH(bool, square);
        QFETCH(QString, token);
        QFETCH(QString, readout);
        Measures m = conforming();
        change(m);
        const PhotoCheck::Report report = PhotoCheck::evaluate(m, square);
        QCOMPARE(PhotoCheck::token(report), token);
        QCOMPARE(PhotoCheck::readout(report), readout);
        QCOMPARE(PhotoCheck::problems(report).size(),
                 token == QLatin1String("ok") ? 0 : token.count(QLatin1Char(',')) + 1);
    }

    // Each check on crops of a photograph (the sample form's drawn face) with one defect, about
    // the face where the detector puts it; the detector itself on the crop it finds it in.
    void measured_data() {
        QTest::addColumn<QImage>("crop");
        QTest::addColumn<QRect>("face"); // empty: found by the detector
        QTest::addColumn<PhotoCheck::Check>("check");
        QTest::addColumn<QString>("verdict");
        const QRectF good = goodFrame();
        const QImage base = cropOf(good);
        const QRect face = faceIn(good);
        using C = PhotoCheck::Check;
        QTest::newRow("good: one face") << base << QRect() << C::FaceCount << "ok";
        for (C check : {C::FaceSize, C::EyeLine, C::Centre, C::Tilt, C::Blur, C::Exposure, C::Background})
            QTest::addRow("good: %s", qPrintable(PhotoCheck::name(check))) << base << face << check << "ok";
        // The whole photograph: the head is half its height.
        const QRectF whole =
            QRectF(samplePhotograph())
                .adjusted(0, 0, 0, -samplePhotograph().height() + samplePhotograph().width() * 1.2);
        QTest::newRow("small") << cropOf(whole) << faceIn(whole) << C::FaceSize << "fail";
        const QRectF tight(good.center().x() - good.width() * 0.4, good.top() + good.height() * 0.12,
                           good.width() * 0.8, good.height() * 0.8);
        QTest::newRow("large") << cropOf(tight) << faceIn(tight) << C::FaceSize << "fail";
        const QRectF low = good.translated(0, -good.height() * 0.15);
        QTest::newRow("eyes low") << cropOf(low) << faceIn(low) << C::EyeLine << "fail";
        const QRectF aside = good.translated(good.width() * 0.14, 0);
        QTest::newRow("off centre") << cropOf(aside) << faceIn(aside) << C::Centre << "fail";
        QTest::newRow("tilted 4") << cropOf(good, 4) << faceIn(good, 4) << C::Tilt << "warn";
        // The sample form's drawn eyes are beyond the eye cascade: the roll comes from the
        // face's symmetry alone, which warns at most.
        QTest::newRow("tilted -10") << cropOf(good, -10) << faceIn(good, -10) << C::Tilt << "warn";
        QTest::newRow("blurred") << blurred(base) << face << C::Blur << "fail";
        QTest::newRow("dark") << withPixels(
                                     base,
                                     [](QRgb p) { return qRgb(qRed(p) / 5, qGreen(p) / 5, qBlue(p) / 5); })
                              << face << C::Exposure << "fail";
        QTest::newRow("bright") << withPixels(base,
                                              [](QRgb p) {
                                                  return qRgb(220 + qRed(p) / 8, 220 + qGreen(p) / 8,
                                                              220 + qBlue(p) / 8);
                                              })
                                << face << C::Exposure << "fail";
        QTest::newRow("busy background") << withBusyBackground(base) << face << C::Background << "warn";
        QImage blank(400, 480, QImage::Format_RGB32);
        blank.fill(QColor(230, 232, 236));
        QTest::newRow("no face") << blank << QRect() << C::FaceCount << "fail";
    }
    // The locator's frame placed again when its crop fails the geometry's checks, from the
    // crop's own pixels: the page turned and straightened as the window shows it.
    void placedAgain_data() {
        QTest::addColumn<MarkedHead>("scene");
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<int>("turn");
        QTest::addColumn<double>("straighten");
        QTest::addColumn<QString>("left"); // the geometry's fails once placed again
        // A photograph of 207 x 300 pixels, head 195 tall low in it, eyes 105 above its chin.
        const QRect photo(900, 200, 207, 300);
        const MarkedHead upright{photo, QRect(943, 290, 120, 195), 380, QRect(957, 348, 92, 92)};
        MarkedHead boxHigh = upright; // a box on the brows and hair: the frame goes too high
        boxHigh.face.translate(0, -60);
        // Not mended: the frame is never moved below where place() put it for the crown.
        QTest::newRow("eyes low") << boxHigh << OutputKind::Foto << 0 << 0.0 << "face-size,eye-line";
        QTest::newRow("eyes low, turned and tilted")
            << boxHigh << OutputKind::Foto << 90 << 1.5 << "face-size,eye-line";
        MarkedHead smallHead = upright; // a child's head, the box a grown-up's: the frame never
        // shrinks across the detector's box, so the head stays small in it
        smallHead.head = QRect(958, 300, 90, 140);
        smallHead.eyesY = 368;
        QTest::newRow("head small") << smallHead << OutputKind::Foto << 180 << 0.0 << "face-size,eye-line";
        // A landscape photograph, wider than the square: a box off to the left of the face.
        MarkedHead aside{QRect(800, 200, 410, 266), QRect(985, 222, 120, 195), 312, QRect(925, 280, 92, 92)};
        QTest::newRow("square off centre") << aside << OutputKind::AdrCqc << 0 << -1.0 << "";
        // A head the photograph's height: no frame inside it holds it.
        const MarkedHead bigHead{QRect(900, 200, 207, 266), QRect(930, 200, 146, 266), 330,
                                 QRect(957, 280, 92, 92)};
        QTest::newRow("head larger than the photograph")
            << bigHead << OutputKind::Foto << 0 << 0.0 << "face-size,eye-line";
    }
    void placedAgain() {
        QFETCH(MarkedHead, scene);
        QFETCH(OutputKind, kind);
        QFETCH(int, turn);
        QFETCH(double, straighten);
        QFETCH(QString, left);
        PageFindings findings;
        findings.turn = turn;
        findings.straighten = straighten;
        findings.pageSize = QSize(1240, 1754);
        findings.photo.found = true;
        findings.photo.confidence = 1;
        findings.photo.rect = scene.photo;
        findings.face = scene.face;
        const QImage stored = markedPage(scene, turn, straighten);
        // The locator's picture is a reduced copy of the page.
        const QImage picture =
            stored.scaled(stored.size() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const bool square = kind == OutputKind::AdrCqc;

        const std::optional<FrameRect> first = FramePlacement::place(kind, findings);
        QVERIFY(first);
        const QStringList before =
            geometryFails(FramePlacement::cropOf(kind, *first, findings, stored), square);
        QVERIFY2(!before.isEmpty(), "the placement alone already passes: the row tests nothing");
        int measured = 0;
        const std::optional<FrameRect> checked = FramePlacement::placeChecked(
            kind, findings, picture, [&measured](const QImage& crop, Measures* m) {
                ++measured;
                return readMarks(crop, m);
            });
        QVERIFY(checked);
        QVERIFY(measured <= FramePlacement::kMostChecked);
        // Judged on the full page's crop, as the saved photo is cut.
        const QStringList after =
            geometryFails(FramePlacement::cropOf(kind, *checked, findings, stored), square);
        const QString change = before.join(u',') + QStringLiteral(" -> ") + after.join(u',');
        QVERIFY2(after.join(u',') == left, qPrintable(change));
        if (kind == OutputKind::Foto)
            QVERIFY(checked->Top <= first->Top);
    }

    void measured() {
        QFETCH(QImage, crop);
        QFETCH(QRect, face);
        QFETCH(PhotoCheck::Check, check);
        QFETCH(QString, verdict);
        const Measures m = face.isEmpty() ? PhotoCheck::measure(crop) : PhotoCheck::measureAround(crop, face);
        const PhotoCheck::Report report = PhotoCheck::evaluate(m, false);
        QVERIFY2(verdictOf(report, check) == verdict,
                 qPrintable(QStringLiteral("%1 (%2 faces, head %3 %%, eyes %4, roll %5)")
                                .arg(PhotoCheck::token(report))
                                .arg(m.faces)
                                .arg((m.chin - m.crown) / m.size.height() * 100, 0, 'f', 0)
                                .arg(1 - (m.leftEye.y() + m.rightEye.y()) / 2 / m.size.height(), 0, 'f', 2)
                                .arg(m.roll)));
    }
};

QTEST_GUILESS_MAIN(PhotoCheckTest)
#include "tst_photocheck.moc"
