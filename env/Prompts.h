#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

// Every message box and file dialog of the program goes through one Prompts object,
// handed to each window when it is built. The program uses QtPrompts; tests hand in a
// scripted fake that records the texts and gives the answers a test asks for.
class Prompts {
  public:
    enum class Buttons { Ok, YesNo, OkCancel };
    enum class Answer { Ok, Cancel, Yes, No };

    // What a file dialog is asked to show. Filters are "Label (*.ext *.ext)" entries
    // in the order the operator sees them; filterIndex is 1-based, like the dialog's.
    struct FileRequest {
        QString title;
        QStringList filters;
        int filterIndex = 1;
        QString defaultSuffix; // appended when the operator types a name without one
        QString fileName;      // initial name (may include a folder)
        bool confirmOverwrite = true;
    };

    virtual ~Prompts();

    // A message box with no icon, the program's title and the given buttons.
    virtual Answer message(const QString& text, Buttons buttons = Buttons::Ok) = 0;

    // Empty optional when the operator cancels.
    virtual std::optional<QString> openFile(const FileRequest& request) = 0;
    virtual std::optional<QString> saveFile(const FileRequest& request) = 0;
};

// The real dialogs. Message boxes carry the application's display name as title.
class QtPrompts final : public Prompts {
  public:
    Answer message(const QString& text, Buttons buttons = Buttons::Ok) override;
    std::optional<QString> openFile(const FileRequest& request) override;
    std::optional<QString> saveFile(const FileRequest& request) override;

    // The title every message box carries.
    static QString title();

    // A filter as the program writes it, "Label (*.jpg;*.jpeg)", in the form Qt's dialog
    // reads: patterns separated by blanks, "*.*" as "*".
    static QString qtNameFilter(const QString& filter);
};

// Loads Qt's own Italian texts ("Annulla", "Sì", "Apri", ...) into the application,
// whatever the system's locale. Returns false when the translation files are missing.
bool installItalianTranslations();
