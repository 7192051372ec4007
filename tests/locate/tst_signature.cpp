// The signature finder on the places a form keeps for other things: handwriting there is
// never the signature, while the same pen on the applicant's own place is.
#include "locate/Locator.h"
#include "locate/SignatureFinder.h"
#include "locate/WorkPicture.h"

#include "tests/support/FormPage.h"

#include <QPainter>
#include <QtTest>

namespace {

constexpr QSize kA4(2480, 3508);
constexpr double kPxPerMm = 300 / 25.4;

enum class Place {
    OwnLine,       // a ruled line of its own
    OwnBox,        // a box of the signature's size
    LetterBoxes,   // a row of boxes filled letter by letter
    FieldStack,    // the middle one of three ruled fields of one length
    OfficeSection, // a section boxed across the page
    BesideStamp,   // free, a round stamp's rings just right of it
    BesideFrame,   // free, a rectangular stamp's turned frame just right of it
};

int mm(double v) {
    return int(std::lround(v * kPxPerMm));
}

// A 300 dpi page with a few lines of print at the top and the pen's loops in signature on
// the given place, in ruling of a photocopy's dark grey.
QImage pageWith(Place place, const QRect& signature, QImage* ink) {
    QImage page(kA4, QImage::Format_RGB32);
    page.fill(QColor(246, 246, 244));
    QPainter painter(&page);
    painter.setPen(QPen(QColor(40, 40, 40), 3));
    // Print: lines of words, ragged right.
    for (int k = 0; k < 8; ++k) {
        int x = mm(20);
        for (int i = 0; x < mm(150 + 5 * k); ++i) {
            const int word = mm(6 + (5 * i + 3 * k) % 14);
            painter.fillRect(QRect(x, mm(30 + 6 * k), word, mm(2.5)), QColor(40, 40, 40));
            x += word + mm(2);
        }
    }
    const QRect& s = signature;
    switch (place) {
    case Place::OwnLine:
        painter.drawLine(s.left() - mm(5), s.bottom() - mm(2), s.right() + mm(5), s.bottom() - mm(2));
        break;
    case Place::OwnBox:
        painter.drawRect(s.adjusted(-mm(4), -mm(5), mm(4), mm(5)));
        break;
    case Place::LetterBoxes:
        for (int k = 0; k < 16; ++k)
            painter.drawRect(s.left() - mm(1) + k * mm(8), s.top() - mm(0.6), mm(8), s.height() + mm(1.2));
        break;
    case Place::FieldStack:
        for (int k = -1; k <= 1; ++k) {
            const int y = s.bottom() - mm(2) + k * mm(14);
            painter.drawLine(mm(60), y, mm(190), y);
        }
        break;
    case Place::OfficeSection:
        painter.drawRect(QRect(mm(20), s.top() - mm(10), mm(170), s.height() + mm(20)));
        break;
    case Place::BesideStamp:
        painter.setPen(QPen(QColor(40, 60, 170), 5));
        painter.drawEllipse(QRect(s.right() + mm(3), s.top() - mm(4), mm(24), mm(24)));
        painter.drawEllipse(QRect(s.right() + mm(7), s.top(), mm(16), mm(16)));
        break;
    case Place::BesideFrame:
        painter.setPen(QPen(QColor(150, 40, 120), 5));
        painter.translate(s.right() + mm(16), s.center().y());
        painter.rotate(-12);
        painter.drawRect(QRect(-mm(12), -mm(7), mm(24), mm(14)));
        painter.resetTransform();
        break;
    }
    painter.end();
    return FormPage::signedOn(page, signature, FormPage::SignatureLine::None, ink);
}

} // namespace

Q_DECLARE_METATYPE(Place)

class TestSignature : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void signatureOnlyOnItsOwnPlace_data() {
        QTest::addColumn<Place>("place");
        QTest::addColumn<QRect>("signature");
        QTest::addColumn<bool>("found");
        const QRect free(mm(110), mm(200), mm(70), mm(13));
        QTest::newRow("on its own line") << Place::OwnLine << free << true;
        QTest::newRow("in its own box") << Place::OwnBox << free << true;
        QTest::newRow("beside a round stamp")
            << Place::BesideStamp << QRect(mm(90), mm(200), mm(70), mm(13)) << true;
        QTest::newRow("beside a rectangular stamp")
            << Place::BesideFrame << QRect(mm(90), mm(200), mm(70), mm(13)) << true;
        QTest::newRow("letters in a row of boxes")
            << Place::LetterBoxes << QRect(mm(60), mm(150), mm(126), mm(6.5)) << false;
        QTest::newRow("on a field among others")
            << Place::FieldStack << QRect(mm(70), mm(150), mm(90), mm(10)) << false;
        QTest::newRow("in the office's section") << Place::OfficeSection << free << false;
    }
    void signatureOnlyOnItsOwnPlace() {
        QFETCH(Place, place);
        QFETCH(QRect, signature);
        QFETCH(bool, found);
        QImage ink;
        const QImage page = pageWith(place, signature, &ink);
        const Locate::Work work = Locate::prepare(
            page.scaled(page.size() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), kA4);
        const Locate::SignatureAnswer answer = Locate::signatureIn(work.grey, work, cv::Rect());
        const QRect box = Locate::toPage(answer.box, work, kA4);
        const QString where = QStringLiteral("%1 at %2,%3 %4x%5")
                                  .arg(answer.confidence)
                                  .arg(box.x())
                                  .arg(box.y())
                                  .arg(box.width())
                                  .arg(box.height());
        QVERIFY2((answer.confidence >= Locator::kThreshold) == found, qPrintable(where));
        if (!found)
            return;
        // All of the pen's ink, and nothing of the ruling or the stamp beside it: within a
        // few working pixels of the ink's own bounds.
        QRect inked;
        for (int y = 0; y < ink.height(); ++y) {
            const uchar* line = ink.constScanLine(y);
            for (int x = 0; x < ink.width(); ++x) {
                if (line[x] > 127)
                    inked |= QRect(x, y, 1, 1);
            }
        }
        const int slack = int(3 * work.toPage);
        QVERIFY2(box.contains(inked.adjusted(slack, slack, -slack, -slack)), qPrintable(where));
        QVERIFY2(inked.adjusted(-slack, -slack, slack, slack).contains(box), qPrintable(where));
    }
};

QTEST_GUILESS_MAIN(TestSignature)
#include "tst_signature.moc"
