#include "caps/scripted_source.h"

#include <cstring>

#include "twain/test_seam.h"
#include "twain/twain.h"

namespace scripted {

Source source;

namespace {

HGLOBAL Hand(const Answer& a)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, a.unlockable ? 0 : a.bytes.size());
    if (!a.unlockable) {
        std::memcpy(GlobalLock(h), a.bytes.data(), a.bytes.size());
        GlobalUnlock(h);
    }
    source.handedOut.push_back(h);
    return h;
}

capbytes::Bytes Contents(HGLOBAL h)
{
    const SIZE_T size = h ? GlobalSize(h) : 0;
    const void* p = size ? GlobalLock(h) : nullptr;
    if (!p)
        return {};
    capbytes::Bytes bytes(static_cast<const std::uint8_t*>(p), static_cast<const std::uint8_t*>(p) + size);
    GlobalUnlock(h);
    return bytes;
}

TW_UINT16 OnCapability(TW_UINT16 msg, TW_CAPABILITY& request)
{
    source.capCalls.push_back(CapCall{msg, request.Cap, request.ConType,
                                      msg == MSG_SET ? Contents(request.hContainer) : capbytes::Bytes{}});
    auto found = source.caps.find(request.Cap);
    if (found == source.caps.end())
        return TWRC_FAILURE;
    Answer& a = found->second;
    switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
        if (a.getRc != TWRC_SUCCESS)
            return a.getRc;
        request.ConType = a.conType;
        request.hContainer = a.nullHandle ? nullptr : Hand(a);
        return TWRC_SUCCESS;
    case MSG_SET:
        if (a.setRc == TWRC_SUCCESS) {
            a.conType = request.ConType;
            a.bytes = source.capCalls.back().bytes;
        }
        return a.setRc;
    case MSG_RESET:
        request.hContainer = source.resetHandle;
        return TWRC_SUCCESS;
    default:
        return TWRC_FAILURE;
    }
}

TW_UINT16 OnLayout(TW_UINT16 msg, TW_IMAGELAYOUT& layout)
{
    source.layoutCalls.emplace_back(msg, layout);
    if (source.layoutRc == TWRC_SUCCESS && (msg == MSG_GET || msg == MSG_GETDEFAULT))
        layout = source.layout;
    return source.layoutRc;
}

TW_UINT16 TW_CALLINGCONV Entry(pTW_IDENTITY, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                               TW_MEMREF data)
{
    if (!dest) {
        if (dat == DAT_IDENTITY && msg == MSG_OPENDS)
            std::strcpy(static_cast<TW_IDENTITY*>(data)->ProductName, "Scripted");
        return TWRC_SUCCESS;  // the manager agrees to everything
    }
    if (dg == DG_CONTROL && dat == DAT_CAPABILITY && data)
        return OnCapability(msg, *static_cast<TW_CAPABILITY*>(data));
    if (dg == DG_IMAGE && dat == DAT_IMAGELAYOUT && data)
        return OnLayout(msg, *static_cast<TW_IMAGELAYOUT*>(data));
    if (dat == DAT_STATUS && data)
        static_cast<TW_STATUS*>(data)->ConditionCode = TWCC_BADVALUE;
    return TWRC_SUCCESS;
}

}  // namespace

void Open(int state)
{
    TWAIN_ResetSessionForTest();
    TWAIN_ClearError();
    source = Source{};
    TWAIN_InstallManagerEntryForTest(state >= TWAIN_SM_LOADED ? Entry : nullptr);
    HWND window = nullptr;
    TW_IDENTITY identity{};
    TW_USERINTERFACE ui{};
    if (state >= TWAIN_SM_OPEN)
        TWAIN_CallSourceManager(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window);
    if (state >= TWAIN_SOURCE_OPEN)
        TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity);
    if (state >= TWAIN_SOURCE_ENABLED)
        TWAIN_CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
}

void Script(TW_UINT16 cap, TW_UINT16 conType, capbytes::Bytes bytes)
{
    Answer& a = source.caps[cap];
    a.conType = conType;
    a.bytes = std::move(bytes);
}

std::vector<CapCall> Calls(TW_UINT16 msg)
{
    std::vector<CapCall> calls;
    for (const CapCall& c : source.capCalls) {
        if (c.msg == msg)
            calls.push_back(c);
    }
    return calls;
}

bool Freed(HGLOBAL handle)
{
    return GlobalFlags(handle) == GMEM_INVALID_HANDLE;
}

}  // namespace scripted
