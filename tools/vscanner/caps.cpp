// The capabilities the virtual scanner answers, as a table built from the profile when
// a source opens. MSG_GET answers an enumeration for list capabilities and a one-value
// container otherwise; MSG_SET takes a one-value container, or an enumeration that
// narrows what a list capability offers.
#include "tools/vscanner/cap_table.h"
#include "tools/vscanner/scanner.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vs {
namespace {
struct Capability {
    TW_UINT16 cap;
    TW_UINT16 itemType;
    bool list;       // offered as a TW_ENUMERATION by MSG_GET
    bool readOnly;   // MSG_SET refused
    std::vector<TW_UINT32> allowed;  // empty: any value
    std::vector<TW_UINT32> offered;  // what MSG_GET lists now
    TW_UINT32 current;
    TW_UINT32 defaultValue;
};

std::vector<Capability> capabilities;

std::vector<TW_UINT32> Values(const std::vector<TW_UINT16>& list)
{
    return std::vector<TW_UINT32>(list.begin(), list.end());
}

bool Holds(const std::vector<TW_UINT32>& values, TW_UINT32 v)
{
    return values.empty() || std::find(values.begin(), values.end(), v) != values.end();
}

void Add(TW_UINT16 cap, TW_UINT16 type, bool list, bool readOnly, std::vector<TW_UINT32> allowed, TW_UINT32 current)
{
    if (!Holds(allowed, current))
        current = allowed.front();
    capabilities.push_back(Capability{cap, type, list, readOnly, allowed, allowed, current, current});
}

std::vector<TW_UINT32> Flags(bool settable)
{
    return settable ? std::vector<TW_UINT32>{FALSE, TRUE} : std::vector<TW_UINT32>{FALSE};
}

Capability* Find(TW_UINT16 cap)
{
    for (Capability& c : capabilities) {
        if (c.cap == cap)
            return &c;
    }
    return nullptr;
}

std::size_t ItemSize(TW_UINT16 type)
{
    switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        return 2;
    default:
        return 4;
    }
}

// The 32-bit field of a one-value container: signed types sign-extended.
TW_UINT32 Field(TW_UINT16 type, TW_UINT32 v)
{
    if (type == TWTY_INT16)
        return static_cast<TW_UINT32>(static_cast<TW_INT32>(static_cast<TW_INT16>(v)));
    if (type == TWTY_INT8)
        return static_cast<TW_UINT32>(static_cast<TW_INT32>(static_cast<signed char>(v)));
    return v;
}

TW_UINT32 ReadItem(const TW_UINT8* at, TW_UINT16 type)
{
    TW_UINT32 v = 0;
    std::memcpy(&v, at, ItemSize(type));
    return v;
}

TW_UINT32 IndexOf(const std::vector<TW_UINT32>& values, TW_UINT32 v)
{
    auto it = std::find(values.begin(), values.end(), v);
    return it == values.end() ? 0 : static_cast<TW_UINT32>(it - values.begin());
}

HGLOBAL OneValue(const Capability& c, TW_UINT32 value)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE));
    auto* one = h ? static_cast<TW_ONEVALUE*>(GlobalLock(h)) : nullptr;
    if (!one)
        return h;
    one->ItemType = c.itemType;
    one->Item = Field(c.itemType, value);
    GlobalUnlock(h);
    AddDetail("ONEVALUE " + std::to_string(static_cast<TW_INT32>(one->Item)));
    return h;
}

HGLOBAL Enumeration(const Capability& c)
{
    const std::size_t size = ItemSize(c.itemType);
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, offsetof(TW_ENUMERATION, ItemList) + size * c.offered.size() + 2);
    auto* e = h ? static_cast<TW_ENUMERATION*>(GlobalLock(h)) : nullptr;
    if (!e)
        return h;
    e->ItemType = c.itemType;
    e->NumItems = static_cast<TW_UINT32>(c.offered.size());
    e->CurrentIndex = IndexOf(c.offered, c.current);
    e->DefaultIndex = IndexOf(c.offered, c.defaultValue);
    for (std::size_t i = 0; i < c.offered.size(); ++i)
        std::memcpy(e->ItemList + i * size, &c.offered[i], size);
    GlobalUnlock(h);
    AddDetail("ENUMERATION of " + std::to_string(c.offered.size()));
    return h;
}

TW_UINT16 Answer(TW_CAPABILITY& request, const Capability& c, bool all, TW_UINT32 value)
{
    const bool asList = all && c.list;
    request.ConType = asList ? TWON_ENUMERATION : TWON_ONEVALUE;
    request.hContainer = asList ? Enumeration(c) : OneValue(c, value);
    return request.hContainer ? TWRC_SUCCESS : Fail(TWCC_LOWMEMORY);
}

TW_UINT16 SetOne(Capability& c, const TW_ONEVALUE& one)
{
    const TW_UINT32 v = one.Item & (ItemSize(c.itemType) == 4 ? 0xFFFFFFFFu : (1u << ItemSize(c.itemType) * 8) - 1);
    AddDetail("set ONEVALUE " + std::to_string(static_cast<TW_INT32>(one.Item)));
    if (!Holds(c.offered, v))
        return Fail(TWCC_BADVALUE);
    c.current = v;
    return TWRC_SUCCESS;
}

TW_UINT16 SetList(Capability& c, const TW_ENUMERATION& e, std::size_t bytes)
{
    const std::size_t size = ItemSize(c.itemType);
    if (!c.list || e.NumItems == 0 || e.CurrentIndex >= e.NumItems ||
        e.NumItems > (bytes - offsetof(TW_ENUMERATION, ItemList)) / size)
        return Fail(TWCC_BADVALUE);
    std::vector<TW_UINT32> items;
    for (TW_UINT32 i = 0; i < e.NumItems; ++i) {
        TW_UINT32 v = ReadItem(e.ItemList + i * size, c.itemType);
        if (!Holds(c.allowed, v))
            return Fail(TWCC_BADVALUE);
        items.push_back(v);
    }
    AddDetail("set ENUMERATION of " + std::to_string(items.size()));
    c.offered = items;
    c.current = items[e.CurrentIndex];
    return TWRC_SUCCESS;
}

TW_UINT16 Set(Capability& c, const TW_CAPABILITY& request)
{
    if (state != kOpen)
        return Fail(TWCC_SEQERROR);
    if (c.readOnly)
        return Fail(TWCC_CAPBADOPERATION);
    const std::size_t bytes = request.hContainer ? GlobalSize(request.hContainer) : 0;
    const void* data = bytes ? GlobalLock(request.hContainer) : nullptr;
    if (!data)
        return Fail(TWCC_BADVALUE);
    TW_UINT16 rc;
    if (request.ConType == TWON_ONEVALUE && bytes >= sizeof(TW_ONEVALUE))
        rc = SetOne(c, *static_cast<const TW_ONEVALUE*>(data));
    else if (request.ConType == TWON_ENUMERATION && bytes >= offsetof(TW_ENUMERATION, ItemList))
        rc = SetList(c, *static_cast<const TW_ENUMERATION*>(data), bytes);
    else
        rc = Fail(TWCC_BADVALUE);
    GlobalUnlock(request.hContainer);
    return rc;
}
}  // namespace

void ResetCapabilities(const SourceProfile& p)
{
    capabilities.clear();
    ResetScriptedCapabilities(p);
    Add(ICAP_XFERMECH, TWTY_UINT16, true, false, Values(p.xferMechs), p.xferMech);
    Add(ICAP_PIXELTYPE, TWTY_UINT16, true, false, Values(p.pixelTypes), p.pixelType);
    Add(ICAP_COMPRESSION, TWTY_UINT16, true, false, Values(p.compressions), p.compressions.front());
    Add(CAP_FEEDERENABLED, TWTY_BOOL, false, false, Flags(p.feeder), p.feeder && p.feederEnabled);
    Add(CAP_AUTOFEED, TWTY_BOOL, false, false, Flags(p.feeder), p.feeder && p.autoFeed);
    Add(CAP_DUPLEX, TWTY_UINT16, false, true, {p.duplex}, p.duplex);
    Add(CAP_DUPLEXENABLED, TWTY_BOOL, false, false, Flags(p.duplex != TWDX_NONE),
        p.duplex != TWDX_NONE && p.duplexEnabled);
    capabilities.push_back(Capability{CAP_XFERCOUNT, TWTY_INT16, false, false, {}, {},
                                      static_cast<TW_UINT16>(p.xferCount), static_cast<TW_UINT16>(-1)});
}

TW_UINT16 CurrentCapability(TW_UINT16 cap)
{
    const Capability* c = Find(cap);
    return c ? static_cast<TW_UINT16>(c->current) : 0;
}

TW_UINT16 OnCapability(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (!source || state < kOpen)
        return Fail(TWCC_SEQERROR);
    if (!data)
        return Fail(TWCC_BADVALUE);
    auto& request = *static_cast<TW_CAPABILITY*>(data);
    AddDetail(CapName(request.Cap));
    if (auto scripted = ScriptedCapability(msg, request))
        return *scripted;
    Capability* c = Find(request.Cap);
    if (!c)
        return Fail(TWCC_CAPUNSUPPORTED);
    switch (msg) {
    case MSG_GET:
        return Answer(request, *c, true, c->current);
    case MSG_GETCURRENT:
        return Answer(request, *c, false, c->current);
    case MSG_GETDEFAULT:
        return Answer(request, *c, false, c->defaultValue);
    case MSG_SET:
        return Set(*c, request);
    case MSG_RESET:
        if (state != kOpen)
            return Fail(TWCC_SEQERROR);
        c->offered = c->allowed;
        c->current = c->defaultValue;
        return Answer(request, *c, true, c->current);
    default:
        return Fail(TWCC_CAPBADOPERATION);
    }
}

}  // namespace vs
