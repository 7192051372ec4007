#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <memory>

class Prompts;
class QLineEdit;

// A reusable control for typing a date as day/month/year. It wraps one masked box, `datella`,
// and checks the date when the focus is about to leave the box: an empty box may be left; an
// invalid or half-typed date is refused with a message, the box is emptied and keeps the focus;
// a valid date is rewritten as dd/mm/yyyy.
//
// The box is yellow while it has the focus, with its whole text selected, and has the system's
// window colour otherwise.
//
// Each property passes straight through to the box. Setting one through its setter announces
// the change with PropertyChanged under the name the container knows it by ("Enabled", "Text",
// "BackColor"), so a container can persist it. The NOTIFY signals follow the value itself, so
// textChanged also fires while the operator types and BackColorChanged when the focus colours
// the box.
class datacont : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE setBoxEnabled NOTIFY EnabledChanged)
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(QColor BackColor READ BackColor WRITE setBackColor NOTIFY BackColorChanged)

  public:
    // The refusal message goes through the program's message boxes.
    explicit datacont(QWidget* parent = nullptr);
    // The refusal message goes through `prompts`, which must outlive the control.
    explicit datacont(Prompts& prompts, QWidget* parent = nullptr);
    ~datacont() override;

    // `prompts` must outlive the control.
    void setPrompts(Prompts& prompts);

    // The box's own enabled state (a disabled container disables it too, without changing this).
    bool Enabled() const;
    void setBoxEnabled(bool enabled);

    // The box's text as shown, with the mask's slashes and blank spaces: "  /  /    " when empty.
    QString text() const;
    void setText(const QString& text);

    // The box's background colour.
    QColor BackColor() const;
    void setBackColor(const QColor& color);

    QSize sizeHint() const override;

    // The masked box, for containers and tests that need to reach it.
    QLineEdit* datella() const;

    // The colours the box takes with and without the focus.
    static QColor focusColor();
    QColor windowColor() const;

  Q_SIGNALS:
    // A property was set through its setter: "Enabled", "Text" or "BackColor".
    void PropertyChanged(const QString& name);

    void EnabledChanged(bool enabled);
    void textChanged(const QString& text);
    void BackColorChanged(const QColor& color);

  private:
    class Box;

    void build();
    void datella_GotFocus();
    void datella_LostFocus();
    // Returns false when the box must keep the focus.
    bool datella_Validate(bool canKeepFocus);
    void applyBackColor(const QColor& color);

    std::unique_ptr<Prompts> m_ownPrompts; // the default message boxes, when none were handed in
    Prompts* m_prompts = nullptr;
    Box* m_datella = nullptr;
    bool m_validating = false; // the refusal message is open
};
