#pragma once

#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestImages.h"
#include "workspace/PictureSurface.h"
#include "workspace/frmScanner.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

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
        QTest::mouseClick(window.Command12, Qt::LeftButton);
    }

    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    // Widget coordinates of a point given in pict's client pixels.
    QPoint onPict(double x, double y) const {
        return window.pict->contentsRect().topLeft() + QPoint(qRound(x), qRound(y));
    }
};
