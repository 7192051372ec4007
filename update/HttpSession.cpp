#include "update/HttpSession.h"

#include "env/modulo1.h"
#include "version.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

HttpSession::HttpSession(const QUrl& baseUrl, QObject* parent)
    : QObject(parent), m_baseUrl(baseUrl), m_network(new QNetworkAccessManager(this)),
      m_jar(new QNetworkCookieJar(this)) {
    m_network->setCookieJar(m_jar);
    m_jar->setParent(this); // setCookieJar takes ownership; keep it ours for a clear lifetime
    m_network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
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
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(10);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Bodies arrive as sent, so their length can be checked against Content-Length.
    request.setRawHeader("Accept-Encoding", "identity");
    return request;
}

HttpSession::Fetch HttpSession::getSmall(const QUrl& url, int totalMs, qint64 cap) {
    Fetch result;
    QNetworkRequest req = request(url);
    req.setTransferTimeout(totalMs);
    QNetworkReply* reply = m_network->get(req);
    reply->setReadBufferSize(cap + 1);

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    bool timedOut = false;
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        result.body += reply->read(cap - result.body.size() + 1);
        if (result.body.size() > cap) {
            result.body.truncate(cap);
            result.truncated = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(totalMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    deadline.stop();

    if (!result.truncated && reply->bytesAvailable() > 0)
        result.body += reply->read(cap - result.body.size() + 1);
    if (result.body.size() > cap) {
        result.body.truncate(cap);
        result.truncated = true;
    }
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    // An HTTP error status still brings a body (an error page), which callers judge.
    const bool httpLevelError = isStatusError(error) && result.status != 0;
    result.ok = !timedOut && (result.truncated || ((error == QNetworkReply::NoError || httpLevelError) &&
                                                   isComplete(*reply, result.body.size())));
    if (!result.ok)
        result.body.clear();
    reply->deleteLater();
    return result;
}

bool HttpSession::isStatusError(QNetworkReply::NetworkError error) {
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
           (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

bool HttpSession::isComplete(const QNetworkReply& reply, qint64 received) {
    const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
    return !length.isValid() || length.toLongLong() == received;
}
