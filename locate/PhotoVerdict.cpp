#include "locate/PhotoVerdict.h"

#include <algorithm>
#include <cmath>

namespace PhotoCheck {

namespace {

// The photo's height in millimetres at its design size, for the eye line's words.
constexpr double kHeightMm = 45;

QPointF eyeMiddle(const Measures& m) {
    return (m.leftEye + m.rightEye) / 2;
}

Result band(Check check, double value, double failLow, double warnLow, double warnHigh, double failHigh) {
    Result r{check, Verdict::Ok, value, 0};
    if (value < warnLow || value > warnHigh) {
        r.side = value < warnLow ? -1 : 1;
        r.verdict = (value < failLow || value > failHigh) ? Verdict::Fail : Verdict::Warn;
    }
    return r;
}

// The verdicts go by the values as the operator reads them: whole percents, millimetres
// and degrees, so that "80 %" is never called outside 70-80 %.
double wholePercent(double share) {
    return std::round(share * 100) / 100;
}

QString percent(double share) {
    return QString::number(std::lround(share * 100));
}

QString problemText(const Result& r, const Rules& rules) {
    switch (r.check) {
    case Check::FaceCount:
        return r.value < 1 ? QStringLiteral("Nessun volto riconosciuto nella foto")
                           : QStringLiteral("Più di un volto nella foto (%1)").arg(int(r.value));
    case Check::FaceSize:
        return QStringLiteral("Volto troppo %1: %2 % dell'altezza (%3–%4 %)")
            .arg(r.side < 0 ? QStringLiteral("piccolo") : QStringLiteral("grande"), percent(r.value),
                 percent(rules.sizeWarnLow), percent(rules.sizeWarnHigh));
    case Check::EyeLine:
        return QStringLiteral("Occhi troppo in %1: %2 mm dal bordo inferiore (%3–%4 mm)")
            .arg(r.side < 0 ? QStringLiteral("basso") : QStringLiteral("alto"))
            .arg(std::lround(r.value * kHeightMm))
            .arg(std::lround(rules.eyeLow * kHeightMm))
            .arg(std::lround(rules.eyeHigh * kHeightMm));
    case Check::Centre:
        return QStringLiteral("Volto non centrato: spostato a %1 del %2 % della larghezza")
            .arg(r.side < 0 ? QStringLiteral("sinistra") : QStringLiteral("destra"), percent(r.value));
    case Check::Tilt:
        return QStringLiteral("Testa inclinata di %1°").arg(std::lround(r.value));
    case Check::Blur:
        return QStringLiteral("Foto sfocata");
    case Check::Exposure:
        return r.side < 0 ? QStringLiteral("Foto troppo scura") : QStringLiteral("Foto troppo chiara");
    case Check::Background:
        return QStringLiteral("Sfondo non uniforme");
    }
    return {};
}

} // namespace

Verdict Report::worst() const {
    Verdict worst = Verdict::Ok;
    for (const Result& r : results)
        worst = std::max(worst, r.verdict);
    return worst;
}

Report evaluate(const Measures& m, bool square, const Rules& rules) {
    Report report;
    Result count{Check::FaceCount, m.faces == 1 ? Verdict::Ok : Verdict::Fail, double(m.faces), 0};
    report.results.push_back(count);
    // Without one face nothing else can be told: the crop holds no face, or not one person.
    if (m.faces != 1 || m.size.isEmpty())
        return report;
    const double height = m.size.height();
    const double width = m.size.width();
    const QPointF eyes = eyeMiddle(m);
    if (!square) {
        report.results.push_back(band(Check::FaceSize, wholePercent((m.chin - m.crown) / height),
                                      rules.sizeFailLow, rules.sizeWarnLow, rules.sizeWarnHigh,
                                      rules.sizeFailHigh));
        const double eyeMm = std::round((height - eyes.y()) / height * kHeightMm);
        report.results.push_back(band(Check::EyeLine, eyeMm / kHeightMm, rules.eyeLow, rules.eyeLow,
                                      rules.eyeHigh, rules.eyeHigh));
    }
    const double offset = (eyes.x() - width / 2) / width;
    Result centre =
        band(Check::Centre, wholePercent(std::abs(offset)), -1, -1, rules.centreWarn, rules.centreFail);
    centre.side = offset < 0 ? -1 : 1;
    report.results.push_back(centre);
    const double tilt = m.roll;
    Result roll = band(Check::Tilt, std::round(std::abs(tilt)), -1, -1, rules.tiltWarn, rules.tiltFail);
    roll.side = tilt < 0 ? -1 : 1;
    // Without the eyes seen the roll comes from the face's symmetry about a guessed middle:
    // enough to warn, not to fail (6 of 75 good crops failed at 12-14 degrees so).
    if (!m.eyesSeen && roll.verdict == Verdict::Fail)
        roll.verdict = Verdict::Warn;
    report.results.push_back(roll);
    report.results.push_back(band(Check::Blur, m.sharpness, rules.sharpFail, rules.sharpWarn, 1e9, 1e9));
    Result exposure{Check::Exposure, Verdict::Ok, m.luma, 0};
    if (m.darkClipped > rules.clippedFail || m.lightClipped > rules.clippedFail || m.luma < rules.lumaLow ||
        m.luma > rules.lumaHigh) {
        exposure.verdict = Verdict::Fail;
        exposure.side = m.luma < rules.lumaLow            ? -1
                        : m.luma > rules.lumaHigh         ? 1
                        : m.darkClipped >= m.lightClipped ? -1
                                                          : 1;
    }
    report.results.push_back(exposure);
    const bool busy = m.backgroundEdges > rules.edgesWarn || m.backgroundHue > rules.hueWarn;
    report.results.push_back(
        {Check::Background, busy ? Verdict::Warn : Verdict::Ok, m.backgroundEdges, busy ? 1 : 0});
    return report;
}

QString name(Check check) {
    switch (check) {
    case Check::FaceCount:
        return QStringLiteral("face-count");
    case Check::FaceSize:
        return QStringLiteral("face-size");
    case Check::EyeLine:
        return QStringLiteral("eye-line");
    case Check::Centre:
        return QStringLiteral("centre");
    case Check::Tilt:
        return QStringLiteral("tilt");
    case Check::Blur:
        return QStringLiteral("blur");
    case Check::Exposure:
        return QStringLiteral("exposure");
    case Check::Background:
        return QStringLiteral("background");
    }
    return {};
}

QString token(const Report& report) {
    QStringList parts;
    for (const Result& r : report.results) {
        if (r.verdict != Verdict::Ok)
            parts << name(r.check) +
                         (r.verdict == Verdict::Fail ? QStringLiteral(":fail") : QStringLiteral(":warn"));
    }
    return parts.isEmpty() ? QStringLiteral("ok") : parts.join(QLatin1Char(','));
}

QStringList problems(const Report& report) {
    const Rules rules;
    QStringList lines;
    for (Verdict level : {Verdict::Fail, Verdict::Warn}) {
        for (const Result& r : report.results) {
            if (r.verdict == level)
                lines << problemText(r, rules);
        }
    }
    return lines;
}

QString readout(const Report& report) {
    const QStringList lines = problems(report);
    return lines.isEmpty() ? QStringLiteral("Foto conforme") : lines.first();
}

} // namespace PhotoCheck
