#pragma once

#include <QString>

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>

// The one libjpeg error manager of the program. libjpeg's default one ends the process on
// a fatal error and prints warnings; this one jumps back to the caller's setjmp with the
// library's message kept. For decoders it also holds the damage rule and the limits that
// every page read keeps:
// - a JPEG is whole when its image decodes to its last row without a warning about
//   corrupt or missing data; what follows its end marker does not matter. Such a warning
//   ends the decode like a fatal error, so no made-up pixels reach the caller;
// - libjpeg's own memory is bounded (PageLimits::kJpegWorkBytes) and a progressive file
//   may have at most PageLimits::kJpegScans scans.
// The caller keeps only trivially destructible objects in the frame that calls setjmp.
struct JpegErrors {
    jpeg_error_mgr pub; // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool truncated; // the data ended before the image did
    bool tooLarge;  // a limit was reached
    jpeg_progress_mgr progress;

    // Sets up pub for an encoder (fatal errors jump, warnings are dropped) and returns it
    // for cinfo.err.
    jpeg_error_mgr* forEncoder();
    // Sets up pub for a decoder (fatal errors and damage warnings jump) and returns it
    // for cinfo.err.
    jpeg_error_mgr* forDecoder();
    // After jpeg_create_decompress: installs the memory and scan limits.
    void limit(j_decompress_ptr cinfo);

    // libjpeg's own words for the failure, for the logs.
    QString libraryMessage() const { return QString::fromLocal8Bit(message); }
    // Why the page cannot be read, in Italian, for the operator.
    QString reason() const;
};

// Turns the CMYK pixels libjpeg gives for a CMYK or YCCK file (C, M, Y, K bytes in
// memory order) into 0xffRRGGBB in place. The values are taken as stored inverted, as the
// programs that write CMYK JPEGs store them.
void jpegCmykToRgb(quint32* pixels, int count);
