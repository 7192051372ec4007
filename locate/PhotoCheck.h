#pragma once

#include "locate/PhotoVerdict.h"

#include <QImage>

// Measures a photo crop (the 400x480 or 400x400 preview, any size works) for the identity
// photo check (PhotoVerdict.h): the face with the locator's detector, the eyes with
// opencv-data's eye cascade, the head's crown and chin estimated from them, sharpness,
// exposure and the background round the head. Thread-safe; about 20 ms a crop.
namespace PhotoCheck {

// Where the head lies against the detector's face box, measured on 24 face photographs
// (bench/photocheck): from the eyes' line, the crown this many face-box heights above and
// the chin this many below; without eyes seen, the eyes this far down the box.
struct HeadModel {
    double crownAboveEyes = 0.80;
    double chinBelowEyes = 0.75;
    double chinBelowEyesApart = 1.81; // and this many times the eyes' distance
    double eyesDownBox = 0.27;
    double eyesApart = 0.40; // share of the box's width, eyes placed without being seen
};

Measures measure(const QImage& crop, const HeadModel& head = {});

// The same about a face already found (its detector's box, crop pixels): all but the count.
Measures measureAround(const QImage& crop, const QRect& face, const HeadModel& head = {});

} // namespace PhotoCheck
