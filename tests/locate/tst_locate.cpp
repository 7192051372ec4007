#include "imaging/FrameGeometry.h"
#include "locate/FramePlacement.h"
#include "locate/Locator.h"
#include "tests/support/FormPage.h"
#include "tests/support/SampleForm.h"

#include <QDir>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTransform>
#include <QtTest>

Q_DECLARE_METATYPE(OutputKind)
Q_DECLARE_METATYPE(FormPage::SignatureLine)

namespace {

constexpr QSize kA4(2480, 3508);

// The fitted display's scale for a turned page, as the window and the batch use it.
double factorFor(QSize page) {
    const QSize display = FrameGeometry::fitSize(page, QSize(int(kPictClientWidth), int(kPictClientHeight)));
    return FrameGeometry::cropScaleFactor(page, display.width(), display.height());
}

bool within(const QRectF& inner, const QRectF& outer) {
    return outer.adjusted(-0.5, -0.5, 0.5, 0.5).contains(inner);
}

// Where the locator's straightening by degrees takes the points of a page of size: turned
// clockwise about the page's centre.
QTransform straightening(QSize size, double degrees) {
    QTransform level;
    level.translate(size.width() / 2.0, size.height() / 2.0);
    level.rotate(degrees);
    level.translate(-size.width() / 2.0, -size.height() / 2.0);
    return level;
}

// The share of the mask's ink that lies inside rect, once the mask is straightened by level.
double inkShare(const QImage& mask, const QRect& rect, const QTransform& level = QTransform()) {
    qint64 inside = 0;
    qint64 all = 0;
    for (int y = 0; y < mask.height(); ++y) {
        const uchar* line = mask.constScanLine(y);
        for (int x = 0; x < mask.width(); ++x) {
            if (line[x] > 127) {
                ++all;
                inside += rect.contains(level.map(QPointF(x, y)).toPoint());
            }
        }
    }
    return all > 0 ? double(inside) / all : 0;
}

// The reduced copy the batch command and the window hand the locator.
QImage reduced(const QImage& page) {
    return page.scaled(page.size() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

double overlapShare(const QRect& found, const QRect& truth) {
    const QRect common = found & truth;
    return double(common.width()) * common.height() / (double(truth.width()) * truth.height());
}

} // namespace

class TestLocate : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase() {
        m_sample = SampleForm::page();
        QVERIFY(!m_sample.isNull());
        QCOMPARE(m_sample.size(), kA4);
    }

    void findsOnTheForm_data() {
        QTest::addColumn<int>("turn");
        QTest::addColumn<int>("reduction");
        QTest::newRow("upright") << 0 << 1;
        QTest::newRow("sideways, a quarter turn clockwise") << 90 << 1;
        QTest::newRow("upside down") << 180 << 1;
        QTest::newRow("sideways, three quarter turns") << 270 << 1;
        QTest::newRow("reduced copy of a sideways page") << 90 << 4;
    }
    void findsOnTheForm() {
        QFETCH(int, turn);
        QFETCH(int, reduction);
        const QImage stored = SampleForm::storedTurned(m_sample, turn);
        const QImage picture =
            stored.scaled(stored.size() / reduction, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const PageFindings found = Locator::locate(picture, stored.size());

        QCOMPARE(found.turn, turn);
        QCOMPARE(found.pageSize, kA4);
        QVERIFY(found.photo.found);
        QVERIFY(found.photo.confidence >= Locator::kThreshold);
        QVERIFY2(SampleForm::photo().contains(found.photo.rect),
                 qPrintable(QStringLiteral("photo at %1,%2 %3x%4")
                                .arg(found.photo.rect.x())
                                .arg(found.photo.rect.y())
                                .arg(found.photo.rect.width())
                                .arg(found.photo.rect.height())));
        QVERIFY(overlapShare(found.photo.rect, SampleForm::photo()) > 0.8);
        QVERIFY(found.photo.rect.contains(found.face));
        QVERIFY(found.face.width() > found.photo.rect.width() / 4);

        QVERIFY(found.signature.found);
        QVERIFY(SampleForm::signatureBox().contains(found.signature.rect));
        QVERIFY(found.signature.rect.width() > SampleForm::signatureBox().width() / 2);
    }

    // A photograph touching dense print (a filled field, a bold heading) is still one: the
    // print joined to it must not make it look like no rectangle.
    void findsAPhotographTouchingPrint_data() {
        QTest::addColumn<QRect>("print");
        QTest::addColumn<int>("turn");
        const QRect photo = SampleForm::photo();
        const QRect atLeft(photo.left() - 1200, photo.center().y(), 1210, 80);
        const QRect atRight(photo.right() - 10, photo.top() + 100, 140, 70);
        const QRect atCorner(photo.left() - 900, photo.top() - 80, 1000, 90);
        QTest::newRow("a bar at its left") << atLeft << 0;
        QTest::newRow("a field at its right") << atRight << 0;
        QTest::newRow("a heading touching its corner") << atCorner << 0;
        QTest::newRow("a bar at its left, sideways") << atLeft << 90;
        QTest::newRow("a heading touching its corner, upside down") << atCorner << 180;
    }
    void findsAPhotographTouchingPrint() {
        QFETCH(QRect, print);
        QFETCH(int, turn);
        QImage page = m_sample.convertToFormat(QImage::Format_RGB32);
        QPainter(&page).fillRect(print, QColor(25, 25, 25));
        const QImage stored = SampleForm::storedTurned(page, turn);
        const PageFindings found = Locator::locate(reduced(stored), stored.size());
        QVERIFY(found.photo.found);
        QCOMPARE(found.turn, turn);
        QVERIFY(SampleForm::photo().contains(found.photo.rect));
        QVERIFY(overlapShare(found.photo.rect, SampleForm::photo()) > 0.8);
        QVERIFY(found.photo.rect.contains(found.face));
    }

    void findsNothingWithoutSubject_data() {
        QTest::addColumn<QImage>("page");
        QTest::addColumn<bool>("photo");
        QTest::addColumn<bool>("signature");
        QImage blank(kA4, QImage::Format_RGB32);
        blank.fill(QColor(250, 249, 244));
        QTest::newRow("blank page") << blank << false << false;
        const QImage textOnly = SampleForm::withoutSignature(SampleForm::withoutPhoto(m_sample));
        QTest::newRow("printed text only") << textOnly << false << false;
        QTest::newRow("no photograph") << SampleForm::withoutPhoto(m_sample) << false << true;
        QTest::newRow("no signature") << SampleForm::withoutSignature(m_sample) << true << false;
        QTest::newRow("null picture") << QImage() << false << false;
    }
    void findsNothingWithoutSubject() {
        QFETCH(QImage, page);
        QFETCH(bool, photo);
        QFETCH(bool, signature);
        const PageFindings found = Locator::locate(page, kA4);
        QCOMPARE(found.photo.found, photo);
        QCOMPARE(found.signature.found, signature);
        if (!photo) {
            QCOMPARE(found.turn, 0);
            QVERIFY(found.face.isEmpty());
        }
    }

    // Without a photograph the printed text tells the turn, and the signature is found on
    // the page turned upright.
    void turnsByTheText_data() {
        QTest::addColumn<int>("turn");
        QTest::newRow("upright") << 0;
        QTest::newRow("sideways, a quarter turn clockwise") << 90;
        QTest::newRow("upside down") << 180;
        QTest::newRow("sideways, three quarter turns") << 270;
    }
    void turnsByTheText() {
        QFETCH(int, turn);
        const QImage stored = SampleForm::storedTurned(SampleForm::withoutPhoto(m_sample), turn);
        const PageFindings found = Locator::locate(reduced(stored), stored.size());
        QVERIFY(!found.photo.found);
        QCOMPARE(found.turn, turn);
        QVERIFY(found.turnConfidence >= Locator::kThreshold);
        QCOMPARE(found.pageSize, kA4);
        QVERIFY(found.signature.found);
        QVERIFY(SampleForm::signatureBox().contains(found.signature.rect));
        QVERIFY(found.signature.rect.width() > SampleForm::signatureBox().width() / 2);

        // Only the photograph wanted: the text is not read and the turn stays unknown.
        const PageFindings photoOnly =
            Locator::locate(reduced(stored), stored.size(), Locator::Wanted::PhotoOnly);
        QCOMPARE(photoOnly.turn, 0);
        QCOMPARE(photoOnly.pageSize, stored.size());
    }

    // A signature on a page with no face and no print to tell its turn is not framed: it
    // might be saved upside down.
    void noSignatureWithoutTurn_data() {
        QTest::addColumn<int>("turn");
        QTest::newRow("upright") << 0;
        QTest::newRow("upside down") << 180;
    }
    void noSignatureWithoutTurn() {
        QFETCH(int, turn);
        QImage blank(kA4, QImage::Format_RGB32);
        blank.fill(QColor(250, 249, 244));
        const QImage page =
            FormPage::signedOn(blank, QRect(1300, 2250, 800, 160), FormPage::SignatureLine::None);
        const QImage stored = SampleForm::storedTurned(page, turn);
        const PageFindings found = Locator::locate(reduced(stored), stored.size());
        QCOMPARE(found.turn, 0);
        QVERIFY(!found.signature.found);
    }

    // The whole signature is framed where it meets the form's ruling, and no print with it.
    void framesTheWholeSignature_data() {
        QTest::addColumn<FormPage::SignatureLine>("line");
        QTest::addColumn<QRect>("box");
        QTest::newRow("free") << FormPage::SignatureLine::None << QRect(1350, 2260, 800, 180);
        QTest::newRow("loops across a ruled line")
            << FormPage::SignatureLine::Across << QRect(1350, 2260, 800, 180);
        QTest::newRow("along its ruled line")
            << FormPage::SignatureLine::Along << QRect(1350, 2260, 800, 180);
        QTest::newRow("small, along its ruled line")
            << FormPage::SignatureLine::Along << QRect(1400, 2300, 600, 120);
        QTest::newRow("with a flourish under it")
            << FormPage::SignatureLine::Underlined << QRect(1350, 2260, 800, 180);
    }
    void framesTheWholeSignature() {
        QFETCH(FormPage::SignatureLine, line);
        QFETCH(QRect, box);
        QImage ink;
        const QImage page = FormPage::signedOn(SampleForm::withoutSignature(m_sample), box, line, &ink);
        const PageFindings found = Locator::locate(reduced(page), page.size());
        QVERIFY(found.signature.found);
        const QRect rect = found.signature.rect;
        // The locator answers on the page turned level when it is off by enough.
        const QTransform level = straightening(page.size(), found.straighten);
        const double share = inkShare(ink, rect, level);
        QVERIFY2(share >= 0.97, qPrintable(QStringLiteral("%1 of the ink in %2,%3 %4x%5")
                                               .arg(share)
                                               .arg(rect.x())
                                               .arg(rect.y())
                                               .arg(rect.width())
                                               .arg(rect.height())));
        // Nothing of the print around it: the box stays within a third of the signature's
        // height of it (the ruled line reaches a whole height past it on each side).
        const int m = box.height() / 3;
        QVERIFY(level.mapRect(QRectF(box.adjusted(-m, -m, m, m))).toAlignedRect().contains(rect));
    }

    // A page scanned a little askew: the locator measures the angle, answers it as the
    // straightening, and finds the photograph on the page turned level, turned by a quarter
    // or not. The sample form is itself scanned about a third of a degree clockwise.
    // A photograph glued askew on the page (tilt) is levelled by its own edges, the
    // page's text notwithstanding, and framed inside its tilted corners.
    void straightensASkewedPage_data() {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<int>("turn");
        QTest::addColumn<double>("tilt");
        QTest::newRow("2 degrees clockwise") << 2.0 << 0 << 0.0;
        QTest::newRow("1.2 degrees anticlockwise") << -1.2 << 0 << 0.0;
        QTest::newRow("3 degrees, sideways") << 3.0 << 90 << 0.0;
        QTest::newRow("level") << 0.0 << 0 << 0.0;
        QTest::newRow("photograph glued 1.5 degrees off") << 0.0 << 0 << 1.5;
        QTest::newRow("glued -1 degree off, page 1.5, upside down") << 1.5 << 180 << -1.0;
    }
    void straightensASkewedPage() {
        QFETCH(double, degrees);
        QFETCH(int, turn);
        QFETCH(double, tilt);
        constexpr double kSampleSkew = 0.33;
        const QRectF box(SampleForm::photo());
        QTransform glued;
        glued.translate(box.center().x(), box.center().y());
        glued.rotate(tilt);
        glued.translate(-box.center().x(), -box.center().y());
        QImage form = m_sample;
        if (tilt != 0) {
            form = SampleForm::withoutPhoto(m_sample);
            QPainter painter(&form);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.setTransform(glued);
            painter.drawImage(box.topLeft(), m_sample.copy(box.toRect()));
        }
        QImage askew(kA4, QImage::Format_RGB32);
        askew.fill(Qt::white);
        {
            QPainter painter(&askew);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.setTransform(straightening(kA4, degrees));
            painter.drawImage(0, 0, form);
        }
        const QImage stored = SampleForm::storedTurned(askew, turn);
        const PageFindings found = Locator::locate(reduced(stored), stored.size());

        // Within a quarter of a degree; an angle under 0.4 degree is left as it is.
        const double expected = degrees == 0 && tilt == 0 ? 0 : -(degrees + kSampleSkew + tilt);
        QVERIFY2(qAbs(found.straighten - expected) <= 0.25, qPrintable(QString::number(found.straighten)));
        QVERIFY(found.photo.found);
        QCOMPARE(found.turn, turn);
        // Where the photograph lies on the page so turned: the sample's box, turned by what
        // is left of the angle, a little more generous.
        const QRect photo = straightening(kA4, degrees + found.straighten)
                                .mapRect(QRectF(SampleForm::photo()))
                                .toAlignedRect()
                                .adjusted(-12, -12, 12, 12);
        QVERIFY2(photo.contains(found.photo.rect), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                  .arg(found.photo.rect.x())
                                                                  .arg(found.photo.rect.y())
                                                                  .arg(found.photo.rect.width())
                                                                  .arg(found.photo.rect.height())));
        QVERIFY(overlapShare(found.photo.rect, SampleForm::photo()) > 0.8);
        if (tilt != 0) {
            // Not the tilted photograph's upright bounding box: its corners would be paper.
            const QPolygonF quad =
                straightening(kA4, degrees + found.straighten).map(glued.map(QPolygonF(box)));
            const QRectF inner = QRectF(found.photo.rect).adjusted(0.5, 0.5, -0.5, -0.5);
            for (const QPointF& corner :
                 {inner.topLeft(), inner.topRight(), inner.bottomLeft(), inner.bottomRight()})
                QVERIFY2(quad.containsPoint(corner, Qt::OddEvenFill),
                         qPrintable(QStringLiteral("%1,%2").arg(corner.x()).arg(corner.y())));
        }
    }

    // Askew with nothing on it to frame: the page stays as it was loaded, not straightened.
    void leavesAPageWithNothingToFrameAskew() {
        QImage askew(kA4, QImage::Format_RGB32);
        askew.fill(Qt::white);
        {
            QPainter painter(&askew);
            painter.setTransform(straightening(kA4, 2.0));
            painter.drawImage(0, 0, SampleForm::withoutSignature(SampleForm::withoutPhoto(m_sample)));
        }
        const PageFindings found = Locator::locate(reduced(askew), kA4);
        QVERIFY(!found.photo.found && !found.signature.found);
        QCOMPARE(found.straighten, 0.0);
    }

    // VETRA_LOCATE_DEBUG names a folder: each stage's picture goes there, numbered by page;
    // unset, nothing is written.
    void writesTheStagesWhenAsked() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.filePath(QStringLiteral("stages"));
        const QImage picture = reduced(SampleForm::withoutPhoto(m_sample));
        qputenv("VETRA_LOCATE_DEBUG", QFile::encodeName(folder));
        Locator::locate(picture, kA4);
        qunsetenv("VETRA_LOCATE_DEBUG");
        Locator::locate(picture, kA4);
        const QStringList written =
            QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
        const QStringList stages{QStringLiteral("work"),
                                 QStringLiteral("photo-blocks"),
                                 QStringLiteral("photo-candidates"),
                                 QStringLiteral("text-lines"),
                                 QStringLiteral("signature-strokes"),
                                 QStringLiteral("signature-groups")};
        QString page;
        for (const QString& stage : stages) {
            const QStringList matching =
                written.filter(QRegularExpression(QStringLiteral("^\\d{4}-%1\\.png$").arg(stage)));
            QVERIFY2(matching.size() == 1, qPrintable(stage + QLatin1String(": ") + written.join(u' ')));
            QVERIFY(page.isEmpty() || matching.first().startsWith(page)); // one page, one number
            page = matching.first().left(5);
            QVERIFY(!QImage(QDir(folder).filePath(matching.first())).isNull());
        }
    }

    void reachableSizesFollowTheSteps_data() {
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<int>("steps");
        QTest::newRow("RIQUADRO FOTO") << OutputKind::Foto << 73;
        QTest::newRow("RIQUADRO FIRMA") << OutputKind::Firma << 24;
        QTest::newRow("FOTO ADR-CQC") << OutputKind::AdrCqc << 73;
    }
    void reachableSizesFollowTheSteps() {
        QFETCH(OutputKind, kind);
        QFETCH(int, steps);
        const QList<QSizeF> sizes = FramePlacement::reachableSizes(kind);
        // Sums stored as float may land a hair under the largest size after the last whole
        // step; the next press then gives the largest size itself.
        const QSizeF largest = outputKindInfo(kind).largest;
        QVERIFY(sizes.size() == steps + 1 ||
                (sizes.size() == steps + 2 && qAbs(sizes.at(steps).width() - largest.width()) < 0.01));
        QCOMPARE(sizes.first(), outputKindInfo(kind).designFrame.size());
        // The frames hold float: 81.6 is stored as the float nearest to it.
        QCOMPARE(float(sizes.last().width()), float(largest.width()));
        QCOMPARE(float(sizes.last().height()), float(largest.height()));
        for (qsizetype i = 1; i < sizes.size(); ++i)
            QVERIFY(sizes.at(i).width() >= sizes.at(i - 1).width());
    }

    // The photo frames: inside the photograph, the face inside them, and the largest size
    // that is; near the page's edge too, where the window's bounds apply.
    void placesPhotoFrames_data() {
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<QRect>("photo");
        QTest::addColumn<QRect>("face");
        const QRect passport(1890, 700, 420, 540);
        const QRect centredFace(2000, 820, 200, 260);
        QTest::newRow("foto, face in the middle") << OutputKind::Foto << passport << centredFace;
        QTest::newRow("foto, face off to one side")
            << OutputKind::Foto << passport << QRect(1900, 720, 190, 240);
        QTest::newRow("foto, photograph at the page's corner")
            << OutputKind::Foto << QRect(0, 0, 600, 700) << QRect(150, 100, 300, 350);
    }
    void placesPhotoFrames() {
        QFETCH(OutputKind, kind);
        QFETCH(QRect, photo);
        QFETCH(QRect, face);
        PageFindings findings;
        findings.pageSize = kA4;
        findings.photo = {true, 1, photo};
        findings.face = face;
        const std::optional<FrameRect> frame = FramePlacement::place(kind, findings);
        QVERIFY(frame);

        const QList<QSizeF> sizes = FramePlacement::reachableSizes(kind);
        const qsizetype index = sizes.indexOf(QSizeF(frame->Width, frame->Height));
        QVERIFY(index >= 0);
        QVERIFY(frame->Left >= 1 && frame->Top >= 1);
        QVERIFY(frame->Left + frame->Width <= kPictClientWidth &&
                frame->Top + frame->Height <= kPictClientHeight);

        const double factor = factorFor(kA4);
        const QRectF crop = FrameGeometry::cropSourceRect(kind, *frame, factor);
        QVERIFY(within(crop.toAlignedRect(), photo));
        QVERIFY(crop.contains(QRectF(face)));
        // The next size up would not fit in the photograph any more (within a pixel of pict).
        if (index + 1 < sizes.size()) {
            FrameRect larger = *frame;
            larger.Width = float(sizes.at(index + 1).width());
            larger.Height = float(sizes.at(index + 1).height());
            const QRectF next = FrameGeometry::cropSourceRect(kind, larger, factor);
            QVERIFY(next.width() > photo.width() - factor || next.height() > photo.height() - factor);
        }
    }

    // The square photo: the largest square inside the photograph, of whatever size that is
    // (not only those the size steps reach), placed for the head: crown and chin inside
    // wherever the head is no taller than the photograph is wide, the face whole always, and
    // a square answered whatever the photograph's size. The rows are ID photographs on a
    // 300 dpi page, with detector boxes placed on the head as they were measured (the
    // crown 0.45 to 0.75 boxes above the box's top, the chin 0.9 to 1 box below it).
    void placesTheSquareForTheHead_data() {
        QTest::addColumn<QRect>("photo");
        QTest::addColumn<QRect>("face");
        QTest::addColumn<double>("crown"); // page pixels; negative where the head may be cut
        QTest::addColumn<double>("chin");
        // A photograph of width x height mm at 150, 40 mm on the page, its crown crownDown mm
        // below its top, head mm crown to chin, the box's top above boxes of its height
        // below the crown and its bottom chinAbove boxes above the chin, shifted across by
        // aside mm.
        const auto id = [](const char* name, double width, double height, double crownDown, double head,
                           double crownAbove, double chinBelow, double aside = 0, bool headKept = true) {
            const double mm = 300 / 25.4;
            const QRectF photo(150 * mm, 40 * mm, width * mm, height * mm);
            const double crown = photo.top() + crownDown * mm;
            const double box = head * mm / (crownAbove + chinBelow);
            const QRectF face(photo.center().x() + aside * mm - box / 2, crown + crownAbove * box, box, box);
            QTest::newRow(name) << photo.toRect() << face.toRect() << (headKept ? crown : -1.0)
                                << (headKept ? crown + head * mm : -1.0);
        };
        id("35x45, head 32 mm", 35, 45, 4, 32, 0.6, 0.96);
        id("35x45, head 34 mm", 35, 45, 3, 34, 0.6, 0.96);
        // Much hair, the detector's box reaching below the chin (a painted portrait's).
        id("35x45, head 33 mm, the box below the chin", 35, 45, 4, 33, 0.75, 0.85);
        id("35x45, head 32 mm, little hair above the box", 35, 45, 4, 32, 0.45, 1.0);
        id("35x45, head 32 mm, much hair above the box", 35, 45, 4, 32, 0.75, 0.9);
        id("35x45, head 28 mm, room round it", 35, 45, 6, 28, 0.6, 0.96);
        id("35x45, face off to one side", 35, 45, 4, 32, 0.6, 0.96, -4);
        // Between two of the size steps (5 pixels of pict, about 2.5 mm here).
        id("33.7x43.3, head 31 mm", 33.7, 43.3, 4, 31, 0.6, 0.96);
        // Taller than the square can hold: the face whole, crown and chin as they come.
        id("35x45, head 37 mm", 35, 45, 3, 37, 0.6, 0.96, 0, false);
        id("35x45, head 37 mm, little hair above the box", 35, 45, 3, 37, 0.45, 1.0, 0, false);
        QTest::newRow("large photograph")
            << QRect(300, 300, 1500, 1800) << QRect(700, 800, 500, 600) << -1.0 << -1.0;
        QTest::newRow("photograph at the page's corner")
            << QRect(0, 0, 600, 700) << QRect(150, 200, 300, 330) << -1.0 << -1.0;
        QTest::newRow("photograph smaller than the smallest square")
            << QRect(1890, 700, 200, 240) << QRect(1930, 760, 120, 130) << -1.0 << -1.0;
    }
    void placesTheSquareForTheHead() {
        QFETCH(QRect, photo);
        QFETCH(QRect, face);
        QFETCH(double, crown);
        QFETCH(double, chin);
        PageFindings findings;
        findings.pageSize = kA4;
        findings.photo = {true, 1, photo};
        findings.face = face;
        const std::optional<FrameRect> frame = FramePlacement::place(OutputKind::AdrCqc, findings);
        QVERIFY(frame);
        QCOMPARE(frame->Width, frame->Height);
        QVERIFY(frame->Left >= 1 && frame->Top >= 1);
        QVERIFY(frame->Left + frame->Width <= kPictClientWidth &&
                frame->Top + frame->Height <= kPictClientHeight);
        const OutputKindInfo& info = outputKindInfo(OutputKind::AdrCqc);
        QVERIFY(frame->Width >= info.smallest.width() && frame->Width <= info.largest.width());
        const double factor = factorFor(kA4);
        const QRectF crop = FrameGeometry::cropSourceRect(OutputKind::AdrCqc, *frame, factor);
        const double slack = factor; // a pixel of pict
        if (info.smallest.width() * factor > qMin(photo.width(), photo.height())) {
            // No square fits: the smallest, over the photograph as far as it goes.
            QCOMPARE(frame->Width, float(info.smallest.width()));
            QVERIFY(crop.intersects(QRectF(photo)));
            return;
        }
        QVERIFY(within(crop.toAlignedRect(), photo));
        // The largest: within a pixel of pict of the photograph's width or height, as far as
        // the window's bounds (left and top at least 1) leave it.
        const QRectF usable = QRectF(photo) & QRectF(factor, factor, (kPictClientWidth - 1) * factor,
                                                     (kPictClientHeight - 1) * factor);
        QVERIFY2(crop.width() >= qMin(usable.width(), usable.height()) - slack,
                 qPrintable(QStringLiteral("side %1 of %2").arg(crop.width()).arg(usable.width())));
        // The face: the box's top and all but the lowest part (often below the chin).
        QVERIFY(crop.top() <= face.y() + slack && crop.bottom() >= face.y() + 0.8 * face.height());
        if (crown >= 0)
            QVERIFY2(crop.top() <= crown + slack && crop.bottom() >= chin - slack,
                     qPrintable(QStringLiteral("square %1..%2, head %3..%4")
                                    .arg(crop.top())
                                    .arg(crop.bottom())
                                    .arg(crown)
                                    .arg(chin)));
        // Across: the face's middle, unless the photograph's edge stops the square.
        const bool atSide =
            crop.left() <= photo.x() + slack || crop.right() >= photo.x() + photo.width() - slack;
        QVERIFY(atSide || qAbs(crop.center().x() - (face.x() + face.width() / 2.0)) <= slack);
    }

    void placesSignatureFrame_data() {
        QTest::addColumn<QRect>("ink");
        QTest::newRow("short signature") << QRect(1400, 2300, 300, 80);
        QTest::newRow("long signature") << QRect(300, 2500, 1500, 200);
        QTest::newRow("at the bottom right corner") << QRect(2000, 3400, 470, 100);
    }
    void placesSignatureFrame() {
        QFETCH(QRect, ink);
        PageFindings findings;
        findings.pageSize = kA4;
        findings.signature = {true, 1, ink};
        const std::optional<FrameRect> frame = FramePlacement::place(OutputKind::Firma, findings);
        QVERIFY(frame);
        const QList<QSizeF> sizes = FramePlacement::reachableSizes(OutputKind::Firma);
        const qsizetype index = sizes.indexOf(QSizeF(frame->Width, frame->Height));
        QVERIFY(index >= 0);
        QVERIFY(frame->Left + frame->Width <= kPictClientWidth &&
                frame->Top + frame->Height <= kPictClientHeight);
        const QRectF crop = FrameGeometry::cropSourceRect(OutputKind::Firma, *frame, factorFor(kA4));
        QVERIFY(crop.contains(QRectF(ink)));
        // The smallest that holds it with a small margin (a pixel of pict and a tenth of the
        // ink's height on each side): one size down would not.
        if (index > 0) {
            const double factor = factorFor(kA4);
            const double margin = factor + 0.1 * ink.height();
            QVERIFY(sizes.at(index - 1).width() * factor < ink.width() + 2 * margin ||
                    sizes.at(index - 1).height() * factor < ink.height() + 2 * margin);
        }
    }

    void placesNothingForWhatWasNotFound_data() {
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<QRect>("photo");
        QTest::addColumn<bool>("found");
        QTest::newRow("foto, no photograph") << OutputKind::Foto << QRect(1890, 700, 420, 540) << false;
        QTest::newRow("adr, no photograph") << OutputKind::AdrCqc << QRect(1890, 700, 420, 540) << false;
        QTest::newRow("firma, no signature") << OutputKind::Firma << QRect() << false;
        // Smaller than the smallest frame: any frame would reach past it.
        QTest::newRow("foto, photograph too small") << OutputKind::Foto << QRect(1890, 700, 200, 240) << true;
    }
    void placesNothingForWhatWasNotFound() {
        QFETCH(OutputKind, kind);
        QFETCH(QRect, photo);
        QFETCH(bool, found);
        PageFindings findings;
        findings.pageSize = kA4;
        findings.photo = {found, found ? 1.0 : 0.2, photo};
        findings.face = photo.adjusted(20, 20, -20, -20);
        QVERIFY(!FramePlacement::place(kind, findings));
    }

  private:
    QImage m_sample;
};

QTEST_GUILESS_MAIN(TestLocate)
#include "tst_locate.moc"
