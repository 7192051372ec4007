#include "acquire/TwainShim.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

namespace twainshim {

namespace {

// ---- memory handles --------------------------------------------------------------------

struct Block {
    std::vector<unsigned char> bytes;
    int locks = 0;
};

std::mutex& blockMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unordered_map<void*, std::unique_ptr<Block>>& blocks() {
    static std::unordered_map<void*, std::unique_ptr<Block>> registry;
    return registry;
}

TW_HANDLE registerBlock(std::unique_ptr<Block> block) {
    void* handle = block.get();
    const std::lock_guard lock(blockMutex());
    blocks().emplace(handle, std::move(block));
    return handle;
}

Block* findBlock(TW_HANDLE handle) {
    const auto it = blocks().find(handle);
    return it == blocks().end() ? nullptr : it->second.get();
}

// ---- windows and messages ----------------------------------------------------------------

const QEvent::Type kPostedMessage = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessageEvent final : public QEvent {
  public:
    explicit PostedMessageEvent(const MSG& msg) : QEvent(kPostedMessage), message(msg) {}
    MSG message;
};

std::deque<MSG>& queue() {
    static std::deque<MSG> messages;
    return messages;
}

// A hidden window: a QObject on the user-interface thread whose events feed the queue,
// so that a message posted from any thread wakes the waiting loop.
class MessageWindow final : public QObject {
  public:
    WindowProc proc;

    bool event(QEvent* e) override {
        if (e->type() == kPostedMessage) {
            queue().push_back(static_cast<PostedMessageEvent*>(e)->message);
            return true;
        }
        return QObject::event(e);
    }
};

std::mutex& windowMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unordered_map<void*, std::unique_ptr<MessageWindow>>& windows() {
    static std::unordered_map<void*, std::unique_ptr<MessageWindow>> registry;
    return registry;
}

} // namespace

TW_HANDLE GlobalAlloc(unsigned flags, std::size_t bytes) {
    auto block = std::make_unique<Block>();
    try {
        if (flags & GMEM_ZEROINIT)
            block->bytes.assign(bytes, 0);
        else
            block->bytes.resize(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
    return registerBlock(std::move(block));
}

TW_HANDLE GlobalAdopt(std::vector<unsigned char>&& bytes) {
    auto block = std::make_unique<Block>();
    block->bytes = std::move(bytes);
    return registerBlock(std::move(block));
}

void* GlobalLock(TW_HANDLE handle) {
    const std::lock_guard lock(blockMutex());
    Block* block = findBlock(handle);
    if (!block)
        return nullptr;
    ++block->locks;
    return block->bytes.data();
}

bool GlobalUnlock(TW_HANDLE handle) {
    const std::lock_guard lock(blockMutex());
    Block* block = findBlock(handle);
    if (!block || block->locks == 0)
        return false;
    --block->locks;
    return true;
}

std::size_t GlobalSize(TW_HANDLE handle) {
    const std::lock_guard lock(blockMutex());
    const Block* block = findBlock(handle);
    return block ? block->bytes.size() : 0;
}

TW_HANDLE GlobalFree(TW_HANDLE handle) {
    std::unique_ptr<Block> doomed;
    {
        const std::lock_guard lock(blockMutex());
        const auto it = blocks().find(handle);
        if (it == blocks().end())
            return handle;
        doomed = std::move(it->second);
        blocks().erase(it);
    }
    return nullptr;
}

std::size_t liveHandleCount() {
    const std::lock_guard lock(blockMutex());
    return blocks().size();
}

TW_HANDLE CreateMessageWindow(const QString& title) {
    if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread())
        return nullptr;
    auto window = std::make_unique<MessageWindow>();
    window->setObjectName(title);
    void* handle = window.get();
    const std::lock_guard lock(windowMutex());
    windows().emplace(handle, std::move(window));
    return handle;
}

bool DestroyWindow(TW_HANDLE hwnd) {
    std::unique_ptr<MessageWindow> doomed;
    {
        const std::lock_guard lock(windowMutex());
        const auto it = windows().find(hwnd);
        if (it == windows().end())
            return false;
        doomed = std::move(it->second);
        windows().erase(it);
    }
    // Deleting the QObject drops its events not yet delivered; drop those already queued.
    std::erase_if(queue(), [hwnd](const MSG& m) { return m.hwnd == hwnd; });
    return true;
}

bool IsWindow(TW_HANDLE hwnd) {
    const std::lock_guard lock(windowMutex());
    return windows().contains(hwnd);
}

void SetWindowProc(TW_HANDLE hwnd, WindowProc proc) {
    const std::lock_guard lock(windowMutex());
    const auto it = windows().find(hwnd);
    if (it != windows().end())
        it->second->proc = std::move(proc);
}

std::size_t liveWindowCount() {
    const std::lock_guard lock(windowMutex());
    return windows().size();
}

bool PostMessage(TW_HANDLE hwnd, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    // Held while posting so that the window cannot be destroyed under our feet.
    const std::lock_guard lock(windowMutex());
    const auto it = windows().find(hwnd);
    if (it == windows().end())
        return false;
    QCoreApplication::postEvent(it->second.get(), new PostedMessageEvent(MSG{hwnd, message, wParam, lParam}));
    return true;
}

void PostQuitMessage(int exitCode) {
    queue().push_back(MSG{nullptr, WM_QUIT, static_cast<std::uintptr_t>(exitCode), 0});
}

int GetMessage(MSG* msg) {
    for (;;) {
        if (!queue().empty()) {
            *msg = queue().front();
            queue().pop_front();
            return msg->message == WM_QUIT ? 0 : 1;
        }
        if (!QCoreApplication::instance() || QCoreApplication::closingDown())
            return 0;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void TranslateMessage(const MSG*) {}

void DispatchMessage(const MSG* msg) {
    if (!msg)
        return;
    WindowProc proc;
    {
        const std::lock_guard lock(windowMutex());
        const auto it = windows().find(msg->hwnd);
        if (it == windows().end())
            return;
        proc = it->second->proc;
    }
    if (proc)
        proc(*msg);
}

} // namespace twainshim
