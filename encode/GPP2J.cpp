#include "encode/GPP2J.h"

#include "core/CheckedFile.h"
#include "imaging/JpegErrors.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// Compressed bytes go straight into a QByteArray that grows by doubling.
struct ByteArrayDestination {
    jpeg_destination_mgr pub; // first: libjpeg hands back a pointer to it
    QByteArray bytes;
};

ByteArrayDestination* destinationOf(j_compress_ptr cinfo) {
    return reinterpret_cast<ByteArrayDestination*>(cinfo->dest);
}

void initDestination(j_compress_ptr cinfo) {
    auto* dest = destinationOf(cinfo);
    dest->pub.next_output_byte = reinterpret_cast<JOCTET*>(dest->bytes.data());
    dest->pub.free_in_buffer = static_cast<size_t>(dest->bytes.size());
}

// Called when the whole buffer is full (free_in_buffer is then meaningless).
boolean growDestination(j_compress_ptr cinfo) {
    auto* dest = destinationOf(cinfo);
    const qsizetype used = dest->bytes.size();
    bool grown = true;
    try {
        dest->bytes.resize(used * 2);
    } catch (...) {
        grown = false;
    }
    // Leave the catch block before jumping out of it.
    if (!grown)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    dest->pub.next_output_byte = reinterpret_cast<JOCTET*>(dest->bytes.data()) + used;
    dest->pub.free_in_buffer = static_cast<size_t>(dest->bytes.size() - used);
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto* dest = destinationOf(cinfo);
    dest->bytes.resize(dest->bytes.size() - static_cast<qsizetype>(dest->pub.free_in_buffer));
}

// Everything one encode owns. It lives in the caller of compress(), so the longjmp of an
// encoder error never skips a destructor; the destructor releases libjpeg's memory on
// every path.
struct Compression {
    jpeg_compress_struct cinfo{};
    JpegErrors err{}; // fatal errors jump back to compress() with the message kept
    ByteArrayDestination dest{};
    std::vector<JSAMPROW> rows;
    J_COLOR_SPACE colorSpace = JCS_UNKNOWN;
    int components = 0;
    JDIMENSION width = 0;
    int quality = 100;
    UINT8 densityUnit = 1;
    UINT16 xDensity = 0;
    UINT16 yDensity = 0;

    Compression() {
        cinfo.err = err.forEncoder();
        dest.pub.init_destination = initDestination;
        dest.pub.empty_output_buffer = growDestination;
        dest.pub.term_destination = termDestination;
    }
    ~Compression() { jpeg_destroy_compress(&cinfo); } // harmless before creation: no pools yet
    Compression(const Compression&) = delete;
    Compression& operator=(const Compression&) = delete;
};

// Only trivially destructible locals here: an encoder error longjmps back into this frame.
bool compress(Compression& c) {
    if (setjmp(c.err.jump))
        return false;

    jpeg_create_compress(&c.cinfo);
    c.cinfo.dest = &c.dest.pub;
    // jpeg_create_compress cleared the record: fill it only now.
    c.cinfo.image_width = c.width;
    c.cinfo.image_height = static_cast<JDIMENSION>(c.rows.size());
    c.cinfo.input_components = c.components;
    c.cinfo.in_color_space = c.colorSpace;
    jpeg_set_defaults(&c.cinfo);
    jpeg_set_colorspace(&c.cinfo, JCS_YCbCr);
    // force_baseline keeps every quantiser within 8 bits, as baseline decoders expect.
    jpeg_set_quality(&c.cinfo, c.quality, TRUE);
    c.cinfo.optimize_coding = TRUE;
    c.cinfo.progressive_mode = FALSE;
    // 4:2:0: full-resolution luma, chroma halved on both axes.
    c.cinfo.comp_info[0].h_samp_factor = 2;
    c.cinfo.comp_info[0].v_samp_factor = 2;
    for (int i = 1; i < 3; ++i) {
        c.cinfo.comp_info[i].h_samp_factor = 1;
        c.cinfo.comp_info[i].v_samp_factor = 1;
    }
    c.cinfo.write_JFIF_header = TRUE;
    c.cinfo.density_unit = c.densityUnit;
    c.cinfo.X_density = c.xDensity;
    c.cinfo.Y_density = c.yDensity;

    jpeg_start_compress(&c.cinfo, TRUE);
    const JDIMENSION height = c.cinfo.image_height;
    while (c.cinfo.next_scanline < height)
        jpeg_write_scanlines(&c.cinfo, c.rows.data() + c.cinfo.next_scanline, height - c.cinfo.next_scanline);
    jpeg_finish_compress(&c.cinfo);
    return true;
}

bool isOpaque(const QImage& image) {
    if (!image.hasAlphaChannel())
        return true;
    const QImage argb =
        image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_ARGB32_Premultiplied
            ? image
            : image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) != 255)
                return false;
        }
    }
    return true;
}

} // namespace

int GPP2J::dotsPerInch(int dotsPerMeter) {
    if (dotsPerMeter <= 0)
        return 0;
    return static_cast<int>(std::lround(dotsPerMeter * 0.0254));
}

QImage GPP2J::encodable(const QImage& Picture) {
    switch (Picture.format()) {
    case QImage::Format_Invalid:
        return {};
    case QImage::Format_RGB32:
    case QImage::Format_RGB888:
    case QImage::Format_RGBX8888:
        return Picture;
    default:
        break;
    }
    if (isOpaque(Picture))
        return Picture.convertToFormat(QImage::Format_RGB32);
    // A JPEG has no transparency: show what the operator would see on white paper.
    QImage flat(Picture.size(), QImage::Format_RGB32);
    flat.setDotsPerMeterX(Picture.dotsPerMeterX());
    flat.setDotsPerMeterY(Picture.dotsPerMeterY());
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, Picture);
    painter.end();
    return flat;
}

QByteArray GPP2J::encode(const QImage& Picture, int Quality, int xdpi, int ydpi) {
    m_lastError.clear();
    if (Picture.isNull()) {
        m_lastError = QStringLiteral("immagine vuota");
        return {};
    }

    Compression c;
    if (xdpi != 0) {
        if (xdpi < 1 || ydpi < 1 || xdpi > 65535 || ydpi > 65535) {
            m_lastError = QStringLiteral("risoluzione non valida (%1 x %2 dpi)").arg(xdpi).arg(ydpi);
            return {};
        }
        c.xDensity = static_cast<UINT16>(xdpi);
        c.yDensity = static_cast<UINT16>(ydpi);
    } else {
        const int ownX = std::min(dotsPerInch(Picture.dotsPerMeterX()), 65535);
        const int ownY = std::min(dotsPerInch(Picture.dotsPerMeterY()), 65535);
        if (ownX > 0 && ownY > 0) {
            c.xDensity = static_cast<UINT16>(ownX);
            c.yDensity = static_cast<UINT16>(ownY);
        } else {
            // No density known: record square pixels only, as JFIF does with unit 0.
            c.densityUnit = 0;
            c.xDensity = 1;
            c.yDensity = 1;
        }
    }

    const QImage pixels = encodable(Picture);
    switch (pixels.format()) {
    case QImage::Format_RGB32: // 0xffRRGGBB words
        c.colorSpace = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
        c.components = 4;
        break;
    case QImage::Format_RGBX8888:
        c.colorSpace = JCS_EXT_RGBX;
        c.components = 4;
        break;
    default: // Format_RGB888
        c.colorSpace = JCS_EXT_RGB;
        c.components = 3;
        break;
    }
    c.quality = std::clamp(Quality, 0, 100);
    c.width = static_cast<JDIMENSION>(pixels.width());
    c.rows.resize(static_cast<std::size_t>(pixels.height()));
    for (int y = 0; y < pixels.height(); ++y) // libjpeg only reads the rows
        c.rows[static_cast<std::size_t>(y)] = const_cast<JSAMPROW>(pixels.constScanLine(y));
    c.dest.bytes.resize(std::max<qsizetype>(65536, qsizetype(pixels.width()) * pixels.height() * 2));

    if (!compress(c)) {
        m_lastError = QString::fromLocal8Bit(c.err.message);
        return {};
    }
    return std::move(c.dest.bytes);
}

bool GPP2J::writeFile(const QByteArray& bytes, const QString& fileName) {
    m_lastError.clear();
    // Written beside the target, flushed, checked to the last byte on disk and only then
    // renamed over it: a failure at any point leaves the old file (or no file).
    return CheckedFile::writeAll(fileName, bytes, &m_lastError);
}

bool GPP2J::writeFile(const QByteArray& bytes, const OpenFolder& folder, const QString& name) {
    m_lastError.clear();
    return CheckedFile::writeAll(folder, name, bytes, &m_lastError);
}

bool GPP2J::JpegSaveFromPicture(const QImage& Picture, int Quality, const QString& FileName, int xdpi,
                                int ydpi) {
    const QByteArray bytes = encode(Picture, Quality, xdpi, ydpi);
    if (bytes.isEmpty())
        return false;
    return writeFile(bytes, FileName);
}
