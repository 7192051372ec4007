#pragma once

#include "acquire/twain.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// The scanner module: drives a TWAIN source manager to acquire one page and writes it
// as a BMP file. Each operation opens the manager, does its work and closes it again;
// nothing survives between operations except the manager's own default source.
//
// Every operation answers 0 for success and 1 for failure. Only one operation runs at a
// time: while one waits for the scanner (and Qt's events run inside its loop) any other
// call answers 1 at once without touching the manager.
//
// All operations must be called on the user-interface thread.
namespace mdlTwain {

using DsmEntry = std::function<TW_UINT16(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG,
                                         TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData)>;

// The source manager the module talks to. By default our SANE source manager; an empty
// function stands for a manager library that cannot be loaded. `findSources` asks that
// manager to look for scanners ahead of the next operation (none by default).
void setDsmEntry(DsmEntry entry, std::function<void()> findSources = {});
// Back to the SANE source manager.
void resetDsmEntry();

// Lets the manager look for scanners now, off the user-interface thread, so that the next
// operation does not wait for the search. Returns at once.
void FindSources();

// Acquires one page without the scanner's dialog: Resolution in dots per inch, PixelType a
// TWPT_ code, the frame in inches. Right or Bottom 0 means the scanner bed's physical size.
std::int32_t ScanToFile(float Resolution, std::int32_t PixelType, float Left, float Top, float Right,
                        float Bottom, const QString& FilePath);
// Acquires one page through the scanner's own dialog, with the settings chosen there.
std::int32_t ScanToFileWithDialog(const QString& FilePath);
// The manager's dialog for choosing the scanner; the choice becomes its default source.
std::int32_t SelectSource();

// True while one of the three operations above runs.
bool IsBusy();

// Asks the scan now waiting for its page to stop: the source is disabled at once, the
// operation returns 1 and LastScanCancelled() is true. Does nothing when no scan waits.
void CancelScan();
// True when the last scan ended because CancelScan() asked it to.
bool LastScanCancelled();

// ---- record conversions (exposed for tests) ----------------------------------------------

// Empty when the whole part does not fit in 16 signed bits.
std::optional<TW_FIX32> FloatToFix32(float value);
float Fix32ToFloat(TW_FIX32 value);

// Writes the packed DIB held by `image` to FilePath as a BMP file. The handle is released
// and set to null on every path.
std::int32_t WriteDibAsBmp(TW_HANDLE& image, const QString& FilePath);

} // namespace mdlTwain
