#include "imaging/JpegErrors.h"

#include "imaging/Logging.h"
#include "imaging/PageFile.h"

#include <cstring>
#include <jerror.h>

namespace {

// Progress monitor code of our own, past libjpeg's message numbers.
constexpr int kTooManyScans = 10000;

JpegErrors* errorsOf(j_common_ptr cinfo) {
    return reinterpret_cast<JpegErrors*>(cinfo->err);
}

[[noreturn]] void exitWithError(j_common_ptr cinfo) {
    auto* err = errorsOf(cinfo);
    (*cinfo->err->format_message)(cinfo, err->message);
    err->tooLarge = err->tooLarge || cinfo->err->msg_code == JERR_NO_BACKING_STORE ||
                    cinfo->err->msg_code == JERR_OUT_OF_MEMORY;
    qCDebug(lcImaging) << "libjpeg:" << err->message;
    std::longjmp(err->jump, 1);
}

void discardMessage(j_common_ptr) {}

// The warnings that say the pixels that follow are made up.
bool isDamage(int code) {
    switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_EXTRANEOUS_DATA:
        return true;
    default:
        return false;
    }
}

void emitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0)
        return; // trace messages
    auto* err = errorsOf(cinfo);
    const int code = cinfo->err->msg_code;
    if (isDamage(code)) {
        err->truncated = code == JWRN_JPEG_EOF;
        exitWithError(cinfo);
    }
    ++cinfo->err->num_warnings;
}

void countScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor)
        return;
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > PageLimits::kJpegScans) {
        auto* err = errorsOf(cinfo);
        err->tooLarge = true;
        std::snprintf(err->message, sizeof err->message, "more than %d progressive scans",
                      PageLimits::kJpegScans);
        qCDebug(lcImaging) << "libjpeg:" << err->message;
        cinfo->err->msg_code = kTooManyScans;
        std::longjmp(err->jump, 1);
    }
}

} // namespace

jpeg_error_mgr* JpegErrors::forEncoder() {
    jpeg_std_error(&pub);
    pub.error_exit = exitWithError;
    pub.output_message = discardMessage;
    message[0] = '\0';
    truncated = false;
    tooLarge = false;
    return &pub;
}

jpeg_error_mgr* JpegErrors::forDecoder() {
    forEncoder();
    pub.emit_message = emitMessage;
    return &pub;
}

void JpegErrors::limit(j_decompress_ptr cinfo) {
    cinfo->mem->max_memory_to_use = long(PageLimits::kJpegWorkBytes);
    std::memset(&progress, 0, sizeof progress);
    progress.progress_monitor = countScans;
    cinfo->progress = &progress;
}

QString JpegErrors::reason() const {
    if (tooLarge && pub.msg_code == kTooManyScans)
        return QStringLiteral("il file JPEG supera i limiti di una pagina (più di %1 scansioni progressive).")
            .arg(PageLimits::kJpegScans);
    if (tooLarge)
        return QStringLiteral(
                   "il file JPEG supera i limiti di una pagina (più di %1 MB di memoria di lavoro).")
            .arg(PageLimits::kJpegWorkBytes >> 20);
    if (truncated)
        return QStringLiteral("il file JPEG è troncato.");
    return QStringLiteral("il file JPEG è danneggiato (%1).").arg(libraryMessage());
}

void jpegCmykToRgb(quint32* pixels, int count) {
    auto* bytes = reinterpret_cast<uchar*>(pixels);
    for (int i = 0; i < count; ++i, bytes += 4) {
        const quint32 k = bytes[3];
        pixels[i] =
            0xFF000000u | (k * bytes[0] / 255) << 16 | (k * bytes[1] / 255) << 8 | (k * bytes[2] / 255);
    }
}
