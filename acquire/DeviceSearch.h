#pragma once

#include "acquire/SaneApi.h"
#include "acquire/SaneDeviceInfo.h"

#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

// The list of scanners, read on a worker thread: SANE's search may take seconds (network
// scanners are looked for on the network), and no click should wait for it.
//
// A search runs its own SANE session (init, list, exit), so it must not overlap another
// session: the source manager starts none while a search runs (wait()) and starts a search
// only while no session is open. All calls on the user-interface thread.
class DeviceSearch {
  public:
    explicit DeviceSearch(SaneApi& api) : m_api(api) {}
    ~DeviceSearch();
    DeviceSearch(const DeviceSearch&) = delete;
    DeviceSearch& operator=(const DeviceSearch&) = delete;

    // Starts a search unless one runs. `found` runs on the user-interface thread when it ends.
    void start();
    bool running() const { return m_thread != nullptr; }
    // Returns once no search runs, processing the application's events meanwhile.
    void wait();
    // The list of the last search; empty optional before the first one has ended.
    const std::optional<std::vector<SaneDeviceInfo>>& found() const { return m_found; }
    // Called each time a search ends.
    void setFinished(std::function<void()> finished) { m_finished = std::move(finished); }

    // The devices of an open SANE session, as sane_get_devices lists them.
    static std::vector<SaneDeviceInfo> list(SaneApi& api);

  private:
    void finish();

    SaneApi& m_api;
    std::unique_ptr<std::thread> m_thread;
    std::shared_ptr<std::vector<SaneDeviceInfo>> m_result;
    std::optional<std::vector<SaneDeviceInfo>> m_found;
    std::function<void()> m_finished;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
