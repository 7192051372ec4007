#include "update/UpdateAccount.h"

#include "env/modulo1.h"

#include <QFile>

namespace {

// The value of key in [section], read as written: QSettings would split a password
// with commas into a list and lose it.
QString rawValue(const QByteArray& text, const QByteArray& section, const QByteArray& key) {
    bool inSection = false;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            inSection = line.mid(1, line.size() - 2).trimmed().compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inSection || equals <= 0 || line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) != 0)
            continue;
        QByteArray value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return QString::fromUtf8(value);
    }
    return {};
}

} // namespace

UpdateAccount UpdateAccount::read() {
    UpdateAccount account;
    QFile file(modulo1::InstallationFile());
    if (!modulo1::FileExists(file.fileName()) || !file.open(QIODevice::ReadOnly))
        return account;
    const QByteArray text = file.read(64 * 1024);
    account.name = rawValue(text, "Account", "Utente");
    account.password = rawValue(text, "Account", "Password");
    return account;
}

bool UpdateAccount::isBlank() const {
    return name.trimmed().isEmpty() || password.trimmed().isEmpty();
}
