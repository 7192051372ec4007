#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QUrl>
#include <functional>

class QTcpSocket;

// Plays the vendor's web server on 127.0.0.1 for the tests: the version file, the login
// page (a form with hidden fields), the credential check with a cookie session and a
// redirect, and the updater download, which needs the session and honours Range.
// Each resource can also misbehave on request.
class VendorServer : public QObject {
    Q_OBJECT
  public:
    enum class Mode {
        Normal,
        NeverAnswer,  // reads the request and says nothing, ever
        StallMidBody, // sends the headers and part of the body, then falls silent
        ResetMidBody, // sends the headers and part of the body, then resets the connection
        Endless,      // a body without end, sent as fast as the client takes it
        Trickle,      // one byte of the body at a time, slowly, never silent for long
        RedirectLoop, // redirects to a page that redirects back, for ever
        NoLength,     // the whole body without Content-Length, ended by closing the connection
        Late,         // the whole reply, well formed, once lateMs have passed in silence
    };

    struct Request {
        QByteArray method;
        QByteArray target;                     // path and query
        QHash<QByteArray, QByteArray> headers; // lower-case names
        QByteArray body;
    };

    explicit VendorServer(QObject* parent = nullptr);
    ~VendorServer() override;

    // Serves https with this configuration (certificate and key) from the next listen().
    void useTls(const QSslConfiguration& configuration);
    bool listen();
    // Stops listening and drops every open connection: later requests are refused. The
    // port stays held (bound, not listening) while the server lives, so no other
    // process's server can take it over and answer in its place.
    void close();
    QUrl baseUrl() const;

    // Version file.
    QByteArray versionBody = "2.27";
    Mode versionMode = Mode::Normal;

    // Login page and the reply after the credentials. The credential check answers with
    // verifyStatus and a Location of verifyLocation.
    QByteArray loginPage;
    int verifyStatus = 302;
    QByteArray verifyLocation = "esito.asp";
    Mode loginMode = Mode::Normal;
    QByteArray replyBody = "<p>dimensione 1.234 utente autorizzato</p>";
    QByteArray user = "mario rossi";
    QByteArray password = "p&ss word";

    // Download.
    QByteArray payload;
    Mode downloadMode = Mode::Normal;
    int chunkSize = 64 * 1024;
    int chunkDelayMs = 0;
    // Extra header lines of the download's reply, and its status (0: 200, or 206 for a range).
    QList<QByteArray> downloadHeaders;
    int downloadStatus = 0;
    // The updater's signature file, beside the download; it needs the session too. When
    // sign is set it makes the signature of the payload being served; 404 without either.
    QByteArray signature;
    std::function<QByteArray(const QByteArray&)> sign;

    // Replies sent byte for byte (status line, headers and body) for a path, instead of
    // the usual answer: replies no well-behaved server sends.
    QHash<QByteArray, QByteArray> rawReplies;

    // Called as each request arrives, before it is answered.
    std::function<void(const Request&)> onRequest;

    QList<Request> requests;
    // Session names are unique to this server, so a session never passes on another.
    QSet<QByteArray> authorisedSessions;

    // How long Mode::Late keeps silent. Its timer runs in the client's event loop, so a
    // client's time limit shorter than this always fires first, however busy the machine.
    int lateMs = 3000;

    static QByteArray defaultLoginPage();

  private:
    void readFrom(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Request& request);
    void send(QTcpSocket* socket, int status, const QByteArray& body, Mode mode,
              const QList<QByteArray>& extraHeaders = {});
    void sendChunked(QTcpSocket* socket, const QByteArray& head, const QByteArray& body);
    static void reset(QTcpSocket* socket);
    QByteArray sessionOf(const Request& request) const;

    void accept();

    QTcpServer* m_server = nullptr;
    bool m_tls = false;
    int m_portGuard = -1;
    quint16 m_port = 0;
    QByteArray m_sessionPrefix;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    int m_sessions = 0;
};
