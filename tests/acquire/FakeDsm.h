#pragma once

#include "acquire/TwainShim.h"
#include "acquire/mdlTwain.h"
#include "acquire/twain.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <tuple>
#include <vector>

// A scripted source manager: records every triplet with the data it carried and gives
// the answers the test queued. Unscripted triplets succeed; the native transfer hands
// over `dib` with TWRC_XFERDONE.
class FakeDsm {
  public:
    struct Call {
        TW_UINT32 dg = 0;
        TW_UINT16 dat = 0;
        TW_UINT16 msg = 0;
        bool toSource = false;
        TW_IDENTITY origin{};
        TW_IDENTITY identity{}; // DAT_IDENTITY data, as it arrived
        TW_UINT16 cap = 0;
        TW_UINT16 conType = 0;
        TW_ONEVALUE value{}; // MSG_SET container
        TW_FRAME frame{};
        TW_USERINTERFACE ui{};
        QString name() const;
    };

    static constexpr std::uint32_t kNotify = twainshim::WM_APP + 1;
    static constexpr std::uint32_t kOwnMessage = twainshim::WM_APP + 2;

    std::vector<Call> calls;
    // Answers by (dg, dat, msg, cap); each queued answer is used once, the last one stays.
    std::map<std::tuple<TW_UINT32, TW_UINT16, TW_UINT16, TW_UINT16>, std::deque<TW_UINT16>> answers;
    std::map<TW_UINT16, TW_ONEVALUE> values; // answers to MSG_GET on a capability
    // Posted to the application's window after MSG_ENABLEDS, in order.
    std::vector<twainshim::MSG> afterEnable;
    std::vector<unsigned char> dib;
    // Called for every triplet before it is answered.
    std::function<void(const Call&)> onCall;

    void answer(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc, TW_UINT16 cap = 0) {
        answers[{dg, dat, msg, cap}].push_back(rc);
    }
    // After MSG_ENABLEDS the source notifies the application with this message.
    void notifyAfterEnable(TW_UINT16 twMessage) { afterEnable.push_back({nullptr, kNotify, twMessage, 0}); }

    TW_UINT16 entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                    TW_MEMREF pData);
    mdlTwain::DsmEntry function() {
        return [this](pTW_IDENTITY o, pTW_IDENTITY d, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                      TW_MEMREF p) { return entry(o, d, dg, dat, msg, p); };
    }

    QStringList names() const;
    const Call* find(TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 cap = 0) const;

  private:
    TW_HANDLE m_parent = nullptr;
};

// A small bottom-up DIB: width x height at 24 or 8 bits per pixel, with a grey table for 8.
std::vector<unsigned char> makeDib(int width, int height, int bits);
