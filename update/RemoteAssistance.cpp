#include "update/RemoteAssistance.h"

#include "env/Prompts.h"
#include "env/modulo1.h"
#include "update/UpdateFiles.h"

#include <QDir>

#include <QProcess>

namespace RemoteAssistance {

QString programPath() {
    return modulo1::DataFolder() + QLatin1String(kProgramName);
}

void launch(Prompts& prompts, const Hooks& hooks) {
    prompts.message(modulo1::DataFolder());

    const bool connected = hooks.isConnected ? hooks.isConnected() : modulo1::IsInternetConnected();
    if (!connected) {
        prompts.message(
            QStringLiteral("Connessione Internet assente, impossibile avviare la TeleAssistenza."));
        return;
    }

    const QString program = programPath();
    if (!modulo1::FileExists(program)) {
        prompts.message(QStringLiteral("Il programma di TeleAssistenza non è stato trovato."));
        return;
    }
    // A program others could have replaced is not started.
    if (!UpdateFiles::isSafeProgram(program)) {
        prompts.message(
            QStringLiteral("Il programma di TeleAssistenza non è stato avviato: la cartella %1 o il "
                           "file %2 possono essere modificati da altri utenti del computer.\n"
                           "L'amministratore del sistema deve eseguire: chmod o-w %1 %2")
                .arg(QDir::toNativeSeparators(modulo1::DataFolder()), QDir::toNativeSeparators(program)));
        return;
    }
    const bool started = hooks.start ? hooks.start(program) : QProcess::startDetached(program, {});
    if (!started)
        prompts.message(QStringLiteral("Impossibile avviare il programma di TeleAssistenza."));
}

} // namespace RemoteAssistance
