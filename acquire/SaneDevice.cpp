#include "acquire/SaneDevice.h"

#include "acquire/Logging.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

double fromWord(SANE_Value_Type type, SANE_Word word) {
    return type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : static_cast<double>(word);
}

// Backends truncate when they turn a fixed-point length into pixels: 203.2 mm stored as
// the nearest fixed-point value lies just below 203.2 and 8 inches at 300 dpi would lose a
// pixel. A fixed-point value is therefore rounded up, never down.
std::optional<SANE_Word> toWord(SANE_Value_Type type, double value) {
    const double rounded =
        type == SANE_TYPE_FIXED ? std::ceil(value * (1 << SANE_FIXED_SCALE_SHIFT) - 1e-6) : std::round(value);
    if (!std::isfinite(rounded) || rounded < -2147483648.0 || rounded > 2147483647.0)
        return std::nullopt;
    return static_cast<SANE_Word>(rounded);
}

} // namespace

SaneDevice::~SaneDevice() {
    close();
}

bool SaneDevice::open(const QByteArray& deviceName) {
    close();
    SANE_Handle handle = nullptr;
    m_openStatus = m_api->open(deviceName.constData(), &handle);
    if (m_openStatus != SANE_STATUS_GOOD || !handle) {
        qCDebug(lcAcquire) << "sane_open" << deviceName << "failed:" << saneStatusText(m_openStatus);
        if (m_openStatus == SANE_STATUS_GOOD)
            m_openStatus = SANE_STATUS_INVAL;
        return false;
    }
    m_handle = handle;
    m_name = deviceName;
    reloadOptions();
    return true;
}

void SaneDevice::close() {
    if (SANE_Handle handle = release())
        m_api->close(handle);
}

SANE_Handle SaneDevice::release() {
    m_name.clear();
    m_options.clear();
    return std::exchange(m_handle, nullptr);
}

void SaneDevice::reloadOptions() {
    m_options.clear();
    if (!m_handle)
        return;
    SANE_Int count = 0;
    const SANE_Status status = m_api->controlOption(m_handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr);
    if (status != SANE_STATUS_GOOD) {
        qCDebug(lcAcquire) << "reading the option count of" << m_name << "failed:" << saneStatusText(status);
        return;
    }
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = m_api->optionDescriptor(m_handle, i);
        if (d && d->name && d->name[0])
            m_options.emplace(QByteArray(d->name), i);
    }
}

const SANE_Option_Descriptor* SaneDevice::descriptor(const char* option, SANE_Int* index) const {
    if (!m_handle)
        return nullptr;
    const auto it = m_options.find(QByteArray(option));
    if (it == m_options.end())
        return nullptr;
    const SANE_Option_Descriptor* d = m_api->optionDescriptor(m_handle, it->second);
    if (!d || !SANE_OPTION_IS_ACTIVE(d->cap))
        return nullptr;
    if (index)
        *index = it->second;
    return d;
}

bool SaneDevice::has(const char* option) const {
    return descriptor(option) != nullptr;
}

bool SaneDevice::settable(const char* option) const {
    const SANE_Option_Descriptor* d = descriptor(option);
    return d && SANE_OPTION_IS_SETTABLE(d->cap);
}

SANE_Unit SaneDevice::unit(const char* option) const {
    const SANE_Option_Descriptor* d = descriptor(option);
    return d ? d->unit : SANE_UNIT_NONE;
}

std::optional<double> SaneDevice::number(const char* option) const {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = descriptor(option, &index);
    if (!d || (d->type != SANE_TYPE_FIXED && d->type != SANE_TYPE_INT) || d->size != sizeof(SANE_Word))
        return std::nullopt;
    SANE_Word word = 0;
    const SANE_Status status = m_api->controlOption(m_handle, index, SANE_ACTION_GET_VALUE, &word, nullptr);
    if (status != SANE_STATUS_GOOD) {
        qCDebug(lcAcquire) << "reading option" << option << "failed:" << saneStatusText(status);
        return std::nullopt;
    }
    return fromWord(d->type, word);
}

SaneDevice::SetResult SaneDevice::finishSet(const char* option, SANE_Status status, SANE_Int info) {
    if (status != SANE_STATUS_GOOD) {
        qCDebug(lcAcquire) << "setting option" << option << "failed:" << saneStatusText(status);
        return SetResult::Failed;
    }
    if (info & SANE_INFO_RELOAD_OPTIONS)
        reloadOptions();
    return (info & SANE_INFO_INEXACT) ? SetResult::Adjusted : SetResult::Exact;
}

SaneDevice::SetResult SaneDevice::setNumber(const char* option, double value) {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = descriptor(option, &index);
    if (!d || !SANE_OPTION_IS_SETTABLE(d->cap) || (d->type != SANE_TYPE_FIXED && d->type != SANE_TYPE_INT) ||
        d->size != sizeof(SANE_Word))
        return SetResult::Failed;
    const SANE_Value_Type type = d->type;
    const auto word = toWord(type, value);
    if (!word)
        return SetResult::Failed;
    SANE_Word w = *word;
    SANE_Int info = 0;
    SetResult result =
        finishSet(option, m_api->controlOption(m_handle, index, SANE_ACTION_SET_VALUE, &w, &info), info);
    if (result == SetResult::Exact) {
        // Some backends adjust a value without saying so.
        const auto now = number(option);
        const double step = type == SANE_TYPE_FIXED ? 2.0 / (1 << SANE_FIXED_SCALE_SHIFT) : 0.5;
        if (!now || std::fabs(*now - value) > step)
            result = SetResult::Adjusted;
    }
    return result;
}

std::optional<QString> SaneDevice::text(const char* option) const {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = descriptor(option, &index);
    if (!d || d->type != SANE_TYPE_STRING || d->size <= 0)
        return std::nullopt;
    QByteArray buffer(d->size, '\0');
    const SANE_Status status =
        m_api->controlOption(m_handle, index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr);
    if (status != SANE_STATUS_GOOD) {
        qCDebug(lcAcquire) << "reading option" << option << "failed:" << saneStatusText(status);
        return std::nullopt;
    }
    return QString::fromUtf8(buffer.constData());
}

SaneDevice::SetResult SaneDevice::setText(const char* option, const QString& value) {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = descriptor(option, &index);
    if (!d || !SANE_OPTION_IS_SETTABLE(d->cap) || d->type != SANE_TYPE_STRING)
        return SetResult::Failed;
    QByteArray buffer = value.toUtf8();
    if (buffer.size() >= d->size)
        return SetResult::Failed;
    buffer.resize(d->size, '\0');
    SANE_Int info = 0;
    return finishSet(
        option, m_api->controlOption(m_handle, index, SANE_ACTION_SET_VALUE, buffer.data(), &info), info);
}

QStringList SaneDevice::textChoices(const char* option) const {
    QStringList choices;
    const SANE_Option_Descriptor* d = descriptor(option);
    if (d && d->constraint_type == SANE_CONSTRAINT_STRING_LIST && d->constraint.string_list) {
        for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s)
            choices.append(QString::fromUtf8(*s));
    }
    return choices;
}

std::vector<double> SaneDevice::numberChoices(const char* option) const {
    std::vector<double> choices;
    const SANE_Option_Descriptor* d = descriptor(option);
    if (d && d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
        const SANE_Word count = d->constraint.word_list[0];
        for (SANE_Word i = 1; i <= count; ++i)
            choices.push_back(fromWord(d->type, d->constraint.word_list[i]));
    }
    return choices;
}

std::optional<std::pair<double, double>> SaneDevice::numberRange(const char* option) const {
    const SANE_Option_Descriptor* d = descriptor(option);
    if (!d)
        return std::nullopt;
    if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range)
        return std::pair{fromWord(d->type, d->constraint.range->min),
                         fromWord(d->type, d->constraint.range->max)};
    const std::vector<double> list = numberChoices(option);
    if (!list.empty()) {
        const auto [lo, hi] = std::minmax_element(list.begin(), list.end());
        return std::pair{*lo, *hi};
    }
    return std::nullopt;
}
