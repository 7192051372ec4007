#include "update/UpdateDownload.h"

#include "update/HttpSession.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <cmath>

UpdateDownload::UpdateDownload(HttpSession& session, QObject* parent) : QObject(parent), m_session(session) {}

UpdateDownload::~UpdateDownload() {
    cancel();
}

UpdateDownload::Outcome UpdateDownload::run(const QUrl& url, const QString& destination,
                                            qint64 expectedSize) {
    m_cancelled = false;
    m_received = 0;
    m_errorString.clear();
    // A link there (dangling ones included, which exists() does not see) goes too: the
    // save file would otherwise write the updater wherever the link points.
    if (QFile::exists(destination) || QFileInfo(destination).isSymLink())
        QFile::remove(destination);

    QSaveFile file(destination);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        m_errorString = file.errorString();
        return Outcome::WriteFailed;
    }

    QNetworkRequest request = m_session.request(url);
    request.setRawHeader("Range", rangeHeader(m_received));
    request.setTransferTimeout(m_session.limits().transferSilenceMs);
    QNetworkReply* reply = m_session.network().get(request);
    reply->setReadBufferSize(64 * 1024);
    m_reply = reply;
    m_running = true;

    const qint64 limit = expectedSize >= 0 ? expectedSize : kUnsizedCap;
    bool tooLarge = false;
    bool writeFailed = false;
    bool badStatus = false;
    QEventLoop loop;

    auto takePieces = [&] {
        if (!badStatus) {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            // 200 for the whole file, 206 for the range asked (from byte 0). Anything else
            // is a page about an error, never the updater.
            badStatus = status != 200 && status != 206;
        }
        if (badStatus) {
            // Not aborted here: the reply is still reporting its own error status.
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
            return;
        }
        while (!m_cancelled && reply->bytesAvailable() > 0) {
            const QByteArray piece = reply->read(kPieceSize);
            if (file.write(piece) != piece.size()) {
                writeFailed = true;
                m_errorString = file.errorString();
                reply->abort();
                return;
            }
            m_received += piece.size();
            if (expectedSize > 0) {
                const double percent =
                    static_cast<double>(m_received) / static_cast<double>(expectedSize) * 100.0;
                Q_EMIT progress(static_cast<int>(std::nearbyint(std::min(percent, 1000.0))));
            }
            if (m_received > limit) {
                tooLarge = true;
                reply->abort();
                return;
            }
        }
    };
    connect(reply, &QNetworkReply::readyRead, &loop, takePieces);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (!m_cancelled && !tooLarge && !writeFailed && !badStatus && reply->error() == QNetworkReply::NoError)
        takePieces();

    QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::NoError && !HttpSession::isComplete(*reply, m_received))
        error = QNetworkReply::RemoteHostClosedError;
    m_running = false;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->deleteLater();

    Outcome outcome = Outcome::Accepted;
    if (m_cancelled)
        outcome = Outcome::Cancelled;
    else if (tooLarge || (expectedSize < 0 && !writeFailed && !badStatus && error == QNetworkReply::NoError))
        outcome = Outcome::TooLarge;
    else if (writeFailed)
        outcome = Outcome::WriteFailed;
    else if (badStatus || error != QNetworkReply::NoError)
        outcome = Outcome::Failed;

    if (outcome != Outcome::Accepted) {
        file.cancelWriting(); // the temporary file goes with the QSaveFile
        return outcome;
    }
    if (!file.commit()) {
        // A full disk often shows only here, when the last buffered bytes go out.
        m_errorString = file.errorString();
        return Outcome::WriteFailed;
    }
    // The updater is started as a program: its owner must be able to run it.
    QFile::setPermissions(destination,
                          QFile::permissions(destination) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return Outcome::Accepted;
}

void UpdateDownload::cancel() {
    m_cancelled = true;
    if (m_reply)
        m_reply->abort();
}
