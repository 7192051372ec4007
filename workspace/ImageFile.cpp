#include "workspace/ImageFile.h"

#include <QFile>
#include <QImageReader>

namespace {

// Bring every frame to the two formats the rest of the workspace works in, so scaling,
// turning and cropping take Qt's fast 32-bit paths without a converted copy of the page.
QImage normalised(QImage image)
{
    const QImage::Format wanted = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if (image.format() == wanted)
        return image;
    return std::move(image).convertToFormat(wanted);
}

// A JPEG cut short still decodes (the missing part comes out grey) and the reader calls
// it a success; a complete one ends with the end-of-image marker, perhaps followed by a
// little padding.
bool jpegIsComplete(const QString& path)
{
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

} // namespace

ImageFile::ImageFile(QList<QImage> frames, int activeFrame) : m_frames(std::move(frames))
{
    setActiveFrame(activeFrame);
}

void ImageFile::setActiveFrame(int index)
{
    if (index >= 0 && index < m_frames.size())
        m_active = index;
}

QImage ImageFile::image() const
{
    return m_frames.value(m_active);
}

bool ImageFile::loadFile(const QString& path)
{
    m_frames.clear();
    m_active = 0;
    m_error.clear();

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
    if (format == "jpeg" && !jpegIsComplete(path)) {
        m_error = QStringLiteral("File JPEG incompleto");
        return false;
    }

    QImage first;
    if (!reader.read(&first) || first.isNull()) {
        m_error = reader.errorString();
        return false;
    }
    QList<QImage> frames{normalised(std::move(first))};
    // The later frames of an animation; a damaged one ends the list.
    while (reader.supportsAnimation() && reader.canRead()) {
        QImage next;
        if (!reader.read(&next) || next.isNull())
            break;
        frames << normalised(std::move(next));
    }
    m_frames = std::move(frames);
    return true;
}
