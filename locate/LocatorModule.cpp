#include "locate/LocatorModule.h"

#include "locate/PhotoCheck.h"

#include <opencv2/core/utility.hpp>

#include <cstring>
#include <exception>

namespace {

void say(char* why, const char* text) {
    std::strncpy(why, text, LocatorModule::kMostReasonBytes - 1);
    why[LocatorModule::kMostReasonBytes - 1] = '\0';
}

// Every exception stops here: one thrown across dlopen's edge would end the program
// (a damaged face model throws dlib's serialization_error on first use).
template <typename Work> bool guarded(char* why, Work work) {
    try {
        work();
        return true;
    } catch (const std::exception& e) {
        say(why, e.what());
    } catch (...) {
        say(why, "errore sconosciuto");
    }
    return false;
}

bool locate(const QImage& picture, QSize pageSize, Locator::Wanted wanted, PageFindings* findings,
            char* why) {
    return guarded(why, [&] { *findings = Locator::locate(picture, pageSize, wanted); });
}

bool measure(const QImage& crop, PhotoCheck::Measures* measures, char* why) {
    return guarded(why, [&] { *measures = PhotoCheck::measure(crop); });
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

const LocatorModule::Entry kEntry{LocatorModule::kVersion, &locate, &preload, &measure};

} // namespace

extern "C" __attribute__((visibility("default"))) const LocatorModule::Entry* vetra_locator_entry() {
    return &kEntry;
}
