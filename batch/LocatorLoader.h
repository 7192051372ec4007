#pragma once

#include "locate/Locator.h"
#include "locate/PhotoVerdict.h"

#include <QString>
#include <future>

// Loads the locator's module (locate/LocatorModule.h) on a thread of its own, so that the
// page can be read meanwhile; only --auto needs it. A module missing, damaged, unloadable,
// of another build or open to others' writes is an error with an Italian reason, never a
// crash. The face cascade's module, which the locator's loads when a page needs it, is
// checked with it.
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
    // The locator, through the module; ready() must have answered true. False with *error
    // set (the module's path and its reason, in Italian) when the module failed: a library
    // it needs that cannot be loaded, a damaged model. Such a fault is the installation's,
    // never "nothing found".
    bool locate(const QImage& picture, QSize pageSize, Locator::Wanted wanted, PageFindings* findings,
                QString* error) const;

    // PhotoCheck::measure() on a photo crop, through the module; ready() must have answered
    // true. False with *error set as for locate().
    bool measure(const QImage& crop, PhotoCheck::Measures* measures, QString* error) const;

    // Why the module file at path (or its folder) may not be loaded: not a regular file,
    // writable by others than root or the program's owner, or not the size and BLAKE2b-512 its
    // ".sum" beside it says. Empty when it may.
    static QString moduleProblem(const QString& path);

  private:
    struct Loaded {
        bool (*locate)(const QImage&, QSize, Locator::Wanted, PageFindings*, char*) = nullptr;
        bool (*measure)(const QImage&, PhotoCheck::Measures*, char*) = nullptr;
        QString error;
    };
    static Loaded load(const QString& path);
    static QString failureText(const QString& path, const QString& reason);

    QString m_path;
    std::future<Loaded> m_pending;
    bool m_started = false;
    bool m_waited = false;
    Loaded m_loaded;
};
