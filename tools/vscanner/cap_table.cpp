// Answering scripted capabilities with exactly the containers the profile describes.
#include "tools/vscanner/cap_table.h"

#include <cstring>
#include <vector>

#include "tools/vscanner/scanner.h"

namespace vs {
namespace {

struct Scripted {
    TW_UINT16 cap;
    bool nullHandle;
    TW_UINT16 conType;
    std::vector<TW_UINT8> bytes;  // what the next get answers
    TW_UINT16 getRc;
    TW_UINT16 setRc;
};

std::vector<Scripted> scripted;

Scripted* Find(TW_UINT16 cap)
{
    for (Scripted& s : scripted) {
        if (s.cap == cap)
            return &s;
    }
    return nullptr;
}

std::vector<TW_UINT8> Received(HGLOBAL handle)
{
    const SIZE_T size = handle ? GlobalSize(handle) : 0;
    const void* data = size ? GlobalLock(handle) : nullptr;
    if (!data)
        return {};
    std::vector<TW_UINT8> bytes(static_cast<const TW_UINT8*>(data), static_cast<const TW_UINT8*>(data) + size);
    GlobalUnlock(handle);
    return bytes;
}

TW_UINT16 Refuse(TW_UINT16 rc)
{
    return rc == TWRC_FAILURE ? Fail(TWCC_BADVALUE) : rc;
}

TW_UINT16 Answer(const Scripted& s, TW_CAPABILITY& request)
{
    request.ConType = s.conType;
    request.hContainer = nullptr;
    if (s.nullHandle) {
        AddDetail("answered null");
        return TWRC_SUCCESS;
    }
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, s.bytes.size());
    void* p = h ? GlobalLock(h) : nullptr;
    if (!p)
        return Fail(TWCC_LOWMEMORY);
    std::memcpy(p, s.bytes.data(), s.bytes.size());
    GlobalUnlock(h);
    request.hContainer = h;
    AddDetail("answered " + DescribeContainer(s.conType, s.bytes.data(), s.bytes.size()));
    return TWRC_SUCCESS;
}

// A source that accepts a set answers the new container from then on.
TW_UINT16 Set(Scripted& s, const TW_CAPABILITY& request, std::vector<TW_UINT8> bytes)
{
    if (state != kOpen)
        return Fail(TWCC_SEQERROR);
    if (s.setRc != TWRC_SUCCESS)
        return Refuse(s.setRc);
    s.nullHandle = bytes.empty();
    s.conType = request.ConType;
    s.bytes = std::move(bytes);
    return TWRC_SUCCESS;
}

}  // namespace

void ResetScriptedCapabilities(const SourceProfile& p)
{
    scripted.clear();
    for (const CapScript& c : p.capScripts)
        scripted.push_back(Scripted{c.cap, c.nullHandle, c.conType, EncodeScript(c), c.getRc, c.setRc});
}

std::optional<TW_UINT16> ScriptedCapability(TW_UINT16 msg, TW_CAPABILITY& request)
{
    std::vector<TW_UINT8> bytes;
    if (msg == MSG_SET) {
        bytes = Received(request.hContainer);
        AddDetail("received " + DescribeContainer(request.ConType, bytes.empty() ? nullptr : bytes.data(), bytes.size()));
    }
    Scripted* s = Find(request.Cap);
    if (!s)
        return std::nullopt;
    switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
    case MSG_RESET:
        return s->getRc == TWRC_SUCCESS ? Answer(*s, request) : Refuse(s->getRc);
    case MSG_SET: return Set(*s, request, std::move(bytes));
    default: return Fail(TWCC_CAPBADOPERATION);
    }
}

}  // namespace vs
