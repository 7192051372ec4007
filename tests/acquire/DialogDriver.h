#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Acts on the next visible top-level dialog of type T as soon as it shows, from inside
// whatever loop is running then (exec() or the scanner module's message loop).
class DialogDriver {
  public:
    template <typename T> void whenShown(std::function<void(T*)> act) {
        m_timer = std::make_unique<QTimer>();
        m_timer->setInterval(10);
        QTimer* timer = m_timer.get();
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer, act] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<T*>(w); dialog && dialog->isVisible()) {
                    timer->stop();
                    ++shown;
                    act(dialog);
                    return;
                }
            }
        });
        timer->start();
    }

    void stop() {
        m_timer.reset();
        shown = 0;
    }

    int shown = 0;

  private:
    std::unique_ptr<QTimer> m_timer;
};
