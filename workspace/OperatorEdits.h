#pragma once

#include "imaging/OutputKinds.h"

#include <array>

// What the operator has done to the page shown since it came in. The locator answers a
// while after a load, and its answer is a proposal for an untouched page: it must never put
// back a frame the operator has placed, nor turn a page the operator has started on (a crop
// made on the page as it was would stay in the preview, ready to save, beside a turned page).
class OperatorEdits {
  public:
    // A new page: nothing done yet.
    void reset() { *this = OperatorEdits(); }
    // The kind's frame was moved, resized, or cropped with.
    void frameTouched(OutputKind kind) { m_frames[static_cast<std::size_t>(kind)] = true; }
    // The page was cropped, turned or mirrored.
    void pageTouched() { m_page = true; }

    // Whether the locator may still place the kind's frame.
    bool mayPlace(OutputKind kind) const { return !m_frames[static_cast<std::size_t>(kind)]; }
    // Whether the locator may still turn the page: only while nothing at all was done.
    bool mayTurn() const;

  private:
    std::array<bool, 3> m_frames{};
    bool m_page = false;
};
