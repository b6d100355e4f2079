#include "scripted_dsm.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "dib/dib.h"
#include "twain/test_seam.h"

namespace twtest {

ScriptedDsm fake;

namespace {

// The thread message through which the source announces its events.
constexpr UINT kSourceEvent = WM_APP + 0x5A;

struct Rule {
    TW_UINT16 rc;
    Fill fill;
};
using Key = std::tuple<bool, TW_UINT32, TW_UINT16, TW_UINT16>;
std::map<Key, Rule> rules;
std::size_t listPosition = 0;
std::deque<TW_UINT16> announced;  // posted, not yet passed back through DAT_EVENT

void FillName(void* data, const std::string& name)
{
    auto* id = static_cast<TW_IDENTITY*>(data);
    std::strncpy(id->ProductName, name.c_str(), sizeof id->ProductName - 1);
}

void PostEvent()
{
    PostThreadMessageA(GetCurrentThreadId(), kSourceEvent, 0, 0);
}

TW_UINT16 OnManager(const Call& c, void* data)
{
    if (c.dat == DAT_STATUS && data) {
        static_cast<TW_STATUS*>(data)->ConditionCode = fake.managerCondition;
        return TWRC_SUCCESS;
    }
    if (c.dat == DAT_IDENTITY) {
        if (c.msg == MSG_GETFIRST)
            listPosition = 0;
        if (c.msg == MSG_GETFIRST || c.msg == MSG_GETNEXT) {
            if (listPosition >= fake.sources.size())
                return TWRC_ENDOFLIST;
            FillName(data, fake.sources[listPosition++]);
        } else if ((c.msg == MSG_OPENDS || c.msg == MSG_GETDEFAULT) &&
                   static_cast<TW_IDENTITY*>(data)->ProductName[0] == '\0') {
            FillName(data, fake.sources.empty() ? "" : fake.sources.front());
        }
    }
    return TWRC_SUCCESS;
}

HGLOBAL Hand(const Answer& a)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, a.unlockable ? 0 : a.bytes.size());
    if (!a.unlockable) {
        std::memcpy(GlobalLock(h), a.bytes.data(), a.bytes.size());
        GlobalUnlock(h);
    }
    fake.handedOut.push_back(h);
    return h;
}

Bytes Contents(HGLOBAL h)
{
    const SIZE_T size = h ? GlobalSize(h) : 0;
    const void* p = size ? GlobalLock(h) : nullptr;
    if (!p)
        return {};
    Bytes bytes(static_cast<const std::uint8_t*>(p), static_cast<const std::uint8_t*>(p) + size);
    GlobalUnlock(h);
    return bytes;
}

TW_UINT16 OnCapability(TW_UINT16 msg, TW_CAPABILITY& request)
{
    fake.capCalls.push_back(
        CapCall{msg, request.Cap, request.ConType, msg == MSG_SET ? Contents(request.hContainer) : Bytes{}});
    auto found = fake.caps.find(request.Cap);
    if (found == fake.caps.end())
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
            a.bytes = fake.capCalls.back().bytes;
        }
        return a.setRc;
    case MSG_RESET:
        request.hContainer = fake.resetHandle;
        return TWRC_SUCCESS;
    default:
        return TWRC_FAILURE;
    }
}

TW_UINT16 OnLayout(TW_UINT16 msg, TW_IMAGELAYOUT& layout)
{
    fake.layoutCalls.emplace_back(msg, layout);
    if (fake.layoutRc == TWRC_SUCCESS && (msg == MSG_GET || msg == MSG_GETDEFAULT))
        layout = fake.layout;
    return fake.layoutRc;
}

TW_UINT16 OnEvent(TW_EVENT& event)
{
    const MSG* message = static_cast<const MSG*>(event.pEvent);
    if (!message || message->message != kSourceEvent || announced.empty())
        return TWRC_NOTDSEVENT;
    event.TWMessage = announced.front();
    announced.pop_front();
    return TWRC_DSEVENT;
}

TW_UINT16 OnStrip(TW_IMAGEMEMXFER& mx)
{
    fake.memoryHandedOver.push_back(mx.Memory);
    if (fake.strips.empty())
        return TWRC_FAILURE;
    const pagemodel::Strip s = fake.strips.front();
    fake.strips.pop_front();
    const TW_MEMORY memory = mx.Memory;
    mx = s.mx;
    mx.Memory = memory;
    // A source writes no more than the buffer holds, whatever the strip claims.
    std::memcpy(memory.TheMem, s.bytes.data(), std::min<std::size_t>(s.bytes.size(), memory.Length));
    return s.last ? TWRC_XFERDONE : TWRC_SUCCESS;
}

TW_UINT16 OnSource(const Call& c, void* data)
{
    if (c.dg == DG_CONTROL) {
        switch (c.dat) {
        case DAT_STATUS:
            static_cast<TW_STATUS*>(data)->ConditionCode = fake.sourceCondition;
            return TWRC_SUCCESS;
        case DAT_CAPABILITY:
            return OnCapability(c.msg, *static_cast<TW_CAPABILITY*>(data));
        case DAT_EVENT:
            return OnEvent(*static_cast<TW_EVENT*>(data));
        case DAT_USERINTERFACE:
            if (c.msg == MSG_ENABLEDS) {
                fake.enabledWith = *static_cast<TW_USERINTERFACE*>(data);
                for (TW_UINT16 event : fake.events)
                    Announce(event);
            }
            return TWRC_SUCCESS;
        case DAT_PENDINGXFERS:
            if (c.msg == MSG_ENDXFER) {
                if (fake.endRc != TWRC_SUCCESS)
                    return fake.endRc;
                const TW_UINT16 count = fake.pending.empty() ? 0 : fake.pending.front();
                if (!fake.pending.empty())
                    fake.pending.pop_front();
                static_cast<TW_PENDINGXFERS*>(data)->Count = count;
            } else if (c.msg == MSG_RESET) {
                fake.pending.clear();
                static_cast<TW_PENDINGXFERS*>(data)->Count = 0;
            }
            return TWRC_SUCCESS;
        case DAT_SETUPMEMXFER:
            *static_cast<TW_SETUPMEMXFER*>(data) = fake.setup;
            return TWRC_SUCCESS;
        case DAT_SETUPFILEXFER:
            fake.fileSetups.push_back(*static_cast<TW_SETUPFILEXFER*>(data));
            return TWRC_SUCCESS;
        default:
            return TWRC_SUCCESS;
        }
    }
    switch (c.dat) {
    case DAT_IMAGELAYOUT:
        return OnLayout(c.msg, *static_cast<TW_IMAGELAYOUT*>(data));
    case DAT_IMAGEINFO:
        *static_cast<TW_IMAGEINFO*>(data) = fake.info;
        return TWRC_SUCCESS;
    case DAT_IMAGENATIVEXFER:
        *static_cast<TW_HANDLE*>(data) = fake.native ? fake.native() : nullptr;
        return fake.nativeRc;
    case DAT_IMAGEFILEXFER:
        return fake.fileRc;
    case DAT_IMAGEMEMXFER:
        return OnStrip(*static_cast<TW_IMAGEMEMXFER*>(data));
    case DAT_PALETTE8:
        *static_cast<TW_PALETTE8*>(data) = fake.palette;
        return fake.paletteRc;
    default:
        return TWRC_SUCCESS;
    }
}

TW_UINT16 TW_CALLINGCONV Entry(pTW_IDENTITY, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                               TW_MEMREF data)
{
    const Call call{dest != nullptr, dg, dat, msg};
    fake.calls.push_back(call);
    auto rule = rules.find(Key{call.toSource, dg, dat, msg});
    if (rule != rules.end()) {
        Rule copy = rule->second;  // the fill may script again
        if (copy.fill)
            copy.fill(data);
        return copy.rc;
    }
    if (!data && !(dg == DG_IMAGE && dat == DAT_IMAGEFILEXFER))
        return TWRC_FAILURE;
    return call.toSource ? OnSource(call, data) : OnManager(call, data);
}

void DrainEvents()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, kSourceEvent, kSourceEvent, PM_REMOVE)) {
    }
}

}  // namespace

bool operator==(const Call& a, const Call& b)
{
    return a.toSource == b.toSource && a.dg == b.dg && a.dat == b.dat && a.msg == b.msg;
}

std::string Describe(const Call& c)
{
    return std::string(c.toSource ? "source " : "manager ") + std::to_string(c.dg) + "/" + std::to_string(c.dat) +
           "/" + std::to_string(c.msg);
}

void InstallFake()
{
    TWAIN_ResetSessionForTest();
    rules.clear();
    listPosition = 0;
    fake = ScriptedDsm{};
    announced.clear();
    DrainEvents();
    TWAIN_InstallManagerEntryForTest(Entry);
}

void Open(int state)
{
    InstallFake();
    if (state < TWAIN_SM_LOADED)
        TWAIN_InstallManagerEntryForTest(nullptr);
    HWND window = nullptr;
    TW_IDENTITY identity{};
    TW_USERINTERFACE ui{};
    if (state >= TWAIN_SM_OPEN)
        TWAIN_CallSourceManager(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window);
    if (state >= TWAIN_SOURCE_OPEN)
        TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity);
    if (state >= TWAIN_SOURCE_ENABLED)
        TWAIN_CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    fake.calls.clear();
}

void Script(bool toSource, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc, Fill fill)
{
    rules[Key{toSource, dg, dat, msg}] = Rule{rc, std::move(fill)};
}

void Script(TW_UINT16 cap, TW_UINT16 conType, Bytes bytes)
{
    Answer& a = fake.caps[cap];
    a.conType = conType;
    a.bytes = std::move(bytes);
}

void Announce(TW_UINT16 twMessage)
{
    announced.push_back(twMessage);
    PostEvent();
}

void ClearRules()
{
    rules.clear();
}

void ScriptPage(const pagemodel::PageSpec& page, int rowsPerStrip, pagemodel::Pad pad, bool doneOnLast)
{
    fake.info = pagemodel::Info(page);
    const auto strips = pagemodel::Strips(page, rowsPerStrip, 0, pad, doneOnLast);
    fake.strips.assign(strips.begin(), strips.end());
    std::uint32_t largest = 0;
    for (const auto& s : strips)
        largest = std::max<std::uint32_t>(largest, std::uint32_t(s.bytes.size()));
    fake.setup = TW_SETUPMEMXFER{largest / 2, largest * 2, largest};
}

std::vector<Call> CallsWithoutEvents()
{
    std::vector<Call> result;
    for (const Call& c : fake.calls) {
        if (!(c.dat == DAT_EVENT && c.msg == MSG_PROCESSEVENT))
            result.push_back(c);
    }
    return result;
}

int CountOf(const Call& c)
{
    return int(std::count(fake.calls.begin(), fake.calls.end(), c));
}

std::vector<CapCall> Calls(TW_UINT16 msg)
{
    std::vector<CapCall> calls;
    for (const CapCall& c : fake.capCalls) {
        if (c.msg == msg)
            calls.push_back(c);
    }
    return calls;
}

bool Freed(HGLOBAL handle)
{
    return GlobalFlags(handle) == GMEM_INVALID_HANDLE;
}

HGLOBAL MakeDib(int width, int height)
{
    HGLOBAL dib = DibCreate(24, width, height);
    for (int y = 0; y < height; ++y) {
        std::vector<std::uint8_t> row(std::size_t(DibRowBytes(dib)), 0);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = std::uint8_t(x);
            row[3 * x + 1] = std::uint8_t(y);
            row[3 * x + 2] = std::uint8_t(x + y);
        }
        DibWriteRow(dib, y, row.data());
    }
    return dib;
}

}  // namespace twtest
