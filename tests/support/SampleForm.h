#pragma once

#include <QImage>
#include <QRect>

// The sample scanned form shipped in samples/ (an A4 page at 300 dpi with a photograph of a
// face and a handwritten signature), and pages made from it: turned as a scanner fed
// sideways delivers them, or with the photograph or the signature painted over.
namespace SampleForm {

QString path();
QImage page();

// Where the photograph and the signature's box lie on the upright page, a few pixels
// generous for the scan's slight skew.
QRect photo();
QRect signatureBox();

// The page as stored when a clockwise quarter turn of turn degrees makes it upright.
QImage storedTurned(const QImage& upright, int turn);

// The page with the photograph's box (or the signature's box) painted paper white.
QImage withoutPhoto(QImage page);
QImage withoutSignature(QImage page);

} // namespace SampleForm
