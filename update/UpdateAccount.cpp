#include "update/UpdateAccount.h"

#include "app/modulo1.h"

#include <QSettings>

UpdateAccount UpdateAccount::read() {
    UpdateAccount account;
    const QString file = modulo1::InstallationFile();
    if (!modulo1::FileExists(file))
        return account;
    const QSettings settings(file, QSettings::IniFormat);
    account.name = settings.value(QStringLiteral("Account/Utente")).toString();
    account.password = settings.value(QStringLiteral("Account/Password")).toString();
    return account;
}

bool UpdateAccount::isBlank() const {
    return name.trimmed().isEmpty() || password.trimmed().isEmpty();
}
