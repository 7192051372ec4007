#include "batch/BatchJob.h"

#include "batch/LocatorLoader.h"
#include "core/CheckedFile.h"
#include "core/OpenFolder.h"
#include "core/SystemReason.h"
#include "encode/GPP2J.h"
#include "encode/QualitySearch.h"
#include "imaging/LocatorPicture.h"
#include "imaging/RegionCanvas.h"
#include "imaging/RegionReader.h"
#include "imaging/Straighten.h"
#include "imaging/StretchRegion.h"
#include "locate/FramePlacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kDpi = 300;

BatchJob::Outcome failure(BatchExit exit, const QString& error) {
    BatchJob::Outcome outcome;
    outcome.exit = exit;
    outcome.error = error;
    return outcome;
}

// Whether writing output would replace the page itself (through a link, another name
// for the same file, or a path into the folder it lies in).
bool sameFile(const QString& input, const BatchJob::Output& output) {
    struct stat in {};
    if (::stat(QFile::encodeName(input).constData(), &in) != 0)
        return false;
    struct stat out {};
    const int found =
        output.folder ? ::fstatat(output.folder->fd(), QFile::encodeName(output.name).constData(), &out, 0)
                      : ::stat(QFile::encodeName(output.path).constData(), &out);
    return found == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// Whether the page can be opened for reading, and is a file at all: a pipe or a device
// would never end. On failure *reason says why, in Italian.
bool openablePage(const QString& input, QString* reason) {
    const int fd = ::open(QFile::encodeName(input).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *reason = SystemReason::current();
        return false;
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!regular)
        *reason = QStringLiteral("non è un file di immagine ma un file speciale");
    return regular;
}

// The reader's reasons already name the page; ours do not.
QString naming(const QString& page, const QString& reason) {
    return reason.contains(page) ? reason : QStringLiteral("%1: %2").arg(page, reason);
}

// Whether a rectangle is past what a read allocates at full size: when the read of such a
// rectangle fails, the rectangle asked for is to blame, not the page.
bool pastAllocationLimit(const QRect& rect) {
    return qint64(rect.width()) * rect.height() * 4 > RegionCanvas::kAllocationLimitMb * 1024 * 1024;
}

// The picture both programs hand the locator is made in imaging/, below the locator: it must
// be of the locator's size.
static_assert(LocatorPicture::kJpegLongSide == Locator::kLeastCopyLongSide);

// What --auto has read of the page already, so that the job reads the file once and goes
// through its data once.
struct PageRead {
    QSize stored;    // the stored page's size
    QByteArray data; // the file's bytes, when they were read whole
    QImage page;     // the whole stored page at full size, when it was decoded so (no JPEG scaling)
    PageRegion::Method method = PageRegion::Method::None;
};

// --auto: the locator reads a reduced copy of the page, turns it and places the kind's
// frame; the job then goes on as if --rotate and --frame had been given.
bool placeAutomatically(const BatchOptions& options, const QString& input, LocatorLoader* locator,
                        BatchOptions* placed, PageRead* read, BatchJob::Outcome* failed) {
    QSize* stored = &read->stored;
    const QString shownInput = QDir::toNativeSeparators(input);
    QString error;
    *stored = RegionReader::pageSize(input, &error);
    if (stored->isEmpty()) {
        *failed = failure(BatchExit::Unreadable, QStringLiteral("%1: %2").arg(shownInput, error));
        return false;
    }
    RegionRequest request = LocatorPicture::request(input, *stored);
    request.keepData = true;
    PageRegion region = RegionReader::read(request);
    if (!region.ok()) {
        *failed = failure(BatchExit::Unreadable, QStringLiteral("%1: %2").arg(shownInput, region.error));
        return false;
    }
    if (!locator || !locator->ready(&error)) {
        *failed = failure(BatchExit::LocatorMissing, error);
        return false;
    }
    read->data = std::move(region.data);
    // A page read whole at full size (a BMP or GIF, not a JPEG's reduced or grey copy) is
    // kept to cut the region from.
    if (region.scale == 1.0 && region.image.size() == *stored &&
        region.image.format() == QImage::Format_RGB32) {
        read->page = region.image;
        read->method = region.method;
    }
    // The window's picture of the page, so the window's answers.
    const QImage picture = LocatorPicture::of(region, *stored);
    region = PageRegion();
    // The photo kinds need no signature: its search is skipped.
    PageFindings findings;
    if (!locator->locate(picture, *stored,
                         options.kind == OutputKind::Firma ? Locator::Wanted::All
                                                           : Locator::Wanted::PhotoOnly,
                         &findings, &error)) {
        *failed = failure(BatchExit::LocatorMissing, error);
        return false;
    }
    // The photo frames are measured on the window's picture as the window measures them, so
    // that both place the same frames.
    const FramePlacement::MeasureFunction measure = [locator](const QImage& crop,
                                                              PhotoCheck::Measures* measures) {
        QString ignored;
        return locator->measure(crop, measures, &ignored);
    };
    const std::optional<FrameRect> frame =
        FramePlacement::placeChecked(options.kind, findings, picture, measure);
    if (!frame) {
        *failed = failure(
            BatchExit::NotFound,
            options.kind == OutputKind::Firma
                ? QStringLiteral("%1: nessuna firma trovata nella pagina").arg(shownInput)
                : QStringLiteral("%1: nessuna fotografia con un volto trovata nella pagina").arg(shownInput));
        return false;
    }
    *placed = options;
    placed->area = BatchOptions::Area::Frame;
    placed->frame = *frame;
    placed->transform = PageTransform();
    placed->transform.rotation = findings.turn;
    // Kept to a hundredth of a degree (a pixel at 2 m of a 300 dpi page), so that the printed
    // answer is short and reads back as the very angle used.
    const double degrees =
        std::isfinite(findings.straighten)
            ? std::clamp(findings.straighten, -Straighten::kMaxDegrees, Straighten::kMaxDegrees)
            : 0.0;
    placed->straighten = std::round(degrees * 100) / 100 + 0.0;
    return true;
}

} // namespace

QString BatchJob::degreesText(double degrees) {
    return QLocale::c().toString(degrees, 'g', QLocale::FloatingPointShortest);
}

QRectF BatchJob::sourceRect(const BatchOptions& options, QSize pageSize) {
    if (options.area == BatchOptions::Area::Rect)
        return QRectF(options.rect);
    // What the window shows: the turned page fitted into pict, and the frame's rectangle
    // taken back to the page's pixels.
    const QSize shown = options.transform.transformedSize(pageSize);
    const QSize display = FrameGeometry::fitSize(shown, QSize(int(kPictClientWidth), int(kPictClientHeight)));
    const double factor = FrameGeometry::cropScaleFactor(shown, display.width(), display.height());
    if (factor <= 0)
        return {};
    return FrameGeometry::cropSourceRect(options.kind, options.frame, factor);
}

BatchJob::Outcome BatchJob::run(const BatchOptions& requested, const QString& input, const Output& output,
                                LocatorLoader* locator) {
    const OutputKindInfo& info = outputKindInfo(requested.kind);
    const QString shownInput = QDir::toNativeSeparators(input);

    if (!QFileInfo::exists(input))
        return failure(BatchExit::Unreadable, QStringLiteral("%1: il file non esiste").arg(shownInput));
    QString reason;
    if (!openablePage(input, &reason))
        return failure(BatchExit::Unreadable, QStringLiteral("%1: %2").arg(shownInput, reason));
    if (sameFile(input, output))
        return failure(BatchExit::Usage,
                       QStringLiteral("%1: l'uscita sostituirebbe la pagina stessa").arg(shownInput));

    // The measures need the locator's module: one that cannot be used is said before any work.
    const bool measuring = requested.check;
    if (measuring) {
        QString error;
        if (!locator || !locator->ready(&error))
            return failure(BatchExit::LocatorMissing, error);
    }

    BatchOptions options = requested;
    PageRead read; // --auto: the page as the locator read it
    if (requested.area == BatchOptions::Area::Auto) {
        Outcome failed;
        if (!placeAutomatically(requested, input, locator, &options, &read, &failed))
            return failed;
    }
    QSize stored = read.stored;

    QRectF source;
    if (options.area == BatchOptions::Area::Rect) {
        source = sourceRect(options, {});
    } else {
        if (stored.isEmpty()) {
            QString error;
            stored = RegionReader::pageSize(input, &error);
            if (stored.isEmpty())
                return failure(BatchExit::Unreadable, naming(shownInput, error));
        }
        source = sourceRect(options, stored);
        // --auto crops the whole-pixel rectangle it prints, so that the answer given back as
        // --rect makes the same file; the frame's own rectangle is fractional.
        if (requested.area == BatchOptions::Area::Auto && std::isfinite(source.width()) &&
            std::isfinite(source.height()))
            source = QRectF(QRect(qRound(source.x()), qRound(source.y()), qRound(source.width()),
                                  qRound(source.height())));
    }
    const QRect needed = source.toAlignedRect();
    if (source.isEmpty() || needed.isEmpty())
        return failure(BatchExit::Usage, QStringLiteral("il riquadro non contiene alcun pixel"));

    // A straightened page: only the pixels of the turned page that the rectangle comes from
    // are read, at full size, and straightened into the rectangle.
    const bool straightening = options.straighten != 0;
    QRect readRect = needed;
    if (straightening) {
        if (pastAllocationLimit(needed))
            return failure(BatchExit::Usage,
                           QStringLiteral("il rettangolo richiesto (%1 x %2 pixel) è troppo grande")
                               .arg(needed.width())
                               .arg(needed.height()));
        if (stored.isEmpty()) {
            QString error;
            stored = RegionReader::pageSize(input, &error);
            if (stored.isEmpty())
                return failure(BatchExit::Unreadable, naming(shownInput, error));
        }
        const QRect from =
            Straighten::sourceRect(options.transform.transformedSize(stored), options.straighten, needed);
        // A rectangle that shows only paper still has the page read, so a damaged page is refused.
        if (!from.isEmpty())
            readRect = from;
    }

    RegionRequest request;
    request.path = input;
    request.transform = options.transform;
    request.rect = readRect;
    if (!straightening)
        request.targetSize = info.outputSize;
    request.data = read.data;
    request.wholeKnown = !read.data.isEmpty();
    // The rest of the page is checked while the picture is made; nothing is written before
    // its verdict.
    request.deferWholeness = true;
    PageRegion region =
        read.page.isNull() ? RegionReader::read(request) : RegionReader::cut(read.page, read.method, request);
    read = PageRead(); // the whole page is not needed past this point
    if (!region.ok()) {
        // A rectangle given too large to read at full size is the option's fault, not the page's;
        // a frame's rectangle follows from the page, so there the page is to blame.
        const BatchExit exit = options.area == BatchOptions::Area::Rect && pastAllocationLimit(needed)
                                   ? BatchExit::Usage
                                   : BatchExit::Unreadable;
        return failure(exit, naming(shownInput, region.error));
    }
    // A rectangle wholly off the page would save a blank sheet: surely a mistake.
    if (!needed.intersects(QRect(QPoint(0, 0), region.pageSize))) {
        if (!region.finish())
            return failure(BatchExit::Unreadable, naming(shownInput, region.error));
        return failure(BatchExit::Usage,
                       QStringLiteral("%1: il rettangolo %2,%3,%4,%5 è fuori dalla pagina (%6x%7)")
                           .arg(shownInput)
                           .arg(needed.x())
                           .arg(needed.y())
                           .arg(needed.width())
                           .arg(needed.height())
                           .arg(region.pageSize.width())
                           .arg(region.pageSize.height()));
    }

    if (straightening) {
        const QImage level = Straighten::region(region.image, region.origin.toPoint(), region.pageSize,
                                                options.straighten, needed);
        if (level.isNull()) {
            region.finish();
            return failure(
                BatchExit::Unreadable,
                QStringLiteral("%1: memoria insufficiente per raddrizzare un rettangolo di %2 x %3 pixel")
                    .arg(shownInput)
                    .arg(needed.width())
                    .arg(needed.height()));
        }
        region.image = level;
        region.origin = needed.topLeft();
        region.scale = 1.0;
    }
    const QImage picture = stretchRegion(region.image, region.mapFromPage(source), info.outputSize);
    PhotoCheck::Measures measures;
    if (measuring) {
        QString error;
        if (!locator->measure(picture, &measures, &error)) {
            region.finish();
            return failure(BatchExit::LocatorMissing, error);
        }
    }
    GPP2J writer;
    const QualitySearch::Result found = QualitySearch::run(writer, picture, info.sizeLimit, kDpi, kDpi);
    // While the rest of the page is still being checked, the file is written and flushed
    // under a hidden name beside the output; it takes the output's name only once the page
    // is known whole, and is removed otherwise.
    std::optional<CheckedFile> file;
    bool prepared = false;
    if (found.status == QualitySearch::Status::Found) {
        if (output.folder)
            file.emplace(*output.folder, output.name);
        else
            file.emplace(output.path);
        prepared = file->open() && file->write(found.bytes) && file->flush();
    }
    // A damaged page is refused whatever the search found.
    if (!region.finish())
        return failure(BatchExit::Unreadable, naming(shownInput, region.error));
    switch (found.status) {
    case QualitySearch::Status::LimitUnreachable:
        return failure(
            BatchExit::LimitUnreachable,
            QStringLiteral("%1: impossibile salvare l'immagine entro il limite di %2 byte, "
                           "nemmeno alla qualità minima")
                .arg(shownInput, QLocale(QLocale::Italian, QLocale::Italy).toString(info.sizeLimit)));
    case QualitySearch::Status::EncodeFailed:
        return failure(
            BatchExit::EncodeFailed,
            QStringLiteral("%1: impossibile creare l'immagine JPEG: %2").arg(shownInput, writer.lastError()));
    case QualitySearch::Status::Found:
        break;
    }

    if (!prepared || !file->commit())
        return failure(BatchExit::WriteFailed,
                       QStringLiteral("impossibile salvare il file %1: %2")
                           .arg(QDir::toNativeSeparators(output.path), file->errorString()));
    Outcome outcome;
    outcome.quality = found.quality;
    outcome.bytes = found.bytes.size();
    outcome.turn = options.transform.rotation;
    outcome.straighten = options.straighten;
    outcome.rect = needed;
    if (requested.check) {
        outcome.checked = true;
        outcome.check = PhotoCheck::evaluate(measures, requested.kind == OutputKind::AdrCqc);
    }
    return outcome;
}
