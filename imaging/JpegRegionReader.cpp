#include "imaging/JpegRegionReader.h"

#include "imaging/JpegErrors.h"
#include "imaging/Logging.h"
#include "imaging/PageFile.h"
#include "imaging/RegionCanvas.h"

#include <csetjmp>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include <jerror.h>

namespace {

// Owns a decompressor for one read; destroyed on every path, including after a longjmp.
struct Decoder {
    jpeg_decompress_struct cinfo;
    JpegErrors err;

    Decoder() {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&err, 0, sizeof err);
        cinfo.err = err.forDecoder();
    }
    ~Decoder() { jpeg_destroy_decompress(&cinfo); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
};

int floorDiv(int a, int b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}
int ceilDiv(int a, int b) {
    return -floorDiv(-a, b);
}

// The reduced grid's rectangle covering shown, and where that grid's pixel 0 lies on the
// full page: a reversed axis counts its reduced pixels from the far edge.
struct ReducedPlacement {
    QRect rect;
    QPoint origin;
};

ReducedPlacement placeOnReducedGrid(const PageTransform& t, QSize fullStored, QSize reducedStored, int k,
                                    const QRect& shown) {
    const QSize full = t.transformedSize(fullStored);
    const QSize reduced = t.transformedSize(reducedStored);
    const int offX = t.reversesHorizontal() ? full.width() - k * reduced.width() : 0;
    const int offY = t.reversesVertical() ? full.height() - k * reduced.height() : 0;
    const int x0 = floorDiv(shown.left() - offX, k);
    const int x1 = ceilDiv(shown.left() + shown.width() - offX, k);
    const int y0 = floorDiv(shown.top() - offY, k);
    const int y1 = ceilDiv(shown.top() + shown.height() - offY, k);
    return {QRect(x0, y0, x1 - x0, y1 - y0), QPoint(x0 * k + offX, y0 * k + offY)};
}

// The rows after the rectangle go through the entropy decoder only (skipping makes no
// pixels), and the last one is decoded, so damage anywhere in the image refuses the page
// whatever the rectangle. Skipping straight to the end would not look at the data at all.
// Answers why the page is refused, empty when it is whole.
QString finishWhole(Decoder& d, std::vector<quint32>& row) {
    if (setjmp(d.err.jump))
        return d.err.reason();
    JSAMPROW rowPointer = reinterpret_cast<JSAMPROW>(row.data());
    const JDIMENSION last = d.cinfo.output_height - 1;
    if (d.cinfo.output_scanline < last)
        jpeg_skip_scanlines(&d.cinfo, last - d.cinfo.output_scanline);
    if (d.cinfo.output_scanline == last && jpeg_read_scanlines(&d.cinfo, &rowPointer, 1) != 1)
        ERREXIT(&d.cinfo, JERR_INPUT_EMPTY); // only with a suspending source
    jpeg_finish_decompress(&d.cinfo);
    return {};
}

// The read's answer once the rest of the page has been gone through.
JpegRegionReader::Result settle(const QString& refused, PageRegion* out) {
    if (refused.isEmpty())
        return JpegRegionReader::Result::Read;
    out->image = QImage();
    out->error = refused;
    return JpegRegionReader::Result::Failed;
}

JpegRegionReader::Result readRegion(const uchar* data, qint64 size, const QByteArray* owner,
                                    const RegionRequest& request, PageRegion* out);

} // namespace

JpegRegionReader::Result JpegRegionReader::read(const uchar* data, qint64 size, const RegionRequest& request,
                                                PageRegion* out) {
    return readRegion(data, size, nullptr, request, out);
}

JpegRegionReader::Result JpegRegionReader::read(const QByteArray& bytes, const RegionRequest& request,
                                                PageRegion* out) {
    return readRegion(reinterpret_cast<const uchar*>(bytes.constData()), bytes.size(), &bytes, request, out);
}

bool JpegRegionReader::isJpeg(const uchar* data, qint64 size) {
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

JpegRegionReader::Result JpegRegionReader::size(const uchar* data, qint64 size, QSize* pageSize,
                                                QString* error) {
    if (!isJpeg(data, size))
        return Result::NotJpeg;
    Decoder d;
    if (setjmp(d.err.jump)) {
        *error = d.err.reason();
        return Result::Failed;
    }
    jpeg_create_decompress(&d.cinfo);
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.cinfo, TRUE);
    *pageSize = QSize(int(d.cinfo.image_width), int(d.cinfo.image_height));
    return Result::Read;
}

namespace {

JpegRegionReader::Result readRegion(const uchar* data, qint64 size, const QByteArray* owner,
                                    const RegionRequest& request, PageRegion* out) {
    using Result = JpegRegionReader::Result;
    if (!JpegRegionReader::isJpeg(data, size))
        return Result::NotJpeg;
    // Everything with a destructor lives outside the setjmp scope: a longjmp back to it
    // must not skip a destructor. The decoder lives on the heap: it may be handed to the
    // thread that checks the rest of the page.
    std::unique_ptr<Decoder> decoder = std::make_unique<Decoder>();
    Decoder& d = *decoder;
    std::vector<quint32> row;
    std::optional<RegionCanvas> canvas;
    QImage grey; // a grey copy of the whole page, when grey will do
    if (setjmp(d.err.jump)) {
        out->image = QImage();
        out->error = d.err.reason();
        return Result::Failed;
    }
    jpeg_create_decompress(&d.cinfo);
    d.err.limit(&d.cinfo);
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.cinfo, TRUE);
    if (!PageLimits::pageFits(d.cinfo.image_width, d.cinfo.image_height)) {
        out->error = QStringLiteral("la pagina (%1 x %2 pixel) supera i limiti di una pagina.")
                         .arg(d.cinfo.image_width)
                         .arg(d.cinfo.image_height);
        return Result::Failed;
    }
    const bool cmyk = d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK;

    const QSize stored(int(d.cinfo.image_width), int(d.cinfo.image_height));
    out->pageSize = request.transform.transformedSize(stored);

    const int k = RegionReader::reductionFor(request.rect.size(), request.targetSize);
    const bool greyWillDo = request.greyWillDo && !cmyk && request.transform.rotation == 0 &&
                      request.transform.mirror == PageTransform::Mirror::None &&
                      request.rect == QRect(QPoint(0, 0), stored) &&
                      (d.cinfo.jpeg_color_space == JCS_YCbCr || d.cinfo.jpeg_color_space == JCS_GRAYSCALE);
    if (cmyk)
        d.cinfo.out_color_space = JCS_CMYK;
    else if (greyWillDo)
        d.cinfo.out_color_space = JCS_GRAYSCALE;
    else
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        d.cinfo.out_color_space = JCS_EXT_BGRA; // memory order of QImage::Format_RGB32
#else
        d.cinfo.out_color_space = JCS_EXT_ARGB;
#endif
    d.cinfo.scale_num = 1;
    d.cinfo.scale_denom = unsigned(k);
    jpeg_calc_output_dimensions(&d.cinfo);
    const QSize reduced(int(d.cinfo.output_width), int(d.cinfo.output_height));

    QRect shown = request.rect;
    out->origin = request.rect.topLeft();
    out->scale = 1.0 / k;
    if (k > 1) {
        const ReducedPlacement place =
            placeOnReducedGrid(request.transform, stored, reduced, k, request.rect);
        shown = place.rect;
        out->origin = place.origin;
    }

    if (greyWillDo) {
        // The whole page, unturned: its luminance rows go straight into the picture.
        grey = QImage(reduced, QImage::Format_Grayscale8);
        if (grey.isNull()) {
            out->error = QStringLiteral("memoria insufficiente per la pagina (%1 x %2 pixel).")
                             .arg(reduced.width())
                             .arg(reduced.height());
            return Result::Failed;
        }
        jpeg_start_decompress(&d.cinfo);
        for (int y = 0; y < reduced.height(); ++y) {
            JSAMPROW line = grey.scanLine(y);
            if (jpeg_read_scanlines(&d.cinfo, &line, 1) != 1) // only with a suspending source
                ERREXIT(&d.cinfo, JERR_INPUT_EMPTY);
        }
        out->image = grey;
        return settle(finishWhole(d, row), out);
    }
    canvas.emplace(reduced, request.transform, shown);
    if (!canvas->allocate(&out->error))
        return Result::Failed;
    const QRect want = canvas->storedRect();

    jpeg_start_decompress(&d.cinfo);
    // One column more on each side, where the page has it, so that the chroma next to the
    // rectangle's edges is interpolated from real neighbours as in a full decode. A
    // rectangle wholly outside the page still has the page's data gone through.
    const int left = want.isEmpty() ? 0 : std::max(0, want.left() - 1);
    const int right = want.isEmpty() ? 1 : std::min(reduced.width(), want.right() + 2);
    JDIMENSION xoffset = JDIMENSION(left);
    JDIMENSION width = JDIMENSION(right - left);
    if (xoffset != 0 || width != d.cinfo.output_width)
        jpeg_crop_scanline(&d.cinfo, &xoffset, &width);
    row.resize(size_t(width));
    const int skipColumns = want.left() - int(xoffset);
    JSAMPROW rowPointer = reinterpret_cast<JSAMPROW>(row.data());
    const auto readRow = [&d, &rowPointer] {
        if (jpeg_read_scanlines(&d.cinfo, &rowPointer, 1) != 1) // only with a suspending source
            ERREXIT(&d.cinfo, JERR_INPUT_EMPTY);
    };
    if (!want.isEmpty()) {
        if (want.top() > 0)
            jpeg_skip_scanlines(&d.cinfo, JDIMENSION(want.top()));
        for (int y = want.top(); y <= want.bottom(); ++y) {
            readRow();
            if (cmyk)
                jpegCmykToRgb(row.data() + skipColumns, want.width());
            canvas->putRow(y, want.left(), row.data() + skipColumns, want.width());
        }
    }
    out->image = canvas->image();
    if (request.wholeKnown && owner) {
        // Already gone through whole by the same rules, from the same bytes.
        jpeg_abort_decompress(&d.cinfo);
        return Result::Read;
    }
    if (request.deferWholeness && owner) {
        // The thread's share: the decoder where it stopped, a row to decode the last one
        // into, and the bytes the decoder reads.
        struct Rest {
            std::unique_ptr<Decoder> decoder;
            std::vector<quint32> row;
            QByteArray bytes;
        };
        const auto rest = std::make_shared<Rest>(Rest{std::move(decoder), std::move(row), *owner});
        try {
            out->pending = std::async(std::launch::async, [rest] {
                               return finishWhole(*rest->decoder, rest->row);
                           }).share();
            return Result::Read;
        } catch (const std::system_error& e) {
            // No thread to be had: the rest is gone through here.
            qCDebug(lcImaging) << "no thread for the rest of the page:" << e.what();
            return settle(finishWhole(*rest->decoder, rest->row), out);
        }
    }
    return settle(finishWhole(d, row), out);
}

} // namespace
