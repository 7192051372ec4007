#include "imaging/ImageFile.h"

#include "imaging/BmpHeader.h"
#include "imaging/FastPixels.h"
#include "imaging/GifRegionReader.h"
#include "imaging/Logging.h"
#include "imaging/PageDecoder.h"
#include "imaging/PageFile.h"
#include "imaging/RegionReader.h"

#include <QBuffer>
#include <QImageReader>

#include <mutex>

namespace {

// Bring every frame to the two formats the rest of the workspace works in, so scaling,
// turning and cropping take Qt's fast 32-bit paths without a converted copy of the page.
QImage normalised(QImage image) {
    const QImage::Format wanted = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if (image.format() == wanted)
        return image;
    return std::move(image).convertToFormat(wanted);
}

} // namespace

struct ImageFile::Later {
    int count = 0; // frames in all, the first included
    // Appends the later frames and their reduced copies.
    std::function<void(QList<QImage>* frames, QList<QImage>* reduced)> make;
    std::once_flag once;
    QList<QImage> frames; // the later frames alone, once made
    QList<QImage> reduced;

    void run() {
        std::call_once(once, [this] {
            make(&frames, &reduced);
            make = nullptr; // lets go of what it read from
            frames.resize(count - 1);
            makeReduced(frames, &reduced);
        });
    }
};

void ImageFile::makeLater() const {
    if (!m_later)
        return;
    const std::shared_ptr<Later> later = std::move(m_later);
    m_later.reset();
    later->run();
    m_frames.resize(1);
    m_reduced.resize(1);
    m_frames << later->frames;
    m_reduced << later->reduced;
}

ImageFile ImageFile::mapLaterFrames(QImage first, QImage firstReduced, FrameMap each) const {
    ImageFile out({std::move(first)}, {std::move(firstReduced)});
    if (!m_later) {
        for (qsizetype i = 1; i < m_frames.size(); ++i) {
            QImage reduced;
            out.m_frames << each(m_frames.at(i), m_reduced.value(i), &reduced);
            out.m_reduced << reduced;
        }
        out.makeReduced();
        return out;
    }
    auto later = std::make_shared<Later>();
    later->count = m_count;
    later->make = [source = m_later, each = std::move(each)](QList<QImage>* frames, QList<QImage>* reduced) {
        source->run();
        for (qsizetype i = 0; i < source->frames.size(); ++i) {
            QImage small;
            *frames << each(source->frames.at(i), source->reduced.value(i), &small);
            *reduced << small;
        }
    };
    out.m_later = std::move(later);
    out.m_count = m_count;
    return out;
}

ImageFile::ImageFile(QList<QImage> frames, int activeFrame) : m_frames(std::move(frames)) {
    makeReduced();
    setActiveFrame(activeFrame);
}

ImageFile::ImageFile(QList<QImage> frames, QList<QImage> reduced, int activeFrame)
    : m_frames(std::move(frames)), m_reduced(std::move(reduced)) {
    makeReduced();
    setActiveFrame(activeFrame);
}

void ImageFile::makeReduced(const QList<QImage>& frames, QList<QImage>* reduced) {
    if (reduced->size() != frames.size())
        *reduced = QList<QImage>(frames.size());
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const QImage& frame = frames.at(i);
        if (!needsReducedCopy(frame.size()))
            (*reduced)[i] = QImage();
        else if (reduced->at(i).size() != FastPixels::reducedSize(frame.size()))
            (*reduced)[i] = FastPixels::blockAverage(frame);
    }
}

void ImageFile::setActiveFrame(int index) {
    if (index < 0 || index >= frameCount())
        return;
    if (index > 0)
        makeLater();
    m_active = index;
}

QImage ImageFile::image() const {
    return m_frames.value(m_active);
}

bool ImageFile::loadFile(const QString& path) {
    m_frames.clear();
    m_reduced.clear();
    m_later.reset();
    m_count = 0;
    m_active = 0;
    m_error.clear();
    if (!load(path)) {
        qCDebug(lcImaging) << "load" << path << m_error;
        m_frames.clear();
        m_reduced.clear();
        m_later.reset();
        m_count = 0;
        return false;
    }
    makeReduced();
    return true;
}

// The same page reader as the batch command's region reads, with the same rules: a page
// this refuses, the batch command refuses too, and the other way round.
bool ImageFile::load(const QString& path) {
    PageFile file;
    if (!file.open(path, &m_error))
        return false;
    const PageFormat format = pageFormatOf(file.head());
    const auto* head = reinterpret_cast<const uchar*>(file.head().constData());
    PageDecoder::Page page;
    const auto keep = [this, &page] {
        m_frames = {page.image};
        m_reduced = {page.reduced};
        return true;
    };
    switch (format) {
    case PageFormat::Unknown:
        m_error = RegionReader::unknownFormat();
        return false;
    case PageFormat::Bmp: {
        // Rows are read a band at a time; only the layouts left to Qt read the whole file.
        BmpHeader bmp;
        if (!BmpHeader::parse(head, file.head().size(), file.size(), &bmp, &m_error))
            return false;
        if (PageDecoder::decodeBmp(file, bmp, PageLimits::kPageBytes, kReduceFrom, page))
            return keep();
        if (!page.declined) {
            m_error = page.error;
            return false;
        }
        break;
    }
    default:
        break;
    }
    QByteArray bytes;
    if (!file.readAll(&bytes, &m_error))
        return false;
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    switch (format) {
    case PageFormat::Jpeg:
        if (PageDecoder::decodeJpeg(bytes, PageLimits::kPageBytes, kReduceFrom, page))
            return keep();
        m_error = page.error;
        return false;
    case PageFormat::Gif: {
        // The region reader's decoder, checking the image data as the batch command does;
        // the later images of an animation it does not paint are Qt's. The later images it
        // paints are checked and counted now and painted when first asked for.
        const qint64 budget = kFramesBudgetMb * 1024 * 1024;
        QList<QImage> frames;
        QList<QImage> reduced;
        bool complete = true;
        if (GifRegionReader::readFrames(data, bytes.size(), 1, budget, kReduceFrom, &frames, &reduced,
                                        &complete, &m_error) != GifRegionReader::Result::Read)
            return false;
        int count = 1;
        if (GifRegionReader::countFrames(data, bytes.size(), kMaxFrames, budget, &count, &complete,
                                         &m_error) != GifRegionReader::Result::Read)
            return false;
        if (!complete) {
            if (!readFrames(bytes))
                return false;
            m_frames[0] = frames.first();
            return true;
        }
        m_frames = std::move(frames);
        m_reduced = std::move(reduced);
        if (count > 1) {
            auto later = std::make_shared<Later>();
            later->count = count;
            later->make = [bytes, budget](QList<QImage>* laterFrames, QList<QImage>* laterReduced) {
                QList<QImage> all;
                QList<QImage> allReduced;
                bool whole = true;
                QString error;
                GifRegionReader::readFrames(reinterpret_cast<const uchar*>(bytes.constData()), bytes.size(),
                                            kMaxFrames, budget, kReduceFrom, &all, &allReduced, &whole,
                                            &error);
                *laterFrames = all.mid(1);
                *laterReduced = allReduced.mid(1);
            };
            m_later = std::move(later);
            m_count = count;
        }
        return true;
    }
    case PageFormat::Png:
        if (!RegionReader::pngIsWhole(bytes, &m_error))
            return false;
        break;
    default:
        break;
    }
    return readFrames(bytes);
}

bool ImageFile::readFrames(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader::setAllocationLimit(kAllocationLimitMb);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    if (!reader.canRead()) {
        m_error = QStringLiteral("il file non è un'immagine leggibile (%1).").arg(reader.errorString());
        return false;
    }
    const QSize declared = reader.size();
    if (declared.isValid() && !PageLimits::pageFits(declared.width(), declared.height())) {
        m_error = QStringLiteral("la pagina (%1 x %2 pixel) supera i limiti di una pagina.")
                      .arg(declared.width())
                      .arg(declared.height());
        return false;
    }
    QImage first;
    if (!reader.read(&first) || first.isNull()) {
        m_error = QStringLiteral("lettura non riuscita (%1).").arg(reader.errorString());
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
    qint64 bytesUsed = frames.first().sizeInBytes();
    while (reader.supportsAnimation() && (declaredFrames <= 0 || frames.size() < declaredFrames) &&
           frames.size() < kMaxFrames && bytesUsed + frames.first().sizeInBytes() <= budget &&
           reader.canRead()) {
        QImage next;
        if (!reader.read(&next) || next.isNull())
            break;
        next = normalised(std::move(next));
        bytesUsed += next.sizeInBytes();
        if (bytesUsed > budget)
            break;
        frames << std::move(next);
    }
    m_frames = std::move(frames);
    return true;
}
