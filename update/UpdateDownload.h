#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class HttpSession;
class QNetworkReply;

// The download of the updater through the program's HTTP session (so the login's
// session cookie goes with it). The body is moved in pieces of at most 1024 bytes into a
// temporary file beside the destination, which replaces the destination only when the
// whole body has arrived, is not larger than allowed, and is on disk to its last byte;
// every other end removes it and leaves an earlier file at the destination as it was.
// The file is left readable by its owner and group and never runnable: whether it may
// run is decided after its signature is checked.
class UpdateDownload : public QObject {
    Q_OBJECT
  public:
    enum class Outcome {
        Accepted,         // the destination now holds the whole body (mode 0640)
        TooLarge,         // more bytes than allowed (or no size to judge by): nothing kept
        Failed,           // a reply that is not the whole updater: an error status, a part that
                          // does not start at byte 0, a malformed length, redirects in circles
        ConnectionFailed, // refused, reset, or silent too long: errorString() says which
        WriteFailed,      // the file could not be written (folder, disk full): errorString() says why
        Cancelled,        // cancel() was called: nothing kept
    };

    static constexpr qint64 kPieceSize = 1024;
    // With no expected size the body is judged unacceptable anyway; this bounds how much is fetched.
    static constexpr qint64 kUnsizedCap = 512LL * 1024 * 1024;

    explicit UpdateDownload(HttpSession& session, QObject* parent = nullptr);
    ~UpdateDownload() override;

    // Runs the transfer to its end in a local event loop (window events keep flowing).
    // expectedSize: the largest acceptable size in bytes, or -1 when unknown (progress is
    // then not reported and the result is TooLarge). An existing destination is removed
    // first, so no stale file outlives a new attempt.
    Outcome run(const QUrl& url, const QString& destination, qint64 expectedSize);

    // Stops the running transfer at once; run() then returns Cancelled.
    void cancel();

    bool isRunning() const { return m_running; }
    qint64 received() const { return m_received; }
    // In Italian: the system's reason for the last WriteFailed, what happened to the
    // connection for the last ConnectionFailed; empty otherwise.
    QString errorString() const { return m_errorString; }

    // Whether a 206 reply's Content-Range ("bytes 0-N/T") covers the whole file from its
    // first byte: N + 1 == T, and T is the body's length when received is given.
    static bool isWholeRange(const QByteArray& contentRange, qint64 received = -1);

    // The request header sent with the download: the whole file from its first byte.
    static QByteArray rangeHeader(qint64 alreadyReceived) {
        return "bytes=" + QByteArray::number(alreadyReceived) + '-';
    }

  Q_SIGNALS:
    // Received / expected x 100, rounded half to even, after each piece.
    void progress(int percent);

  private:
    HttpSession& m_session;
    QPointer<QNetworkReply> m_reply;
    bool m_running = false;
    bool m_cancelled = false;
    qint64 m_received = 0;
    QString m_errorString;
};
