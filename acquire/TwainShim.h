#pragma once

#include "acquire/twain.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// The two platform services a TWAIN exchange relies on, rebuilt on Qt:
//  - movable memory blocks addressed by handles, which the application and the source
//    manager hand to each other (capability containers, the native image);
//  - hidden message windows and a message queue, so that a source can notify the
//    application ("an image is ready", "please close me") while the application waits in
//    its own loop. Waiting runs Qt's event processing, so every window stays live.
//
// Handles and windows are validated against a registry: an unknown or already freed
// handle is refused instead of being dereferenced.
namespace twainshim {

// ---- memory handles --------------------------------------------------------------------
inline constexpr unsigned GMEM_MOVEABLE = 0x0002;
inline constexpr unsigned GMEM_ZEROINIT = 0x0040;
inline constexpr unsigned GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A new block of `bytes` bytes (zeroed when GMEM_ZEROINIT is given); null on failure.
TW_HANDLE GlobalAlloc(unsigned flags, std::size_t bytes);
// A block that takes over `bytes` without copying them.
TW_HANDLE GlobalAdopt(std::vector<unsigned char>&& bytes);
// Address of the block's bytes, or null for an unknown handle. Locks nest.
void* GlobalLock(TW_HANDLE handle);
// False when the handle is unknown or was not locked.
bool GlobalUnlock(TW_HANDLE handle);
// Size of the block in bytes; 0 for an unknown handle.
std::size_t GlobalSize(TW_HANDLE handle);
// Releases the block. Returns null on success and the handle itself when it is unknown.
TW_HANDLE GlobalFree(TW_HANDLE handle);
// Blocks allocated and not yet freed (for leak checks).
std::size_t liveHandleCount();

// ---- windows and messages --------------------------------------------------------------
inline constexpr std::uint32_t WM_QUIT = 0x0012;
inline constexpr std::uint32_t WM_APP = 0x8000;

struct MSG {
    TW_HANDLE hwnd = nullptr;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

using WindowProc = std::function<void(const MSG&)>;

// A hidden window that only receives posted messages; null when no Qt application runs.
// Must be called on the user-interface thread.
TW_HANDLE CreateMessageWindow(const QString& title);
// Destroys the window; its messages still queued are dropped. False for an unknown handle.
bool DestroyWindow(TW_HANDLE hwnd);
bool IsWindow(TW_HANDLE hwnd);
// The procedure DispatchMessage hands this window's messages to.
void SetWindowProc(TW_HANDLE hwnd, WindowProc proc);
std::size_t liveWindowCount();

// Queues a message for the window; callable from any thread. False when the window is gone.
bool PostMessage(TW_HANDLE hwnd, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
// Queues WM_QUIT: the next GetMessage answers 0.
void PostQuitMessage(int exitCode);
// Waits for the next posted message while processing Qt's events. Returns 1 with the
// message, or 0 on WM_QUIT or when no Qt application exists (the wait would never end).
int GetMessage(MSG* msg);
// Nothing to translate: there are no keyboard messages in this queue.
void TranslateMessage(const MSG* msg);
// Hands the message to its window's procedure, if any.
void DispatchMessage(const MSG* msg);

} // namespace twainshim
