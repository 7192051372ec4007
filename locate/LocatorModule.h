#pragma once

#include "locate/Locator.h"
#include "locate/PhotoVerdict.h"

// The locator as a module that a program loads at run time, only when it needs it: the
// locator brings OpenCV and BLAS (and dlib, linked into it), whose loading would otherwise
// cost every start of vetra-batch, --auto or not. The window links the locator directly.
//
// The module exports one C function, kEntryName, answering the table below. A program
// checks kVersion before calling through it: module and program come from the same build.
namespace LocatorModule {

inline constexpr int kVersion = 3;
inline constexpr char kEntryName[] = "vetra_locator_entry";
// The module's file name, and where it lies relative to the folder of the program that
// loads it (the same in the build tree and in the installed package).
inline constexpr char kFileName[] = "vetra-locator.so";
inline constexpr char kFromProgram[] = "../lib/vetra";
// The face cascade's module (FaceCascade.h), beside this one: the loader checks it too.
inline constexpr char kCascadeFileName[] = "vetra-face-cascade.so";
// Beside each module the build (and the installation, after stripping) writes
// "<module>.sum": its size in bytes and its BLAKE2b-512 in hex (as b2sum prints it), one
// blank between. A loader checks them before it maps the file: a module cut short or
// damaged on disk is refused with a message instead of crashing the program that maps it.
inline constexpr char kSumSuffix[] = ".sum";

// What locate() writes into why: the library's own words, cut to this many bytes.
inline constexpr unsigned kMostReasonBytes = 512;

struct Entry {
    int version;
    // The locator's answer; false, with the reason in why (NUL-terminated), when it threw
    // (a damaged model, a module it needs that cannot be loaded): nothing is thrown across
    // the module's edge.
    bool (*locate)(const QImage& picture, QSize pageSize, Locator::Wanted wanted, PageFindings* findings,
                   char* why);
    void (*preload)(); // Locator::preload()
    // PhotoCheck::measure() on a photo crop; false, with the reason in why, when it threw.
    bool (*measure)(const QImage& crop, PhotoCheck::Measures* measures, char* why);
};

using EntryFunction = const Entry* (*)();

} // namespace LocatorModule
