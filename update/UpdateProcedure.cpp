#include "update/UpdateProcedure.h"

#include "env/modulo1.h"
#include "update/UpdateFiles.h"

void UpdateProcedure::readAccount() {
    m_cancelled = false;
    const bool exposed = !UpdateFiles::installationFileProblem(modulo1::InstallationFile()).isEmpty();
    m_account = exposed ? UpdateAccount{} : UpdateAccount::read();
    m_installationCode = modulo1::InstallationCode();
}

QString UpdateProcedure::loginBlocked(bool canVerify, const QString& noKeyText) const {
    if (!canVerify)
        return noKeyText;
    const QString exposed = UpdateFiles::installationFileProblem(modulo1::InstallationFile());
    if (!exposed.isEmpty())
        return exposed;
    if (m_account.isBlank())
        return QStringLiteral(
            "Alcuni file di Vetra risultano mancanti. Impossibile procedere con l'aggiornamento.");
    return QString();
}

void UpdateProcedure::beginLogin() {
    m_cancelled = false;
    m_expectedSize.clear();
}

QString UpdateProcedure::loginPageProblem(const QString& html) {
    if (html.contains(QLatin1String(LoginPage::kMarker)))
        return QString();
    return QStringLiteral("Non è stato possibile accedere al server di Orvanta. Riprovare più tardi o "
                          "contattare l'assistenza.");
}

UpdateProcedure::Answer UpdateProcedure::loginAnswered(const QString& bodyText) {
    Answer answer;
    if (bodyText.isEmpty()) {
        answer.problem =
            QStringLiteral("La verifica dei dati di accesso non è riuscita. Riprovare; se il problema "
                           "persiste contattare l'assistenza di Orvanta.");
        return answer;
    }
    const LoginReply reply = LoginReply::parse(bodyText);
    answer.authorised = reply.authorised;
    answer.personalMessage = reply.personalMessage;
    if (reply.authorised && reply.expectedSize)
        m_expectedSize = QString::number(*reply.expectedSize);
    return answer;
}

qint64 UpdateProcedure::expectedBytes() const {
    bool sized = false;
    const qint64 expected = m_expectedSize.toLongLong(&sized);
    return sized ? expected : -1;
}
