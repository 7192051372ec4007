#pragma once

#include "acquire/SaneApi.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

// One open SANE device and its options, looked up by their well-known names
// ("mode", "resolution", "tl-x", ...). Numbers are exchanged as doubles in the option's
// own unit, whatever its SANE type (FIXED or INT). Used on one thread at a time.
class SaneDevice {
  public:
    explicit SaneDevice(SaneApi& api = SaneApi::real()) : m_api(&api) {}
    ~SaneDevice();
    SaneDevice(const SaneDevice&) = delete;
    SaneDevice& operator=(const SaneDevice&) = delete;

    // False when the device cannot be opened; lastOpenStatus() says why.
    bool open(const QByteArray& deviceName);
    SANE_Status lastOpenStatus() const { return m_openStatus; }
    SaneApi& api() const { return *m_api; }
    void close();
    // Forgets the open device without closing it and hands its handle over (null when none
    // is open), for whoever closes it elsewhere.
    SANE_Handle release();
    bool isOpen() const { return m_handle != nullptr; }
    SANE_Handle handle() const { return m_handle; }
    const QByteArray& name() const { return m_name; }

    enum class SetResult { Exact, Adjusted, Failed };

    bool has(const char* option) const;
    // Active and settable by software.
    bool settable(const char* option) const;
    SANE_Unit unit(const char* option) const;
    std::optional<double> number(const char* option) const;
    SetResult setNumber(const char* option, double value);
    std::optional<QString> text(const char* option) const;
    SetResult setText(const char* option, const QString& value);
    // The choices of a string-list option.
    QStringList textChoices(const char* option) const;
    // The choices of a word-list option, or empty.
    std::vector<double> numberChoices(const char* option) const;
    // Lowest and highest value of a range option.
    std::optional<std::pair<double, double>> numberRange(const char* option) const;

    // Re-reads the option table (after SANE asked for it).
    void reloadOptions();

  private:
    const SANE_Option_Descriptor* descriptor(const char* option, SANE_Int* index = nullptr) const;
    SetResult finishSet(const char* option, SANE_Status status, SANE_Int info);

    SaneApi* m_api;
    SANE_Handle m_handle = nullptr;
    SANE_Status m_openStatus = SANE_STATUS_GOOD;
    QByteArray m_name;
    std::map<QByteArray, SANE_Int> m_options;
};
