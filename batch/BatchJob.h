#pragma once

#include "batch/BatchOptions.h"
#include "locate/PhotoVerdict.h"

#include <QString>

class LocatorLoader;
class OpenFolder;

// vetra-batch's exit codes.
enum class BatchExit {
    Ok = 0,
    SomeFilesFailed = 1,  // folder mode: at least one page was not saved
    Usage = 2,            // wrong options, or a rectangle that cannot be cut
    Unreadable = 3,       // missing, empty, cut or unknown page file; empty folder
    LimitUnreachable = 4, // even the lowest quality is over the kind's limit
    EncodeFailed = 5,
    WriteFailed = 6,
    NotFound = 7,       // --auto: the page holds no photograph (or no signature) the locator is sure of
    LocatorMissing = 8, // --auto, --check: the locator's module is missing or cannot be loaded
    CheckFailed = 9,    // --strict: the photo was saved, but a check of the identity photo failed
};

// One page through the window's road: the rectangle (or the frame through the window's
// crop rules), the region of the page it covers, the stretch to the kind's size, the
// quality search and the one atomic write. Nothing is written unless everything before
// the write succeeded.
class BatchJob {
  public:
    struct Outcome {
        BatchExit exit = BatchExit::Ok;
        // Italian, for stderr; empty on success. Names the input page at most once (the
        // caller has already named it when it does not), the output when the write failed.
        QString error;
        int quality = -1;
        qint64 bytes = 0;
        // --auto: the turn and straightening chosen and the crop rectangle, in pixels of the
        // turned and straightened page.
        int turn = 0;
        double straighten = 0.0;
        QRect rect;
        // --check: the saved photo's verdicts.
        bool checked = false;
        PhotoCheck::Report check;
    };

    // Where the JPEG goes: a path, or a name inside a folder opened once for a whole run.
    struct Output {
        QString path; // for messages; the file itself when folder is null
        const OpenFolder* folder = nullptr;
        QString name; // inside folder
    };

    // locator: the module --auto needs, loading meanwhile (waited for once the page is read).
    static Outcome run(const BatchOptions& options, const QString& input, const Output& output,
                       LocatorLoader* locator = nullptr);
    static Outcome run(const BatchOptions& options, const QString& input, const QString& output,
                       LocatorLoader* locator = nullptr) {
        return run(options, input, Output{output, nullptr, {}}, locator);
    }

    // An angle as --straighten reads it back to the same double: the shortest decimal, with a
    // point whatever the locale.
    static QString degreesText(double degrees);

    // The rectangle of the turned page that options select on a stored page of pageSize.
    static QRectF sourceRect(const BatchOptions& options, QSize pageSize);
};
