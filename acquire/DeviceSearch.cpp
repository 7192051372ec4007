#include "acquire/DeviceSearch.h"

#include "acquire/Logging.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>

DeviceSearch::~DeviceSearch() {
    *m_alive = false;
    if (m_thread && m_thread->joinable())
        m_thread->join();
}

std::vector<SaneDeviceInfo> DeviceSearch::list(SaneApi& api) {
    std::vector<SaneDeviceInfo> result;
    const SANE_Device** list = nullptr;
    if (const SANE_Status status = api.getDevices(&list, SANE_FALSE); status != SANE_STATUS_GOOD || !list) {
        qCDebug(lcAcquire) << "sane_get_devices failed:" << saneStatusText(status);
        return result;
    }
    for (const SANE_Device** d = list; *d; ++d) {
        SaneDeviceInfo info;
        info.name = QByteArray((*d)->name ? (*d)->name : "");
        info.vendor = QString::fromUtf8((*d)->vendor ? (*d)->vendor : "");
        info.model = QString::fromUtf8((*d)->model ? (*d)->model : "");
        info.type = QString::fromUtf8((*d)->type ? (*d)->type : "");
        if (!info.name.isEmpty())
            result.push_back(info);
    }
    return result;
}

void DeviceSearch::start() {
    QCoreApplication* app = QCoreApplication::instance();
    if (running() || !app)
        return;
    m_result = std::make_shared<std::vector<SaneDeviceInfo>>();
    auto result = m_result;
    std::weak_ptr<bool> alive = m_alive;
    SaneApi* api = &m_api;
    DeviceSearch* self = this; // used back on the user-interface thread only, while alive
    m_thread = std::make_unique<std::thread>([self, api, result, alive] {
        SANE_Int version = 0;
        if (const SANE_Status status = api->init(&version); status == SANE_STATUS_GOOD) {
            *result = list(*api);
            api->exit();
        } else {
            qCDebug(lcAcquire) << "sane_init failed:" << saneStatusText(status);
        }
        // Back on the user-interface thread, unless the search's owner or the application is gone
        // (a search that outlives the program's windows ends with it).
        QCoreApplication* app = QCoreApplication::instance();
        if (!app || alive.expired())
            return;
        QMetaObject::invokeMethod(
            app,
            [self, alive] {
                if (const auto owner = alive.lock(); owner && *owner)
                    self->finish();
            },
            Qt::QueuedConnection);
    });
}

void DeviceSearch::finish() {
    if (!m_thread)
        return;
    m_thread->join();
    m_thread.reset();
    m_found = std::move(*m_result);
    m_result.reset();
    if (m_finished)
        m_finished();
}

void DeviceSearch::wait() {
    while (running()) {
        if (!QCoreApplication::instance() || QCoreApplication::closingDown()) {
            m_thread->join(); // its last post will find the owner alive and gone through here
            m_thread.reset();
            m_found = std::move(*m_result);
            return;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
