#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QSslCertificate>
#include <QUrl>
#include <functional>

class QNetworkAccessManager;
class QNetworkCookieJar;
class QNetworkRequest;

// The program's one HTTP session with the vendor's server: one network manager and one
// cookie jar, so that the session the login establishes also carries the download.
//
// Create it once in main() with the build's vendor URL and hand it to the start-up
// window; tests point it at a local server and shorten its time limits.
class HttpSession : public QObject {
    Q_OBJECT
  public:
    // Time limits in milliseconds. "total" limits bound a whole request, redirects
    // included; the transfer limit is the longest silence allowed during a download.
    struct Limits {
        int versionTotalMs = 20000;
        int pageTotalMs = 30000;
        int transferSilenceMs = 60000;
        qint64 versionBodyCap = 64 * 1024; // the version file holds a few characters
        qint64 pageBodyCap = 512 * 1024;   // login pages are small forms
    };

    // baseUrl: scheme and host (and port) of the vendor's server, e.g. "http://www.orvanta.it".
    explicit HttpSession(const QUrl& baseUrl, QObject* parent = nullptr);
    ~HttpSession() override;

    // The build's vendor server (VETRA_VENDOR_URL).
    static QUrl defaultBaseUrl();

    QUrl baseUrl() const { return m_baseUrl; }
    // path starts with '/', may carry a query ("/vetra/agg/utility.asp?method=abandon").
    QUrl url(const QString& pathAndQuery) const;

    QNetworkAccessManager& network() { return *m_network; }
    QNetworkCookieJar& cookies();

    const Limits& limits() const { return m_limits; }
    void setLimits(const Limits& limits) { m_limits = limits; }

    // Whether the machine has a network connection at all (modulo1::IsInternetConnected
    // unless replaced; tests replace it).
    bool isConnected() const;
    void setConnectionTest(std::function<bool()> test);

    // A request with the session's usual settings: redirects not followed by Qt (the
    // caller follows them with redirectTarget()), no cache; over https the server's
    // certificate is checked.
    QNetworkRequest request(const QUrl& url) const;

    // Redirects are followed one request per hop. Qt's own following sends the cookies of
    // the first request on to whatever host comes next (the session cookie would reach a
    // file host), and joins every hop's headers into one list (the redirect's
    // "Content-Length: 0" and the file's "83" read "0, 83"). A fresh request per hop gets
    // only the cookies of its own host from the jar, and a reply with headers of its own.
    static constexpr int kMostRedirects = 10;

    // Where a redirect reply sends the request next: its Location resolved against the
    // reply's address. Empty for a reply that is no redirect; empty with *refused set for
    // one that may not be followed (no Location, not http or https, https to http).
    static QUrl redirectTarget(const QNetworkReply& reply, bool* refused);

    // True when url has the vendor's scheme, host and port: the only place the login
    // may send the account to.
    bool isVendorUrl(const QUrl& url) const;

    // Certificate authorities trusted besides the system's (a test's own authority).
    // Certificates are always checked; this only adds who may issue them.
    void addCaCertificates(const QList<QSslCertificate>& certificates);

    // The minisign public key line the vendor signs updaters with: the build's own
    // (VETRA_UPDATE_PUBLIC_KEY) unless replaced; empty when the build has none.
    const QByteArray& updateKey() const { return m_updateKey; }
    void setUpdateKey(const QByteArray& keyLine) { m_updateKey = keyLine; }

    // Result of a small GET run to its end.
    struct Fetch {
        bool ok = false;        // a reply arrived (any HTTP status) and was read to its end or its cap
        bool truncated = false; // the body reached the cap and the rest was dropped
        int status = 0;         // HTTP status, 0 without a reply
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QByteArray body;
    };

    // GET url and wait for it in a local event loop, at most totalMs; bodies beyond cap
    // bytes are cut off (the request is then aborted). Network failures, the time limit,
    // a body shorter or longer than its Content-Length, a malformed Content-Length, a
    // chunked body and a 206 (a part of the file) give ok == false and an empty body.
    Fetch getSmall(const QUrl& url, int totalMs, qint64 cap);

    // True for the errors that stand for an HTTP error status (4xx, 5xx): the reply
    // still carries the server's page.
    static bool isStatusError(QNetworkReply::NetworkError error);

    // False when the reply announced a length and fewer (or more) bytes came: a
    // connection that breaks mid-body can end a reply without any error of its own.
    // A Content-Length that is not plain digits fitting in 63 bits (a negative, an
    // overflowing or a doubled one) is never complete.
    static bool isComplete(const QNetworkReply& reply, qint64 received);

    // The length a Content-Length header announces: -1 for none, -2 when it is malformed.
    static qint64 announcedLength(const QNetworkReply& reply);

    // A header's number: plain decimal digits, at most 18 of them (no sign, no blanks, no
    // list, no overflow); -1 for anything else.
    static qint64 strictDigits(const QByteArray& text);

    // True for the errors of the connection itself (refused, reset, silent too long, no
    // route, TLS refused) as opposed to a reply that came but is not acceptable.
    static bool isConnectionError(QNetworkReply::NetworkError error);

    // The Italian words for a connection error, for the operator.
    static QString connectionProblem(QNetworkReply::NetworkError error);

  private:
    QUrl m_baseUrl;
    QNetworkAccessManager* m_network = nullptr;
    QNetworkCookieJar* m_jar = nullptr;
    Limits m_limits;
    std::function<bool()> m_connectionTest;
    QList<QSslCertificate> m_extraCas;
    QByteArray m_updateKey;
};
