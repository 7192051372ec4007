#pragma once

#include "locate/Locator.h"

// The locator as a module that a program loads at run time, only when it needs it: the
// locator brings OpenCV and BLAS (and dlib, linked into it), whose loading would otherwise
// cost every start of vetra-batch, --auto or not. The window links the locator directly.
//
// The module exports one C function, kEntryName, answering the table below. A program
// checks kVersion before calling through it: module and program come from the same build.
namespace LocatorModule {

inline constexpr int kVersion = 1;
inline constexpr char kEntryName[] = "vetra_locator_entry";
// The module's file name, and where it lies relative to the folder of the program that
// loads it (the same in the build tree and in the installed package).
inline constexpr char kFileName[] = "vetra-locator.so";
inline constexpr char kFromProgram[] = "../lib/vetra";

struct Entry {
    int version;
    PageFindings (*locate)(const QImage& picture, QSize pageSize, Locator::Wanted wanted);
    void (*preload)(); // Locator::preload()
};

using EntryFunction = const Entry* (*)();

} // namespace LocatorModule
