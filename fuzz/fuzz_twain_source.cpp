// The scanner module against a hostile source: every answer of the source manager, the
// one-value containers it hands back, the events it posts and the page it transfers come
// from the input. Covers the FIX32 conversions both ways, the containers in both
// directions, the event loop and the DIB to BMP writing at its end.
// Input: five floats (resolution, left, top, right, bottom; raw little-endian bits), the
// pixel type, a byte choosing the dialog road, then the source's script.

#include "acquire/TwainShim.h"
#include "acquire/mdlTwain.h"
#include "fuzz/FuzzCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cmath>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kHeaderBytes = 5 * 4 + 2;

// FIX32 keeps 16 fraction bits; the float may lose a few more of a large value.
bool close(float expected, TW_FIX32 fix) {
    const double got = double(mdlTwain::Fix32ToFloat(fix));
    return std::fabs(got - double(expected)) <= 1.0 / 65536 + std::fabs(double(expected)) * 1e-6;
}

void checkConversion(float value) {
    const auto fix = mdlTwain::FloatToFix32(value);
    const bool fits =
        std::isfinite(value) && double(value) >= -32768.0 && double(value) < 32768.0 - 1.0 / 131072;
    if (fits)
        FUZZ_CHECK(fix.has_value());
    if (!fix)
        return;
    FUZZ_CHECK(std::isfinite(value));
    FUZZ_CHECK(close(value, *fix));
    // Back and forth again lands on the same record.
    const auto again = mdlTwain::FloatToFix32(mdlTwain::Fix32ToFloat(*fix));
    const auto total = [](TW_FIX32 f) { return std::int64_t(f.Whole) * 65536 + f.Frac; };
    FUZZ_CHECK(again && std::llabs(total(*again) - total(*fix)) <= 1);
}

class HostileSource {
  public:
    HostileSource(const std::uint8_t* data, std::size_t size, const float* frame, float resolution)
        : m_data(data), m_size(size), m_resolution(resolution) {
        std::memcpy(m_frame, frame, sizeof m_frame);
    }

    TW_UINT16 entry(TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
        switch (DAT) {
        case DAT_CAPABILITY:
            return capability(MSG, static_cast<TW_CAPABILITY*>(pData));
        case DAT_IMAGELAYOUT: {
            const TW_FRAME& f = static_cast<TW_IMAGELAYOUT*>(pData)->Frame;
            // Right and bottom may come from the source's own bed size; left and top never do.
            FUZZ_CHECK(close(m_frame[0], f.Left) && close(m_frame[1], f.Top));
            if (m_frame[2] != 0 && m_frame[3] != 0)
                FUZZ_CHECK(close(m_frame[2], f.Right) && close(m_frame[3], f.Bottom));
            return answer();
        }
        case DAT_USERINTERFACE: {
            const TW_UINT16 rc = answer();
            if (MSG == MSG_ENABLEDS && rc == TWRC_SUCCESS) {
                m_window = static_cast<TW_USERINTERFACE*>(pData)->hParent;
                post();
            }
            return rc;
        }
        case DAT_EVENT:
            return event(static_cast<TW_EVENT*>(pData));
        case DAT_IMAGENATIVEXFER: {
            const std::uint8_t b = next(0);
            auto* image = static_cast<TW_HANDLE*>(pData);
            // Even a failing source may leave a handle behind; the module must free it.
            if (b < 200 || b % 2) {
                std::vector<unsigned char> page(m_data + m_at, m_data + m_size);
                m_at = m_size;
                *image = twainshim::GlobalAdopt(std::move(page));
            }
            return b < 200 ? TWRC_XFERDONE : b % 3 == 0 ? TWRC_CANCEL : TWRC_FAILURE;
        }
        default:
            return answer();
        }
    }

  private:
    std::uint8_t next(std::uint8_t otherwise) { return m_at < m_size ? m_data[m_at++] : otherwise; }
    TW_UINT16 answer() {
        const std::uint8_t b = next(0);
        return b < 224 ? TWRC_SUCCESS : TW_UINT16(b % 8);
    }
    void post() { FUZZ_CHECK(twainshim::PostMessage(m_window, twainshim::WM_APP + 7, 0, 0)); }

    TW_UINT16 capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
        if (msg == MSG_SET) {
            FUZZ_CHECK(cap->ConType == TWON_ONEVALUE);
            FUZZ_CHECK(twainshim::GlobalSize(cap->hContainer) >= sizeof(TW_ONEVALUE));
            TW_ONEVALUE one{};
            std::memcpy(&one, twainshim::GlobalLock(cap->hContainer), sizeof one);
            twainshim::GlobalUnlock(cap->hContainer);
            if (cap->Cap == ICAP_XRESOLUTION || cap->Cap == ICAP_YRESOLUTION) {
                FUZZ_CHECK(one.ItemType == TWTY_FIX32);
                TW_FIX32 fix{};
                fix.Whole = static_cast<TW_INT16>(one.Item & 0xFFFF);
                fix.Frac = static_cast<TW_UINT16>(one.Item >> 16);
                FUZZ_CHECK(close(m_resolution, fix));
            }
            return answer();
        }
        const TW_UINT16 rc = answer();
        const std::uint8_t shape = next(1);
        if (shape & 1) { // a container of any size, type and contents
            const std::size_t bytes = next(6) % 12;
            std::vector<unsigned char> block(bytes);
            for (auto& b : block)
                b = next(0);
            cap->hContainer = twainshim::GlobalAdopt(std::move(block));
            cap->ConType = shape & 2 ? TWON_ONEVALUE : TW_UINT16(shape >> 2);
        }
        return rc;
    }

    TW_UINT16 event(TW_EVENT* event) {
        if (++m_events > 8 || m_at >= m_size) {
            event->TWMessage = MSG_XFERREADY;
            return TWRC_DSEVENT;
        }
        switch (next(2) % 4) {
        case 0:
            event->TWMessage = MSG_NULL;
            post();
            return TWRC_NOTDSEVENT;
        case 1:
            event->TWMessage = MSG_NULL;
            post();
            return TWRC_DSEVENT;
        case 2:
            event->TWMessage = MSG_XFERREADY;
            return TWRC_DSEVENT;
        default:
            event->TWMessage = MSG_CLOSEDSREQ;
            return TWRC_DSEVENT;
        }
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    float m_frame[4];
    float m_resolution;
    TW_HANDLE m_window = nullptr;
    int m_events = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The module's event loop runs on Qt's.
    static QCoreApplication* app = new QCoreApplication(*argc, *argv);
    (void)app;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderBytes)
        return 0;
    float values[5];
    std::memcpy(values, data, sizeof values);
    const auto pixelType = std::int32_t(std::int8_t(data[20]));
    const bool withDialog = data[21] & 1;
    for (float v : values)
        checkConversion(v);

    static const QString path =
        QDir::temp().filePath(QStringLiteral("vetra-fuzz-twain-%1.bmp").arg(::getpid()));
    QFile::remove(path);
    const std::size_t handlesBefore = twainshim::liveHandleCount();

    HostileSource source(data + kHeaderBytes, size - kHeaderBytes, values + 1, values[0]);
    mdlTwain::setDsmEntry([&source](pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16 DAT, TW_UINT16 MSG,
                                    TW_MEMREF pData) { return source.entry(DAT, MSG, pData); });
    const std::int32_t result = withDialog ? mdlTwain::ScanToFileWithDialog(path)
                                           : mdlTwain::ScanToFile(values[0], pixelType, values[1], values[2],
                                                                  values[3], values[4], path);
    mdlTwain::resetDsmEntry();

    FUZZ_CHECK(result == 0 || result == 1);
    FUZZ_CHECK(!mdlTwain::IsBusy());
    FUZZ_CHECK(twainshim::liveHandleCount() == handlesBefore);
    FUZZ_CHECK(twainshim::liveWindowCount() == 0);
    if (result == 0) {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::ReadOnly));
        FUZZ_CHECK(file.read(2) == QByteArrayLiteral("BM"));
    }
    QFile::remove(path);
    return 0;
}
