#include "imaging/RegionReader.h"

#include "imaging/BmpRegionReader.h"
#include "imaging/FastPixels.h"
#include "imaging/GifRegionReader.h"
#include "imaging/JpegRegionReader.h"
#include "imaging/Logging.h"
#include "imaging/PageFile.h"
#include "imaging/RegionCanvas.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <vector>

namespace {

// Any format Qt reads among the page formats: the bytes already read are handed to
// QImageReader, so the file is not opened a second time. The clip is then turned into place.
void readGeneric(const QByteArray& bytes, const RegionRequest& request, PageRegion* out) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    // Qt's own limit, at ours (it is global in Qt 6.4), set once: reads may run on several threads.
    static const bool limitSet = [] {
        QImageReader::setAllocationLimit(int(PageLimits::kPageBytes >> 20));
        return true;
    }();
    Q_UNUSED(limitSet);
    const QSize stored = reader.size();
    const bool readable = reader.canRead();
    if (!readable || stored.isEmpty()) {
        qCDebug(lcImaging) << "QImageReader:" << reader.errorString();
        out->error = QStringLiteral("il file non è un'immagine leggibile (%1).").arg(reader.errorString());
        return;
    }
    if (!PageLimits::pageFits(stored.width(), stored.height())) {
        out->error = QStringLiteral("la pagina (%1 x %2 pixel) supera i limiti di una pagina.")
                         .arg(stored.width())
                         .arg(stored.height());
        return;
    }
    out->pageSize = request.transform.transformedSize(stored);
    out->origin = request.rect.topLeft();
    out->scale = 1.0;
    out->method = PageRegion::Method::Generic;

    // The whole page unturned (the locator's copy of it): the decoded picture becomes the
    // region itself, so the page is not held twice (a grey 8192 x 8192 PNG reached 620 MB so).
    const bool wholePage = request.transform.rotation == 0 &&
                           request.transform.mirror == PageTransform::Mirror::None &&
                           request.rect == QRect(QPoint(0, 0), stored);
    RegionCanvas canvas(stored, request.transform, request.rect);
    if (!wholePage && !canvas.allocate(&out->error))
        return;
    // The whole page is decoded whatever the rectangle, so damage anywhere refuses it.
    QImage whole = reader.read();
    if (whole.isNull() || whole.size() != stored) {
        qCDebug(lcImaging) << "QImageReader:" << reader.errorString();
        out->error = QStringLiteral("lettura non riuscita (%1).").arg(reader.errorString());
        return;
    }
    if (wholePage && !whole.hasAlphaChannel()) {
        if (whole.format() != QImage::Format_RGB32)
            whole.convertTo(QImage::Format_RGB32);
        out->image = whole;
        return;
    }
    // A band at a time: transparent parts laid on white paper, other formats made 32-bit RGB,
    // so no copy of the page is made beside it. The whole page's 32-bit pixels are flattened
    // in place; others into a page of their own.
    const QRect want = wholePage ? QRect(QPoint(0, 0), stored) : canvas.storedRect();
    QImage flatPage;
    if (wholePage && whole.depth() != 32) {
        flatPage = FastPixels::allocate(stored, QImage::Format_RGB32);
        if (flatPage.isNull()) {
            out->error = QStringLiteral("Memoria insufficiente per una pagina di %1 x %2 pixel.")
                             .arg(stored.width())
                             .arg(stored.height());
            return;
        }
    }
    constexpr int kBand = 64;
    for (int top = want.top(); top <= want.bottom() && !want.isEmpty(); top += kBand) {
        const QRect band(want.left(), top, want.width(), std::min(kBand, want.bottom() - top + 1));
        QImage clip;
        if (whole.hasAlphaChannel()) {
            clip = QImage(band.size(), QImage::Format_RGB32);
            clip.fill(Qt::white);
            QPainter(&clip).drawImage(QPoint(0, 0), whole, band);
        } else if (whole.format() != QImage::Format_RGB32) {
            clip = whole.copy(band).convertToFormat(QImage::Format_RGB32);
        }
        for (int y = 0; y < band.height(); ++y) {
            const auto* row =
                clip.isNull()
                    ? reinterpret_cast<const quint32*>(whole.constScanLine(band.top() + y)) + band.left()
                    : reinterpret_cast<const quint32*>(clip.constScanLine(y));
            if (!wholePage)
                canvas.putRow(band.top() + y, band.left(), row, band.width());
            else
                std::copy(row, row + band.width(),
                          reinterpret_cast<quint32*>(flatPage.isNull() ? whole.scanLine(band.top() + y)
                                                                       : flatPage.scanLine(band.top() + y)));
        }
    }
    if (!wholePage) {
        out->image = canvas.image();
    } else if (flatPage.isNull()) {
        whole.reinterpretAsFormat(QImage::Format_RGB32);
        out->image = whole;
    } else {
        out->image = flatPage;
    }
}

const uchar* bytesOf(const QByteArray& bytes) {
    return reinterpret_cast<const uchar*>(bytes.constData());
}

// The page from its bytes, read whole, in any format but a BMP read a band at a time.
PageRegion readWhole(const QByteArray& bytes, PageFormat format, const RegionRequest& request);

// Whether the request can be read at all; false with the reason in out->error.
bool soundRequest(const RegionRequest& request, PageRegion* out) {
    if (!request.transform.isValid()) {
        out->error = QStringLiteral("Rotazione non valida: %1 (ammesse 0, 90, 180 e 270).")
                         .arg(request.transform.rotation);
        return false;
    }
    if (request.rect.isEmpty()) {
        out->error = QStringLiteral("Il rettangolo richiesto è vuoto.");
        return false;
    }
    // No page comes near a million pixels a side; beyond that the pixel arithmetic could
    // overflow, so such a rectangle is refused before it is used.
    constexpr int kFar = 1 << 20;
    const QRect& r = request.rect;
    if (r.left() < -kFar || r.top() < -kFar || r.right() > kFar || r.bottom() > kFar) {
        out->error = QStringLiteral("Il rettangolo richiesto (%1, %2, %3 x %4) è fuori misura.")
                         .arg(r.left())
                         .arg(r.top())
                         .arg(r.width())
                         .arg(r.height());
        return false;
    }
    return true;
}

} // namespace

QRectF PageRegion::mapFromPage(const QRectF& pageRect) const {
    return QRectF((pageRect.x() - origin.x()) * scale, (pageRect.y() - origin.y()) * scale,
                  pageRect.width() * scale, pageRect.height() * scale);
}

bool PageRegion::finish() {
    if (pending.valid()) {
        const QString refused = pending.get();
        pending = {};
        if (!refused.isEmpty()) {
            error = refused;
            image = QImage();
        }
    }
    return ok();
}

int RegionReader::reductionFor(QSize rectSize, QSize targetSize) {
    if (targetSize.isEmpty() || rectSize.isEmpty())
        return 1;
    for (int k : {8, 4, 2})
        if (rectSize.width() >= k * targetSize.width() && rectSize.height() >= k * targetSize.height())
            return k;
    return 1;
}

PageRegion RegionReader::read(const RegionRequest& request) {
    PageRegion out;
    if (!soundRequest(request, &out))
        return out;
    PageFile file;
    QByteArray bytes = request.data;
    PageFormat format = PageFormat::Unknown;
    if (!bytes.isEmpty()) {
        format = pageFormatOf(bytes.left(PageFile::kHeadBytes));
        if (format == PageFormat::Bmp) {
            const BmpRegionReader::Result read =
                BmpRegionReader::read(bytesOf(bytes), bytes.size(), request, &out);
            if (read != BmpRegionReader::Result::Unsupported) {
                if (read == BmpRegionReader::Result::Read)
                    out.method = PageRegion::Method::Bmp;
                return out;
            }
        }
    } else {
        if (!file.open(request.path, &out.error))
            return out;
        format = pageFormatOf(file.head());
        if (format == PageFormat::Bmp) {
            BmpHeader bmp;
            if (!BmpHeader::parse(bytesOf(file.head()), file.head().size(), file.size(), &bmp, &out.error))
                return out;
            const auto readAt = [&file](qint64 offset, void* to, qint64 length) {
                return file.readAt(offset, to, length);
            };
            if (BmpRegionReader::read(bmp, readAt, request, &out) != BmpRegionReader::Result::Unsupported) {
                out.method = PageRegion::Method::Bmp;
                return out;
            }
        }
        if (format != PageFormat::Unknown && !file.readAll(&bytes, &out.error))
            return out;
    }
    if (format == PageFormat::Unknown) {
        out.error = unknownFormat();
        return out;
    }
    if (request.wholeKnown && request.data.isEmpty()) {
        // Known whole only as the bytes handed in: a file read afresh is gone through whole.
        RegionRequest afresh = request;
        afresh.wholeKnown = false;
        out = readWhole(bytes, format, afresh);
    } else {
        out = readWhole(bytes, format, request);
    }
    if (request.keepData && out.ok())
        out.data = bytes;
    return out;
}

namespace {

PageRegion readWhole(const QByteArray& bytes, PageFormat format, const RegionRequest& request) {
    PageRegion out;
    switch (format) {
    case PageFormat::Jpeg:
        if (JpegRegionReader::read(bytes, request, &out) == JpegRegionReader::Result::Read)
            out.method = PageRegion::Method::Jpeg;
        return out;
    case PageFormat::Gif:
        if (GifRegionReader::read(bytesOf(bytes), bytes.size(), request, &out) ==
            GifRegionReader::Result::Read)
            out.method = PageRegion::Method::Gif;
        return out;
    case PageFormat::Png:
        if (!RegionReader::pngIsWhole(bytes, &out.error))
            return out;
        break;
    default:
        break;
    }
    out = PageRegion();
    readGeneric(bytes, request, &out);
    return out;
}

} // namespace

PageRegion RegionReader::cut(const QImage& page, PageRegion::Method method, const RegionRequest& request) {
    PageRegion out;
    if (!soundRequest(request, &out))
        return out;
    if (page.format() != QImage::Format_RGB32) {
        out.error = QStringLiteral("lettura non riuscita (formato dei pixel inatteso).");
        return out;
    }
    out.pageSize = request.transform.transformedSize(page.size());
    out.origin = request.rect.topLeft();
    out.scale = 1.0;
    out.method = method;
    RegionCanvas canvas(page.size(), request.transform, request.rect);
    if (!canvas.allocate(&out.error))
        return out;
    const QRect want = canvas.storedRect();
    for (int y = want.top(); y <= want.bottom() && !want.isEmpty(); ++y)
        canvas.putRow(y, want.left(), reinterpret_cast<const quint32*>(page.constScanLine(y)) + want.left(),
                      want.width());
    out.image = canvas.image();
    return out;
}

QSize RegionReader::pageSize(const QString& path, QString* error) {
    PageFile file;
    if (!file.open(path, error))
        return {};
    const QByteArray& head = file.head();
    QSize size;
    switch (pageFormatOf(head)) {
    case PageFormat::Jpeg: {
        // The frame header is nearly always in the first bytes; only a file whose metadata
        // blocks push it further is read whole.
        if (JpegRegionReader::size(bytesOf(head), head.size(), &size, error) ==
            JpegRegionReader::Result::Read)
            return size;
        QByteArray bytes;
        if (head.size() == file.size() || !file.readAll(&bytes, error) ||
            JpegRegionReader::size(bytesOf(bytes), bytes.size(), &size, error) !=
                JpegRegionReader::Result::Read)
            return {};
        error->clear();
        return size;
    }
    case PageFormat::Gif:
        if (GifRegionReader::size(bytesOf(head), head.size(), &size, error) != GifRegionReader::Result::Read)
            return {};
        return size;
    case PageFormat::Bmp: {
        BmpHeader bmp;
        if (!BmpHeader::parse(bytesOf(head), head.size(), file.size(), &bmp, error))
            return {};
        return bmp.size;
    }
    case PageFormat::Png:
        // Width and height are the first fields of the IHDR chunk that opens every PNG.
        if (head.size() >= 24 && head.mid(12, 4) == "IHDR") {
            size = QSize(qFromBigEndian<qint32>(head.constData() + 16),
                         qFromBigEndian<qint32>(head.constData() + 20));
            if (!size.isEmpty())
                return size;
        }
        *error = QStringLiteral("il file PNG è danneggiato (intestazione non valida).");
        return {};
    case PageFormat::Unknown:
        break;
    }
    *error = unknownFormat();
    return {};
}

QString RegionReader::unknownFormat() {
    return QStringLiteral("il file non è un'immagine BMP, JPEG, GIF o PNG.");
}

bool RegionReader::pngIsWhole(const QByteArray& bytes, QString* error) {
    // Signature, then chunks (length, type, data, CRC) up to IEND.
    qint64 at = 8;
    const qint64 size = bytes.size();
    while (at + 12 <= size) {
        const quint32 length = qFromBigEndian<quint32>(bytes.constData() + at);
        if (length > 0x7FFFFFFFu) {
            *error = QStringLiteral("il file PNG è danneggiato (blocco di %1 byte).").arg(length);
            return false;
        }
        if (bytes.mid(at + 4, 4) == "IEND")
            return true;
        at += 12 + qint64(length);
    }
    *error = QStringLiteral("il file PNG è troncato.");
    return false;
}
