#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

// Whether a photo crop would pass as an identity photograph: the rules written for Italian
// identity cards and driving licences (35x45 mm, face 70-80 % of the height, eyes 23-31 mm
// above the bottom edge, centred, level, in focus, well exposed, plain background), applied
// to what PhotoCheck measured on the crop. Plain Qt: vetra-batch links it without the
// locator, whose module does the measuring.
namespace PhotoCheck {

enum class Verdict { Ok, Warn, Fail };
enum class Check { FaceCount, FaceSize, EyeLine, Centre, Tilt, Blur, Exposure, Background };

// What was measured on one crop, in its pixels. Plain values, so that they cross the
// locator module's edge as they are.
struct Measures {
    QSize size;            // the crop's
    int faces = 0;         // upright faces found in it
    QRectF face;           // the detector's box of the main face (about brow to chin)
    bool eyesSeen = false; // both eyes found; otherwise placed from the face box
    QPointF leftEye;       // the one on the picture's left
    QPointF rightEye;
    double roll = 0;  // the face's tilt, degrees clockwise
    double crown = 0; // top of the head and chin, estimated from the face box and eyes
    double chin = 0;
    double sharpness = 0;   // of the face, see PhotoCheck.cpp
    double darkClipped = 0; // share of the face's pixels at 8 or under, and at 247 or over
    double lightClipped = 0;
    double luma = 0;            // the face's mean luminance, 0..1
    double backgroundEdges = 0; // the band round the head: mean gradient, grey levels a pixel
    double backgroundHue = 0;   // and its colour spread, chroma units
};

// Where each verdict begins. The written rules give the geometry's and the exposure's;
// sharpness and background were measured on crops of real photographs (bench/photocheck).
struct Rules {
    double sizeFailLow = 0.65, sizeWarnLow = 0.70, sizeWarnHigh = 0.80, sizeFailHigh = 0.85;
    double eyeLow = 23.0 / 45, eyeHigh = 31.0 / 45; // share of the height above the bottom
    double centreWarn = 0.05, centreFail = 0.10;    // share of the width
    double tiltWarn = 3, tiltFail = 8;              // degrees
    double sharpWarn = 0.085, sharpFail = 0.07;
    double clippedFail = 0.01;
    double lumaLow = 0.2, lumaHigh = 0.8;
    double edgesWarn = 12.0, hueWarn = 25.0;
};

struct Result {
    Check check = Check::FaceCount;
    Verdict verdict = Verdict::Ok;
    double value = 0; // in the check's own unit: faces, share, mm, share, degrees, sharpness...
    int side = 0;     // -1 too small, low, left or dark; +1 too large, high, right or light
};

struct Report {
    std::vector<Result> results; // in the order of Check; the square photo has no size and eye line
    Verdict worst() const;
};

// The verdicts on m for a 400x480 photo, or the square one.
Report evaluate(const Measures& m, bool square, const Rules& rules = {});

// The check's name on vetra-batch's result line: "face-size".
QString name(Check check);
// "ok", or the checks that warn or fail, comma-separated: "face-size:fail,blur:warn".
QString token(const Report& report);
// One Italian line for each check that warns or fails, the failures first.
QStringList problems(const Report& report);
// The window's line: the worst problem, or "Foto conforme".
QString readout(const Report& report);

} // namespace PhotoCheck
