#include "tests/support/VendorServer.h"

#include <QRandomGenerator>
#include <QSslServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A TCP socket on 127.0.0.1:port that shares the port with its twins (SO_REUSEPORT);
// listening when asked. -1 when it cannot be made.
int portSocket(quint16 port, bool listening) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (listening && ::listen(fd, 50) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

VendorServer::VendorServer(QObject* parent)
    : QObject(parent), loginPage(defaultLoginPage()), m_server(new QTcpServer(this)),
      m_sessionPrefix(QByteArray::number(QRandomGenerator::global()->generate(), 36) + '-') {
    accept();
}

VendorServer::~VendorServer() {
    if (m_portGuard >= 0)
        ::close(m_portGuard);
}

void VendorServer::close() {
    if (m_portGuard < 0 && m_port != 0)
        m_portGuard = portSocket(m_port, false);
    m_server->close();
    // Connections the client opened ahead of its requests would still be answered.
    for (QTcpSocket* socket : findChildren<QTcpSocket*>())
        socket->abort();
}

void VendorServer::useTls(const QSslConfiguration& configuration) {
    delete m_server;
    auto* server = new QSslServer(this);
    server->setSslConfiguration(configuration);
    m_server = server;
    m_tls = true;
    accept();
}

void VendorServer::accept() {
    // Once per connection ready for use: with TLS, after its handshake.
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

bool VendorServer::listen() {
    const int fd = portSocket(0, true);
    if (fd < 0)
        return false;
    if (!m_server->setSocketDescriptor(fd)) {
        ::close(fd);
        return false;
    }
    m_port = m_server->serverPort();
    return true;
}

QUrl VendorServer::baseUrl() const {
    return QUrl(QStringLiteral("%1://127.0.0.1:%2")
                    .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(m_port));
}

QByteArray VendorServer::defaultLoginPage() {
    return "<!DOCTYPE html>\n<html><head><title>Accesso</title></head>\n"
           "<body class=\"login\">\n<p>Per scaricare l'aggiornamento occorre loggare l'installazione.</p>\n"
           "<form name=\"accesso\" method=\"POST\" action=\"verifica.asp?fase=1\">\n"
           "<input type=\"hidden\" name=\"token\" value=\"T0K&amp;3N\">\n"
           "<input type=hidden name=\"stato\" value=\"a b\">\n"
           "Utente <input type=\"text\" name=\"username\" value=\"\">\n"
           "Password <input type=\"password\" id=\"password\" name=\"pwd_field\">\n"
           "<input type=\"checkbox\" name=\"ricorda\">\n"
           "<input type=\"text\" name=\"bloccato\" value=\"x\" disabled>\n"
           "<input type=\"submit\" name=\"invia\" value=\"Entra\">\n"
           "</form>\n<form action=\"/altro\"><input name=\"username\"></form>\n</body></html>\n";
}

void VendorServer::readFrom(QTcpSocket* socket) {
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    Request request;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> first = lines.constFirst().trimmed().split(' ');
    if (first.size() < 2)
        return;
    request.method = first.at(0);
    request.target = first.at(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                   lines.at(i).mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() < headEnd + 4 + length)
        return;
    request.body = buffer.mid(headEnd + 4, length);
    buffer.remove(0, headEnd + 4 + length);
    requests.append(request);
    if (onRequest)
        onRequest(request);
    answer(socket, request);
}

QByteArray VendorServer::sessionOf(const Request& request) const {
    const QList<QByteArray> cookies = request.headers.value("cookie").split(';');
    for (const QByteArray& cookie : cookies) {
        const QByteArray trimmed = cookie.trimmed();
        if (trimmed.startsWith("ASPSESSION="))
            return trimmed.mid(11);
    }
    return {};
}

void VendorServer::answer(QTcpSocket* socket, const Request& request) {
    const QByteArray path = request.target.split('?').constFirst();
    if (rawReplies.contains(path)) {
        socket->write(rawReplies.value(path));
        socket->disconnectFromHost();
    } else if (path == "/vetra/file_vers.txt") {
        send(socket, 200, versionBody, versionMode, {"Content-Type: text/plain"});
    } else if (request.target == "/vetra/agg/utility.asp?method=abandon") {
        const QByteArray session = "S" + m_sessionPrefix + QByteArray::number(++m_sessions);
        send(socket, 200, loginPage, loginMode,
             {"Content-Type: text/html; charset=utf-8", "Set-Cookie: ASPSESSION=" + session + "; path=/"});
    } else if (path == "/vetra/agg/verifica.asp" && request.method == "POST") {
        const QUrlQuery form(QString::fromUtf8(QByteArray(request.body).replace('+', ' ')));
        const QByteArray session = sessionOf(request);
        const auto field = [&form](const char* name) {
            return form.queryItemValue(QLatin1String(name), QUrl::FullyDecoded).toUtf8();
        };
        if (!session.isEmpty() && field("token") == "T0K&3N" && field("username") == user &&
            field("pwd_field") == password)
            authorisedSessions.insert(session);
        send(socket, verifyStatus, {}, Mode::Normal, {"Location: " + verifyLocation});
    } else if (path == "/vetra/agg/esito.asp") {
        const bool authorised = authorisedSessions.contains(sessionOf(request));
        send(socket, 200,
             authorised ? "<html><body>" + replyBody + "</body></html>"
                        : QByteArray("<html><body>accesso negato</body></html>"),
             Mode::Normal, {"Content-Type: text/html"});
    } else if (path == "/vetra/giro/a" || path == "/vetra/giro/b") {
        send(socket, 302, {}, Mode::Normal, {path.endsWith('a') ? "Location: b" : "Location: a"});
    } else if (path == "/vetra/agg/vuoto.asp") {
        send(socket, 200, {}, Mode::Normal, {"Content-Type: text/html"});
    } else if (path == "/vetra/agg/download.asp.minisig") {
        const QByteArray text = sign ? sign(payload) : signature;
        if (!authorisedSessions.contains(sessionOf(request)) || text.isEmpty())
            send(socket, 404, "<html><body>non trovato</body></html>", Mode::Normal);
        else
            send(socket, 200, text, Mode::Normal, {"Content-Type: text/plain"});
    } else if (path == "/vetra/agg/download.asp") {
        if (!authorisedSessions.contains(sessionOf(request))) {
            send(socket, 403, "<html><body>sessione non valida</body></html>", Mode::Normal);
            return;
        }
        qint64 from = 0;
        const QByteArray range = request.headers.value("range");
        if (range.startsWith("bytes=") && range.endsWith('-'))
            from = range.mid(6, range.size() - 7).toLongLong();
        if (downloadStatus != 0) {
            send(socket, downloadStatus, payload, downloadMode, downloadHeaders);
        } else if (from > 0 && from < payload.size()) {
            send(socket, 206, payload.mid(from), downloadMode,
                 {"Content-Range: bytes " + QByteArray::number(from) + '-' +
                  QByteArray::number(payload.size() - 1) + '/' + QByteArray::number(payload.size())});
        } else {
            send(socket, 200, payload, downloadMode,
                 QList<QByteArray>{"Content-Type: application/octet-stream"} + downloadHeaders);
        }
    } else {
        send(socket, 404, "<html><body>non trovato</body></html>", Mode::Normal);
    }
}

void VendorServer::send(QTcpSocket* socket, int status, const QByteArray& body, Mode mode,
                        const QList<QByteArray>& extraHeaders) {
    if (mode == Mode::NeverAnswer)
        return;
    if (mode == Mode::Late) {
        QTimer::singleShot(lateMs, socket, [this, socket, status, body, extraHeaders] {
            send(socket, status, body, Mode::Normal, extraHeaders);
        });
        return;
    }
    if (mode == Mode::RedirectLoop) {
        send(socket, 302, {}, Mode::Normal, {"Location: /vetra/giro/a"});
        return;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + (status < 300 ? " OK" : " Other") + "\r\n";
    for (const QByteArray& header : extraHeaders)
        head += header + "\r\n";
    head += "Connection: close\r\n";
    if (mode == Mode::Endless) {
        socket->write(head + "\r\n");
        const QByteArray block(64 * 1024, 'z');
        socket->write(block);
        connect(socket, &QTcpSocket::bytesWritten, socket, [socket, block] {
            if (socket->bytesToWrite() < 2 * block.size())
                socket->write(block);
        });
        return;
    }
    if (mode == Mode::NoLength) {
        socket->write(head + "\r\n" + body);
        socket->disconnectFromHost();
        return;
    }
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    if (mode == Mode::Trickle) {
        socket->write(head);
        auto* timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [socket] { socket->write(" "); });
        timer->start(40);
        return;
    }
    if (mode == Mode::StallMidBody || mode == Mode::ResetMidBody) {
        socket->write(head + body.left(body.size() / 2));
        socket->flush();
        if (mode == Mode::ResetMidBody) {
            QTimer::singleShot(20, socket, [socket] { reset(socket); });
        }
        return;
    }
    if (chunkDelayMs > 0 && status < 300 && body.size() > chunkSize) {
        sendChunked(socket, head, body);
        return;
    }
    socket->write(head + body);
    socket->disconnectFromHost();
}

void VendorServer::sendChunked(QTcpSocket* socket, const QByteArray& head, const QByteArray& body) {
    socket->write(head);
    auto offset = std::make_shared<qsizetype>(0);
    auto* timer = new QTimer(socket);
    connect(timer, &QTimer::timeout, socket, [this, socket, timer, body, offset] {
        socket->write(body.mid(*offset, chunkSize));
        *offset += chunkSize;
        if (*offset >= body.size()) {
            timer->stop();
            socket->disconnectFromHost();
        }
    });
    timer->start(chunkDelayMs);
}

void VendorServer::reset(QTcpSocket* socket) {
    // A zero linger makes close() send a reset instead of an orderly end.
    const struct linger hard = {1, 0};
    ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    socket->abort();
}
