#pragma once

#include <QImage>
#include <QRect>

// Synthetic A4 forms for the benchmarks: printed text, ruled fields, a pasted photograph
// and a signature, optionally with the paper tone, noise and skew of a cheap scanner.
// Deterministic: the same arguments paint the same page.
namespace FormPage {

// The upright page, 8.27 x 11.69 inches at dpi (2480 x 3508 at 300).
QImage paint(int dpi, bool noisy);

// The photograph's box on the upright page: the rectangle the batch benchmarks crop.
QRect photoRect(int dpi);

// A box around the signature on the upright page, in the signature kind's proportions.
QRect signatureRect(int dpi);

// The page as a scanner fed sideways delivers it: a quarter turn clockwise makes it upright.
QImage sideways(const QImage& upright);

// Where a signature's pen meets the form's ruling: a free signature, one whose loops cross
// a ruled line, one that runs along the line it is written on, one with a long flourish
// under it.
enum class SignatureLine { None, Across, Along, Underlined };

// page with a handwritten-looking signature (a row of loops, some tall, some small) filling
// box, and the ruled line of the given kind, in grey, reaching well past it. ink, when
// given, gets a mask of page's size holding the pen's ink only (not the ruled line).
QImage signedOn(QImage page, const QRect& box, SignatureLine line, QImage* ink = nullptr);

} // namespace FormPage
