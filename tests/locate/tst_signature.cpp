// The signature finder on the places a form keeps for other things: handwriting there is
// never the signature, while the same pen on the applicant's own place is. The form's
// printed labels, read loosely, say whose place is whose.
#include "locate/FormLabels.h"
#include "locate/LabelReader.h"
#include "locate/Locator.h"
#include "locate/SignatureFinder.h"
#include "locate/WorkPicture.h"

#include "tests/support/FormPage.h"

#include <QPainter>
#include <QPainterPath>
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
    SweepUnder,    // on its own line, a wavy sweep of the pen under the line
    NameUnder,     // on its own line, the signer's name printed under the line
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
    case Place::SweepUnder:
    case Place::NameUnder:
        painter.drawLine(s.left() - mm(5), s.bottom() + mm(1), s.right() + mm(5), s.bottom() + mm(1));
        if (place == Place::NameUnder) {
            QFont font(QStringLiteral("Liberation Sans"));
            font.setPixelSize(mm(3));
            painter.setFont(font);
            painter.drawText(s.left() + mm(12), s.bottom() + mm(6), QStringLiteral("(Mario Rossi)"));
        }
        break;
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
    page = FormPage::signedOn(page, signature, FormPage::SignatureLine::None, ink);
    if (place == Place::SweepUnder) {
        QPainterPath sweep;
        sweep.moveTo(s.left() + s.width() * 0.15, s.bottom() + mm(3.5));
        sweep.cubicTo(s.left() + s.width() * 0.4, s.bottom() + mm(7), s.left() + s.width() * 0.6,
                      s.bottom() + mm(1), s.right() - s.width() * 0.1, s.bottom() + mm(3));
        const int pen = mm(13) / 40;
        for (QImage* on : {&page, ink}) {
            QPainter painter(on);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(
                QPen(on == ink ? QColor(Qt::white) : QColor(25, 35, 125), pen, Qt::SolidLine, Qt::RoundCap));
            painter.drawPath(sweep);
        }
    }
    return page;
}

QFont labelFont() {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(mm(4));
    font.setBold(true);
    return font;
}

// A page with a few lines of print at the top, each label printed 3 mm high at its point
// (the text's baseline, left), and the pen's loops in signature on a ruled line.
QImage labelledPage(const QList<QPair<QPoint, QString>>& labels, const QRect& signature) {
    QImage page(kA4, QImage::Format_RGB32);
    page.fill(QColor(246, 246, 244));
    QPainter painter(&page);
    painter.setFont(labelFont());
    painter.setPen(QColor(30, 30, 30));
    const QString sentence =
        QStringLiteral("Il sottoscritto dichiara di essere consapevole delle sanzioni "
                       "penali previste per le dichiarazioni mendaci e chiede il rilascio");
    for (int k = 0; k < 16; ++k)
        painter.drawText(QPoint(mm(20), mm(30 + 7 * k)), sentence.mid(7 * k % 45, 60 + 37 * k % 40));
    for (const auto& [at, text] : labels)
        painter.drawText(at, text);
    painter.setPen(QPen(QColor(60, 60, 60), 3));
    painter.drawLine(signature.left() - mm(5), signature.bottom() - mm(2), signature.right() + mm(5),
                     signature.bottom() - mm(2));
    painter.end();
    return FormPage::signedOn(page, signature, FormPage::SignatureLine::None);
}

} // namespace

Q_DECLARE_METATYPE(Place)
Q_DECLARE_METATYPE(Locate::LabelKind)

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
        QTest::newRow("with a pen sweep under its line") << Place::SweepUnder << free << true;
        QTest::newRow("with the name printed under its line") << Place::NameUnder << free << true;
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

    // As OCR reads them off a 75 dpi copy: letters confused, dropped or doubled, spaces lost,
    // accents and apostrophes of any kind.
    void labelsReadLoosely_data() {
        using Locate::LabelKind;
        QTest::addColumn<QString>("text");
        QTest::addColumn<LabelKind>("kind");
        const QList<QPair<const char*, LabelKind>> rows{
            {"Firma del richiedente", LabelKind::Applicant},
            {"FIRMA DEL RICHIEDENTE", LabelKind::Applicant},
            {"Flrma del richledente", LabelKind::Applicant},
            {"Firma dei richiedente _____", LabelKind::Applicant},
            {"Firma:", LabelKind::Applicant},
            {"Il/La dichiarante", LabelKind::Applicant},
            {"ll/La dlchiarante", LabelKind::Applicant},
            {"I1/La dichiarante", LabelKind::Applicant},
            {"Firma leggibiIe", LabelKind::Applicant},
            {"Firmadel titoIare", LabelKind::Applicant},
            {"Firma del dichiarante", LabelKind::Applicant},
            {"Timbro e firma dell'ufficio", LabelKind::Office},
            {"Timbro e firma dell\u2019 uffcio", LabelKind::Office},
            {"Tirnbro e firma dell'ufficio", LabelKind::Office},
            {"Firma dell'addetto", LabelKind::Office},
            {"Firma delladdeto", LabelKind::Office},
            {"Timbro dell'ufficio e firma del funzionario", LabelKind::Office},
            {"Luogo e data", LabelKind::Field},
            {"Luogo e data ____  Firma", LabelKind::Field},
            {"Codlce fiscale", LabelKind::Field},
            {"Sigla", LabelKind::Field},
            {"Firma del dic", LabelKind::Applicant},
            {"Timbro e fir", LabelKind::Office},
            {"Il sottoscritto dichiara di aver apposto la firma in calce al modulo", LabelKind::None},
            {"forma", LabelKind::None},
            {"Dati", LabelKind::None},
            {"\u2014\u2014_-=+", LabelKind::None},
            {"", LabelKind::None},
        };
        for (const auto& [text, kind] : rows)
            QTest::newRow(text) << QString::fromUtf8(text) << kind;
        QTest::newRow("accents") << QStringLiteral("Firm\u00e0 d\u00e9l titolare") << LabelKind::Applicant;
    }
    void labelsReadLoosely() {
        QFETCH(QString, text);
        QFETCH(Locate::LabelKind, kind);
        const Locate::LabelMatch match = Locate::labelIn(text);
        QCOMPARE(int(match.kind), int(kind));
    }

    // The labels as read from the page itself: handwriting counts only in the applicant's
    // place once that is read, whatever else is written on the page.
    void signatureInTheLabelledPlace_data() {
        QTest::addColumn<QString>("applicantLabel");
        QTest::addColumn<QPoint>("applicantAt"); // millimetres; its place is ruled 16 mm below
        QTest::addColumn<QString>("besideLabel");
        QTest::addColumn<bool>("found");
        const QString applicant = QStringLiteral("Firma del richiedente");
        QTest::newRow("under the applicant's label") << applicant << QPoint(60, 195) << QString() << true;
        QTest::newRow("applicant's place empty, the date written")
            << applicant << QPoint(140, 195) << QStringLiteral("Luogo e data") << false;
        QTest::newRow("applicant's place empty further down, writing unlabelled")
            << applicant << QPoint(120, 262) << QString() << false;
        QTest::newRow("in the office's place")
            << QString() << QPoint() << QStringLiteral("Firma dell'addetto") << false;
        QTest::newRow("on another field") << QString() << QPoint() << QStringLiteral("Luogo e data") << false;
    }
    void signatureInTheLabelledPlace() {
        QFETCH(QString, applicantLabel);
        QFETCH(QPoint, applicantAt);
        QFETCH(QString, besideLabel);
        QFETCH(bool, found);
        // The handwriting stands right of its label when it has one, a few millimetres on.
        const QRect writing(mm(60), mm(200), mm(60), mm(13));
        QList<QPair<QPoint, QString>> labels;
        if (!besideLabel.isEmpty())
            labels.append(
                {QPoint(writing.left() - mm(4) - QFontMetrics(labelFont()).horizontalAdvance(besideLabel),
                        mm(211)),
                 besideLabel});
        if (!applicantLabel.isEmpty())
            labels.append({QPoint(mm(applicantAt.x()), mm(applicantAt.y())), applicantLabel});
        QImage page = labelledPage(labels, writing);
        if (!applicantLabel.isEmpty() && !writing.contains(mm(applicantAt.x()), mm(applicantAt.y() + 10))) {
            QPainter painter(&page);
            painter.setPen(QPen(QColor(60, 60, 60), 3));
            const int y = mm(applicantAt.y() + 16);
            painter.drawLine(mm(applicantAt.x()), y, mm(applicantAt.x() + 50), y);
        }
        const Locate::Work work = Locate::prepare(
            page.scaled(page.size() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), kA4);
        int reads = 0;
        const Locate::LabelReading read = [&reads](const cv::Mat& grey) {
            ++reads;
            return Locate::readLabelLine(grey);
        };
        // Without the words, the layout alone takes the handwriting for the signature.
        QVERIFY(Locate::signatureIn(work.grey, work, cv::Rect()).confidence >= Locator::kThreshold);
        const Locate::SignatureAnswer answer = Locate::signatureIn(work.grey, work, cv::Rect(), {}, {}, read);
        QVERIFY2(Locate::readLabelLine(work.grey(cv::Rect(0, 0, 40, 20))).has_value(),
                 "Tesseract's Italian model is missing");
        QVERIFY(reads > 0);
        QCOMPARE(answer.confidence >= Locator::kThreshold, found);
    }
};

QTEST_MAIN(TestSignature)
#include "tst_signature.moc"
