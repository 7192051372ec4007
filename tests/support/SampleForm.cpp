#include "tests/support/SampleForm.h"

#include <QPainter>
#include <QTransform>

namespace SampleForm {

namespace {

const QColor kPaper(250, 249, 244);

QImage painted(QImage page, const QRect& box) {
    QPainter painter(&page);
    painter.fillRect(box, kPaper);
    return page;
}

} // namespace

QString path() {
    return QStringLiteral(VETRA_SOURCE_DIR "/samples/modulo_esempio.jpg");
}

QImage page() {
    return QImage(path()).convertToFormat(QImage::Format_RGB32);
}

QRect photo() {
    return {1885, 695, 435, 553};
}

QRect signatureBox() {
    return {1290, 2210, 1030, 300};
}

QImage storedTurned(const QImage& upright, int turn) {
    return turn == 0 ? upright : upright.transformed(QTransform().rotate(-turn));
}

QImage withoutPhoto(QImage page) {
    return painted(std::move(page), photo().adjusted(-10, -10, 10, 10));
}

QImage withoutSignature(QImage page) {
    return painted(std::move(page), signatureBox().adjusted(-10, -10, 10, 10));
}

} // namespace SampleForm
