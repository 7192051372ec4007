#include "locate/LocatorModule.h"

#include <opencv2/core/utility.hpp>

namespace {

PageFindings locate(const QImage& picture, QSize pageSize, Locator::Wanted wanted) {
    return Locator::locate(picture, pageSize, wanted);
}

// A failure here is met again, and reported, by the first locate().
void preload() {
    try {
        // vetra-batch's processes are short: OpenCV's pool of worker threads costs more to
        // start than it saves on the locator's small working copy (about 5 ms a page).
        cv::setNumThreads(0);
        Locator::preload();
    } catch (...) {
    }
}

const LocatorModule::Entry kEntry{LocatorModule::kVersion, &locate, &preload};

} // namespace

extern "C" __attribute__((visibility("default"))) const LocatorModule::Entry* vetra_locator_entry() {
    return &kEntry;
}
