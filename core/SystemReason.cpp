#include "core/SystemReason.h"

#include <cerrno>

namespace SystemReason {

QString text(int errnoValue) {
    switch (errnoValue) {
    case EACCES:
    case EPERM:
        return QStringLiteral("permesso negato");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("spazio esaurito sul disco");
    case ENOENT:
        return QStringLiteral("file o cartella inesistente");
    case ENOTDIR:
        return QStringLiteral("una parte del percorso non è una cartella");
    case EISDIR:
        return QStringLiteral("il percorso indica una cartella");
    case EROFS:
        return QStringLiteral("file system in sola lettura");
    case EFBIG:
        return QStringLiteral("file troppo grande");
    case ENAMETOOLONG:
        return QStringLiteral("nome del file troppo lungo");
    case EEXIST:
        return QStringLiteral("il file esiste già");
    case EIO:
        return QStringLiteral("errore di lettura o scrittura sul dispositivo");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("troppi file aperti");
    case ENOMEM:
        return QStringLiteral("memoria insufficiente");
    case ETXTBSY:
    case EBUSY:
        return QStringLiteral("file in uso");
    case ELOOP:
        return QStringLiteral("troppi collegamenti simbolici nel percorso");
    case EXDEV:
        return QStringLiteral("il file è su un altro disco");
    case 0:
        return QStringLiteral("errore sconosciuto");
    default:
        return QStringLiteral("errore di sistema %1").arg(errnoValue);
    }
}

QString current() {
    return text(errno);
}

} // namespace SystemReason
