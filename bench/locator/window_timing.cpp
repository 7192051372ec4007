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
    // Shown: the frames first on the page; placed: the photo frames placed again where the
    // identity check's geometry failed on them.
    std::printf(
        "| Page | shown, median (ms) | worst | placed, median (ms) | worst |\n|---|---|---|---|---|\n");
    const WorkspaceDocument& document = window.document();
    for (const QString& page : pages) {
        QList<qint64> shown;
        QList<qint64> placed;
        for (int i = 0; i <= repeat; ++i) {
            const int answered = document.framesLocatedCount();
            const int showed = document.framesShownCount();
            prompts.fileAnswers << page;
            window.Command12_Click();
            QElapsedTimer timer;
            timer.start();
            qint64 shownAfter = -1;
            while (document.framesLocatedCount() == answered) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
                if (shownAfter < 0 && document.framesShownCount() != showed)
                    shownAfter = timer.elapsed();
            }
            if (i > 0) { // the first load also builds the face detector
                placed << timer.elapsed();
                shown << (shownAfter < 0 ? timer.elapsed() : shownAfter);
            }
        }
        std::sort(shown.begin(), shown.end());
        std::sort(placed.begin(), placed.end());
        std::printf("| %s | %lld | %lld | %lld | %lld |\n", qPrintable(page), shown.at(shown.size() / 2),
                    shown.last(), placed.at(placed.size() / 2), placed.last());
    }
    if (hold > 0) {
        QTimer::singleShot(hold * 1000, &app, &QCoreApplication::quit);
        return app.exec();
    }
    return 0;
}
