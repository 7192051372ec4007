#include "imaging/JpegRegionReader.h"

#include "imaging/RegionCanvas.h"

#include <cstdio> // jpeglib.h needs FILE and size_t first
#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstring>
#include <optional>
#include <vector>

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool truncated;
};

// libjpeg's own error_exit ends the process; ours goes back to the reader.
[[noreturn]] void errorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings that mean the pixels are made up (data missing or damaged) fail the read:
// a half-grey photo must not be saved as if it were the page.
void emitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0)
        return; // trace messages
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE ||
        code == JWRN_MUST_RESYNC || code == JWRN_NOT_SEQUENTIAL) {
        err->truncated = code == JWRN_JPEG_EOF;
        (*cinfo->err->format_message)(cinfo, err->message);
        std::longjmp(err->jump, 1);
    }
    ++cinfo->err->num_warnings;
}

// Owns a decompressor for one read; destroyed on every path, including after a longjmp.
struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager err;

    Decoder() {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&err, 0, sizeof err);
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = errorExit;
        err.pub.emit_message = emitMessage;
    }
    ~Decoder() { jpeg_destroy_decompress(&cinfo); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    QString reason() const {
        if (err.truncated)
            return QStringLiteral("Il file JPEG è troncato.");
        return QStringLiteral("Il file JPEG è danneggiato (%1).").arg(QString::fromLocal8Bit(err.message));
    }
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

// Entropy-coded data never holds 0xFF 0xD9 (a 0xFF there is always followed by 0x00 or
// a restart marker), so the last such pair after the first scan starts is the image's end.
// A whole file has it in its last bytes; a search through everything happens only for
// files that are cut short.
bool endsWithImageEnd(const uchar* scan, const uchar* end) {
    for (const uchar* p = end - 1; p > scan; --p)
        if (*p == 0xD9 && p[-1] == 0xFF)
            return true;
    return false;
}

} // namespace

bool JpegRegionReader::isJpeg(const uchar* data, qint64 size) {
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

JpegRegionReader::Result JpegRegionReader::size(const uchar* data, qint64 size, QSize* pageSize,
                                                QString* error) {
    if (!isJpeg(data, size))
        return Result::NotJpeg;
    Decoder d;
    if (setjmp(d.err.jump)) {
        *error = d.reason();
        return Result::Failed;
    }
    jpeg_create_decompress(&d.cinfo);
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.cinfo, TRUE);
    *pageSize = QSize(int(d.cinfo.image_width), int(d.cinfo.image_height));
    return Result::Read;
}

JpegRegionReader::Result JpegRegionReader::read(const uchar* data, qint64 size, const RegionRequest& request,
                                                PageRegion* out) {
    if (!isJpeg(data, size))
        return Result::NotJpeg;
    // Everything with a destructor lives outside the setjmp scope: a longjmp back to it
    // must not skip a destructor.
    Decoder d;
    std::vector<quint32> row;
    std::optional<RegionCanvas> canvas;
    if (setjmp(d.err.jump)) {
        out->image = QImage();
        out->error = d.reason();
        return Result::Failed;
    }
    jpeg_create_decompress(&d.cinfo);
    // Bounds what libjpeg may allocate for a hostile header (progressive files buffer the
    // whole coefficient image).
    d.cinfo.mem->max_memory_to_use = long(RegionCanvas::kAllocationLimitMb) * 1024 * 1024;
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.cinfo, TRUE);
    // A file cut short is refused whole, as the workspace refuses it, even when the rows of
    // the rectangle happen to be complete: no end-of-image marker after the first scan.
    if (!endsWithImageEnd(d.cinfo.src->next_input_byte, data + size)) {
        out->error = QStringLiteral("Il file JPEG è troncato.");
        return Result::Failed;
    }

    if (d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK ||
        d.cinfo.jpeg_color_space == JCS_UNKNOWN)
        return Result::Unsupported;

    const QSize stored(int(d.cinfo.image_width), int(d.cinfo.image_height));
    out->pageSize = request.transform.transformedSize(stored);

    const int k = RegionReader::reductionFor(request.rect.size(), request.targetSize);
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

    canvas.emplace(reduced, request.transform, shown);
    if (!canvas->allocate(&out->error))
        return Result::Failed;
    const QRect want = canvas->storedRect();
    if (want.isEmpty()) { // wholly outside the page: white paper, nothing to decode
        out->image = canvas->image();
        return Result::Read;
    }

    jpeg_start_decompress(&d.cinfo);
    // One column more on each side, where the page has it, so that the chroma next to the
    // rectangle's edges is interpolated from real neighbours as in a full decode.
    const int left = std::max(0, want.left() - 1);
    const int right = std::min(reduced.width(), want.right() + 2);
    JDIMENSION xoffset = JDIMENSION(left);
    JDIMENSION width = JDIMENSION(right - left);
    if (xoffset != 0 || width != d.cinfo.output_width)
        jpeg_crop_scanline(&d.cinfo, &xoffset, &width);
    row.resize(width);
    const int skipColumns = want.left() - int(xoffset);

    if (want.top() > 0)
        jpeg_skip_scanlines(&d.cinfo, JDIMENSION(want.top()));
    JSAMPROW rowPointer = reinterpret_cast<JSAMPROW>(row.data());
    for (int y = want.top(); y <= want.bottom(); ++y) {
        if (jpeg_read_scanlines(&d.cinfo, &rowPointer, 1) != 1) {
            out->error = QStringLiteral("Il file JPEG è troncato.");
            return Result::Failed;
        }
        canvas->putRow(y, want.left(), row.data() + skipColumns, want.width());
    }
    // The rows below the rectangle are not needed: stop without reading them.
    jpeg_abort_decompress(&d.cinfo);
    out->image = canvas->image();
    return Result::Read;
}
