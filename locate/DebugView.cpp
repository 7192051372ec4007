#include "locate/DebugView.h"

#include "locate/Logging.h"

#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QImage>

#include <atomic>

namespace {

std::atomic<int> g_pages{0};

void save(const QString& path, const cv::Mat& image) {
    QImage out;
    if (image.type() == CV_8UC1)
        out = QImage(image.data, image.cols, image.rows, int(image.step), QImage::Format_Grayscale8);
    else if (image.type() == CV_8UC3)
        out = QImage(image.data, image.cols, image.rows, int(image.step), QImage::Format_BGR888);
    if (out.isNull() || !out.save(path, "PNG"))
        qCDebug(lcLocate) << "debug picture not written:" << path;
}

} // namespace

DebugView::DebugView() {
    const QString folder = qEnvironmentVariable("VETRA_LOCATE_DEBUG");
    if (folder.isEmpty())
        return;
    if (!QDir().mkpath(folder)) {
        qCDebug(lcLocate) << "debug folder not made:" << folder;
        return;
    }
    m_prefix = QDir(folder).filePath(QStringLiteral("%1-").arg(++g_pages, 4, 10, QLatin1Char('0')));
}

void DebugView::picture(const char* stage, const cv::Mat& image) const {
    if (!on() || image.empty())
        return;
    save(m_prefix + QLatin1String(stage) + QStringLiteral(".png"), image);
}

void DebugView::boxes(const char* stage, const cv::Mat& grey, const std::vector<cv::Rect>& boxes,
                      int chosen) const {
    if (!on() || grey.empty())
        return;
    cv::Mat drawn;
    cv::cvtColor(grey, drawn, cv::COLOR_GRAY2BGR);
    for (size_t k = 0; k < boxes.size(); ++k) {
        const bool best = int(k) == chosen;
        cv::rectangle(drawn, boxes[k], best ? cv::Scalar(0, 160, 0) : cv::Scalar(0, 0, 220), best ? 2 : 1);
    }
    save(m_prefix + QLatin1String(stage) + QStringLiteral(".png"), drawn);
}
