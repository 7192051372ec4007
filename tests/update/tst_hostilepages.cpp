// Login pages built to hurt the HTML form engine: nesting far deeper than any page,
// thousands of unclosed elements, misnested formatting tags, a tag with thousands of
// attributes. Each is read (or refused) quickly, in little memory, without running the
// stack out.

#include "update/HtmlPage.h"

#include <QtTest>

namespace {

const QUrl kUrl(QStringLiteral("http://127.0.0.1/vetra/agg/utility.asp?method=abandon"));

// The marker and a login form, under `tags` copies of `opening` (one start tag each
// unless said otherwise).
QByteArray nested(const QByteArray& opening, int copies) {
    return "<html><body><p>loggare</p>" + opening.repeated(copies) +
           "<form method=post action=verifica.asp><input name=username><input name=password></form>";
}

} // namespace

class TestHostilePages : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void deepPages_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<bool>("parsed");
        // Twelve tags and attributes of our own beside the nesting: html, body, p, /p,
        // form with two attributes, two inputs with a name each, /form.
        const int room = int(HtmlPage::kMostMarkupItems) - 12;
        QTest::newRow("divs up to the limit") << nested("<div>", room) << true;
        QTest::newRow("unclosed bold up to the limit") << nested("<b>", room) << true;
        QTest::newRow("nested tables up to the limit") << nested("<table><tr><td>", room / 3) << true;
        QTest::newRow("mixed inline and block")
            << nested("<div><span><a><i><ul><li><em><q><sub>", room / 9) << true;
        QTest::newRow("misnested formatting up to the limit") << nested("<b id=7><p>", room / 3) << true;
        QTest::newRow("closing tags count") << nested("<b></b>", room / 2) << true;
        QTest::newRow("attributes count") << nested("<i a b='>' c=\"d e\">", room / 4) << true;
        QTest::newRow("one tag past the limit") << nested("<div>", room + 1) << false;
        QTest::newRow("an attribute fills the limit")
            << nested(QByteArray("<div>").repeated(room - 2) + "<hr x>", 1) << true;
        QTest::newRow("one attribute past the limit")
            << nested(QByteArray("<div>").repeated(room - 2) + "<hr x y>", 1) << false;
        QTest::newRow("misnested formatting past the limit") << nested("<b id=7><p>", 20000) << false;
        QTest::newRow("200000 attributes on one input")
            << nested("<input " + QByteArray("a ").repeated(200000) + ">", 1) << false;
        QTest::newRow("100000 divs") << nested("<div>", 100000) << false;
    }

    void deepPages() {
        QFETCH(QByteArray, page);
        QFETCH(bool, parsed);
        HtmlPage html(page, kUrl);

        QVERIFY(!html.isEmpty());
        QCOMPARE(html.bodyHtml().contains(QLatin1String("loggare")), parsed);
        QCOMPARE(html.bodyText().startsWith(QLatin1String("loggare")), parsed);
        QCOMPARE(html.setValue(QStringLiteral("username"), QStringLiteral("mario")), parsed);
        const auto submission = html.firstFormSubmission();
        QCOMPARE(submission.has_value(), parsed);
        if (parsed) {
            QCOMPARE(submission->method, QByteArray("POST"));
            QCOMPARE(submission->body, QByteArray("username=mario&password="));
        }
    }

    // The same caps whatever the charset the server names: in UTF-16 and UTF-32 the tags
    // are counted as the parser reads them, not as bytes.
    void widePages_data() {
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("parsed");
        const int room = int(HtmlPage::kMostMarkupItems) - 12;
        for (const char* charset : {"utf-16le", "utf-16be", "utf-16", "utf-32le", "utf-32be", "iso-8859-1"}) {
            QTest::addRow("%s, misnested formatting up to the limit", charset)
                << QByteArray(charset) << room / 3 << true;
            QTest::addRow("%s, misnested formatting past the limit", charset)
                << QByteArray(charset) << room / 3 + 20 << false;
        }
    }

    void widePages() {
        QFETCH(QByteArray, charset);
        QFETCH(int, copies);
        QFETCH(bool, parsed);
        const QByteArray page = nested("<b id=7><p>", copies);
        const auto encoding = QStringConverter::encodingForName(charset.constData());
        QVERIFY(encoding);
        QStringEncoder encoder(*encoding);
        const QByteArray bytes = encoder.encode(QString::fromLatin1(page));
        HtmlPage html(bytes, kUrl, "text/html; charset=" + charset);
        QCOMPARE(html.bodyText().startsWith(QLatin1String("loggare")), parsed);
        QCOMPARE(html.firstFormSubmission().has_value(), parsed);
    }
};

QTEST_MAIN(TestHostilePages)
#include "tst_hostilepages.moc"
