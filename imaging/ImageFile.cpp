#include "imaging/ImageFile.h"

#include "imaging/FastPixels.h"
#include "imaging/PageDecoder.h"

#include <QFile>
#include <QImageReader>
#include <QtEndian>
#include <QtNumeric>
#include <array>

namespace {

// Bring every frame to the two formats the rest of the workspace works in, so scaling,
// turning and cropping take Qt's fast 32-bit paths without a converted copy of the page.
QImage normalised(QImage image) {
    const QImage::Format wanted = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if (image.format() == wanted)
        return image;
    return std::move(image).convertToFormat(wanted);
}

// A JPEG cut short still decodes (the missing part comes out grey) and the reader calls
// it a success; a complete one ends with the end-of-image marker, perhaps followed by a
// little padding.
bool jpegIsComplete(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 tail = qMin<qint64>(file.size(), 4096);
    if (!file.seek(file.size() - tail))
        return false;
    const QByteArray end = file.read(tail);
    const qsizetype marker = end.lastIndexOf(QByteArrayLiteral("\xFF\xD9"));
    if (marker < 0)
        return false;
    for (qsizetype i = marker + 2; i < end.size(); ++i) {
        const char c = end.at(i);
        if (c != '\0' && c != '\xFF' && c != '\n' && c != '\r' && c != ' ')
            return false;
    }
    return true;
}

// The reader also fills in rows missing from a BMP cut short. An uncompressed one must
// hold every row after its pixel offset.
bool bmpIsComplete(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    std::array<char, 54> header{};
    const qint64 got = file.read(header.data(), qint64(header.size()));
    if (got < 30)
        return false;
    const auto pixelOffset = qFromLittleEndian<quint32>(header.data() + 10);
    const auto infoSize = qFromLittleEndian<quint32>(header.data() + 14);
    qint64 width = 0;
    qint64 height = 0;
    int bitsPerPixel = 0;
    quint32 compression = 0;
    if (infoSize == 12) { // the old OS/2 header
        width = qFromLittleEndian<quint16>(header.data() + 18);
        height = qFromLittleEndian<quint16>(header.data() + 20);
        bitsPerPixel = qFromLittleEndian<quint16>(header.data() + 24);
    } else {
        if (got < 34)
            return false;
        width = qFromLittleEndian<qint32>(header.data() + 18);
        height = qAbs(qint64(qFromLittleEndian<qint32>(header.data() + 22)));
        bitsPerPixel = qFromLittleEndian<quint16>(header.data() + 28);
        compression = qFromLittleEndian<quint32>(header.data() + 30);
    }
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
    if (!uncompressed)
        return true; // run-length data has no fixed size; the reader checks it
    const qint64 rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
    // The fields are the file's word: rows too many to count cannot all be in it.
    qint64 pixelBytes = 0;
    qint64 end = 0;
    if (qMulOverflow(rowBytes, height, &pixelBytes) || qAddOverflow(qint64(pixelOffset), pixelBytes, &end))
        return false;
    return file.size() >= end;
}

// A GIF ends with its trailer byte; one cut short has lost it.
bool gifIsComplete(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 1)
        return false;
    const qint64 tail = qMin<qint64>(file.size(), 64);
    file.seek(file.size() - tail);
    QByteArray end = file.read(tail);
    while (end.endsWith('\0'))
        end.chop(1);
    return end.endsWith('\x3B');
}

} // namespace

ImageFile::ImageFile(QList<QImage> frames, int activeFrame) : m_frames(std::move(frames)) {
    makeReduced();
    setActiveFrame(activeFrame);
}

ImageFile::ImageFile(QList<QImage> frames, QList<QImage> reduced, int activeFrame)
    : m_frames(std::move(frames)), m_reduced(std::move(reduced)) {
    makeReduced();
    setActiveFrame(activeFrame);
}

void ImageFile::makeReduced() {
    if (m_reduced.size() != m_frames.size())
        m_reduced = QList<QImage>(m_frames.size());
    for (qsizetype i = 0; i < m_frames.size(); ++i) {
        const QImage& frame = m_frames.at(i);
        const bool large = frame.width() >= kReduceFrom && frame.height() >= kReduceFrom;
        if (!large)
            m_reduced[i] = QImage();
        else if (m_reduced.at(i).size() != FastPixels::reducedSize(frame.size()))
            m_reduced[i] = FastPixels::blockAverage(frame);
    }
}

void ImageFile::setActiveFrame(int index) {
    if (index >= 0 && index < m_frames.size())
        m_active = index;
}

QImage ImageFile::image() const {
    return m_frames.value(m_active);
}

bool ImageFile::loadFile(const QString& path) {
    m_frames.clear();
    m_reduced.clear();
    m_active = 0;
    m_error.clear();

    // The common pages (JPEG, uncompressed BMP) take the quick road: recognised by their
    // first bytes and decoded straight into 32-bit pixels with the reduced copy made on
    // the way. What the quick decoders decline goes on to Qt's readers below, which also
    // give the error of a file that cannot be read.
    const qint64 maxBytes = qint64(kAllocationLimitMb) << 20;
    PageDecoder::Page page;
    QByteArray magic;
    if (QFile file(path); file.open(QIODevice::ReadOnly))
        magic = file.read(3);
    if ((magic == QByteArrayLiteral("\xFF\xD8\xFF") && jpegIsComplete(path) &&
         PageDecoder::readJpeg(path, maxBytes, kReduceFrom, page)) ||
        (magic.startsWith("BM") && bmpIsComplete(path) &&
         PageDecoder::readBmp(path, maxBytes, kReduceFrom, page))) {
        m_frames = {page.image};
        m_reduced = {page.reduced};
        makeReduced();
        return true;
    }

    QImageReader::setAllocationLimit(kAllocationLimitMb);
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    if (!reader.canRead()) {
        m_error = reader.errorString();
        return false;
    }
    const QByteArray format = reader.format();
    static const QList<QByteArray> accepted{"bmp", "jpeg", "gif", "png"};
    if (!accepted.contains(format)) {
        m_error = QStringLiteral("Formato non gestito: ") + QString::fromLatin1(format);
        return false;
    }
    const bool complete = format == "jpeg"  ? jpegIsComplete(path)
                          : format == "bmp" ? bmpIsComplete(path)
                          : format == "gif" ? gifIsComplete(path)
                                            : true;
    if (!complete) {
        m_error = QStringLiteral("File incompleto");
        return false;
    }

    QImage first;
    if (!reader.read(&first) || first.isNull()) {
        m_error = reader.errorString();
        return false;
    }
    QList<QImage> frames{normalised(std::move(first))};
    // The later frames of an animation; a damaged one ends the list, and so do the limits.
    // Asking a GIF's reader for a frame after the last one makes it copy the page first,
    // so the frames are counted (the count only walks the blocks) before reading more;
    // a count of 0 means the reader could not tell. Every frame of a GIF is decoded at the
    // whole screen's size, so the first one tells whether one more fits before it is decoded.
    const int declaredFrames = reader.supportsAnimation() ? reader.imageCount() : 1;
    const qint64 budget = kFramesBudgetMb * 1024 * 1024;
    qint64 bytes = frames.first().sizeInBytes();
    while (reader.supportsAnimation() && (declaredFrames <= 0 || frames.size() < declaredFrames) &&
           frames.size() < kMaxFrames && bytes + frames.first().sizeInBytes() <= budget && reader.canRead()) {
        QImage next;
        if (!reader.read(&next) || next.isNull())
            break;
        next = normalised(std::move(next));
        bytes += next.sizeInBytes();
        if (bytes > budget)
            break;
        frames << std::move(next);
    }
    m_frames = std::move(frames);
    makeReduced();
    return true;
}
