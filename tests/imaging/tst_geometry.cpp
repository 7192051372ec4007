#include "imaging/FrameGeometry.h"

#include <QtTest>

Q_DECLARE_METATYPE(FrameRect)
Q_DECLARE_METATYPE(OutputKind)

namespace {

FrameRect frame(float left, float top, float width, float height) {
    return FrameRect{left, top, width, height};
}

// A tenth of each kind's design size, as the window computes it.
double stepWidth(OutputKind kind) {
    return outputKindInfo(kind).designFrame.width() * 10 / 100;
}

double stepHeight(OutputKind kind) {
    return outputKindInfo(kind).designFrame.height() * 10 / 100;
}

} // namespace

class TestGeometry : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void inside_data() {
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::addColumn<bool>("inside");
        // Frame 100, 50, 50 x 60.
        QTest::newRow("centre") << 125.f << 80.f << true;
        QTest::newRow("left edge") << 100.f << 80.f << true;
        QTest::newRow("right edge") << 150.f << 80.f << true;
        QTest::newRow("top edge") << 125.f << 50.f << true;
        QTest::newRow("bottom edge") << 125.f << 110.f << true;
        QTest::newRow("just right") << 150.01f << 80.f << false;
        QTest::newRow("just above") << 125.f << 49.99f << false;
        QTest::newRow("just left") << 99.99f << 80.f << false;
        QTest::newRow("just below") << 125.f << 110.01f << false;
    }

    void inside() {
        QFETCH(float, x);
        QFETCH(float, y);
        QFETCH(bool, inside);
        QCOMPARE(FrameGeometry::contains(frame(100, 50, 50, 60), x, y), inside);
    }

    void drag_data() {
        QTest::addColumn<QPointF>("last");
        QTest::addColumn<QPointF>("pointer");
        QTest::addColumn<FrameRect>("after");
        QTest::addColumn<QPointF>("lastAfter");
        // Frame 80, 80, 50 x 60.
        QTest::newRow("follows") << QPointF(90, 90) << QPointF(95, 97) << frame(85, 87, 50, 60)
                                 << QPointF(95, 97);
        QTest::newRow("pointer outside: stays")
            << QPointF(90, 90) << QPointF(300, 300) << frame(80, 80, 50, 60) << QPointF(90, 90);
        QTest::newRow("back inside: jumps from the last point")
            << QPointF(0, 0) << QPointF(100, 100) << frame(180, 180, 50, 60) << QPointF(100, 100);
        QTest::newRow("fractions stored as float")
            << QPointF(90.3, 90) << QPointF(double(90.7f), 90)
            << frame(float(80 + (double(90.7f) - 90.3)), 80, 50, 60) << QPointF(double(90.7f), 90);
    }

    void drag() {
        QFETCH(QPointF, last);
        QFETCH(QPointF, pointer);
        QFETCH(FrameRect, after);
        QFETCH(QPointF, lastAfter);
        FrameRect f = frame(80, 80, 50, 60);
        double lastX = last.x(), lastY = last.y();
        FrameGeometry::dragStep(f, float(pointer.x()), float(pointer.y()), lastX, lastY);
        QCOMPARE(f, after);
        QCOMPARE(QPointF(lastX, lastY), lastAfter);
    }

    void dragBounds_data() {
        QTest::addColumn<FrameRect>("before");
        QTest::addColumn<FrameRect>("after");
        QTest::newRow("above top") << frame(50, -12, 50, 60) << frame(50, 1, 50, 60);
        QTest::newRow("top exactly 0") << frame(50, 0, 50, 60) << frame(50, 1, 50, 60);
        QTest::newRow("top 0.5 stays") << frame(50, 0.5f, 50, 60) << frame(50, 0.5f, 50, 60);
        QTest::newRow("left of left edge") << frame(-3, 40, 50, 60) << frame(1, 40, 50, 60);
        QTest::newRow("bottom at 590") << frame(50, 530, 50, 60) << frame(50, 525, 50, 60);
        QTest::newRow("bottom exactly 585 stays") << frame(50, 525, 50, 60) << frame(50, 525, 50, 60);
        QTest::newRow("right at 430") << frame(380, 40, 50, 60) << frame(375, 40, 50, 60);
        QTest::newRow("right exactly 425 stays") << frame(375, 40, 50, 60) << frame(375, 40, 50, 60);
        QTest::newRow("past both far edges") << frame(420, 580, 50, 60) << frame(375, 525, 50, 60);
        QTest::newRow("past top-left, then far bound") << frame(-5, -5, 425, 585) << frame(0, 0, 425, 585);
    }

    void dragBounds() {
        QFETCH(FrameRect, before);
        QFETCH(FrameRect, after);
        FrameGeometry::applyDragBounds(before);
        QCOMPARE(before, after);
    }

    // One step larger or smaller, in the kind's proportions, within the largest and the
    // smallest size; bounds apply after growing only.
    void resize_data() {
        QTest::addColumn<bool>("grow");
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<FrameRect>("before");
        QTest::addColumn<FrameRect>("after");
        QTest::newRow("photo grows one step")
            << true << OutputKind::Foto << frame(80, 80, 50, 60) << frame(80, 80, 55, 66);
        QTest::newRow("photo reaches largest")
            << true << OutputKind::Foto << frame(1, 1, 410, 492) << frame(1, 1, 415, 498);
        QTest::newRow("photo past largest")
            << true << OutputKind::Foto << frame(1, 1, 415, 498) << frame(1, 1, 415, 498);
        QTest::newRow("photo pushed left")
            << true << OutputKind::Foto << frame(400, 80, 50, 60) << frame(370, 80, 55, 66);
        QTest::newRow("photo pushed up")
            << true << OutputKind::Foto << frame(80, 550, 50, 60) << frame(80, 519, 55, 66);
        QTest::newRow("signature reaches largest")
            << true << OutputKind::Firma << frame(1, 1, 396, 79.2f) << frame(1, 1, 408, float(79.2f + 2.4));
        QTest::newRow("signature past largest")
            << true << OutputKind::Firma << frame(1, 1, 408, 81.6f) << frame(1, 1, 408, 81.6f);
        QTest::newRow("square past largest")
            << true << OutputKind::AdrCqc << frame(5, 5, 412, 412) << frame(5, 5, 415, 415);
        QTest::newRow("top-left bound after growing")
            << true << OutputKind::AdrCqc << frame(0, -2, 50, 50) << frame(1, 1, 55, 55);
        QTest::newRow("photo at smallest")
            << false << OutputKind::Foto << frame(80, 80, 50, 60) << frame(80, 80, 50, 60);
        QTest::newRow("photo to smallest")
            << false << OutputKind::Foto << frame(80, 80, 55, 66) << frame(80, 80, 50, 60);
        QTest::newRow("photo shrinks one step")
            << false << OutputKind::Foto << frame(80, 80, 100, 120) << frame(80, 80, 95, 114);
        QTest::newRow("signature at smallest")
            << false << OutputKind::Firma << frame(32, 248, 120, 24) << frame(32, 248, 120, 24);
        QTest::newRow("square at smallest")
            << false << OutputKind::AdrCqc << frame(80, 88, 50, 50) << frame(80, 88, 50, 50);
        QTest::newRow("no bounds after shrinking")
            << false << OutputKind::Foto << frame(-4, 600, 100, 120) << frame(-4, 600, 95, 114);
    }

    void resize() {
        QFETCH(bool, grow);
        QFETCH(OutputKind, kind);
        QFETCH(FrameRect, before);
        QFETCH(FrameRect, after);
        if (grow)
            FrameGeometry::grow(before, kind, stepWidth(kind), stepHeight(kind));
        else
            FrameGeometry::shrink(before, kind, stepWidth(kind), stepHeight(kind));
        QCOMPARE(before, after);
    }

    void stepsToLargest_data() {
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<int>("steps");
        QTest::newRow("photo") << OutputKind::Foto << 73;
        QTest::newRow("signature") << OutputKind::Firma << 24;
        QTest::newRow("square") << OutputKind::AdrCqc << 73;
    }

    void stepsToLargest() {
        QFETCH(OutputKind, kind);
        QFETCH(int, steps);
        const OutputKindInfo& info = outputKindInfo(kind);
        FrameRect f = frame(1, 1, float(info.designFrame.width()), float(info.designFrame.height()));
        for (int i = 0; i < steps - 1; ++i)
            FrameGeometry::grow(f, kind, stepWidth(kind), stepHeight(kind));
        QVERIFY(f.Width < info.largest.width());
        FrameGeometry::grow(f, kind, stepWidth(kind), stepHeight(kind));
        QCOMPARE(f.Width, float(info.largest.width()));
        QVERIFY(qAbs(f.Height - info.largest.height()) < 1e-3);
        // Back down to the design size: the proportions came through the round trip.
        for (int i = 0; i < steps + 3; ++i)
            FrameGeometry::shrink(f, kind, stepWidth(kind), stepHeight(kind));
        QCOMPARE(f.Width, float(info.designFrame.width()));
        QCOMPARE(f.Height, float(info.designFrame.height()));
    }

    void fit_data() {
        QTest::addColumn<QSize>("image");
        QTest::addColumn<QSize>("fitted");
        QTest::newRow("tall exact") << QSize(850, 1170) << QSize(425, 585);
        QTest::newRow("wide") << QSize(1700, 1000) << QSize(425, 250);
        QTest::newRow("A4 600 dpi") << QSize(4960, 7016) << QSize(414, 585);
        QTest::newRow("small is enlarged") << QSize(100, 50) << QSize(425, 213);
        QTest::newRow("thin line keeps a pixel") << QSize(10000, 1) << QSize(425, 1);
        QTest::newRow("empty") << QSize(0, 0) << QSize();
    }

    void fit() {
        QFETCH(QSize, image);
        QFETCH(QSize, fitted);
        QCOMPARE(FrameGeometry::fitSize(image, QSize(425, 585)), fitted);
    }

    void scaleFactor_data() {
        QTest::addColumn<QSize>("image");
        QTest::addColumn<int>("displayWidth");
        QTest::addColumn<int>("displayHeight");
        QTest::addColumn<double>("factor");
        QTest::newRow("portrait uses heights") << QSize(2480, 3508) << 410 << 580 << 3508.0 / 580;
        QTest::newRow("landscape uses widths") << QSize(1700, 1000) << 425 << 250 << 4.0;
        QTest::newRow("square uses height over width") << QSize(800, 800) << 400 << 300 << 2.0;
        QTest::newRow("nothing displayed") << QSize(800, 1000) << 0 << 0 << 0.0;
    }

    void scaleFactor() {
        QFETCH(QSize, image);
        QFETCH(int, displayWidth);
        QFETCH(int, displayHeight);
        QFETCH(double, factor);
        QCOMPARE(FrameGeometry::cropScaleFactor(image, displayWidth, displayHeight), factor);
    }

    void cropRect_data() {
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<FrameRect>("frame");
        QTest::addColumn<double>("factor");
        QTest::addColumn<QRectF>("source");
        QTest::newRow("photo worked example") << OutputKind::Foto << frame(100, 50, 50, 60) << 3508.0 / 580
                                              << QRectF(610.8759, 302.4138, 296.3655, 362.8966);
        QTest::newRow("photo at factor 1 trims a pixel")
            << OutputKind::Foto << frame(10, 20, 50, 60) << 1.0 << QRectF(11, 20, 49, 60);
        QTest::newRow("photo at factor 2")
            << OutputKind::Foto << frame(10, 20, 50, 60) << 2.0 << QRectF(22, 40, 98, 120);
        QTest::newRow("signature") << OutputKind::Firma << frame(32, 248, 120, 24) << 2.0
                                   << QRectF(64, 496, 240, 48);
        QTest::newRow("square") << OutputKind::AdrCqc << frame(80, 88, 50, 50) << 1.5
                                << QRectF(120, 132, 75, 75);
    }

    void cropRect() {
        QFETCH(OutputKind, kind);
        QFETCH(FrameRect, frame);
        QFETCH(double, factor);
        QFETCH(QRectF, source);
        const QRectF got = FrameGeometry::cropSourceRect(kind, frame, factor);
        QVERIFY2(
            qAbs(got.x() - source.x()) < 1e-3 && qAbs(got.y() - source.y()) < 1e-3 &&
                qAbs(got.width() - source.width()) < 1e-3 && qAbs(got.height() - source.height()) < 1e-3,
            qPrintable(
                QStringLiteral("%1 %2 %3 %4").arg(got.x()).arg(got.y()).arg(got.width()).arg(got.height())));
    }
};

QTEST_APPLESS_MAIN(TestGeometry)
#include "tst_geometry.moc"
