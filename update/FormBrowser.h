#pragma once

#include "update/HtmlPage.h"

#include <QObject>
#include <QPointer>

class HttpSession;
class QNetworkReply;
class QNetworkRequest;
class QTimer;

// A browser without a screen, for the update login: loads a page through the program's
// HTTP session (cookies kept, redirects followed), reports progress and "document
// complete", and submits the page's first form as a browser would.
//
// Every load ends with documentComplete(), also when it fails or runs past the
// session's page time limit; the page is then empty. Pages are loaded, forms submitted
// and redirects followed only on the vendor's own scheme, host and port: anything else
// ends the load with an empty page, before a byte is sent there.
class FormBrowser : public QObject {
    Q_OBJECT
  public:
    explicit FormBrowser(HttpSession& session, QObject* parent = nullptr);
    ~FormBrowser() override;

    // Starts loading url; any load still running is dropped first.
    void navigate(const QUrl& url);

    // Starts submitting the current page's first form. Without a form the load ends at
    // once with an empty page (documentComplete is emitted before this returns).
    void submitFirstForm();

    // Ends the running load now (documentComplete follows with an empty page).
    void stop();

    bool isLoading() const { return m_reply != nullptr; }

    HtmlPage& page() { return m_page; }
    const HtmlPage& page() const { return m_page; }

  Q_SIGNALS:
    // progress of maximum bytes; progress -1 once the page is complete.
    void progressChange(qint64 progress, qint64 maximum);
    void documentComplete();

  private:
    QNetworkRequest pageRequest(const QUrl& url) const;
    void start(QNetworkReply* reply);
    void finish(bool failed);

    HttpSession& m_session;
    HtmlPage m_page;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    bool m_truncated = false;
    QTimer* m_deadline = nullptr;
};
