// The HTML form engine of the update login, without the network: a page as it arrives
// (its body's source and rendered text, its controls), filling two fields, and what
// submitting its first form would send.
// Input: one byte that picks the Content-Type header, then the page's bytes.

#include "fuzz/FuzzCheck.h"
#include "update/HtmlPage.h"

#include <QUrl>

namespace {

// Undoes application/x-www-form-urlencoded; false when the text is not well formed.
bool formDecode(const QByteArray& encoded, QByteArray& out) {
    out.clear();
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded.at(i);
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= encoded.size())
                return false;
            bool ok = false;
            const int value = encoded.mid(i + 1, 2).toInt(&ok, 16);
            if (!ok)
                return false;
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

bool onlyFormCharacters(const QByteArray& encoded) {
    for (const char c : encoded) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '*' || c == '-' || c == '.' || c == '_' || c == '+' || c == '%' || c == '&' ||
                           c == '=';
        if (!plain)
            return false;
    }
    return true;
}

// The page's rendered text: single blanks and single line breaks between words only.
void checkRenderedText(const QString& text) {
    QChar previous = QLatin1Char('\n');
    for (const QChar c : text) {
        const bool separator = c == QLatin1Char(' ') || c == QLatin1Char('\n');
        FUZZ_CHECK(separator || !c.isSpace());
        FUZZ_CHECK(!(separator && (previous == QLatin1Char(' ') || previous == QLatin1Char('\n'))));
        previous = c;
    }
    FUZZ_CHECK(!text.endsWith(QLatin1Char(' ')) && !text.endsWith(QLatin1Char('\n')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static const QByteArray contentTypes[] = {
        QByteArray(),
        QByteArrayLiteral("text/html; charset=utf-8"),
        QByteArrayLiteral("text/html; charset=windows-1252"),
        QByteArrayLiteral("text/html; charset=\"iso-8859-15\""),
    };
    const QByteArray& contentType = contentTypes[data[0] % 4];
    const QByteArray bytes = fuzz::bytes(data + 1, size - 1);

    HtmlPage page(bytes, QUrl(QStringLiteral("http://127.0.0.1:8080/vetra/agg/utility.asp?method=abandon")),
                  contentType);
    FUZZ_CHECK(page.isEmpty() == bytes.isEmpty());
    checkRenderedText(page.bodyText());
    (void)page.bodyHtml().contains(QLatin1String("loggare"));

    // Filling the two fields as the login does.
    const QString user = QStringLiteral("mario rossi");
    const QString password = QStringLiteral("p&ss=w%rd\r\nè");
    if (page.setValue(QStringLiteral("username"), user))
        FUZZ_CHECK(page.value(QStringLiteral("username")) == user);
    else
        FUZZ_CHECK(!page.value(QStringLiteral("username")));
    if (page.setValue(QStringLiteral("password"), password))
        FUZZ_CHECK(page.value(QStringLiteral("password")) == password);

    if (const auto submission = page.firstFormSubmission()) {
        FUZZ_CHECK(submission->method == "GET" || submission->method == "POST");
        FUZZ_CHECK(!submission->url.hasFragment());
        if (submission->method == "POST")
            FUZZ_CHECK(onlyFormCharacters(submission->body));
        else
            FUZZ_CHECK(submission->body.isEmpty());
    }

    // Any text survives the form encoding, line ends as CR LF.
    const QString text = page.bodyText();
    const QString name = text.left(text.size() / 2);
    const QString value = text.mid(text.size() / 2);
    const QByteArray encoded = HtmlPage::formEncode({{name, value}});
    FUZZ_CHECK(onlyFormCharacters(encoded));
    const qsizetype equals = encoded.indexOf('=');
    FUZZ_CHECK(equals >= 0);
    QByteArray decodedName;
    QByteArray decodedValue;
    FUZZ_CHECK(formDecode(encoded.left(equals), decodedName));
    FUZZ_CHECK(formDecode(encoded.mid(equals + 1), decodedValue));
    auto crlf = [](QString s) {
        s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        s.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        return s.toUtf8();
    };
    FUZZ_CHECK(decodedName == crlf(name));
    FUZZ_CHECK(decodedValue == crlf(value));
    return 0;
}
