#pragma once

#include <QStringList>

// test.conf for the SANE "test" backend as the tests' scanner: a bed large enough for
// 8 x 8 inches, no rounding of the scan area, no delays. Later lines win, so `extra`
// overrides any of these.
inline QString saneTestConf(int devices, const QStringList& extra = {}) {
    QStringList lines{QStringLiteral("number_of_devices %1").arg(devices),
                      QStringLiteral("mode Gray"),
                      QStringLiteral("depth 8"),
                      QStringLiteral("hand-scanner false"),
                      QStringLiteral("three-pass false"),
                      QStringLiteral("three-pass-order RGB"),
                      QStringLiteral("resolution_min 1.0"),
                      QStringLiteral("resolution_max 1200.0"),
                      QStringLiteral("resolution_quant 1.0"),
                      QStringLiteral("resolution 50.0"),
                      QStringLiteral("test-picture \"Color pattern\""),
                      QStringLiteral("read-limit false"),
                      QStringLiteral("read-delay false"),
                      QStringLiteral("read-status-code \"Default\""),
                      QStringLiteral("ppl-loss 0"),
                      QStringLiteral("fuzzy-parameters false"),
                      QStringLiteral("non-blocking false"),
                      QStringLiteral("select-fd false"),
                      QStringLiteral("enable-test-options false"),
                      QStringLiteral("geometry_min 0.0"),
                      QStringLiteral("geometry_max 300.0"),
                      QStringLiteral("geometry_quant 0.0"),
                      QStringLiteral("tl_x 0.0"),
                      QStringLiteral("tl_y 0.0"),
                      QStringLiteral("br_x 80.0"),
                      QStringLiteral("br_y 100.0")};
    lines += extra;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
