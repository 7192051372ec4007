// The locator's finders on their own, on pages painted for the case each must handle.
#include "locate/PhotoFinder.h"
#include "locate/WorkPicture.h"

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
};

QTEST_GUILESS_MAIN(TestFinders)
#include "tst_finders.moc"
