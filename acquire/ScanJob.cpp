#include "acquire/ScanJob.h"

#include "acquire/Logging.h"

#include <chrono>

namespace {

// How long a cancelled read may take to notice the request before the device is told.
constexpr std::chrono::milliseconds kGrace{1500};

} // namespace

ScanJob::ScanJob(SaneApi& api, SANE_Handle handle, double dpi, SanePageReader::Progress* progress,
                 std::function<void()> ready)
    : m_api(api), m_handle(handle) {
    m_thread = std::thread([this, dpi, progress, ready = std::move(ready)] {
        SanePageReader::Page page = SanePageReader::read(m_api, m_handle, m_cancel, dpi, progress);
        {
            const std::lock_guard lock(m_mutex);
            m_page = std::move(page);
            m_done = true;
        }
        m_ended.notify_all();
        if (ready)
            ready();
    });
}

ScanJob::~ScanJob() {
    cancel();
}

void ScanJob::cancel() {
    m_cancel = true;
    {
        std::unique_lock lock(m_mutex);
        if (!m_ended.wait_for(lock, kGrace, [this] { return m_done; })) {
            qCDebug(lcAcquire) << "the scanner does not answer: cancelling the read in the device";
            lock.unlock();
            m_api.cancel(m_handle);
        }
    }
    join();
}

SanePageReader::Page ScanJob::take() {
    join();
    return std::move(m_page);
}

void ScanJob::join() {
    if (m_thread.joinable())
        m_thread.join();
}
