#include "imaging/RegionReader.h"

#include "imaging/BmpRegionReader.h"
#include "imaging/GifRegionReader.h"
#include "imaging/JpegRegionReader.h"
#include "imaging/RegionCanvas.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>

#include <vector>

namespace {

// The page file, mapped read-only: the readers pick the bytes they need, and the system
// pages in only those.
class MappedFile {
  public:
    explicit MappedFile(const QString& path) : m_file(path) {}

    bool open(QString* error) {
        if (!m_file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("Impossibile aprire il file \"%1\": %2.")
                         .arg(m_file.fileName(), m_file.errorString());
            return false;
        }
        m_size = m_file.size();
        if (m_size == 0) {
            *error = QStringLiteral("Il file \"%1\" è vuoto.").arg(m_file.fileName());
            return false;
        }
        m_data = m_file.map(0, m_size);
        if (!m_data) {
            *error = QStringLiteral("Impossibile leggere il file \"%1\": %2.")
                         .arg(m_file.fileName(), m_file.errorString());
            return false;
        }
        return true;
    }

    const uchar* data() const { return m_data; }
    qint64 size() const { return m_size; }

  private:
    QFile m_file; // unmaps on destruction
    uchar* m_data = nullptr;
    qint64 m_size = 0;
};

QString withFileName(const QString& path, const QString& reason) {
    return QStringLiteral("%1: %2").arg(path, reason);
}

// Any format Qt reads. QImageReader decodes the clip only where its plug-in can (and
// otherwise copies the clip out of one decode); the clip is then turned into place.
void readGeneric(const RegionRequest& request, PageRegion* out) {
    // A 600 dpi page passes Qt's default limit of 128 MB; raised once, as the workspace does.
    static const bool limitRaised = [] {
        QImageReader::setAllocationLimit(int(RegionCanvas::kAllocationLimitMb));
        return true;
    }();
    Q_UNUSED(limitRaised);
    QImageReader reader(request.path);
    reader.setAutoTransform(false);
    QSize stored = reader.size();
    const bool readable = reader.canRead();
    // Qt's GIF reader gives the first image's size here but decodes the whole screen, with
    // that image at its place: the decoded picture is the page.
    QImage whole;
    if (readable && reader.format() == "gif") {
        whole = reader.read();
        stored = whole.size();
    }
    if (!readable || stored.isEmpty()) {
        out->error = withFileName(
            request.path,
            QStringLiteral("il file non è un'immagine leggibile (%1).").arg(reader.errorString()));
        return;
    }
    out->pageSize = request.transform.transformedSize(stored);
    out->origin = request.rect.topLeft();
    out->scale = 1.0;
    out->method = PageRegion::Method::Generic;

    RegionCanvas canvas(stored, request.transform, request.rect);
    if (!canvas.allocate(&out->error))
        return;
    const QRect want = canvas.storedRect();
    if (!want.isEmpty()) {
        QImage clip;
        if (!whole.isNull()) {
            clip = whole.copy(want);
        } else {
            reader.setClipRect(want);
            clip = reader.read();
        }
        if (clip.isNull() || clip.size() != want.size()) {
            out->error = withFileName(request.path,
                                      QStringLiteral("lettura non riuscita (%1).").arg(reader.errorString()));
            return;
        }
        if (clip.hasAlphaChannel()) { // transparent parts lie on white paper
            QImage flat(clip.size(), QImage::Format_RGB32);
            flat.fill(Qt::white);
            QPainter(&flat).drawImage(0, 0, clip);
            clip = flat;
        } else if (clip.format() != QImage::Format_RGB32) {
            clip.convertTo(QImage::Format_RGB32);
        }
        for (int y = 0; y < clip.height(); ++y)
            canvas.putRow(want.top() + y, want.left(),
                          reinterpret_cast<const quint32*>(clip.constScanLine(y)), clip.width());
    }
    out->image = canvas.image();
}

} // namespace

QRectF PageRegion::mapFromPage(const QRectF& pageRect) const {
    return QRectF((pageRect.x() - origin.x()) * scale, (pageRect.y() - origin.y()) * scale,
                  pageRect.width() * scale, pageRect.height() * scale);
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
    if (!request.transform.isValid()) {
        out.error = QStringLiteral("Rotazione non valida: %1 (ammesse 0, 90, 180 e 270).")
                        .arg(request.transform.rotation);
        return out;
    }
    if (request.rect.isEmpty()) {
        out.error = QStringLiteral("Il rettangolo richiesto è vuoto.");
        return out;
    }
    // No page comes near a million pixels a side; beyond that the pixel arithmetic could
    // overflow, so such a rectangle is refused before it is used.
    constexpr int kFar = 1 << 20;
    const QRect& r = request.rect;
    if (r.left() < -kFar || r.top() < -kFar || r.right() > kFar || r.bottom() > kFar) {
        out.error = QStringLiteral("Il rettangolo richiesto (%1, %2, %3 x %4) è fuori misura.")
                        .arg(r.left())
                        .arg(r.top())
                        .arg(r.width())
                        .arg(r.height());
        return out;
    }
    MappedFile file(request.path);
    if (!file.open(&out.error))
        return out;

    const auto jpeg = JpegRegionReader::read(file.data(), file.size(), request, &out);
    if (jpeg == JpegRegionReader::Result::Read) {
        out.method = PageRegion::Method::Jpeg;
        return out;
    }
    if (jpeg == JpegRegionReader::Result::Failed) {
        out.error = withFileName(request.path, out.error);
        return out;
    }
    const auto gif = GifRegionReader::read(file.data(), file.size(), request, &out);
    if (gif == GifRegionReader::Result::Read) {
        out.method = PageRegion::Method::Gif;
        return out;
    }
    if (gif == GifRegionReader::Result::Failed) {
        out.error = withFileName(request.path, out.error);
        return out;
    }
    if (jpeg == JpegRegionReader::Result::NotJpeg && gif == GifRegionReader::Result::NotGif) {
        const auto bmp = BmpRegionReader::read(file.data(), file.size(), request, &out);
        if (bmp == BmpRegionReader::Result::Read) {
            out.method = PageRegion::Method::Bmp;
            return out;
        }
        if (bmp == BmpRegionReader::Result::Failed) {
            out.error = withFileName(request.path, out.error);
            return out;
        }
    }
    out = PageRegion();
    readGeneric(request, &out);
    return out;
}

QSize RegionReader::pageSize(const QString& path, QString* error) {
    MappedFile file(path);
    if (!file.open(error))
        return {};
    QSize size;
    QString why;
    const auto jpeg = JpegRegionReader::size(file.data(), file.size(), &size, &why);
    if (jpeg == JpegRegionReader::Result::Read)
        return size;
    if (jpeg == JpegRegionReader::Result::Failed) {
        *error = withFileName(path, why);
        return {};
    }
    const auto gif = GifRegionReader::size(file.data(), file.size(), &size, &why);
    if (gif == GifRegionReader::Result::Read)
        return size;
    if (gif == GifRegionReader::Result::Failed) {
        *error = withFileName(path, why);
        return {};
    }
    const auto bmp = BmpRegionReader::size(file.data(), file.size(), &size, &why);
    if (bmp == BmpRegionReader::Result::Read)
        return size;
    if (bmp == BmpRegionReader::Result::Failed) {
        *error = withFileName(path, why);
        return {};
    }
    QImageReader reader(path);
    reader.setAutoTransform(false);
    size = reader.size();
    if (!reader.canRead() || size.isEmpty()) {
        *error = withFileName(
            path, QStringLiteral("il file non è un'immagine leggibile (%1).").arg(reader.errorString()));
        return {};
    }
    return size;
}
