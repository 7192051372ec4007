#include "acquire/SaneSourceManager.h"
#include "app/frmSplash.h"
#include "env/Artwork.h"
#include "env/Prompts.h"
#include "env/Settings.h"
#include "locate/Locator.h"
#include "update/HttpSession.h"
#include "workspace/frmScanner.h"

#include <QApplication>
#include <QThreadPool>

#include <cstdlib>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QLatin1String(Settings::kApplication));
    QApplication::setOrganizationName(QLatin1String(Settings::kOrganisation));
    // Every window's title bar and the task bar show the program's icon; the desktop file
    // name lets the desktop match the windows to the menu entry.
    QApplication::setWindowIcon(Artwork::programIcon());
    QGuiApplication::setDesktopFileName(QLatin1String(Artwork::kProgramId));
    installItalianTranslations();

    QtPrompts prompts;
    // One HTTP session (one cookie jar) for the version check, the login and the download.
    HttpSession session(HttpSession::defaultBaseUrl());
    frmSplash splash(prompts);
    splash.setHttpSession(&session);
    if (!splash.Form_Load())
        return 0;
    splash.show();
    // The locator's face detector and OCR model, built while the operator logs in and loads a
    // page, so that the first page's frames come as soon as the later ones'; not at all when
    // the office has switched automatic framing off (about 0.1 s of processor time and the
    // models' memory for nothing).
    if (frmScanner::autoFrameEnabled(QString()))
        QThreadPool::globalInstance()->start([] {
            Locator::preloadLabels();
            Locator::preload();
        });
    const int code = QApplication::exec();
    // A scanner session whose end never came back (a backend hung in sane_exit, holding the
    // program loader's lock) would hang the ordinary exit too, in the unloading of libraries,
    // and this instance would keep its single-instance lock: the operator could not start the
    // program again. Everything is saved by now; the next start takes the lock over.
    if (SaneSourceManager::instance().teardownStalled())
        std::_Exit(code);
    return code;
}
