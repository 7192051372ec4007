#include "locate/LocatorModule.h"

namespace {

PageFindings locate(const QImage& picture, QSize pageSize, Locator::Wanted wanted) {
    return Locator::locate(picture, pageSize, wanted);
}

// A failure here is met again, and reported, by the first locate().
void preload() {
    try {
        Locator::preload();
    } catch (...) {
    }
}

const LocatorModule::Entry kEntry{LocatorModule::kVersion, &locate, &preload};

} // namespace

extern "C" __attribute__((visibility("default"))) const LocatorModule::Entry* vetra_locator_entry() {
    return &kEntry;
}
