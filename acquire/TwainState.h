#pragma once

// The states of a TWAIN session, as the protocol numbers them. A source manager moves
// through them one step at a time: opening the manager takes it from ManagerLoaded to
// ManagerOpen, opening a source to SourceOpen, enabling it to SourceEnabled; a page
// announced makes TransferReady, a page handed over Transferring.
enum class TwainState {
    PreSession = 1,
    ManagerLoaded = 2,
    ManagerOpen = 3,
    SourceOpen = 4,
    SourceEnabled = 5,
    TransferReady = 6,
    Transferring = 7,
};

// True when the session has reached `least` (states are ordered).
constexpr bool atLeast(TwainState state, TwainState least) {
    return static_cast<int>(state) >= static_cast<int>(least);
}
