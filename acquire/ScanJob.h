#pragma once

#include "acquire/SanePageReader.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// One page read on a worker thread while the user-interface thread goes on. `ready` runs on
// the worker when the read has ended, however it ended.
class ScanJob {
  public:
    ScanJob(SaneApi& api, SANE_Handle handle, double dotsPerInch, SanePageReader::Progress* progress,
            std::function<void()> ready);
    // Cancels a read still running and waits for the worker.
    ~ScanJob();
    ScanJob(const ScanJob&) = delete;
    ScanJob& operator=(const ScanJob&) = delete;

    // Stops the read. The worker checks between reads; a read that does not come back (a
    // stalled scanner) is then cancelled in the device, as SANE allows from another thread.
    // Returns when the worker has ended.
    void cancel();
    // Waits for the read to end and hands over its page (once).
    SanePageReader::Page take();

  private:
    void join();

    SaneApi& m_api;
    SANE_Handle m_handle;
    std::atomic<bool> m_cancel{false};
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    SanePageReader::Page m_page;
    std::thread m_thread;
};
