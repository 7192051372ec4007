#include "acquire/SaneSourceManager.h"

#include "acquire/Logging.h"
#include "acquire/ScanMonitor.h"
#include "acquire/ScannerSettingsDialog.h"
#include "acquire/SourceSelectDialog.h"

#include <QApplication>

#include <algorithm>
#include <future>
#include <thread>
#include <utility>

#include <cstring>

namespace {

void copyText(TW_STR32& field, const QString& text) {
    std::memset(field, 0, sizeof field);
    const QByteArray bytes = text.toUtf8().left(static_cast<qsizetype>(sizeof field) - 1);
    std::memcpy(field, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace

SaneSourceManager::SaneSourceManager(SaneApi& api) : m_api(api), m_device(api) {}

SaneSourceManager::~SaneSourceManager() {
    if (atLeast(m_state, TwainState::ManagerOpen))
        closeManager();
}

SaneSourceManager& SaneSourceManager::instance() {
    static SaneSourceManager manager;
    return manager;
}

TW_UINT16 SaneSourceManager::DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                       TW_UINT16 MSG, TW_MEMREF pData) {
    return instance().entry(pOrigin, pDest, DG, DAT, MSG, pData);
}

void SaneSourceManager::setSettingsFile(const QString& path) {
    m_store.setSettingsFile(path);
}

TW_UINT16 SaneSourceManager::fail(TW_UINT16 condition, TW_UINT16 rc) {
    m_condition = condition;
    return rc;
}

TW_UINT16 SaneSourceManager::answer(SaneOptionMap::Answer a) {
    m_condition = a.condition;
    return a.rc;
}

TW_UINT16 SaneSourceManager::entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                   TW_UINT16 MSG, TW_MEMREF pData) {
    if (!pOrigin)
        return fail(TWCC_BADPROTOCOL);

    if (DG == DG_CONTROL && DAT == DAT_STATUS && MSG == MSG_GET) {
        if (!pData)
            return fail(TWCC_BADVALUE);
        auto* status = static_cast<TW_STATUS*>(pData);
        status->ConditionCode = m_condition;
        status->Reserved = 0;
        m_condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    m_condition = TWCC_SUCCESS;

    if (DG == DG_CONTROL && DAT == DAT_PARENT) {
        if (MSG == MSG_OPENDSM)
            return openManager(pOrigin, pData);
        if (MSG == MSG_CLOSEDSM)
            return m_state == TwainState::ManagerOpen ? closeManager() : fail(TWCC_SEQERROR);
        return fail(TWCC_BADPROTOCOL);
    }
    if (!atLeast(m_state, TwainState::ManagerOpen))
        return fail(TWCC_SEQERROR);
    if (DG == DG_CONTROL && DAT == DAT_IDENTITY)
        return identity(MSG, static_cast<pTW_IDENTITY>(pData));

    // Everything else is for the open source.
    if (!atLeast(m_state, TwainState::SourceOpen))
        return fail(TWCC_SEQERROR);
    if (!pDest || pDest->Id != m_sourceId)
        return fail(TWCC_BADDEST);
    if (!pData && !(DG == DG_CONTROL && DAT == DAT_USERINTERFACE && MSG == MSG_DISABLEDS))
        return fail(TWCC_BADVALUE);

    if (DG == DG_CONTROL) {
        switch (DAT) {
        case DAT_CAPABILITY:
            return capability(MSG, static_cast<TW_CAPABILITY*>(pData));
        case DAT_USERINTERFACE:
            if (MSG == MSG_ENABLEDS)
                return enable(static_cast<const TW_USERINTERFACE*>(pData));
            if (MSG == MSG_DISABLEDS) {
                if (!atLeast(m_state, TwainState::SourceEnabled))
                    return fail(TWCC_SEQERROR);
                disable();
                return TWRC_SUCCESS;
            }
            return fail(TWCC_BADPROTOCOL);
        case DAT_EVENT:
            return MSG == MSG_PROCESSEVENT ? processEvent(static_cast<TW_EVENT*>(pData))
                                           : fail(TWCC_BADPROTOCOL);
        case DAT_PENDINGXFERS: {
            auto* pending = static_cast<TW_PENDINGXFERS*>(pData);
            if (MSG == MSG_GET) {
                pending->Count = atLeast(m_state, TwainState::TransferReady) ? 1 : 0;
                return TWRC_SUCCESS;
            }
            if (MSG == MSG_ENDXFER || MSG == MSG_RESET) {
                if (!atLeast(m_state, TwainState::TransferReady))
                    return fail(TWCC_SEQERROR);
                pending->Count = 0;
                m_state = TwainState::SourceEnabled;
                return TWRC_SUCCESS;
            }
            return fail(TWCC_BADPROTOCOL);
        }
        default:
            return fail(TWCC_BADPROTOCOL);
        }
    }
    if (DG == DG_IMAGE) {
        if (DAT == DAT_IMAGELAYOUT)
            return imageLayout(MSG, static_cast<TW_IMAGELAYOUT*>(pData));
        if (DAT == DAT_IMAGENATIVEXFER && MSG == MSG_GET)
            return nativeTransfer(static_cast<TW_HANDLE*>(pData));
    }
    return fail(TWCC_BADPROTOCOL);
}

// ---- manager -------------------------------------------------------------------------------

TW_UINT16 SaneSourceManager::openManager(pTW_IDENTITY origin, TW_MEMREF data) {
    if (atLeast(m_state, TwainState::ManagerOpen))
        return fail(TWCC_SEQERROR);
    const auto* window = static_cast<const TW_HANDLE*>(data);
    if (!window || !*window)
        return fail(TWCC_BADVALUE);
    m_parent = *window;
    origin->Id = m_nextId++;
    m_handedOut.clear();
    m_state = TwainState::ManagerOpen;
    return TWRC_SUCCESS;
}

TW_UINT16 SaneSourceManager::closeManager() {
    if (atLeast(m_state, TwainState::SourceOpen))
        closeSource();
    endSane();
    m_listing.clear();
    m_handedOut.clear();
    m_parent = nullptr;
    m_state = TwainState::ManagerLoaded;
    return TWRC_SUCCESS;
}

void SaneSourceManager::findDevices() {
    if (m_saneOpen)
        m_searchPending = true;
    else if (!teardownStalled()) // a search would start SANE again beside the hung end
        m_search.start();
}

bool SaneSourceManager::beginSane() {
    if (m_saneOpen)
        return true;
    if (teardownStalled()) {
        qCDebug(lcAcquire) << "the last SANE session has not ended: not starting another";
        ScanMonitor::setStalled();
        return false;
    }
    m_search.wait();
    SANE_Int version = 0;
    if (const SANE_Status status = m_api.init(&version); status != SANE_STATUS_GOOD) {
        qCDebug(lcAcquire) << "sane_init failed:" << saneStatusText(status);
        return false;
    }
    m_saneOpen = true;
    return true;
}

void SaneSourceManager::endSane() {
    if (!m_saneOpen)
        return;
    m_saneOpen = false;
    SANE_Handle device = m_device.release();
    // A backend's reader thread that died holding the loader's lock makes sane_exit (its
    // dlclose) wait for ever: the end runs where that can only cost a thread.
    auto running = std::make_shared<std::atomic<bool>>(true);
    auto ended = std::make_shared<std::promise<void>>();
    std::future<void> endedFuture = ended->get_future();
    std::thread worker([api = &m_api, device, running, ended] {
        if (device)
            api->close(device);
        api->exit();
        *running = false;
        ended->set_value();
    });
    if (endedFuture.wait_for(m_teardownWait) == std::future_status::ready) {
        worker.join();
    } else {
        qCDebug(lcAcquire) << "closing the scanner did not come back: leaving it behind";
        worker.detach();
        m_teardownRunning = running;
        ScanMonitor::setStalled();
    }
    if (std::exchange(m_searchPending, false))
        findDevices();
}

std::vector<SaneDeviceInfo> SaneSourceManager::devices() {
    m_search.wait();
    if (m_search.found() && !m_search.found()->empty())
        return *m_search.found();
    // Nothing found yet: look now, in the open session or in one of the moment.
    const bool own = !m_saneOpen;
    if (own && !beginSane())
        return {};
    std::vector<SaneDeviceInfo> list = DeviceSearch::list(m_api);
    if (own)
        endSane();
    return list;
}

bool SaneSourceManager::listed(const QByteArray& name) {
    const bool own = !m_saneOpen;
    if (own && !beginSane())
        return false;
    const std::vector<SaneDeviceInfo> list = DeviceSearch::list(m_api);
    if (own)
        endSane();
    return std::any_of(list.begin(), list.end(), [&name](const SaneDeviceInfo& d) { return d.name == name; });
}

void SaneSourceManager::fillIdentity(TW_IDENTITY& id, const SaneDeviceInfo& device,
                                     TW_UINT32 idNumber) const {
    id = TW_IDENTITY{};
    id.Id = idNumber;
    id.Version.MajorNum = 1;
    id.ProtocolMajor = TWON_PROTOCOLMAJOR;
    id.ProtocolMinor = TWON_PROTOCOLMINOR;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    copyText(id.Manufacturer, device.vendor);
    copyText(id.ProductFamily, QStringLiteral("SANE"));
    copyText(id.ProductName, device.model);
}

TW_UINT16 SaneSourceManager::identity(TW_UINT16 msg, pTW_IDENTITY id) {
    if (!id)
        return fail(TWCC_BADVALUE);
    switch (msg) {
    case MSG_OPENDS:
        return m_state == TwainState::ManagerOpen ? openSource(id) : fail(TWCC_SEQERROR);
    case MSG_CLOSEDS:
        if (!atLeast(m_state, TwainState::SourceOpen) || id->Id != m_sourceId)
            return fail(atLeast(m_state, TwainState::SourceOpen) ? TWCC_BADDEST : TWCC_SEQERROR);
        closeSource();
        return TWRC_SUCCESS;
    case MSG_USERSELECT:
        return m_state == TwainState::ManagerOpen ? userSelect(id) : fail(TWCC_SEQERROR);
    case MSG_GETFIRST:
        m_listing = devices();
        m_listingPos = 0;
        [[fallthrough]];
    case MSG_GETNEXT:
        if (m_listingPos >= m_listing.size())
            return TWRC_ENDOFLIST;
        fillIdentity(*id, m_listing[m_listingPos], m_nextId);
        m_handedOut[m_nextId++] = m_listing[m_listingPos++].name;
        return TWRC_SUCCESS;
    case MSG_GETDEFAULT: {
        const std::vector<SaneDeviceInfo> list = devices();
        const int index = m_store.defaultDevice(list);
        if (index < 0)
            return fail(TWCC_NODS);
        fillIdentity(*id, list[static_cast<std::size_t>(index)], m_nextId);
        m_handedOut[m_nextId++] = list[static_cast<std::size_t>(index)].name;
        return TWRC_SUCCESS;
    }
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SaneSourceManager::userSelect(pTW_IDENTITY id) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return fail(TWCC_BUMMER);
    // While a search runs the dialog shows what the last one found, and the new list when
    // it comes.
    const bool searching = m_search.running();
    const std::vector<SaneDeviceInfo> list =
        searching ? m_search.found().value_or(std::vector<SaneDeviceInfo>{}) : devices();
    SourceSelectDialog dialog(list, m_store.defaultDevice(list), QApplication::activeWindow());
    if (searching) {
        dialog.setSearching(true);
        m_search.setFinished([this, &dialog] {
            const std::vector<SaneDeviceInfo> now = m_search.found().value_or(std::vector<SaneDeviceInfo>{});
            dialog.setDevices(now, m_store.defaultDevice(now));
            dialog.setSearching(false);
        });
    }
    const int answer = dialog.exec();
    m_search.setFinished({});
    const std::optional<SaneDeviceInfo> chosen = dialog.chosenDevice();
    if (answer != QDialog::Accepted || !chosen)
        return TWRC_CANCEL;
    m_store.remember(*chosen);
    fillIdentity(*id, *chosen, m_nextId);
    m_handedOut[m_nextId++] = chosen->name;
    return TWRC_SUCCESS;
}

// ---- source --------------------------------------------------------------------------------

TW_UINT16 SaneSourceManager::openSource(pTW_IDENTITY id) {
    if (!beginSane())
        return fail(TWCC_BUMMER);
    const std::vector<SaneDeviceInfo> list = devices();
    int index = -1;
    const auto handed = m_handedOut.find(id->Id);
    const QString product = QString::fromUtf8(
        id->ProductName, static_cast<qsizetype>(strnlen(id->ProductName, sizeof id->ProductName)));
    for (std::size_t i = 0; i < list.size() && index < 0; ++i) {
        if (handed != m_handedOut.end() ? list[i].name == handed->second
                                        : !product.isEmpty() && list[i].model.left(33) == product)
            index = static_cast<int>(i);
    }
    if (index < 0 && handed == m_handedOut.end() && product.isEmpty())
        index = m_store.defaultDevice(list);
    if (index < 0) {
        if (list.empty())
            ScanMonitor::setFault(ScanFault::NoScanner);
        endSane();
        return fail(TWCC_NODS);
    }
    const SaneDeviceInfo& device = list[static_cast<std::size_t>(index)];
    if (!m_device.open(device.name)) {
        const ScanFault fault = ScanMonitor::faultOf(m_device.lastOpenStatus());
        ScanMonitor::setFault(fault == ScanFault::None && !listed(device.name) ? ScanFault::Unplugged
                                                                               : fault);
        endSane();
        return fail(fault == ScanFault::Denied ? TWCC_DENIED : TWCC_CHECKDEVICEONLINE);
    }
    m_deviceInfo = device;
    m_sourceId = m_nextId++;
    fillIdentity(*id, device, m_sourceId);
    m_state = TwainState::SourceOpen;
    return TWRC_SUCCESS;
}

void SaneSourceManager::closeSource() {
    if (atLeast(m_state, TwainState::SourceEnabled))
        disable();
    endSane();
    m_deviceInfo = SaneDeviceInfo{};
    m_sourceId = 0;
    m_state = TwainState::ManagerOpen;
}

// ---- options -------------------------------------------------------------------------------

TW_UINT16 SaneSourceManager::capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
    if (msg == MSG_SET) {
        if (m_state != TwainState::SourceOpen)
            return fail(TWCC_SEQERROR);
        if (cap->ConType != TWON_ONEVALUE || twainshim::GlobalSize(cap->hContainer) < sizeof(TW_ONEVALUE))
            return fail(TWCC_BADVALUE);
        const void* bytes = twainshim::GlobalLock(cap->hContainer);
        if (!bytes)
            return fail(TWCC_BADVALUE);
        TW_ONEVALUE value{};
        std::memcpy(&value, bytes, sizeof value);
        twainshim::GlobalUnlock(cap->hContainer);
        return answer(m_options.set(cap->Cap, value));
    }
    if (msg != MSG_GET && msg != MSG_GETCURRENT && msg != MSG_GETDEFAULT)
        return fail(TWCC_CAPBADOPERATION);

    TW_ONEVALUE value{};
    if (const SaneOptionMap::Answer a = m_options.get(cap->Cap, value); a.rc != TWRC_SUCCESS)
        return answer(a);
    cap->ConType = TWON_ONEVALUE;
    cap->hContainer = twainshim::GlobalAlloc(twainshim::GHND, sizeof(TW_ONEVALUE));
    void* bytes = twainshim::GlobalLock(cap->hContainer);
    if (!bytes) {
        twainshim::GlobalFree(cap->hContainer);
        cap->hContainer = nullptr;
        return fail(TWCC_LOWMEMORY);
    }
    std::memcpy(bytes, &value, sizeof value);
    twainshim::GlobalUnlock(cap->hContainer);
    return TWRC_SUCCESS;
}

TW_UINT16 SaneSourceManager::imageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout) {
    if (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT) {
        if (const SaneOptionMap::Answer a = m_options.getLayout(layout->Frame); a.rc != TWRC_SUCCESS)
            return answer(a);
        layout->DocumentNumber = 1;
        layout->PageNumber = 1;
        layout->FrameNumber = 1;
        return TWRC_SUCCESS;
    }
    if (msg != MSG_SET)
        return fail(TWCC_BADPROTOCOL);
    if (m_state != TwainState::SourceOpen)
        return fail(TWCC_SEQERROR);
    return answer(m_options.setLayout(layout->Frame));
}

// ---- acquisition ---------------------------------------------------------------------------

void SaneSourceManager::post(TW_UINT16 message) {
    twainshim::PostMessage(m_parent, kSourceMessage, message, 0);
}

TW_UINT16 SaneSourceManager::enable(const TW_USERINTERFACE* ui) {
    if (m_state != TwainState::SourceOpen)
        return fail(TWCC_SEQERROR);
    if (ui->hParent && twainshim::IsWindow(ui->hParent))
        m_parent = ui->hParent;
    m_state = TwainState::SourceEnabled;
    if (!ui->ShowUI) {
        startScan();
        return TWRC_SUCCESS;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        m_state = TwainState::SourceOpen;
        return fail(TWCC_BUMMER);
    }
    const std::vector<SaneDeviceInfo> list = devices();
    int current = -1;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].name == m_device.name())
            current = static_cast<int>(i);
    }
    const auto describe = [this](const QByteArray& name) {
        if (name != m_device.name())
            m_device.open(name);
        return m_options.describe();
    };
    auto* dialog = new ScannerSettingsDialog(list, current, describe, QApplication::activeWindow());
    dialog->setWindowModality(Qt::ApplicationModal);
    QObject::connect(dialog, &QDialog::accepted, dialog, [this] { applyChoiceAndScan(); });
    // Closing the dialog any other way is a request to close the source.
    QObject::connect(dialog, &QDialog::rejected, dialog, [this] { post(MSG_CLOSEDSREQ); });
    m_dialog = dialog;
    dialog->show();
    return TWRC_SUCCESS;
}

void SaneSourceManager::applyChoiceAndScan() {
    if (!m_dialog || m_state != TwainState::SourceEnabled)
        return;
    const ScannerChoice choice = m_dialog->choice();
    m_dialog->hide();
    if (choice.device != m_device.name() && !m_device.open(choice.device)) {
        ScanMonitor::setFault(ScanMonitor::faultOf(m_device.lastOpenStatus()));
        m_page = SanePageReader::Page{SANE_STATUS_IO_ERROR, {}};
        post(MSG_XFERREADY);
        return;
    }
    for (const SaneDeviceInfo& d : devices()) {
        if (d.name == choice.device)
            m_deviceInfo = d;
    }
    m_options.apply(choice);
    startScan();
}

void SaneSourceManager::startScan() {
    m_page.reset();
    SANE_Handle handle = m_device.handle();
    if (!handle) {
        m_page = SanePageReader::Page{SANE_STATUS_IO_ERROR, {}};
        post(MSG_XFERREADY);
        return;
    }
    TW_HANDLE parent = m_parent;
    m_job =
        std::make_unique<ScanJob>(m_api, handle, m_options.resolution(), &ScanMonitor::progress(), [parent] {
            twainshim::PostMessage(parent, kSourceMessage, MSG_XFERREADY, 0);
        });
}

void SaneSourceManager::disable() {
    // Cancels a page still coming in and waits for its reader.
    m_job.reset();
    m_page.reset();
    delete m_dialog.data();
    m_dialog = nullptr;
    m_state = TwainState::SourceOpen;
}

TW_UINT16 SaneSourceManager::processEvent(TW_EVENT* event) {
    event->TWMessage = MSG_NULL;
    const auto* msg = static_cast<const twainshim::MSG*>(event->pEvent);
    if (!atLeast(m_state, TwainState::SourceEnabled) || !msg || msg->hwnd != m_parent ||
        msg->message != kSourceMessage)
        return TWRC_NOTDSEVENT;
    event->TWMessage = static_cast<TW_UINT16>(msg->wParam);
    if (event->TWMessage == MSG_XFERREADY)
        m_state = TwainState::TransferReady;
    return TWRC_DSEVENT;
}

TW_UINT16 SaneSourceManager::nativeTransfer(TW_HANDLE* handle) {
    if (m_state != TwainState::TransferReady || (!m_job && !m_page))
        return fail(TWCC_SEQERROR);
    if (m_job) {
        m_page = m_job->take();
        m_job.reset();
    }
    SanePageReader::Page page = std::move(*m_page);
    m_page.reset();
    if (page.status != SANE_STATUS_GOOD && page.status != SANE_STATUS_CANCELLED) {
        ScanFault fault = ScanMonitor::faultOf(page.status);
        if (fault == ScanFault::None &&
            (page.status == SANE_STATUS_IO_ERROR || page.status == SANE_STATUS_INVAL) &&
            !listed(m_device.name()))
            fault = ScanFault::Unplugged;
        // Still there but the page broke off: the cable or the scanner, not its settings.
        if (fault == ScanFault::None && page.status == SANE_STATUS_IO_ERROR)
            fault = ScanFault::ReadError;
        if (fault != ScanFault::None)
            ScanMonitor::setFault(fault);
    }
    switch (page.status) {
    case SANE_STATUS_GOOD:
        break;
    case SANE_STATUS_CANCELLED:
        m_state = TwainState::Transferring;
        return TWRC_CANCEL;
    case SANE_STATUS_JAMMED:
        return fail(TWCC_PAPERJAM);
    case SANE_STATUS_NO_MEM:
        return fail(TWCC_LOWMEMORY);
    default:
        return fail(TWCC_OPERATIONERROR);
    }
    *handle = twainshim::GlobalAdopt(std::move(page.dib));
    m_state = TwainState::Transferring;
    return TWRC_XFERDONE;
}
