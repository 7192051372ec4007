// Login pages built to hurt the HTML form engine: nesting far deeper than any page,
// thousands of unclosed elements. Each is read (or refused) quickly, in little memory,
// without running the stack out.

#include "update/HtmlPage.h"

#include <QElapsedTimer>
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
        // Six start tags of our own (html, body, p, form, two inputs) beside the nesting.
        const int room = int(HtmlPage::kMostStartTags) - 6;
        QTest::newRow("divs up to the limit") << nested("<div>", room) << true;
        QTest::newRow("unclosed bold up to the limit") << nested("<b>", room) << true;
        QTest::newRow("nested tables up to the limit") << nested("<table><tr><td>", room / 3) << true;
        QTest::newRow("mixed inline and block")
            << nested("<div><span><a><i><ul><li><em><q><sub>", room / 9) << true;
        QTest::newRow("one tag past the limit") << nested("<div>", room + 1) << false;
        QTest::newRow("100000 divs") << nested("<div>", 100000) << false;
    }

    void deepPages() {
        QFETCH(QByteArray, page);
        QFETCH(bool, parsed);
        QElapsedTimer clock;
        clock.start();
        HtmlPage html(page, kUrl);
        const qint64 took = clock.elapsed();
        QVERIFY2(took < 10000, qPrintable(QString::number(took)));

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
};

QTEST_MAIN(TestHostilePages)
#include "tst_hostilepages.moc"
