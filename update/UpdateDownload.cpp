#include "update/UpdateDownload.h"

#include "core/SystemReason.h"
#include "update/HttpSession.h"
#include "update/Logging.h"
#include "update/UpdateFiles.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <cerrno>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

UpdateDownload::UpdateDownload(HttpSession& session, QObject* parent) : QObject(parent), m_session(session) {}

UpdateDownload::~UpdateDownload() {
    cancel();
}

bool UpdateDownload::isWholeRange(const QByteArray& contentRange, qint64 received) {
    const QByteArray text = contentRange.trimmed();
    if (!text.startsWith("bytes "))
        return false;
    const qsizetype dash = text.indexOf('-');
    const qsizetype slash = text.indexOf('/');
    if (dash < 0 || slash < dash)
        return false;
    const qint64 first = HttpSession::strictDigits(text.mid(6, dash - 6));
    const qint64 last = HttpSession::strictDigits(text.mid(dash + 1, slash - dash - 1));
    const qint64 total = HttpSession::strictDigits(text.mid(slash + 1));
    return first == 0 && last >= 0 && total > 0 && last + 1 == total && (received < 0 || received == total);
}

UpdateDownload::Outcome UpdateDownload::run(const QUrl& url, const QString& destination,
                                            qint64 expectedSize) {
    m_cancelled = false;
    m_received = 0;
    m_errorString.clear();
    // A link there (dangling ones included, which exists() does not see) goes: the save
    // file would otherwise write the updater wherever the link points. An earlier file
    // of our own stays until the new one replaces it whole.
    // One we may not write (another operator's, in the shared folder) goes too: the
    // save file refuses to replace a file it could not write in place.
    const QFileInfo existing(destination);
    if (existing.isSymLink() || (existing.exists() && !existing.isWritable()))
        QFile::remove(destination);

    QSaveFile file(destination);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        m_errorString = SystemReason::current();
        qCDebug(lcUpdate) << "cannot create the updater" << destination << file.errorString();
        return Outcome::WriteFailed;
    }

    const qint64 limit = expectedSize >= 0 ? expectedSize : kUnsizedCap;
    bool tooLarge = false;
    bool writeFailed = false;
    bool badReply = false;
    bool judged = false;
    QNetworkReply* reply = nullptr;
    QUrl target = url;
    QUrl next; // where the current reply redirects to

    // 200 for the whole file, 206 only for a part that is the whole file from byte 0.
    // Anything else is a page about an error, or a piece of the file, never the updater;
    // a redirect is followed with a request of its own (HttpSession::redirectTarget).
    auto judgeHead = [&] {
        if (judged)
            return;
        judged = true;
        bool refused = false;
        next = HttpSession::redirectTarget(*reply, &refused);
        if (!next.isEmpty())
            return;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        badReply = refused ||
                   !(status == 200 || (status == 206 && isWholeRange(reply->rawHeader("Content-Range")))) ||
                   HttpSession::announcedLength(*reply) == -2;
        if (badReply)
            qCDebug(lcUpdate) << "download: not the updater: status" << status << "Content-Range"
                              << reply->rawHeader("Content-Range") << "Content-Length"
                              << reply->rawHeader("Content-Length") << "Location"
                              << reply->rawHeader("Location");
    };
    auto takePieces = [&] {
        judgeHead();
        if (badReply || !next.isEmpty()) {
            // Not aborted here: the reply is still reporting its own status. A redirect's
            // own body is nothing of ours.
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
            return;
        }
        while (!m_cancelled && reply->bytesAvailable() > 0) {
            const QByteArray piece = reply->read(kPieceSize);
            if (file.write(piece) != piece.size()) {
                writeFailed = true;
                m_errorString = SystemReason::current();
                qCDebug(lcUpdate) << "download: write failed" << file.errorString();
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

    for (int hop = 0;; ++hop) {
        QNetworkRequest request = m_session.request(target);
        request.setRawHeader("Range", rangeHeader(m_received));
        request.setTransferTimeout(m_session.limits().transferSilenceMs);
        reply = m_session.network().get(request);
        reply->setReadBufferSize(64 * 1024);
        m_reply = reply;
        m_running = true;
        judged = false;
        next.clear();
        QEventLoop loop;
        connect(reply, &QNetworkReply::readyRead, &loop, takePieces);
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        if (!m_cancelled && !judged &&
            reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 0)
            judgeHead();
        if (m_cancelled || next.isEmpty())
            break;
        if (hop == HttpSession::kMostRedirects) {
            qCDebug(lcUpdate) << "download: more than" << HttpSession::kMostRedirects << "redirects";
            badReply = true;
            break;
        }
        reply->disconnect(this);
        reply->deleteLater();
        target = next;
    }
    if (!m_cancelled && !tooLarge && !writeFailed && !badReply && reply->error() == QNetworkReply::NoError)
        takePieces();

    QNetworkReply::NetworkError error = reply->error();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    bool connectionLost = HttpSession::isConnectionError(error);
    if (error == QNetworkReply::NoError && !badReply && !tooLarge && !writeFailed) {
        // A reply that ends without an error of its own must still be a whole answer: a
        // status line (an empty body never goes through judgeHead) and every byte announced.
        if (status == 0) {
            connectionLost = true;
        } else {
            judgeHead();
            if (!badReply && !HttpSession::isComplete(*reply, m_received))
                connectionLost = true;
            if (!badReply && status == 206 && !isWholeRange(reply->rawHeader("Content-Range"), m_received))
                badReply = true;
        }
    }
    if (error != QNetworkReply::NoError || connectionLost)
        qCDebug(lcUpdate) << "download" << url.toDisplayString() << "ended with" << error
                          << reply->errorString() << "status" << status << "received" << m_received << "of"
                          << reply->rawHeader("Content-Length");
    m_running = false;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->deleteLater();

    Outcome outcome = Outcome::Accepted;
    if (m_cancelled)
        outcome = Outcome::Cancelled;
    else if (writeFailed)
        outcome = Outcome::WriteFailed;
    else if (tooLarge)
        outcome = Outcome::TooLarge;
    else if (badReply || (error != QNetworkReply::NoError && !connectionLost))
        outcome = Outcome::Failed;
    else if (connectionLost)
        outcome = Outcome::ConnectionFailed;
    else if (expectedSize < 0)
        outcome = Outcome::TooLarge;
    if (outcome == Outcome::ConnectionFailed)
        m_errorString = HttpSession::connectionProblem(
            error == QNetworkReply::NoError ? QNetworkReply::RemoteHostClosedError : error);

    if (outcome != Outcome::Accepted) {
        file.cancelWriting(); // the temporary file goes with the QSaveFile
        return outcome;
    }
    // Every byte must be on disk before the file takes the updater's name: a full disk
    // often shows only when the last buffered bytes go out, and commit() does not
    // always report that.
    errno = 0;
    struct stat written {};
    if (!file.flush() || ::fsync(file.handle()) != 0 || ::fstat(file.handle(), &written) != 0 ||
        written.st_size != m_received) {
        m_errorString = SystemReason::text(errno != 0 ? errno : ENOSPC);
        qCDebug(lcUpdate) << "download: the last bytes did not reach the disk:" << file.errorString()
                          << "errno" << errno << "size" << written.st_size << "of" << m_received;
        file.cancelWriting();
        return Outcome::WriteFailed;
    }
    // The mode is set on the temporary file's descriptor, before it takes the updater's
    // name: by path it would follow a link another operator put there meanwhile.
    UpdateFiles::makeInert(file.handle());
    if (!file.commit()) {
        m_errorString = SystemReason::current();
        qCDebug(lcUpdate) << "download: cannot put the updater in place" << file.errorString();
        return Outcome::WriteFailed;
    }
    const qint64 onDisk = QFileInfo(destination).size();
    if (onDisk != m_received) {
        qCDebug(lcUpdate) << "download: the updater holds" << onDisk << "bytes of" << m_received;
        QFile::remove(destination);
        m_errorString = SystemReason::text(ENOSPC);
        return Outcome::WriteFailed;
    }
    return Outcome::Accepted;
}

void UpdateDownload::cancel() {
    m_cancelled = true;
    if (m_reply)
        m_reply->abort();
}
