#include "FakeDsm.h"

#include "acquire/Dib.h"

#include <cstring>

namespace {

QString datName(TW_UINT16 dat) {
    switch (dat) {
    case DAT_CAPABILITY:
        return QStringLiteral("CAPABILITY");
    case DAT_EVENT:
        return QStringLiteral("EVENT");
    case DAT_IDENTITY:
        return QStringLiteral("IDENTITY");
    case DAT_PARENT:
        return QStringLiteral("PARENT");
    case DAT_PENDINGXFERS:
        return QStringLiteral("PENDINGXFERS");
    case DAT_USERINTERFACE:
        return QStringLiteral("USERINTERFACE");
    case DAT_IMAGELAYOUT:
        return QStringLiteral("IMAGELAYOUT");
    case DAT_IMAGENATIVEXFER:
        return QStringLiteral("IMAGENATIVEXFER");
    default:
        return QString::number(dat);
    }
}

QString msgName(TW_UINT16 msg) {
    switch (msg) {
    case MSG_GET:
        return QStringLiteral("GET");
    case MSG_SET:
        return QStringLiteral("SET");
    case MSG_OPENDSM:
        return QStringLiteral("OPENDSM");
    case MSG_CLOSEDSM:
        return QStringLiteral("CLOSEDSM");
    case MSG_OPENDS:
        return QStringLiteral("OPENDS");
    case MSG_CLOSEDS:
        return QStringLiteral("CLOSEDS");
    case MSG_USERSELECT:
        return QStringLiteral("USERSELECT");
    case MSG_ENABLEDS:
        return QStringLiteral("ENABLEDS");
    case MSG_DISABLEDS:
        return QStringLiteral("DISABLEDS");
    case MSG_PROCESSEVENT:
        return QStringLiteral("PROCESSEVENT");
    case MSG_ENDXFER:
        return QStringLiteral("ENDXFER");
    default:
        return QString::number(msg);
    }
}

} // namespace

QString FakeDsm::Call::name() const {
    QString text = msgName(msg) + QLatin1Char(' ') + datName(dat);
    if (dat == DAT_CAPABILITY)
        text += QStringLiteral(" %1").arg(cap, 4, 16, QLatin1Char('0'));
    return text;
}

QStringList FakeDsm::names() const {
    QStringList list;
    for (const Call& c : calls)
        list.append(c.name());
    return list;
}

const FakeDsm::Call* FakeDsm::find(TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 cap) const {
    for (const Call& c : calls) {
        if (c.dat == dat && c.msg == msg && c.cap == cap)
            return &c;
    }
    return nullptr;
}

TW_UINT16 FakeDsm::entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                         TW_MEMREF pData) {
    Call call;
    call.dg = DG;
    call.dat = DAT;
    call.msg = MSG;
    call.toSource = pDest != nullptr;
    if (pOrigin)
        call.origin = *pOrigin;
    if (DAT == DAT_IDENTITY && pData)
        call.identity = *static_cast<pTW_IDENTITY>(pData);
    if (DAT == DAT_CAPABILITY) {
        const auto* cap = static_cast<TW_CAPABILITY*>(pData);
        call.cap = cap->Cap;
        call.conType = cap->ConType;
        if (MSG == MSG_SET) {
            const void* bytes = twainshim::GlobalLock(cap->hContainer);
            if (bytes && twainshim::GlobalSize(cap->hContainer) >= sizeof(TW_ONEVALUE))
                std::memcpy(&call.value, bytes, sizeof(TW_ONEVALUE));
            twainshim::GlobalUnlock(cap->hContainer);
        }
    }
    if (DAT == DAT_IMAGELAYOUT)
        call.frame = static_cast<TW_IMAGELAYOUT*>(pData)->Frame;
    if (DAT == DAT_USERINTERFACE)
        call.ui = *static_cast<TW_USERINTERFACE*>(pData);
    calls.push_back(call);
    if (onCall)
        onCall(call);

    TW_UINT16 rc = TWRC_SUCCESS;
    const auto it = answers.find({DG, DAT, MSG, call.cap});
    const bool scripted = it != answers.end() && !it->second.empty();
    if (scripted) {
        rc = it->second.front();
        if (it->second.size() > 1)
            it->second.pop_front();
    }

    if (DAT == DAT_PARENT && MSG == MSG_OPENDSM && rc == TWRC_SUCCESS)
        m_parent = *static_cast<TW_HANDLE*>(pData);
    if (DAT == DAT_USERINTERFACE && MSG == MSG_ENABLEDS && rc == TWRC_SUCCESS) {
        for (twainshim::MSG m : afterEnable)
            twainshim::PostMessage(m.hwnd ? m.hwnd : m_parent, m.message, m.wParam, m.lParam);
    }
    if (DAT == DAT_EVENT && MSG == MSG_PROCESSEVENT) {
        auto* event = static_cast<TW_EVENT*>(pData);
        const auto* m = static_cast<const twainshim::MSG*>(event->pEvent);
        if (m->message == kNotify) {
            event->TWMessage = static_cast<TW_UINT16>(m->wParam);
            return TWRC_DSEVENT;
        }
        if (m->message == kOwnMessage)
            return TWRC_DSEVENT;
        return TWRC_NOTDSEVENT;
    }
    if (DAT == DAT_CAPABILITY && MSG == MSG_GET && rc == TWRC_SUCCESS) {
        auto* cap = static_cast<TW_CAPABILITY*>(pData);
        const auto v = values.find(cap->Cap);
        const TW_ONEVALUE one = v == values.end() ? TW_ONEVALUE{TWTY_UINT16, 0} : v->second;
        cap->hContainer = twainshim::GlobalAlloc(twainshim::GHND, sizeof one);
        std::memcpy(twainshim::GlobalLock(cap->hContainer), &one, sizeof one);
        twainshim::GlobalUnlock(cap->hContainer);
    }
    if (DAT == DAT_IMAGENATIVEXFER && MSG == MSG_GET) {
        if (!scripted)
            rc = TWRC_XFERDONE;
        // A source may hand over a block even with a failed transfer; it must not leak.
        *static_cast<TW_HANDLE*>(pData) = twainshim::GlobalAdopt(std::vector<unsigned char>(dib));
    }
    return rc;
}

std::vector<unsigned char> makeDib(int width, int height, int bits) {
    dib::BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<std::uint16_t>(bits);
    const auto layout = dib::layoutOf(h);
    std::vector<unsigned char> out(static_cast<std::size_t>(layout->dibSize), 0);
    std::memcpy(out.data(), &h, sizeof h);
    unsigned char* table = out.data() + 40;
    for (int i = 0; i < layout->colourTableBytes / 4; ++i)
        std::memset(table + i * 4, i, 3);
    unsigned char* pixels = table + layout->colourTableBytes;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < layout->rowBytes; ++x)
            pixels[static_cast<std::size_t>(y) * layout->rowBytes + x] =
                static_cast<unsigned char>(x * 7 + y * 3);
    }
    return out;
}
