#include "update/HtmlPage.h"
#include "update/LoginReply.h"
#include "update/VersionReply.h"

#include <QtTest>
#include <memory>

class TestRules : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void versionVerdict_data() {
        QTest::addColumn<QString>("running");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("verdict");
        using V = VersionReply::Verdict;
        const auto row = [](const char* name, const char* running, const char* reply, V verdict) {
            QTest::newRow(name) << QString::fromUtf8(running) << QString::fromUtf8(reply)
                                << static_cast<int>(verdict);
        };
        row("same", "2.26", "2.26", V::UpToDate);
        row("newer minor", "2.26", "2.27", V::Ask);
        row("blanks around", "2.26", " 2.27 ", V::Ask);
        row("line end", "2.26", "2.26\r\n", V::UpToDate);
        row("newer major, fewer digits", "2.26", "3.0", V::Ask);
        row("minor as whole number", "7.9", "7.10", V::Ask);
        row("older minor as whole number", "7.10", "7.9", V::UpToDate);
        row("2.3 is older than 2.26", "2.26", "2.3", V::UpToDate);
        row("older major", "2.26", "1.99", V::UpToDate);
        row("leading zero", "2.26", "2.026", V::UpToDate);
        row("ten characters", "2.26", "1234567.89", V::Ask);
        row("eleven characters", "2.26", "12345678.90", V::ReceiveError);
        row("eleven after trimming", "2.26", "  abcdefghijk  ", V::ReceiveError);
        row("not a version", "2.26", "abc", V::Ask);
        row("three parts", "2.26", "2.27.1", V::Ask);
        row("major alone", "2.26", "3", V::Ask);
        row("comma", "2.26", "2,27", V::Ask);
        row("empty", "2.26", "", V::NoReply);
        row("blanks alone", "2.26", "  \n", V::NoReply);
    }

    void versionVerdict() {
        QFETCH(QString, running);
        QFETCH(QString, reply);
        QFETCH(int, verdict);
        QCOMPARE(static_cast<int>(VersionReply::judge(running, reply)), verdict);
    }

    void versionQuestionKeepsReply() {
        QCOMPARE(VersionReply::question(QStringLiteral("2.26"), QStringLiteral(" 2.27 ")),
                 QStringLiteral(
                     "In questo Pc è installata la versione 2.26. E' disponibile la nuova versione  2.27  "
                     "si desidera scaricare la nuova versione ?"));
    }

    void loginReply_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("authorised");
        QTest::addColumn<qint64>("size"); // -1: none
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const char* text, bool authorised, qint64 size,
                            const char* message) {
            QTest::newRow(name) << QString::fromUtf8(text) << authorised << size
                                << QString::fromUtf8(message);
        };
        row("size with dot", "dimensione 1.234 utente autorizzato", true, 1234000, "");
        row("size with commas", "Esito: dimensione 1,234,567\nutente autorizzato.", true, 1234567000, "");
        row("no size", "utente autorizzato", true, -1, "");
        row("markers in the wrong order", "utente autorizzato dimensione 1.234", true, -1, "");
        row("size not a number", "dimensione circa 5 utente autorizzato", true, -1, "");
        row("size beyond 32 bits", "dimensione 9999999999 utente autorizzato", true, -1, "");
        row("nothing between", "dimensioneutente autorizzato", true, -1, "");
        row("not authorised", "dimensione 1.234 accesso negato", false, -1, "");
        row("personal message", "utente autorizzato iniziomessaggio Buone feste! finemessaggio", true, -1,
            "Buone feste!");
        row("empty personal message", "utente autorizzato iniziomessaggio finemessaggio", true, -1, "");
        row("message markers reversed", "finemessaggio x iniziomessaggio", false, -1, "");
        row("message without authorisation", "iniziomessaggio ciao finemessaggio", false, -1, "ciao");
    }

    void loginReply() {
        QFETCH(QString, text);
        QFETCH(bool, authorised);
        QFETCH(qint64, size);
        QFETCH(QString, message);
        const LoginReply reply = LoginReply::parse(text);
        QCOMPARE(reply.authorised, authorised);
        QCOMPARE(reply.expectedSize.value_or(-1), size);
        QCOMPARE(reply.personalMessage, message);
    }

    void bodyHtmlIsTheSource_data() {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QString>("body");
        QTest::newRow("plain") << QByteArray(
                                      "<html><head><title>t</title></head><body>\n<p>loggare &amp; co</p>\n"
                                      "</body></html>")
                               << QStringLiteral("\n<p>loggare &amp; co</p>\n");
        QTest::newRow("attributes and case")
            << QByteArray("<HTML><BODY bgcolor=\"#fff\"><B>Ciao</B></BODY></HTML>")
            << QStringLiteral("<B>Ciao</B>");
        QTest::newRow("no end tag") << QByteArray("<body><div>uno</div>") << QStringLiteral("<div>uno</div>");
        QTest::newRow("no body tag") << QByteArray("<p>testo</p>") << QStringLiteral("<p>testo</p>");
        QTest::newRow("accents in utf-8")
            << QByteArray("<body>perché più</body>") << QStringLiteral("perché più");
        QTest::newRow("latin-1 bytes") << QByteArray("<body>perch\xe9</body>") << QStringLiteral("perché");
        QTest::newRow("empty") << QByteArray() << QString();
    }

    void bodyHtmlIsTheSource() {
        QFETCH(QByteArray, html);
        QFETCH(QString, body);
        QCOMPARE(HtmlPage(html, QUrl(QStringLiteral("http://h/p"))).bodyHtml(), body);
    }

    void bodyText_data() {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QString>("text");
        QTest::newRow("white space collapsed")
            << QByteArray("<body>  dimensione\n\t 1.234   <b>utente</b>  autorizzato </body>")
            << QStringLiteral("dimensione 1.234 utente autorizzato");
        QTest::newRow("blocks on lines") << QByteArray("<body><p>uno</p><div>due<br>tre</div>quattro</body>")
                                         << QStringLiteral("uno\ndue\ntre\nquattro");
        QTest::newRow("scripts and styles left out")
            << QByteArray("<head><style>p{}</style></head><body>a<script>var x='utente autorizzato';</script>"
                          "<style>.c{}</style>b</body>")
            << QStringLiteral("ab");
        QTest::newRow("entities") << QByteArray("<body>1&nbsp;&lt;&nbsp;2 &egrave;</body>")
                                  << QStringLiteral("1 < 2 è"); // no-break spaces count as blanks
        QTest::newRow("table cells apart")
            << QByteArray("<body><table><tr><td>a</td><td>b</td></tr></table></body>")
            << QStringLiteral("a b");
    }

    void bodyText() {
        QFETCH(QByteArray, html);
        QFETCH(QString, text);
        QCOMPARE(HtmlPage(html, QUrl(QStringLiteral("http://h/p"))).bodyText(), text);
    }

    void firstFormSubmission() {
        HtmlPage page(QByteArray("<body><form method=post action='../agg/verifica.asp?x=1#frag'>"
                                 "<input type=hidden name=token value='T&amp;K'>"
                                 "<input name=username value='old'>"
                                 "<input type=password id=password name=pwd>"
                                 "<input type=checkbox name=off><input type=checkbox name=on checked>"
                                 "<input type=radio name=r value=1><input type=radio name=r value=2 checked>"
                                 "<select name=s><option>primo<option value=v2 selected>secondo</select>"
                                 "<textarea name=note>riga</textarea>"
                                 "<input name=spento disabled value=z><input value=senza-nome>"
                                 "<fieldset disabled><input name=dentro value=q></fieldset>"
                                 "<input type=submit name=go value=Vai><input type=image name=img>"
                                 "</form><form><input name=username></form></body>"),
                      QUrl(QStringLiteral("http://vendor:8080/vetra/agg/utility.asp?method=abandon")));
        QVERIFY(page.setValue(QStringLiteral("username"), QStringLiteral("mario rossi")));
        QVERIFY(page.setValue(QStringLiteral("password"), QStringLiteral("a&b=c+d/è")));
        QVERIFY(!page.setValue(QStringLiteral("missing"), QStringLiteral("x")));
        QCOMPARE(page.value(QStringLiteral("pwd")), QStringLiteral("a&b=c+d/è"));

        const auto submission = page.firstFormSubmission();
        QVERIFY(submission);
        QCOMPARE(submission->method, QByteArray("POST"));
        QCOMPARE(submission->url, QUrl(QStringLiteral("http://vendor:8080/vetra/agg/verifica.asp?x=1")));
        QCOMPARE(submission->body, QByteArray("token=T%26K&username=mario+rossi&pwd=a%26b%3Dc%2Bd%2F%C3%A8"
                                              "&on=on&r=2&s=v2&note=riga"));
    }

    void getFormPutsDataInQuery() {
        HtmlPage page(QByteArray("<form action=cerca><input name=q value='a b'></form>"),
                      QUrl(QStringLiteral("http://h/dir/pagina.asp?vecchia=1")));
        const auto submission = page.firstFormSubmission();
        QVERIFY(submission);
        QCOMPARE(submission->method, QByteArray("GET"));
        QCOMPARE(submission->url.toString(), QStringLiteral("http://h/dir/cerca?q=a+b"));
        QVERIFY(!HtmlPage(QByteArray("<body>no form</body>"), QUrl()).firstFormSubmission());
    }
};

QObject* makeRulesTest() {
    return new TestRules;
}

#include "tst_rules.moc"
