#pragma once

#include "update/LoginReply.h"
#include "update/UpdateAccount.h"

#include <QByteArray>
#include <QString>

// The update window's state and the decisions of its login, without any widget: the
// installation's account, what each answer of the vendor's server means, the size the
// server announced for the updater, the operator's stop, and the signature the updater was
// verified with. The window shows what this decides; the tests drive it directly.
class UpdateProcedure {
  public:
    // Reads the installation's account and code. A password others can read is not used:
    // the account is left blank and the login says why.
    void readAccount();
    const UpdateAccount& account() const { return m_account; }
    const QString& installationCode() const { return m_installationCode; }

    // What keeps a login from starting, said in the window; empty when it may start.
    // Nothing is sent, the password least of all, when no updater could be verified.
    QString loginBlocked(bool canVerify, const QString& noKeyText) const;
    // A new login starts clean: a size from an earlier reply must not judge this download.
    void beginLogin();
    // The first page's body: empty when it is the vendor's login form, else what to say.
    static QString loginPageProblem(const QString& html);

    // What the server's answer to the credentials means for the window.
    struct Answer {
        QString problem; // non-empty: the answer could not be read; said in the response panel
        bool authorised = false;
        QString personalMessage;
    };
    // Takes the body text of the answer; an authorised one with a size sets expectedSize().
    Answer loginAnswered(const QString& bodyText);
    // Bytes as decimal digits; empty until a login reply gives a size.
    const QString& expectedSize() const { return m_expectedSize; }
    // The announced size for the download, or -1 when none was announced.
    qint64 expectedBytes() const;

    // The operator stopped the login or the download ("ANNULLA", or the window closed).
    bool cancelled() const { return m_cancelled; }
    void cancel() { m_cancelled = true; }

    // The signature the downloaded updater was verified with; checked again before it starts.
    const QByteArray& signature() const { return m_signature; }
    void setSignature(const QByteArray& signature) { m_signature = signature; }

  private:
    UpdateAccount m_account;
    QString m_installationCode;
    QString m_expectedSize;
    bool m_cancelled = false;
    QByteArray m_signature;
};
