#pragma once

#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestImages.h"
#include "tests/support/WorkspaceDriver.h"
#include "workspace/PictureSurface.h"
#include "workspace/frmScanner.h"

#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

// A drag of urls entering the window and, when the window takes it, dropped there; whether
// the drop was taken.
inline bool dropOn(frmScanner& window, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPointF at(250, 300);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &dropped);
    return dropped.isAccepted();
}

// A shown workspace with a scripted dialog service, a folder for its files and its own
// settings file there, so that folders remembered by one test reach no other test or run.
// For the workspace tests only (they link the workspace library).
struct WorkspaceWindow {
    ScriptedPrompts prompts;
    QTemporaryDir dir;
    frmScanner window{prompts};

    WorkspaceWindow() {
        window.setSettingsFile(settingsFile());
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qFatal("the workspace was not shown");
    }

    QString settingsFile() const { return dir.filePath(QStringLiteral("settings.ini")); }

    QString file(const QString& name, const QImage& image, const char* format = "png") {
        const QString path = dir.filePath(name);
        if (!TestImages::write(image, path, format))
            qFatal("cannot write a test image");
        return path;
    }

    // Chooses path in the open dialog of "Carica Immagine da File".
    void load(const QString& path) {
        prompts.fileAnswers << path;
        QTest::mouseClick(ui(window).Command12, Qt::LeftButton);
    }

    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    // Widget coordinates of a point given in pict's client pixels.
    QPoint onPict(double x, double y) const {
        return ui(window).pict->contentsRect().topLeft() + QPoint(qRound(x), qRound(y));
    }
};
