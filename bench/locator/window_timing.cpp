// How long after a page shows in the workspace its frames move onto the photograph and the
// signature: loads each page given through the real window ("Carica Immagine da File")
// several times and prints the median and the worst time from the load's return (the page
// is on screen then) to the locator's answer being applied.
//
// Usage: locator_window_timing [--repeat N] [--hold SECONDS] PAGE...
// (QT_QPA_PLATFORM=offscreen is fine; --hold keeps the window open afterwards, for a look.)
#include "tests/support/ScriptedPrompts.h"
#include "workspace/frmScanner.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true); // the user's own settings never switch it off
    QStringList pages = app.arguments().mid(1);
    int repeat = 5;
    int hold = 0;
    while (pages.size() >= 2 && pages.first().startsWith(QLatin1String("--"))) {
        (pages.first() == QLatin1String("--repeat") ? repeat : hold) = pages.at(1).toInt();
        pages = pages.mid(2);
    }
    ScriptedPrompts prompts;
    frmScanner window(prompts);
    window.show();
    std::printf("| Page | median (ms) | worst (ms) |\n|---|---|---|\n");
    for (const QString& page : pages) {
        QList<qint64> times;
        for (int i = 0; i <= repeat; ++i) {
            const int answered = window.framesLocatedCount();
            prompts.fileAnswers << page;
            window.Command12_Click();
            QElapsedTimer timer;
            timer.start();
            while (window.framesLocatedCount() == answered)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            if (i > 0) // the first load also builds the face detector
                times << timer.elapsed();
        }
        std::sort(times.begin(), times.end());
        std::printf("| %s | %lld | %lld |\n", qPrintable(page), times.at(times.size() / 2), times.last());
    }
    if (hold > 0) {
        QTimer::singleShot(hold * 1000, &app, &QCoreApplication::quit);
        return app.exec();
    }
    return 0;
}
