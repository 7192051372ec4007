#include "update/HttpSession.h"

#include "env/modulo1.h"
#include "update/Logging.h"
#include "update/UpdateSignature.h"
#include "version.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>

HttpSession::HttpSession(const QUrl& baseUrl, QObject* parent)
    : QObject(parent), m_baseUrl(baseUrl), m_network(new QNetworkAccessManager(this)),
      m_jar(new QNetworkCookieJar(this)), m_updateKey(UpdateSignature::builtInKey()) {
    m_network->setCookieJar(m_jar);
    m_jar->setParent(this); // setCookieJar takes ownership; keep it ours for a clear lifetime
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

HttpSession::~HttpSession() = default;

QUrl HttpSession::defaultBaseUrl() {
    return QUrl(QString::fromUtf8(vetra::kVendorUrl));
}

QUrl HttpSession::url(const QString& pathAndQuery) const {
    QUrl base = m_baseUrl;
    QString path = base.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return base.resolved(QUrl(path + pathAndQuery));
}

QNetworkCookieJar& HttpSession::cookies() {
    return *m_jar;
}

bool HttpSession::isConnected() const {
    return m_connectionTest ? m_connectionTest() : modulo1::IsInternetConnected();
}

void HttpSession::setConnectionTest(std::function<bool()> test) {
    m_connectionTest = std::move(test);
}

QNetworkRequest HttpSession::request(const QUrl& url) const {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMostRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Bodies arrive as sent, so their length can be checked against Content-Length.
    request.setRawHeader("Accept-Encoding", "identity");
    if (!m_extraCas.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(m_extraCas);
        request.setSslConfiguration(tls);
    }
    return request;
}

bool HttpSession::isVendorUrl(const QUrl& url) const {
    const auto defaultPort = [](const QUrl& u) {
        return u.port(u.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
    };
    return url.isValid() && url.scheme().compare(m_baseUrl.scheme(), Qt::CaseInsensitive) == 0 &&
           url.host().compare(m_baseUrl.host(), Qt::CaseInsensitive) == 0 &&
           defaultPort(url) == defaultPort(m_baseUrl) && url.userInfo().isEmpty();
}

void HttpSession::addCaCertificates(const QList<QSslCertificate>& certificates) {
    m_extraCas += certificates;
}

HttpSession::Fetch HttpSession::getSmall(const QUrl& url, int totalMs, qint64 cap) {
    Fetch result;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    bool timedOut = false;
    QNetworkReply* reply = nullptr;
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    deadline.start(totalMs);
    QUrl target = url;
    bool badRedirect = false;
    for (int hop = 0;; ++hop) {
        QNetworkRequest req = request(target);
        req.setTransferTimeout(totalMs);
        reply = m_network->get(req);
        reply->setReadBufferSize(cap + 1);
        result.body.clear();
        result.truncated = false;
        const QMetaObject::Connection reading =
            QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
                result.body += reply->read(cap - result.body.size() + 1);
                if (result.body.size() > cap) {
                    result.body.truncate(cap);
                    result.truncated = true;
                    reply->abort();
                }
            });
        const QMetaObject::Connection done =
            QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        QObject::disconnect(reading);
        QObject::disconnect(done);
        if (timedOut)
            break;
        const QUrl next = redirectTarget(*reply, &badRedirect);
        if (badRedirect || next.isEmpty())
            break;
        if (hop == kMostRedirects) {
            badRedirect = true;
            break;
        }
        reply->deleteLater();
        target = next;
    }
    deadline.stop();

    if (!result.truncated && reply->bytesAvailable() > 0)
        result.body += reply->read(cap - result.body.size() + 1);
    if (result.body.size() > cap) {
        result.body.truncate(cap);
        result.truncated = true;
    }
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error =
        badRedirect ? QNetworkReply::TooManyRedirectsError : reply->error();
    result.error = error;
    // An HTTP error status still brings a body (an error page), which callers judge.
    const bool httpLevelError = isStatusError(error) && result.status != 0;
    // Small files are sent whole, with their length or up to the end of the connection. A
    // chunked one is refused: the decoder underneath takes a malformed chunk size ("-10")
    // without complaint and hands over whatever follows it as the body.
    const bool chunked = reply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
    // Nothing asks for a part of a small file: a 206 is never the whole of it.
    const bool part = result.status == 206;
    result.ok = !timedOut && !badRedirect && !chunked && !part &&
                (result.truncated || ((error == QNetworkReply::NoError || httpLevelError) &&
                                      isComplete(*reply, result.body.size())));
    if (!result.ok) {
        qCDebug(lcUpdate) << "GET" << target.toDisplayString() << "failed:" << (timedOut ? "time limit" : "")
                          << error << reply->errorString() << "status" << result.status << "length"
                          << reply->rawHeader("Content-Length") << "received" << result.body.size();
        result.body.clear();
    }
    reply->deleteLater();
    return result;
}

QUrl HttpSession::redirectTarget(const QNetworkReply& reply, bool* refused) {
    *refused = false;
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
        return {};
    const QByteArray location = reply.rawHeader("Location");
    const QUrl next = reply.url().resolved(QUrl::fromEncoded(location.trimmed()));
    const QString scheme = next.scheme().toLower();
    const bool fromHttps = reply.url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    if (location.trimmed().isEmpty() || !next.isValid() || next.host().isEmpty() ||
        (scheme != QLatin1String("https") && (scheme != QLatin1String("http") || fromHttps))) {
        qCDebug(lcUpdate) << "refusing a redirect from" << reply.url().toDisplayString() << "to" << location;
        *refused = true;
        return {};
    }
    return next;
}

bool HttpSession::isStatusError(QNetworkReply::NetworkError error) {
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
           (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

qint64 HttpSession::announcedLength(const QNetworkReply& reply) {
    if (!reply.hasRawHeader("Content-Length"))
        return -1;
    // Qt joins repeated headers with ", ", and drops a value it cannot read: both would
    // otherwise pass for "no length announced".
    const qint64 length = strictDigits(reply.rawHeader("Content-Length").trimmed());
    return length < 0 ? -2 : length;
}

qint64 HttpSession::strictDigits(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 18)
        return -1;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
    }
    return text.toLongLong();
}

bool HttpSession::isComplete(const QNetworkReply& reply, qint64 received) {
    const qint64 length = announcedLength(reply);
    return length == -1 || length == received;
}

bool HttpSession::isConnectionError(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::UnknownProxyError:
        return true;
    default:
        return false;
    }
}

QString HttpSession::connectionProblem(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
        return QStringLiteral("il server ha rifiutato la connessione");
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyNotFoundError:
        return QStringLiteral("il server non è stato trovato");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::ProxyTimeoutError:
        return QStringLiteral("il server non ha più risposto");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("non è stato possibile stabilire una connessione sicura con il server");
    default:
        return QStringLiteral("la connessione si è interrotta");
    }
}
