#include "controls/datacont.h"

#include "controls/DateMask.h"
#include "env/Prompts.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPalette>
#include <QPointer>

namespace {

// Sizes of the control and its box, in pixels.
constexpr QSize kControlSize(125, 38);
constexpr QRect kBoxGeometry(0, 0, 105, 25);

// After a refused mouse click elsewhere the box keeps the focus, but the press that asked for
// the change is still on its way to the widget under the pointer. Eating that click (up to its
// release) keeps a button from acting as if the focus had left.
class RefusedClickFilter final : public QObject {
  public:
    RefusedClickFilter(QWidget* box, QObject* parent) : QObject(parent), m_box(box) {
        qApp->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease: {
            const bool inBox = watched == m_box;
            if (event->type() == QEvent::MouseButtonRelease) {
                qApp->removeEventFilter(this);
                deleteLater();
            }
            return !inBox;
        }
        default:
            return false;
        }
    }

  private:
    QPointer<QWidget> m_box;
};

} // namespace

// The masked box: tells its control when it gains the focus and when the focus is about to
// leave, and lets the control keep it there.
class datacont::Box final : public QLineEdit {
  public:
    explicit Box(datacont& owner) : QLineEdit(&owner), m_owner(owner) {}

  protected:
    void focusInEvent(QFocusEvent* event) override {
        QLineEdit::focusInEvent(event);
        // A click that brings the focus would place the caret and drop the selection.
        m_clickFocus = event->reason() == Qt::MouseFocusReason;
        m_owner.datella_GotFocus();
    }

    void focusOutEvent(QFocusEvent* event) override {
        const Qt::FocusReason reason = event->reason();
        // Another window, a popup or the menu bar taking the focus is not the operator leaving
        // the box: the focus comes back here afterwards.
        const bool leaving = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                             reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason ||
                             reason == Qt::OtherFocusReason;
        if (leaving && !m_owner.m_validating) {
            const QPointer<Box> self(this);
            const bool accepted = m_owner.datella_Validate(isEnabled() && isVisible());
            if (!self)
                return; // the control went away while its message was open
            if (!accepted) {
                if (reason == Qt::MouseFocusReason)
                    new RefusedClickFilter(this, &m_owner);
                return; // the box kept the focus: it never lost it as far as it knows
            }
        }
        m_clickFocus = false;
        QLineEdit::focusOutEvent(event);
        m_owner.datella_LostFocus();
    }

    void mousePressEvent(QMouseEvent* event) override {
        QLineEdit::mousePressEvent(event);
        if (m_clickFocus)
            selectAll();
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        if (!m_clickFocus)
            QLineEdit::mouseMoveEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        QLineEdit::mouseReleaseEvent(event);
        if (m_clickFocus) {
            selectAll();
            m_clickFocus = false;
        }
    }

  private:
    datacont& m_owner;
    bool m_clickFocus = false;
};

datacont::datacont(QWidget* parent)
    : QWidget(parent), m_ownPrompts(std::make_unique<QtPrompts>()), m_prompts(m_ownPrompts.get()) {
    build();
}

datacont::datacont(Prompts& prompts, QWidget* parent) : QWidget(parent), m_prompts(&prompts) {
    build();
}

void datacont::build() {
    resize(kControlSize);
    m_datella = new Box(*this);
    m_datella->setObjectName(QStringLiteral("datella"));
    m_datella->setGeometry(kBoxGeometry);
    QFont font(QStringLiteral("Liberation Serif"));
    font.setPointSize(10);
    m_datella->setFont(font);
    m_datella->setInputMask(DateMask::inputMask());
    m_datella->setText(QString());
    setFocusProxy(m_datella);
    connect(m_datella, &QLineEdit::textChanged, this, [this] { Q_EMIT textChanged(text()); });
}

datacont::~datacont() = default;

void datacont::setPrompts(Prompts& prompts) {
    m_prompts = &prompts;
    m_ownPrompts.reset();
}

bool datacont::Enabled() const {
    return m_datella->isEnabledTo(this);
}

void datacont::setBoxEnabled(bool enabled) {
    if (Enabled() == enabled)
        return;
    m_datella->setEnabled(enabled);
    Q_EMIT EnabledChanged(enabled);
    Q_EMIT PropertyChanged(QStringLiteral("Enabled"));
}

QString datacont::text() const {
    // text() of a masked box drops the blanks; the control shows and hands out the full mask.
    return m_datella->displayText();
}

void datacont::setText(const QString& text) {
    const QString before = this->text();
    m_datella->setText(text);
    if (this->text() != before)
        Q_EMIT PropertyChanged(QStringLiteral("Text"));
}

QColor datacont::BackColor() const {
    return m_datella->palette().color(QPalette::Base);
}

void datacont::setBackColor(const QColor& color) {
    if (!color.isValid() || color == BackColor())
        return;
    applyBackColor(color);
    Q_EMIT PropertyChanged(QStringLiteral("BackColor"));
}

QSize datacont::sizeHint() const {
    return kControlSize;
}

QLineEdit* datacont::datella() const {
    return m_datella;
}

QColor datacont::focusColor() {
    return QColor(255, 255, 0);
}

QColor datacont::windowColor() const {
    return QApplication::palette(m_datella).color(QPalette::Base);
}

void datacont::applyBackColor(const QColor& color) {
    if (m_datella->palette().color(QPalette::Base) == color)
        return;
    QPalette palette = m_datella->palette();
    palette.setColor(QPalette::Base, color);
    m_datella->setPalette(palette);
    Q_EMIT BackColorChanged(color);
}

void datacont::datella_GotFocus() {
    applyBackColor(focusColor());
    m_datella->setSelection(0, DateMask::kLength);
}

void datacont::datella_LostFocus() {
    applyBackColor(windowColor());
}

bool datacont::datella_Validate(bool canKeepFocus) {
    const QString shown = text();
    if (shown == DateMask::emptyText())
        return true;
    if (const auto date = DateMask::parse(shown)) {
        m_datella->setText(DateMask::format(*date));
        return true;
    }
    // A box that can no longer hold the focus (disabled or hidden meanwhile) cannot ask the
    // operator to try again; it still never keeps an invalid date.
    if (!canKeepFocus) {
        m_datella->setText(QString());
        return true;
    }
    m_validating = true;
    const QPointer<datacont> alive(this);
    m_prompts->message(QStringLiteral("La data inserita non è una data valida"));
    if (!alive)
        return true;
    m_datella->setFocus(Qt::OtherFocusReason);
    m_datella->setText(QString());
    m_datella->setSelection(0, DateMask::kLength);
    m_validating = false;
    return false;
}
