#include "imaging/RegionCanvas.h"

#include "imaging/FastPixels.h"

#include <algorithm>

RegionCanvas::RegionCanvas(QSize storedSize, PageTransform transform, const QRect& shown)
    : m_storedSize(storedSize), m_transform(transform), m_shown(shown) {
    if (!shown.isEmpty() && !storedSize.isEmpty())
        m_stored = transform.unmapRect(storedSize, shown) & QRect(QPoint(0, 0), storedSize);
}

bool RegionCanvas::allocate(QString* error) {
    if (m_shown.isEmpty()) {
        *error = QStringLiteral("Il rettangolo richiesto è vuoto.");
        return false;
    }
    const qint64 bytes = qint64(m_shown.width()) * m_shown.height() * 4;
    if (bytes > kAllocationLimitMb * 1024 * 1024) {
        *error = QStringLiteral("Il rettangolo richiesto (%1 x %2 pixel) è troppo grande.")
                     .arg(m_shown.width())
                     .arg(m_shown.height());
        return false;
    }
    // A whole page's canvas comes in huge pages where the kernel gives them.
    m_image = FastPixels::allocate(m_shown.size(), QImage::Format_RGB32);
    if (m_image.isNull()) {
        *error = QStringLiteral("Memoria insufficiente per una regione di %1 x %2 pixel.")
                     .arg(m_shown.width())
                     .arg(m_shown.height());
        return false;
    }
    m_image.fill(Qt::white);
    const QPoint origin = m_transform.map(m_storedSize, QPoint(0, 0));
    const QPoint next = m_transform.map(m_storedSize, QPoint(1, 0));
    const std::ptrdiff_t stride = m_image.bytesPerLine() / 4;
    m_stepX = std::ptrdiff_t(next.x() - origin.x()) + std::ptrdiff_t(next.y() - origin.y()) * stride;
    return true;
}

void RegionCanvas::putRow(int y, int x0, const quint32* pixels, int count) {
    if (count <= 0)
        return;
    const QPoint first = m_transform.map(m_storedSize, QPoint(x0, y)) - m_shown.topLeft();
    auto* dest = reinterpret_cast<quint32*>(m_image.scanLine(first.y())) + first.x();
    const std::ptrdiff_t step = m_stepX;
    if (step == 1) {
        std::copy(pixels, pixels + count, dest);
        return;
    }
    for (int i = 0; i < count; ++i, dest += step)
        *dest = pixels[i];
}
