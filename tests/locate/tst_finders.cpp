// The locator's finders on their own, on pages painted for the case each must handle.
#include "locate/FaceFinder.h"
#include "locate/PhotoFinder.h"
#include "locate/SkewFinder.h"
#include "locate/TextTurn.h"
#include "locate/WorkPicture.h"
#include "tests/support/SampleForm.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

namespace {

constexpr QSize kA4(2480, 3508);

// An A4 page at 300 dpi of paper grey with a photograph at photo: a plain background of
// grey background, and a person's head and shoulders in dark tones inside it, scanner
// noise of the given spread over everything.
QImage pageWithPhotograph(int paper, const QRect& photo, int background, int noise) {
    QImage page(kA4, QImage::Format_Grayscale8);
    page.fill(paper);
    QPainter painter(&page);
    painter.fillRect(photo, QColor(background, background, background));
    painter.setClipRect(photo);
    painter.setPen(Qt::NoPen);
    const double w = photo.width();
    const double h = photo.height();
    painter.setBrush(QColor(60, 60, 60)); // shoulders
    painter.drawEllipse(QRectF(photo.x() + 0.05 * w, photo.y() + 0.72 * h, 0.9 * w, 0.6 * h));
    painter.setBrush(QColor(150, 150, 150)); // face
    painter.drawEllipse(QRectF(photo.x() + 0.28 * w, photo.y() + 0.2 * h, 0.44 * w, 0.55 * h));
    painter.setBrush(QColor(40, 40, 40)); // hair
    painter.drawChord(QRectF(photo.x() + 0.26 * w, photo.y() + 0.14 * h, 0.48 * w, 0.4 * h), 0, 180 * 16);
    painter.end();
    QRandomGenerator random(7);
    for (int y = 0; y < page.height(); ++y) {
        uchar* line = page.scanLine(y);
        for (int x = 0; x < page.width(); ++x)
            line[x] = uchar(std::clamp(int(line[x]) + random.bounded(2 * noise + 1) - noise, 0, 255));
    }
    return page;
}

// An A4 page at 300 dpi turned clockwise by degrees about its centre as a skewed scan is:
// lines of words (dark blocks 2.5 mm high, ragged right) and ruled fields, upright or
// running along the page, and a photograph when asked (glued turned by photoTilt more, then
// on a light background) in a printed frame 1.7 mm about it.
QImage skewedPage(double degrees, bool sideways, bool withPhoto, double photoTilt = 0) {
    QImage page(kA4, QImage::Format_Grayscale8);
    page.fill(246);
    QPainter painter(&page);
    painter.translate(kA4.width() / 2.0, kA4.height() / 2.0);
    painter.rotate(degrees);
    if (sideways)
        painter.rotate(90);
    painter.translate(-kA4.width() / 2.0, -kA4.height() / 2.0);
    QRandomGenerator random(11);
    const QRect text = sideways ? QRect(700, 200, 1900, 3000) : QRect(200, 1300, 2000, 2000);
    for (int y = text.top(); y < text.bottom(); y += 75) {
        const int end = text.right() - random.bounded(600);
        for (int x = text.left(); x < end;) {
            const int word = 60 + random.bounded(200);
            painter.fillRect(QRect(x, y, std::min(word, end - x), 30), QColor(30, 30, 30));
            x += word + 25;
        }
        if (random.bounded(3) == 0)
            painter.fillRect(QRect(text.left() + 500, y + 45, text.width() - 500, 3), QColor(90, 90, 90));
    }
    if (withPhoto) {
        const QRect photo(1700, 300, 413, 531);
        painter.setPen(QPen(QColor(40, 40, 40), 4));
        painter.drawRect(photo.adjusted(-20, -20, 20, 20));
        painter.translate(QRectF(photo).center());
        painter.rotate(photoTilt);
        painter.translate(-QRectF(photo).center());
        painter.setRenderHint(QPainter::Antialiasing);
        // A passport photograph glued askew has a light background, a few levels off the paper.
        painter.fillRect(photo, photoTilt != 0 ? QColor(226, 226, 226) : QColor(110, 110, 110));
        if (photoTilt != 0)
            painter.fillRect(QRectF(photo).adjusted(100, 120, -100, 0), QColor(70, 70, 70));
    }
    return page;
}

} // namespace

class TestFinders : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // The photograph's whole rectangle, not only its dark parts: a passport photograph's
    // light background differs from the paper by a few grey levels, lighter or darker. A
    // dark background, as before, gives the rectangle too.
    void findsTheWholePhotograph_data() {
        QTest::addColumn<int>("paper");
        QTest::addColumn<int>("background");
        QTest::newRow("light background, darker than the paper") << 247 << 236;
        QTest::newRow("light background, lighter than the paper") << 238 << 250;
        QTest::newRow("background near the toned limit") << 245 << 228;
        QTest::newRow("dark background") << 245 << 120;
    }
    void findsTheWholePhotograph() {
        QFETCH(int, paper);
        QFETCH(int, background);
        const QRect photo(1700, 600, 413, 531); // 35 x 45 mm
        const QImage page = pageWithPhotograph(paper, photo, background, 10);
        const QImage reduced = page.scaled(page.size() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const Locate::Work work = Locate::prepare(reduced, kA4);
        const std::vector<Locate::PhotoCandidate> found = Locate::photoCandidates(work);

        QCOMPARE(found.size(), size_t(1));
        const QRect rect = Locate::toPage(found.front().rect, work, kA4);
        // Inside the photograph (a working pixel's slack for the reduction), and nearly all of
        // it: the edges come within two working pixels and a half.
        const double px = work.toPage;
        QVERIFY2(photo.adjusted(-px, -px, px, px).contains(rect), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                                 .arg(rect.x())
                                                                                 .arg(rect.y())
                                                                                 .arg(rect.width())
                                                                                 .arg(rect.height())));
        QVERIFY2(rect.width() >= photo.width() - 5 * px && rect.height() >= photo.height() - 5 * px,
                 qPrintable(QStringLiteral("%1x%2").arg(rect.width()).arg(rect.height())));
    }

    // The face in its candidate, at the turn that shows it upright, whether the candidate is
    // the whole photograph or only its toned core, the head filling it (a light background):
    // the detector needs room round a face.
    void findsTheFace_data() {
        QTest::addColumn<int>("turn");
        QTest::addColumn<bool>("core");
        QTest::newRow("whole photograph") << 0 << false;
        QTest::newRow("head only") << 0 << true;
        QTest::newRow("head only, upside down") << 180 << true;
        QTest::newRow("head only, sideways") << 90 << true;
    }
    void findsTheFace() {
        QFETCH(int, turn);
        QFETCH(bool, core);
        // The sample's drawn head: crown 807, chin 1075, its middle at 2103; the detector's
        // box round its face about brow to chin.
        const QRect head = core ? QRect(1983, 800, 240, 282) : SampleForm::photo().adjusted(12, 12, -12, -12);
        const QRect face(2017, 908, 173, 173);
        const QImage upright = SampleForm::page();
        const QImage stored = SampleForm::storedTurned(upright, turn);
        const QImage reduced =
            stored.scaled(stored.size() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const Locate::Work work = Locate::prepare(reduced, stored.size());
        // The candidate on the stored page: the upright rectangle turned back.
        const double px = work.toPage;
        const cv::Size uprightWork(int(std::lround(upright.width() / px)),
                                   int(std::lround(upright.height() / px)));
        const cv::Rect inUpright(int(head.x() / px), int(head.y() / px), int(head.width() / px),
                                 int(head.height() / px));
        const cv::Rect candidate = Locate::turnRect(inUpright, uprightWork, (360 - turn) % 360);
        const Locate::FaceAnswer answer = Locate::faceIn(work, candidate);

        QCOMPARE(answer.turn, turn);
        QVERIFY2(answer.score > 0 && !answer.byCascade, qPrintable(QString::number(answer.score)));
        // Placed on the face: the found box's middle within a quarter of the face's side of it.
        const QRect found = Locate::toPage(answer.face, work, upright.size());
        const QPoint off = found.center() - face.center();
        QVERIFY2(std::abs(off.x()) <= face.width() / 4 && std::abs(off.y()) <= face.height() / 4,
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(found.x())
                                .arg(found.y())
                                .arg(found.width())
                                .arg(found.height())));
    }

    // Around a face, the photograph's sides where they meet the paper, when its background
    // is too close to the paper's grey to be told apart over its area: 3 levels lighter or
    // darker, within a printed box or with a shadow along two sides. Where nothing tells the
    // edge (the background is the paper's grey) the candidate grows only to the least room
    // round the face; whole already, it stays as it was. Inside a box on shaded paper, the
    // photograph ends at its own faint edge, neither at the box nor at the person.
    void growsThePhotographToItsEdges_data() {
        QTest::addColumn<int>("background");
        QTest::addColumn<bool>("box");
        QTest::addColumn<bool>("shadow");
        QTest::addColumn<bool>("grows");
        QTest::addColumn<bool>("stamp");
        QTest::addColumn<int>("shade");
        QTest::addColumn<bool>("rim");
        QTest::newRow("3 levels lighter, in a printed box")
            << 245 << true << false << true << false << 0 << false;
        QTest::newRow("3 levels darker, shadowed") << 239 << false << true << true << false << 0 << false;
        QTest::newRow("the paper's grey, the face near the candidate's sides")
            << 242 << false << false << false << false << 0 << false;
        QTest::newRow("dark background, whole already")
            << 120 << true << true << false << false << 0 << false;
        // An office stamp over its lower right corner and the paper beyond: the sides stop at
        // the photograph's edges, not at the stamp's.
        QTest::newRow("3 levels darker, whole already, stamped over a corner")
            << 239 << false << false << false << true << 0 << false;
        QTest::newRow("3 levels lighter, in a box on paper 8 levels darker")
            << 245 << true << false << true << false << 234 << false;
        QTest::newRow("4 levels darker, in a box on paper 7 levels lighter")
            << 238 << true << false << true << false << 249 << false;
        // A dark rim along its top and sides, mostly on the paper: the photograph ends in the
        // rim.
        QTest::newRow("3 levels lighter with a dark rim, in a box on paper 7 levels lighter")
            << 245 << true << false << true << false << 249 << true;
    }
    void growsThePhotographToItsEdges() {
        QFETCH(int, background);
        QFETCH(bool, box);
        QFETCH(bool, shadow);
        QFETCH(bool, grows);
        QFETCH(bool, stamp);
        QFETCH(int, shade);
        QFETCH(bool, rim);
        const QRect photo(1700, 600, 413, 531);
        QImage page = pageWithPhotograph(242, photo, background, 3);
        {
            QPainter painter(&page);
            // The box 1.5 mm off the photograph, 3.4 mm round a rim.
            const int off = rim ? 40 : 21;
            if (shade) { // the paper inside the box, round the photograph
                const QRect inner = photo.adjusted(-off, -off, off, off);
                const QColor grey(shade, shade, shade);
                painter.fillRect(QRect(inner.left(), inner.top(), inner.width(), off), grey);
                painter.fillRect(QRect(inner.left(), photo.bottom() + 1, inner.width(), off), grey);
                painter.fillRect(QRect(inner.left(), photo.top(), off, photo.height()), grey);
                painter.fillRect(QRect(photo.right() + 1, photo.top(), off, photo.height()), grey);
            }
            if (rim) { // 2.7 mm wide, 0.3 mm of it on the photograph, above and beside
                painter.setPen(QPen(QColor(230, 230, 230), 32));
                const QRect r = photo.adjusted(-12, -12, 12, 12);
                painter.drawPolyline(
                    QList<QPoint>{r.bottomLeft(), r.topLeft(), r.topRight(), r.bottomRight()});
            }
            if (box) { // a line of 0.5 mm, its middle off the photograph
                painter.setPen(QPen(QColor(40, 40, 40), 6));
                painter.drawRect(photo.adjusted(-off, -off, off, off));
            }
            if (stamp) { // a box of 25 x 28 mm in lines of 0.7 mm, its words between them
                painter.setPen(QPen(QColor(90, 90, 110), 8));
                const QRect outline(photo.x() + 220, photo.y() + 300, 290, 330);
                painter.drawRect(outline);
                for (int y = outline.top() + 50; y < outline.bottom() - 20; y += 60)
                    painter.fillRect(QRect(outline.left() + 30, y, outline.width() - 60, 22),
                                     QColor(90, 90, 110));
            }
            if (shadow) { // 1 mm to the right and below
                painter.fillRect(QRect(photo.right() + 1, photo.top() + 12, 12, photo.height()),
                                 QColor(225, 225, 225));
                painter.fillRect(QRect(photo.left() + 12, photo.bottom() + 1, photo.width(), 12),
                                 QColor(225, 225, 225));
            }
        }
        const QImage reduced = page.scaled(page.size() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const Locate::Work work = Locate::prepare(reduced, kA4);
        const double px = work.toPage;
        const auto toWork = [px](const QRectF& r) {
            return cv::Rect(int(std::ceil(r.x() / px)), int(std::ceil(r.y() / px)), int(r.width() / px),
                            int(r.height() / px));
        };
        const double w = photo.width();
        const double h = photo.height();
        // The face, and the candidate: the person's toned part, or the whole photograph less
        // the inset.
        const cv::Rect face = toWork(QRectF(photo.x() + 0.3 * w, photo.y() + 0.3 * h, 0.4 * w, 0.4 * h));
        const cv::Rect candidate =
            background < 200 || stamp
                ? toWork(QRectF(photo).adjusted(8, 8, -8, -8))
                : toWork(QRectF(photo.x() + 0.2 * w, photo.y() + 0.14 * h, 0.6 * w, 0.86 * h - 8));
        const cv::Rect found = Locate::wholePhotograph(work, candidate, face, 0);
        const QRect rect = Locate::toPage(found, work, kA4);
        const QString seen =
            QStringLiteral("%1,%2 %3x%4").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
        QVERIFY2(photo.adjusted(-px, -px, px, px).contains(rect), qPrintable(seen));
        // However faint the edges, the face keeps the least room round it that a photograph gives.
        const Locate::PhotoParams params;
        const int beside = int(std::lround(params.leastBesideFaces * face.width));
        const cv::Rect room(face.x - beside, int(face.y - std::lround(params.leastAboveFaces * face.height)),
                            face.width + 2 * beside,
                            int(face.height * (1 + params.leastAboveFaces + params.leastBelowFaces)));
        QVERIFY2((found & (room | candidate)) == (room | candidate), qPrintable(seen));
        if (grows)
            QVERIFY2(rect.width() >= photo.width() - 9 * px && rect.height() >= photo.height() - 9 * px,
                     qPrintable(seen));
        else
            QVERIFY2(found == (room | candidate), qPrintable(seen));
    }

    // The page's small angle, from the text lines and rules on either way of the page, and
    // from the photograph's edges; none from a page with no lines on it.
    void measuresTheSkew_data() {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<bool>("sideways");
        QTest::addColumn<bool>("withPhoto");
        QTest::addColumn<double>("photoTilt");
        QTest::newRow("level") << 0.0 << false << false << 0.0;
        QTest::newRow("half a degree clockwise") << 0.5 << false << false << 0.0;
        QTest::newRow("1.5 degrees anticlockwise") << -1.5 << false << false << 0.0;
        QTest::newRow("3 degrees") << 3.0 << false << false << 0.0;
        QTest::newRow("sideways page, 1.2 degrees") << 1.2 << true << false << 0.0;
        QTest::newRow("photograph, 0.8 degrees") << 0.8 << false << true << 0.0;
        QTest::newRow("photograph, -2.4 degrees") << -2.4 << false << true << 0.0;
        // Glued askew in its level frame: the photograph's own edges, not the frame's.
        QTest::newRow("photograph glued 1.2 degrees off, level page") << 0.0 << false << true << 1.2;
        QTest::newRow("photograph glued -0.7 degrees off, page 1.5") << 1.5 << false << true << -0.7;
    }
    void measuresTheSkew() {
        QFETCH(double, degrees);
        QFETCH(bool, sideways);
        QFETCH(bool, withPhoto);
        QFETCH(double, photoTilt);
        const QImage page = skewedPage(degrees, sideways, withPhoto, photoTilt);
        const QImage reduced = page.scaled(page.size() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const Locate::Work work = Locate::prepare(reduced, kA4);
        const Locate::Skew text = Locate::textSkew(Locate::inkOf(work.grey, work), {});
        QCOMPARE(text.from, Locate::Skew::From::Text);
        QVERIFY2(std::abs(text.degrees - degrees) <= 0.2, qPrintable(QString::number(text.degrees)));
        if (!withPhoto)
            return;
        const std::vector<Locate::PhotoCandidate> found = Locate::photoCandidates(work);
        QCOMPARE(found.size(), size_t(1));
        const Locate::Skew photo = Locate::photographSkew(work, found.front().rect);
        QCOMPARE(photo.from, Locate::Skew::From::Photograph);
        QVERIFY2(std::abs(photo.degrees - degrees - photoTilt) <= 0.2,
                 qPrintable(QString::number(photo.degrees)));
    }
    void noSkewWithoutLines() {
        QImage page(kA4, QImage::Format_Grayscale8);
        page.fill(246);
        QPainter(&page).fillRect(QRect(1700, 300, 413, 531), QColor(110, 110, 110));
        const Locate::Work work = Locate::prepare(page.scaled(page.size() / 4), kA4);
        // The photograph left out, as the locator leaves its candidates out.
        const Locate::Skew text =
            Locate::textSkew(Locate::inkOf(work.grey, work), {cv::Rect(420, 70, 115, 145)});
        QCOMPARE(text.from, Locate::Skew::From::Nothing);
    }
};

QTEST_GUILESS_MAIN(TestFinders)
#include "tst_finders.moc"
