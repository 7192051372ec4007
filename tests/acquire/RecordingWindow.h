#pragma once

#include "acquire/ScanCommands.h"

#include <QImage>
#include <QStringList>

#include <functional>

// What the scan commands tell the operator, spelled out so that a changed wording shows.
inline const QString kPlace =
    QStringLiteral("Disporre il documento da scansionare sul ripiano dello scanner e premere OK.");
inline const QString kNothing = QStringLiteral("Non è stata scansionata nessuna immagine.");

// A workspace stand-in that records what the scan commands ask of it.
class RecordingWindow final : public ScanWindow {
  public:
    QStringList steps;
    QString imagePath;
    QImage image;                       // what showScannedImage loaded
    std::function<void()> whileWaiting; // run when the wait panel is shown
    long long progressDone = -2;        // the last progress shown
    long long progressTotal = -2;

    void setScanEnabled(bool enabled) override { steps << QStringLiteral("scan %1").arg(enabled); }
    void setWindowEnabled(bool enabled) override { steps << QStringLiteral("window %1").arg(enabled); }
    void showWaitPanel(bool visible) override {
        steps << QStringLiteral("wait %1").arg(visible);
        if (visible && whileWaiting)
            whileWaiting();
    }
    void showScanProgress(long long done, long long total) override {
        progressDone = done;
        progressTotal = total;
    }
    void setImagePath(const QString& path) override {
        imagePath = path;
        steps << QStringLiteral("path");
    }
    void showScannedImage(const QString& path) override {
        steps << QStringLiteral("image");
        image = QImage(path);
    }
};
