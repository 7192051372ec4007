#include "imaging/LocatorPicture.h"

#include "imaging/FastPixels.h"
#include "imaging/ImageFile.h"
#include "imaging/PageFile.h"

namespace LocatorPicture {

RegionRequest request(const QString& path, QSize stored) {
    RegionRequest request;
    request.path = path;
    request.rect = QRect(QPoint(0, 0), stored);
    request.targetSize = stored.scaled(kJpegLongSide, kJpegLongSide, Qt::KeepAspectRatio);
    request.greyWillDo = true;
    return request;
}

QImage of(const PageRegion& region, QSize stored) {
    if (!region.ok())
        return {};
    const bool wholeAtFullSize =
        region.scale == 1.0 && region.image.size() == stored && region.image.format() == QImage::Format_RGB32;
    if (wholeAtFullSize && ImageFile::needsReducedCopy(stored))
        return FastPixels::blockAverage(region.image);
    return region.image;
}

QImage ofJpegFile(const QString& path, QSize stored) {
    if (path.isEmpty() || stored.isEmpty())
        return {};
    {
        PageFile file;
        QString error;
        if (!file.open(path, &error) || pageFormatOf(file.head()) != PageFormat::Jpeg)
            return {};
    }
    const PageRegion region = RegionReader::read(request(path, stored));
    if (!region.ok() || region.pageSize != stored)
        return {};
    return of(region, stored);
}

} // namespace LocatorPicture
