#pragma once

#include "locate/Locator.h"

#include <QString>
#include <future>

// Loads the locator's module (locate/LocatorModule.h) on a thread of its own, so that the
// page can be read meanwhile; only --auto needs it. A module missing, unloadable or of
// another build is an error with an Italian reason, never a crash.
class LocatorLoader {
  public:
    // programDir: the folder of the running program; the module lies relative to it.
    explicit LocatorLoader(const QString& programDir);
    ~LocatorLoader();
    LocatorLoader(const LocatorLoader&) = delete;
    LocatorLoader& operator=(const LocatorLoader&) = delete;

    // Starts the load; later calls do nothing.
    void start();
    // Waits for the load (starting it if needed). False with *error set when the module
    // cannot be used.
    bool ready(QString* error);
    // The locator, through the module; ready() must have answered true.
    PageFindings locate(const QImage& picture, QSize pageSize, Locator::Wanted wanted) const;

  private:
    struct Loaded {
        PageFindings (*locate)(const QImage&, QSize, Locator::Wanted) = nullptr;
        QString error;
    };
    static Loaded load(const QString& path);

    QString m_path;
    std::future<Loaded> m_pending;
    bool m_started = false;
    bool m_waited = false;
    Loaded m_loaded;
};
