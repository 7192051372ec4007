#include "update/FormBrowser.h"

#include "update/HttpSession.h"
#include "update/Logging.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

FormBrowser::FormBrowser(HttpSession& session, QObject* parent)
    : QObject(parent), m_session(session), m_deadline(new QTimer(this)) {
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] { finish(true); });
}

FormBrowser::~FormBrowser() {
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

QNetworkRequest FormBrowser::pageRequest(const QUrl& url) const {
    QNetworkRequest request = m_session.request(url);
    request.setTransferTimeout(m_session.limits().pageTotalMs);
    // Each redirect is looked at first (see start()): the login stays on the vendor's server.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    return request;
}

void FormBrowser::navigate(const QUrl& url) {
    start(m_session.network().get(pageRequest(url)));
}

void FormBrowser::submitFirstForm() {
    auto submission = m_page.firstFormSubmission();
    if (submission && !m_session.isVendorUrl(submission->url)) {
        // The account goes to the vendor's own server or nowhere.
        qCDebug(lcUpdate) << "form: refusing to submit to" << submission->url.toDisplayString();
        submission.reset();
    }
    if (!submission) {
        if (m_reply)
            finish(true);
        m_page = HtmlPage({}, m_page.url());
        Q_EMIT documentComplete();
        return;
    }
    QNetworkRequest request = pageRequest(submission->url);
    request.setRawHeader("Referer", m_page.url().toEncoded(QUrl::RemoveFragment | QUrl::RemoveUserInfo));
    if (submission->method == "POST") {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/x-www-form-urlencoded"));
        start(m_session.network().post(request, submission->body));
    } else {
        start(m_session.network().get(request));
    }
}

void FormBrowser::stop() {
    if (m_reply)
        finish(true);
}

void FormBrowser::start(QNetworkReply* reply) {
    if (m_reply) {
        // A new load replaces the running one without a completion of its own.
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
    m_reply = reply;
    m_body.clear();
    m_truncated = false;
    const qint64 cap = m_session.limits().pageBodyCap;
    reply->setReadBufferSize(cap + 1);
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this](qint64 received, qint64 total) { Q_EMIT progressChange(received, total); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, cap] {
        if (m_truncated)
            return;
        m_body += reply->read(cap - m_body.size() + 1);
        if (m_body.size() > cap) {
            // Past what a login page can sensibly be: keep the head and stop reading.
            m_body.truncate(cap);
            m_truncated = true;
            finish(false);
        }
    });
    connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl& target) {
        if (m_session.isVendorUrl(target)) {
            Q_EMIT reply->redirectAllowed();
            return;
        }
        qCDebug(lcUpdate) << "page: refusing a redirect to" << target.toDisplayString();
        finish(true);
    });
    connect(reply, &QNetworkReply::finished, this, [this] { finish(false); });
    m_deadline->start(m_session.limits().pageTotalMs);
}

void FormBrowser::finish(bool failed) {
    m_deadline->stop();
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;
    reply->disconnect(this);
    if (!reply->isFinished())
        reply->abort();
    if (!m_truncated && !failed)
        m_body += reply->read(m_session.limits().pageBodyCap - m_body.size());

    const QNetworkReply::NetworkError error = reply->error();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // An error status still brings a page (the server's error page); a broken or
    // timed-out connection brings none.
    const bool gotPage = !failed && (m_truncated || ((error == QNetworkReply::NoError ||
                                                      (HttpSession::isStatusError(error) && status != 0)) &&
                                                     HttpSession::isComplete(*reply, m_body.size())));
    if (!gotPage)
        qCDebug(lcUpdate) << "page" << reply->url().toDisplayString() << "failed:" << error
                          << reply->errorString() << "status" << status << "length"
                          << reply->rawHeader("Content-Length") << "received" << m_body.size();
    const QUrl url = reply->url();
    const QByteArray contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    reply->deleteLater();

    m_page = gotPage ? HtmlPage(m_body, url, contentType) : HtmlPage({}, url);
    m_body.clear();
    Q_EMIT progressChange(-1, 0);
    Q_EMIT documentComplete();
}
