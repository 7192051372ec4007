#include "app/Prompts.h"
#include "app/frmSplash.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vetra"));
    QApplication::setOrganizationName(QStringLiteral("Orvanta"));
    installItalianTranslations();

    QtPrompts prompts;
    frmSplash splash(prompts);
    if (!splash.Form_Load())
        return 0;
    splash.show();
    return QApplication::exec();
}
