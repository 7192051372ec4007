#include "tests/support/FakeSane.h"

#include "acquire/TwainShim.h"
#include "acquire/TwainState.h"
#include "acquire/mdlTwain.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

enum Option { kCount, kMode, kResolution, kDepth, kTlX, kTlY, kBrX, kBrY, kOptions };
const char* const kNames[kOptions] = {"", "mode", "resolution", "depth", "tl-x", "tl-y", "br-x", "br-y"};

} // namespace

struct FakeSane::Handle {
    Device device;
    std::vector<QByteArray> modeBytes;
    std::vector<SANE_String_Const> modeList;
    SANE_Word depths[3] = {2, 1, 8};
    SANE_Range resolutionRange{50, 1200, 1};
    SANE_Range xRange{0, 0, 0};
    SANE_Range yRange{0, 0, 0};
    SANE_Option_Descriptor options[kOptions]{};
    QByteArray mode;
    SANE_Word resolution = 100;
    SANE_Word depth = 8;
    double edgesMm[4] = {0, 0, 0, 0};
    SANE_Parameters params{};
    long long total = 0;
    long long sent = 0;
    bool cancelled = false;

    explicit Handle(const Device& d) : device(d) {
        for (const QString& m : device.modes)
            modeBytes.push_back(m.toUtf8());
        for (const QByteArray& m : modeBytes)
            modeList.push_back(m.constData());
        modeList.push_back(nullptr);
        mode = modeBytes.empty() ? QByteArray() : modeBytes.front();
        edgesMm[2] = device.bedWidthMm;
        edgesMm[3] = device.bedHeightMm;
        for (int i = 0; i < kOptions; ++i) {
            SANE_Option_Descriptor& o = options[i];
            o.name = kNames[i];
            o.title = kNames[i];
            o.desc = kNames[i];
            o.cap = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
            o.size = sizeof(SANE_Word);
            o.type = SANE_TYPE_INT;
        }
        options[kCount].cap = SANE_CAP_SOFT_DETECT;
        options[kMode].type = SANE_TYPE_STRING;
        options[kMode].size = 32;
        options[kMode].constraint_type = SANE_CONSTRAINT_STRING_LIST;
        options[kMode].constraint.string_list = modeList.data();
        if (modeBytes.empty())
            options[kMode].cap |= SANE_CAP_INACTIVE;
        options[kResolution].unit = SANE_UNIT_DPI;
        options[kResolution].constraint_type = SANE_CONSTRAINT_RANGE;
        options[kResolution].constraint.range = &resolutionRange;
        options[kDepth].unit = SANE_UNIT_BIT;
        options[kDepth].constraint_type = SANE_CONSTRAINT_WORD_LIST;
        options[kDepth].constraint.word_list = depths;
        if (!device.depthOption)
            options[kDepth].cap |= SANE_CAP_INACTIVE;
        for (int i = kTlX; i <= kBrY; ++i) {
            options[i].unit = device.geometryUnit;
            options[i].type = device.geometryUnit == SANE_UNIT_MM ? SANE_TYPE_FIXED : SANE_TYPE_INT;
            options[i].constraint_type = SANE_CONSTRAINT_RANGE;
            options[i].constraint.range = (i == kTlX || i == kBrX) ? &xRange : &yRange;
        }
        updateRanges();
    }

    bool pixels() const { return device.geometryUnit == SANE_UNIT_PIXEL; }
    SANE_Word toWord(double mm) const {
        return pixels() ? SANE_Word(std::lround(mm / 25.4 * resolution)) : SANE_FIX(mm);
    }
    double fromWord(SANE_Word w) const { return pixels() ? w * 25.4 / resolution : SANE_UNFIX(w); }
    void updateRanges() {
        xRange = {0, toWord(device.bedWidthMm), 0};
        yRange = {0, toWord(device.bedHeightMm), 0};
    }

    void computeParameters() {
        const int width = int((edgesMm[2] - edgesMm[0]) / 25.4 * resolution);
        const int height = int((edgesMm[3] - edgesMm[1]) / 25.4 * resolution);
        const bool colour = mode.contains("Color");
        const bool lineart = mode.contains("Lineart") || depth == 1;
        params.format = colour ? SANE_FRAME_RGB : SANE_FRAME_GRAY;
        params.last_frame = SANE_TRUE;
        params.pixels_per_line = width;
        params.depth = colour ? 8 : lineart ? 1 : 8;
        params.bytes_per_line = colour ? width * 3 : lineart ? (width + 7) / 8 : width;
        params.lines = device.unknownHeight ? -1 : height;
        total = static_cast<long long>(params.bytes_per_line) * height;
    }
};

FakeSane::FakeSane() = default;
FakeSane::~FakeSane() = default;

bool FakeSane::scripted(const std::string& call, SANE_Status* status) {
    auto it = answers.find(call);
    if (it == answers.end() || it->second.empty())
        return false;
    *status = it->second.front();
    it->second.pop_front();
    return true;
}

void FakeSane::plugBackIn() {
    const std::lock_guard lock(m_mutex);
    m_gone = false;
    vanishAfterReads = -1;
}

int FakeSane::openHandles() const {
    const std::lock_guard lock(m_mutex);
    return int(m_handles.size());
}

int FakeSane::initDepth() const {
    const std::lock_guard lock(m_mutex);
    return m_init;
}

bool FakeSane::gone() const {
    const std::lock_guard lock(m_mutex);
    return m_gone;
}

SANE_Status FakeSane::init(SANE_Int* version) {
    const std::lock_guard lock(m_mutex);
    SANE_Status status = SANE_STATUS_GOOD;
    if (scripted("init", &status))
        return status;
    if (version)
        *version = SANE_VERSION_CODE(1, 0, 0);
    ++m_init;
    return SANE_STATUS_GOOD;
}

void FakeSane::exit() {
    {
        std::unique_lock gate(m_gateMutex);
        exiting = m_exitHeld;
        m_gateOpened.wait(gate, [this] { return !m_exitHeld; });
        exiting = false;
    }
    const std::lock_guard lock(m_mutex);
    m_handles.clear(); // as SANE closes what is still open
    m_init = std::max(0, m_init - 1);
}

void FakeSane::holdListing() {
    const std::lock_guard lock(m_gateMutex);
    m_held = true;
}

void FakeSane::releaseListing() {
    {
        const std::lock_guard lock(m_gateMutex);
        m_held = false;
    }
    m_gateOpened.notify_all();
}

void FakeSane::holdExit() {
    const std::lock_guard lock(m_gateMutex);
    m_exitHeld = true;
}

void FakeSane::releaseExit() {
    {
        const std::lock_guard lock(m_gateMutex);
        m_exitHeld = false;
    }
    m_gateOpened.notify_all();
}

SANE_Status FakeSane::getDevices(const SANE_Device*** list, SANE_Bool) {
    ++listings;
    {
        std::unique_lock gate(m_gateMutex);
        m_gateOpened.wait(gate, [this] { return !m_held; });
    }
    const std::lock_guard lock(m_mutex);
    m_listed.clear();
    m_list.clear();
    if (!m_gone) {
        for (const Device& d : devices)
            m_listed.push_back(SANE_Device{d.name.constData(), d.vendor.constData(), d.model.constData(),
                                           d.type.constData()});
    }
    for (const SANE_Device& d : m_listed)
        m_list.push_back(&d);
    m_list.push_back(nullptr);
    *list = m_list.data();
    return SANE_STATUS_GOOD;
}

SANE_Status FakeSane::open(SANE_String_Const name, SANE_Handle* handle) {
    const std::lock_guard lock(m_mutex);
    *handle = nullptr;
    SANE_Status status = SANE_STATUS_GOOD;
    if (scripted("open", &status))
        return status;
    if (m_gone)
        return SANE_STATUS_INVAL;
    for (const Device& d : devices) {
        if (!name[0] || d.name == name) {
            m_handles.push_back(std::make_unique<Handle>(d));
            *handle = m_handles.back().get();
            return SANE_STATUS_GOOD;
        }
    }
    return SANE_STATUS_INVAL;
}

void FakeSane::close(SANE_Handle handle) {
    const std::lock_guard lock(m_mutex);
    std::erase_if(m_handles, [handle](const auto& h) { return h.get() == handle; });
}

const SANE_Option_Descriptor* FakeSane::optionDescriptor(SANE_Handle handle, SANE_Int option) {
    if (option < 0 || option >= kOptions)
        return nullptr;
    return &static_cast<Handle*>(handle)->options[option];
}

SANE_Status FakeSane::controlOption(SANE_Handle handle, SANE_Int option, SANE_Action action, void* value,
                                    SANE_Int* info) {
    const std::lock_guard lock(m_mutex);
    auto* h = static_cast<Handle*>(handle);
    if (info)
        *info = 0;
    if (option < 0 || option >= kOptions || (h->options[option].cap & SANE_CAP_INACTIVE))
        return SANE_STATUS_INVAL;
    auto* word = static_cast<SANE_Word*>(value);
    if (action == SANE_ACTION_GET_VALUE) {
        switch (option) {
        case kCount:
            *word = kOptions;
            break;
        case kMode:
            std::strncpy(static_cast<char*>(value), h->mode.constData(), 32);
            break;
        case kResolution:
            *word = h->resolution;
            break;
        case kDepth:
            *word = h->depth;
            break;
        default:
            *word = h->toWord(h->edgesMm[option - kTlX]);
            break;
        }
        return SANE_STATUS_GOOD;
    }
    if (action != SANE_ACTION_SET_VALUE || option == kCount)
        return SANE_STATUS_INVAL;
    SANE_Status status = SANE_STATUS_GOOD;
    if (scripted("set", &status))
        return status;
    switch (option) {
    case kMode: {
        const QByteArray wanted(static_cast<const char*>(value));
        if (std::find(h->modeBytes.begin(), h->modeBytes.end(), wanted) == h->modeBytes.end())
            return SANE_STATUS_INVAL;
        h->mode = wanted;
        return SANE_STATUS_GOOD;
    }
    case kResolution: {
        const SANE_Word clamped = std::clamp(*word, h->resolutionRange.min, h->resolutionRange.max);
        if (info && clamped != *word)
            *info |= SANE_INFO_INEXACT;
        h->resolution = *word = clamped;
        h->updateRanges();
        if (info)
            *info |= SANE_INFO_RELOAD_OPTIONS;
        return SANE_STATUS_GOOD;
    }
    case kDepth:
        if (*word != 1 && *word != 8)
            return SANE_STATUS_INVAL;
        h->depth = *word;
        return SANE_STATUS_GOOD;
    default: {
        const SANE_Range& range = *h->options[option].constraint.range;
        const SANE_Word clamped = std::clamp(*word, range.min, range.max);
        if (info && clamped != *word)
            *info |= SANE_INFO_INEXACT;
        *word = clamped;
        h->edgesMm[option - kTlX] = h->fromWord(clamped);
        return SANE_STATUS_GOOD;
    }
    }
}

SANE_Status FakeSane::start(SANE_Handle handle) {
    const std::lock_guard lock(m_mutex);
    SANE_Status status = SANE_STATUS_GOOD;
    if (scripted("start", &status))
        return status;
    if (m_gone)
        return SANE_STATUS_IO_ERROR;
    auto* h = static_cast<Handle*>(handle);
    h->computeParameters();
    h->sent = 0;
    h->cancelled = false;
    return SANE_STATUS_GOOD;
}

SANE_Status FakeSane::getParameters(SANE_Handle handle, SANE_Parameters* params) {
    const std::lock_guard lock(m_mutex);
    SANE_Status status = SANE_STATUS_GOOD;
    if (scripted("getParameters", &status))
        return status;
    *params = static_cast<Handle*>(handle)->params;
    return SANE_STATUS_GOOD;
}

SANE_Status FakeSane::read(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
    std::unique_lock lock(m_mutex);
    auto* h = static_cast<Handle*>(handle);
    *length = 0;
    SANE_Status status = SANE_STATUS_GOOD;
    if (scripted("read", &status))
        return status;
    if (m_gone)
        return SANE_STATUS_IO_ERROR;
    if (h->cancelled)
        return SANE_STATUS_CANCELLED;
    if (h->sent >= h->total)
        return SANE_STATUS_EOF;
    const int n = reads++;
    if (vanishAfterReads >= 0 && n >= vanishAfterReads) {
        m_gone = true;
        return SANE_STATUS_IO_ERROR;
    }
    if (n == failAtRead)
        return failStatus;
    if (n == stallAtRead) {
        stalled = true;
        m_cancelled.wait(lock, [h] { return h->cancelled; });
        stalled = false;
        return SANE_STATUS_CANCELLED;
    }
    if (readDelayMs > 0) {
        // A slow scanner: the page comes in at its own pace (the lock is free meanwhile).
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(readDelayMs));
        lock.lock();
        if (h->cancelled)
            return SANE_STATUS_CANCELLED;
    }
    const long long count = std::min<long long>({readSize, maxLength, h->total - h->sent});
    for (long long i = 0; i < count; ++i)
        data[i] = static_cast<SANE_Byte>((h->sent + i) * 7);
    h->sent += count;
    *length = static_cast<SANE_Int>(count);
    return SANE_STATUS_GOOD;
}

void FakeSane::cancel(SANE_Handle handle) {
    {
        const std::lock_guard lock(m_mutex);
        ++cancels;
        static_cast<Handle*>(handle)->cancelled = true;
    }
    m_cancelled.notify_all();
}

FakeScanner::FakeScanner(const QString& settingsFile) {
    manager.setSettingsFile(settingsFile);
    mdlTwain::setDsmEntry([this](pTW_IDENTITY o, pTW_IDENTITY d, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                 TW_MEMREF p) { return manager.entry(o, d, dg, dat, msg, p); });
}

FakeScanner::~FakeScanner() {
    mdlTwain::resetDsmEntry();
}

ManagerSession::ManagerSession(SaneSourceManager& manager)
    : manager(manager), window(twainshim::CreateMessageWindow(QStringLiteral("test"))), ui{0, 1, window} {}

ManagerSession::~ManagerSession() {
    if (atLeast(manager.state(), TwainState::SourceOpen))
        closeSource();
    if (atLeast(manager.state(), TwainState::ManagerOpen))
        closeManager();
    twainshim::DestroyWindow(window);
}

TW_UINT16 ManagerSession::call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, bool toSource) {
    return manager.entry(&app, toSource ? &source : nullptr, dg, dat, msg, data);
}
