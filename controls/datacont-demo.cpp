// A small window for trying the date control by hand: type a date, then leave the box with
// Tab or a click on the other field or the button.
#include "controls/datacont.h"
#include "env/Prompts.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Vetra - prova data"));
    installItalianTranslations();

    QWidget window;
    auto* form = new QFormLayout(&window);
    auto* date = new datacont(&window);
    auto* other = new QLineEdit(&window);
    auto* confirm = new QPushButton(QStringLiteral("Conferma"), &window);
    auto* shown = new QLabel(&window);
    form->addRow(QStringLiteral("Data:"), date);
    form->addRow(QStringLiteral("Altro campo:"), other);
    form->addRow(confirm);
    form->addRow(QStringLiteral("Data confermata:"), shown);

    QObject::connect(confirm, &QPushButton::clicked, shown, [date, shown] { shown->setText(date->text()); });

    window.show();
    window.activateWindow();
    return QApplication::exec();
}
