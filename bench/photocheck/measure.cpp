// The photo check on crops of real face photographs: good crops, and crops with one known
// defect each (face too small or too large, off-centre, tilted 4 and 10 degrees, blurred,
// dark, bright, busy background), made here from the photographs bench/locator/faces.json
// names (fetched by bench/locator/fetch_faces.sh). For each check: the share of its defects
// caught (warn or fail), the share of good crops it fails and warns; the time of all checks
// on one crop; and the head's place against the detector's box, which PhotoCheck::HeadModel
// holds. See bench/photocheck/README.md.
//
// Usage: photocheck_measure FACES_JSON [CACHEDIR] [--dump DIR]
#include "locate/PhotoCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>

#include <time.h>

namespace {

using PhotoCheck::Check;
using PhotoCheck::Verdict;

const cv::Size kCrop(400, 480);

struct Source {
    QString person;
    cv::Mat rgb;     // composited on a plain light background, but for the busy one
    cv::Mat busy;    // the same on a busy background
    cv::Rect2d head; // crown to chin, ear to ear
    double roll = 0; // the head's own tilt in the photograph, degrees clockwise
};

cv::Mat toMat(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    return cv::Mat(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.constBits()),
                   rgb.bytesPerLine())
        .clone();
}

QImage toImage(const cv::Mat& rgb) {
    return QImage(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888).copy();
}

// The photograph with everything but the head (an ellipse a little larger than its box)
// and what lies below the chin replaced by background, blended over a few pixels: most of
// these photographs are scenes, while an identity photo's background is plain.
cv::Mat composited(const cv::Mat& rgb, const cv::Rect2d& head, const cv::Mat& background) {
    cv::Mat mask(rgb.size(), CV_8UC1, cv::Scalar(0));
    const cv::Point centre(int(head.x + head.width / 2), int(head.y + head.height / 2));
    cv::ellipse(mask, centre, cv::Size(int(head.width * 0.47), int(head.height * 0.5)), 0, 0, 360,
                cv::Scalar(255), cv::FILLED);
    const int neck = int(head.y + head.height * 0.85);
    mask(cv::Rect(0, std::min(neck, rgb.rows - 1), rgb.cols, rgb.rows - std::min(neck, rgb.rows - 1)))
        .setTo(255);
    cv::GaussianBlur(mask, mask, cv::Size(0, 0), std::max(1.0, head.width / 60));
    cv::Mat out(rgb.size(), CV_8UC3);
    for (int y = 0; y < rgb.rows; ++y) {
        for (int x = 0; x < rgb.cols; ++x) {
            const double a = mask.at<uchar>(y, x) / 255.0;
            const cv::Vec3b p = rgb.at<cv::Vec3b>(y, x);
            const cv::Vec3b q = background.at<cv::Vec3b>(y, x);
            for (int c = 0; c < 3; ++c)
                out.at<cv::Vec3b>(y, x)[c] = cv::saturate_cast<uchar>(a * p[c] + (1 - a) * q[c]);
        }
    }
    return out;
}

cv::Mat plainBackground(cv::Size size, std::mt19937& random) {
    // Light, slightly uneven, as a studio's backdrop photographed and scanned: 215-240.
    std::uniform_int_distribution<int> level(215, 240);
    const int top = level(random);
    const int tint = std::uniform_int_distribution<int>(-6, 6)(random);
    cv::Mat out(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y) {
        const int v = top - 12 * y / std::max(1, size.height);
        out.row(y).setTo(cv::Scalar(v + tint, v, v - tint));
    }
    cv::Mat noise(size, CV_8UC3);
    cv::randn(noise, cv::Scalar(0, 0, 0), cv::Scalar(2, 2, 2));
    cv::add(out, noise, out, cv::noArray(), CV_8UC3);
    return out;
}

cv::Mat busyBackground(cv::Size size, std::mt19937& random) {
    // A room behind the person: shelves, posters and lamps, as coloured blocks and lines.
    cv::Mat out(size, CV_8UC3, cv::Scalar(180, 170, 150));
    std::uniform_int_distribution<int> colour(20, 235);
    const int unit = std::max(8, std::min(size.width, size.height) / 12);
    for (int k = 0; k < 90; ++k) {
        const int x = std::uniform_int_distribution<int>(0, size.width)(random);
        const int y = std::uniform_int_distribution<int>(0, size.height)(random);
        const int w = std::uniform_int_distribution<int>(unit / 2, unit * 3)(random);
        const int h = std::uniform_int_distribution<int>(unit / 2, unit * 3)(random);
        cv::rectangle(out, cv::Rect(x, y, w, h), cv::Scalar(colour(random), colour(random), colour(random)),
                      cv::FILLED);
    }
    return out;
}

struct Crop {
    double headShare = 0.75; // crown to chin, of the height
    double crownTop = 0.05;  // crown below the top edge, of the height
    double offset = 0;       // head's middle right of the crop's, of the width
    double tilt = 0;         // degrees, clockwise
};

// The crop a frame over the photograph would make, at the output's size.
cv::Mat cropOf(const cv::Mat& rgb, const cv::Rect2d& head, const Crop& c) {
    const double height = head.height / c.headShare;
    const double scale = kCrop.height / height; // output pixels per source pixel
    const cv::Point2d headCentre(head.x + head.width / 2, head.y + head.height / 2);
    // Source to output: turn about the head's centre, scale, then put the head's centre
    // where the crop wants it.
    cv::Mat m = cv::getRotationMatrix2D(headCentre, -c.tilt, scale);
    const cv::Point2d want((0.5 + c.offset) * kCrop.width, (c.crownTop + c.headShare / 2) * kCrop.height);
    m.at<double>(0, 2) += want.x - headCentre.x;
    m.at<double>(1, 2) += want.y - headCentre.y;
    cv::Mat out;
    cv::warpAffine(rgb, out, m, kCrop, cv::INTER_AREA, cv::BORDER_REPLICATE);
    return out;
}

struct Case {
    QString name;
    Check target; // the check that must catch it; FaceCount for the good ones
    bool good = false;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString dump;
    if (const int at = int(args.indexOf(QStringLiteral("--dump"))); at >= 0 && at + 1 < args.size()) {
        dump = args[at + 1];
        args.remove(at, 2);
        QDir().mkpath(dump);
    }
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: photocheck_measure FACES_JSON [CACHEDIR] [--dump DIR]\n");
        return 2;
    }
    const QString cache =
        args.size() > 1 ? args[1] : QDir::homePath() + QStringLiteral("/.cache/vetra-faces");
    QFile json(args[0]);
    if (!json.open(QIODevice::ReadOnly))
        return 2;
    const QJsonArray faces =
        QJsonDocument::fromJson(json.readAll()).object().value(QStringLiteral("faces")).toArray();

    std::mt19937 random(7);
    std::vector<Source> sources;
    for (const QJsonValue& value : faces) {
        const QJsonObject face = value.toObject();
        QString package = face.value(QStringLiteral("package")).toString();
        QString path;
        if (package.startsWith(QStringLiteral("npm:"))) {
            package = package.mid(4)
                          .replace(QLatin1Char('/'), QLatin1Char('_'))
                          .replace(QLatin1Char('@'), QLatin1Char('_'));
            path = cache + QLatin1Char('/') + package + QLatin1Char('/') +
                   face.value(QStringLiteral("file")).toString();
        } else {
            path = QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/") +
                   face.value(QStringLiteral("file")).toString();
        }
        const QImage image(path);
        if (image.isNull()) {
            std::fprintf(stderr, "missing %s\n", qPrintable(path));
            continue;
        }
        const QJsonArray h = face.value(QStringLiteral("head")).toArray();
        Source s;
        s.person = face.value(QStringLiteral("person")).toString();
        s.head = cv::Rect2d(h[0].toDouble(), h[1].toDouble(), h[2].toDouble() - h[0].toDouble(),
                            h[3].toDouble() - h[1].toDouble());
        const cv::Mat rgb = toMat(image);
        s.rgb = composited(rgb, s.head, plainBackground(rgb.size(), random));
        s.busy = composited(rgb, s.head, busyBackground(rgb.size(), random));
        sources.push_back(s);
    }

    // Good crops: head 72-78 % of the height, crown 3-7 % below the top, within 2 % of the
    // middle, level to a degree.
    const std::vector<std::pair<Case, Crop>> good = {
        {{QStringLiteral("good-a"), Check::FaceCount, true}, {0.75, 0.05, 0, 0}},
        {{QStringLiteral("good-b"), Check::FaceCount, true}, {0.72, 0.07, 0.02, 1}},
        {{QStringLiteral("good-c"), Check::FaceCount, true}, {0.78, 0.03, -0.02, -1}},
    };
    struct Outcome {
        int caught = 0, all = 0;    // defects
        int failed = 0, warned = 0; // good crops
    };
    std::map<Check, Outcome> byCheck;
    std::map<QString, std::pair<int, int>> byCase; // caught, all
    std::vector<double> cpuTimes, times, crownRatio, chinRatio, eyeDown, chinIod, crownIod;
    int goodCrops = 0, goodWithFail = 0, goodWithWarn = 0;

    const auto run = [&](const Source& s, const Case& c, const cv::Mat& crop) {
        const QImage image = toImage(crop);
        QElapsedTimer timer;
        timer.start();
        timespec cpuFrom{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuFrom);
        const PhotoCheck::Measures m = PhotoCheck::measure(image);
        const PhotoCheck::Report report = PhotoCheck::evaluate(m, false);
        times.push_back(timer.nsecsElapsed() / 1e6);
        timespec cpuTo{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuTo);
        cpuTimes.push_back((cpuTo.tv_sec - cpuFrom.tv_sec) * 1e3 + (cpuTo.tv_nsec - cpuFrom.tv_nsec) / 1e6);
        if (!dump.isEmpty())
            image.save(dump + QStringLiteral("/%1-%2.jpg").arg(s.person, c.name), "JPEG", 92);
        std::printf("%-16s %-10s faces=%d eyes=%d size=%.2f eye=%.2f sharp=%.3f luma=%.2f clip=%.3f/%.3f "
                    "bg=%.1f/%.1f roll=%.0f  %s\n",
                    qPrintable(s.person), qPrintable(c.name), m.faces, int(m.eyesSeen),
                    m.size.height() ? (m.chin - m.crown) / m.size.height() : 0,
                    m.size.height() ? 1 - (m.leftEye.y() + m.rightEye.y()) / 2 / m.size.height() : 0,
                    m.sharpness, m.luma, m.darkClipped, m.lightClipped, m.backgroundEdges, m.backgroundHue,
                    m.roll, qPrintable(PhotoCheck::token(report)));
        if (c.good) {
            ++goodCrops;
            bool fail = false, warn = false;
            for (const PhotoCheck::Result& r : report.results) {
                byCheck[r.check].failed += r.verdict == Verdict::Fail;
                byCheck[r.check].warned += r.verdict == Verdict::Warn;
                fail |= r.verdict == Verdict::Fail;
                warn |= r.verdict == Verdict::Warn;
            }
            if (report.results.size() == 1) // no face: every check is lost
                for (int k = 1; k < 8; ++k)
                    ++byCheck[Check(k)].failed;
            goodWithFail += fail;
            goodWithWarn += warn;
            if (m.faces == 1 && m.eyesSeen) {
                const double crown = kCrop.height * (0.05 + (c.name == QLatin1String("good-b")   ? 0.02
                                                             : c.name == QLatin1String("good-c") ? -0.02
                                                                                                 : 0));
                const double share = c.name == QLatin1String("good-b")   ? 0.72
                                     : c.name == QLatin1String("good-c") ? 0.78
                                                                         : 0.75;
                const double chin = crown + share * kCrop.height;
                const double eyeY = (m.leftEye.y() + m.rightEye.y()) / 2;
                crownRatio.push_back((eyeY - crown) / m.face.height());
                chinRatio.push_back((chin - eyeY) / m.face.height());
                eyeDown.push_back((eyeY - m.face.top()) / m.face.height());
                const double iod = std::hypot(m.rightEye.x() - m.leftEye.x(), m.rightEye.y() - m.leftEye.y());
                chinIod.push_back((chin - eyeY) / iod);
                crownIod.push_back((eyeY - crown) / iod);
            }
            return;
        }
        bool caught = false;
        for (const PhotoCheck::Result& r : report.results)
            caught |= r.check == c.target && r.verdict != Verdict::Ok;
        byCheck[c.target].all += 1;
        byCheck[c.target].caught += caught;
        byCase[c.name].first += caught;
        byCase[c.name].second += 1;
    };

    for (Source& s : sources) {
        // People tilt their heads in these photographs; an identity photo's subject holds
        // it level. Each photograph is levelled first by the check's own estimate on its
        // plain crop, so the good crops' tilt measures the estimate's repeatability and the
        // tilted ones its answer to a known turn.
        const PhotoCheck::Measures level = PhotoCheck::measure(toImage(cropOf(s.rgb, s.head, {})));
        s.roll = level.roll;
        std::printf("%-16s levelled by %.0f degrees\n", qPrintable(s.person), -s.roll);
    }
    for (const Source& s : sources) {
        const auto cropOf = [&s](const cv::Mat& rgb, const cv::Rect2d& head, Crop c) {
            c.tilt -= s.roll;
            return ::cropOf(rgb, head, c);
        };
        for (const auto& [c, crop] : good)
            run(s, c, cropOf(s.rgb, s.head, crop));
        const cv::Mat base = cropOf(s.rgb, s.head, {});
        run(s, {QStringLiteral("small"), Check::FaceSize}, cropOf(s.rgb, s.head, {0.58, 0.12, 0, 0}));
        run(s, {QStringLiteral("large"), Check::FaceSize}, cropOf(s.rgb, s.head, {0.92, 0.0, 0, 0}));
        run(s, {QStringLiteral("off-left"), Check::Centre}, cropOf(s.rgb, s.head, {0.75, 0.05, -0.12, 0}));
        run(s, {QStringLiteral("off-right"), Check::Centre}, cropOf(s.rgb, s.head, {0.75, 0.05, 0.12, 0}));
        run(s, {QStringLiteral("tilt-4"), Check::Tilt}, cropOf(s.rgb, s.head, {0.75, 0.05, 0, 4}));
        run(s, {QStringLiteral("tilt-10"), Check::Tilt}, cropOf(s.rgb, s.head, {0.75, 0.05, 0, -10}));
        cv::Mat blurred;
        cv::GaussianBlur(base, blurred, cv::Size(0, 0), 2.5);
        run(s, {QStringLiteral("blur"), Check::Blur}, blurred);
        cv::Mat dark, bright;
        base.convertTo(dark, -1, 0.25, 0);
        base.convertTo(bright, -1, 0.25, 255 * 0.75);
        run(s, {QStringLiteral("dark"), Check::Exposure}, dark);
        run(s, {QStringLiteral("bright"), Check::Exposure}, bright);
        run(s, {QStringLiteral("busy"), Check::Background}, cropOf(s.busy, s.head, {}));
    }

    const auto median = [](std::vector<double> v) {
        if (v.empty())
            return 0.0;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("\n%zu photographs, %d good crops: %d with a fail, %d with a warn\n", sources.size(),
                goodCrops, goodWithFail, goodWithWarn);
    std::printf("%-12s %16s %12s %12s\n", "check", "defects caught", "good fail", "good warn");
    for (int k = 0; k < 8; ++k) {
        const Outcome& o = byCheck[Check(k)];
        std::printf("%-12s %9d/%-6d %7d/%-4d %7d/%-4d\n", qPrintable(PhotoCheck::name(Check(k))), o.caught,
                    o.all, o.failed, goodCrops, o.warned, goodCrops);
    }
    for (const auto& [name, counts] : byCase)
        std::printf("  %-10s caught %d/%d\n", qPrintable(name), counts.first, counts.second);
    std::printf("time per crop: median %.1f ms, worst %.1f ms (%zu crops); processor time median %.1f ms, "
                "worst %.1f ms\n",
                median(times), times.empty() ? 0 : *std::max_element(times.begin(), times.end()),
                times.size(), median(cpuTimes),
                cpuTimes.empty() ? 0 : *std::max_element(cpuTimes.begin(), cpuTimes.end()));
    std::printf(
        "head against the face box (%zu good crops with both eyes): crown above eyes %.3f, chin below "
        "eyes %.3f, eyes down the box %.3f (medians)\n",
        crownRatio.size(), median(crownRatio), median(chinRatio), median(eyeDown));
    const auto quartiles = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? QString()
                         : QStringLiteral("%1 %2 %3")
                               .arg(v[v.size() / 4], 0, 'f', 3)
                               .arg(v[v.size() / 2], 0, 'f', 3)
                               .arg(v[v.size() * 3 / 4], 0, 'f', 3);
    };
    std::printf("quartiles: crown/box %s, chin/box %s, crown/eyes apart %s, chin/eyes apart %s\n",
                qPrintable(quartiles(crownRatio)), qPrintable(quartiles(chinRatio)),
                qPrintable(quartiles(crownIod)), qPrintable(quartiles(chinIod)));
    return 0;
}
