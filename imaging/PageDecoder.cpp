#include "imaging/PageDecoder.h"

#include "imaging/BmpHeader.h"
#include "imaging/FastPixels.h"
#include "imaging/JpegErrors.h"
#include "imaging/PageFile.h"

#include <cstring>
#include <jerror.h>

namespace PageDecoder {

namespace {

QString beyondLimits(int width, int height) {
    return QStringLiteral("la pagina (%1 x %2 pixel) supera i limiti di una pagina.").arg(width).arg(height);
}

bool allocatePage(int width, int height, qint64 maxBytes, int reduceFrom, Page& page) {
    if (width <= 0 || height <= 0 || qint64(width) * height * 4 > maxBytes ||
        !PageLimits::pageFits(width, height)) {
        page.error = beyondLimits(width, height);
        return false;
    }
    const bool withReduced = width >= reduceFrom && height >= reduceFrom;
    page.image = FastPixels::allocate(QSize(width, height), QImage::Format_RGB32);
    if (withReduced)
        page.reduced = FastPixels::allocate(FastPixels::reducedSize(page.image.size()), QImage::Format_RGB32);
    if (page.image.isNull() || (withReduced && page.reduced.isNull())) {
        page.error =
            QStringLiteral("memoria insufficiente per una pagina di %1 x %2 pixel.").arg(width).arg(height);
        return false;
    }
    return true;
}

// Averages the block rows whose source rows are all final once rowsDone rows are.
void reduceUpTo(Page& page, int& blockRowsDone, int rowsDone) {
    if (page.reduced.isNull())
        return;
    const int ready = rowsDone >= page.image.height() ? page.reduced.height() : rowsDone / FastPixels::kBlock;
    if (ready > blockRowsDone) {
        FastPixels::blockAverageRows(page.image, page.reduced, blockRowsDone, ready);
        blockRowsDone = ready;
    }
}

struct Decompression {
    jpeg_decompress_struct info;
    JpegErrors errors;
};

// No C++ object with a destructor lives in this frame after setjmp: a jump from
// libjpeg's error handler skips none.
bool decode(Decompression& d, const uchar* data, qsizetype size, qint64 maxBytes, int reduceFrom,
            Page& page) {
    jpeg_decompress_struct& info = d.info;
    if (setjmp(d.errors.jump)) {
        page.error = d.errors.reason();
        return false;
    }
    jpeg_create_decompress(&info);
    d.errors.limit(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space =
        cmyk ? JCS_CMYK : JCS_EXT_BGRX; // QImage's RGB32 in memory on a little-endian machine
    jpeg_calc_output_dimensions(&info);
    const int width = int(info.output_width);
    const int height = int(info.output_height);
    if (qint64(width) * height * 4 > maxBytes || !PageLimits::pageFits(width, height)) {
        page.error = beyondLimits(width, height);
        return false;
    }
    // A progressive file is read whole here, before the page is allocated.
    jpeg_start_decompress(&info);
    if (!allocatePage(width, height, maxBytes, reduceFrom, page))
        return false;
    int blockRowsDone = 0;
    constexpr int kBand = 16;
    JSAMPROW rows[kBand];
    while (info.output_scanline < info.output_height) {
        const int first = int(info.output_scanline);
        const int count = qMin(kBand, height - first);
        for (int i = 0; i < count; ++i)
            rows[i] = page.image.scanLine(first + i);
        const int got = int(jpeg_read_scanlines(&info, rows, JDIMENSION(count)));
        if (got == 0) // only with a suspending source
            ERREXIT(&info, JERR_INPUT_EMPTY);
        if (cmyk)
            for (int i = 0; i < got; ++i)
                jpegCmykToRgb(reinterpret_cast<quint32*>(rows[i]), width);
        reduceUpTo(page, blockRowsDone, int(info.output_scanline));
    }
    jpeg_finish_decompress(&info);
    if (info.saw_JFIF_marker && info.X_density > 0 && info.Y_density > 0 && info.density_unit != 0) {
        const double perMetre = info.density_unit == 1 ? 100 / 2.54 : 100;
        page.image.setDotsPerMeterX(qRound(info.X_density * perMetre));
        page.image.setDotsPerMeterY(qRound(info.Y_density * perMetre));
    }
    return true;
}

} // namespace

bool decodeJpeg(const QByteArray& bytes, qint64 maxBytes, int reduceFrom, Page& page) {
    page = Page();
    Decompression d;
    std::memset(&d, 0, sizeof d);
    d.info.err = d.errors.forDecoder();
    const bool read = decode(d, reinterpret_cast<const uchar*>(bytes.constData()), bytes.size(), maxBytes,
                             reduceFrom, page);
    jpeg_destroy_decompress(&d.info);
    if (!read) {
        const QString error = page.error;
        page = Page();
        page.error = error;
    }
    return read;
}

bool readJpeg(const QString& path, qint64 maxBytes, int reduceFrom, Page& page) {
    page = Page();
    PageFile file;
    QByteArray bytes;
    if (!file.open(path, &page.error) || !file.readAll(&bytes, &page.error))
        return false;
    if (pageFormatOf(file.head()) != PageFormat::Jpeg) {
        page.error = QStringLiteral("il file non è un JPEG.");
        return false;
    }
    return decodeJpeg(bytes, maxBytes, reduceFrom, page);
}

bool decodeBmp(const PageFile& file, const BmpHeader& bmp, qint64 maxBytes, int reduceFrom, Page& page) {
    page = Page();
    if (bmp.rows != BmpHeader::Rows::Ours) {
        page.declined = bmp.rows == BmpHeader::Rows::Qt;
        page.error = QStringLiteral("questo tipo di file BMP non si legge per righe.");
        return false;
    }
    const int width = bmp.size.width();
    const int height = bmp.size.height();
    if (!allocatePage(width, height, maxBytes, reduceFrom, page)) {
        const QString error = page.error;
        page = Page();
        page.error = error;
        return false;
    }
    // The rows are read a band at a time, top of the picture first, so that neither the
    // whole file nor a mapping of it stays resident beside the page.
    constexpr int kBand = 32;
    QByteArray band(qsizetype(bmp.stride * kBand), Qt::Uninitialized);
    int blockRowsDone = 0;
    for (int top = 0; top < height; top += kBand) {
        const int rows = qMin(kBand, height - top);
        const int firstStored = bmp.topDown ? top : top + rows - 1;
        if (!file.readAt(bmp.rowOffset(firstStored), band.data(), bmp.stride * rows)) {
            page = Page();
            page.error = PageFile::changedReason();
            return false;
        }
        for (int i = 0; i < rows; ++i) {
            const int inBand = bmp.topDown ? i : rows - 1 - i;
            const auto* in = reinterpret_cast<const uchar*>(band.constData()) + bmp.stride * inBand;
            bmp.decodeRow(in, 0, width, reinterpret_cast<quint32*>(page.image.scanLine(top + i)));
        }
        reduceUpTo(page, blockRowsDone, top + rows);
    }
    if (bmp.xPerMetre > 0 && bmp.yPerMetre > 0) {
        page.image.setDotsPerMeterX(bmp.xPerMetre);
        page.image.setDotsPerMeterY(bmp.yPerMetre);
    }
    return true;
}

bool readBmp(const QString& path, qint64 maxBytes, int reduceFrom, Page& page) {
    page = Page();
    PageFile file;
    if (!file.open(path, &page.error))
        return false;
    if (pageFormatOf(file.head()) != PageFormat::Bmp) {
        page.error = QStringLiteral("il file non è un BMP.");
        return false;
    }
    BmpHeader bmp;
    const auto* head = reinterpret_cast<const uchar*>(file.head().constData());
    if (!BmpHeader::parse(head, file.head().size(), file.size(), &bmp, &page.error))
        return false;
    return decodeBmp(file, bmp, maxBytes, reduceFrom, page);
}

} // namespace PageDecoder
