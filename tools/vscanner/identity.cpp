// Who the scanner is (one identity per source of the profile), opening, closing and
// the status of the last failure.
#include "tools/vscanner/scanner.h"

#include <cstring>

namespace vs {
namespace {
// The manager asks MSG_GET until a name repeats. Handing out the first source once
// more after the last one, without moving on, makes every listing start at the first.
std::size_t listIndex = 0;
bool listWrapped = false;

void Copy(char* to, const std::string& from, std::size_t size)
{
    std::size_t n = from.size() < size - 1 ? from.size() : size - 1;
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

void FillIdentity(TW_IDENTITY& id, const SourceProfile& p)
{
    const TW_UINT32 keepId = id.Id;
    id = TW_IDENTITY{};
    id.Id = keepId;
    id.Version.MajorNum = p.majorVersion;
    id.Version.MinorNum = p.minorVersion;
    id.Version.Language = TWLG_USA;
    id.Version.Country = TWCY_USA;
    Copy(id.Version.Info, p.versionInfo, sizeof id.Version.Info);
    id.ProtocolMajor = TWON_PROTOCOLMAJOR;
    id.ProtocolMinor = TWON_PROTOCOLMINOR;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    Copy(id.Manufacturer, p.manufacturer, sizeof id.Manufacturer);
    Copy(id.ProductFamily, p.family, sizeof id.ProductFamily);
    Copy(id.ProductName, p.name, sizeof id.ProductName);
}

TW_UINT16 GetIdentity(TW_IDENTITY& id)
{
    // A new listing: the profile may have changed since the last one. Not while a source
    // is open, whose settings live in the loaded profile; the list goes round all the
    // same, so that a listing made then still sees every source.
    if (!source)
        LoadProfile();
    if (listIndex >= profile.sources.size()) {
        listIndex = 0;
        listWrapped = false;
    }
    FillIdentity(id, profile.sources[listIndex]);
    AddDetail(id.ProductName);
    if (listWrapped) {
        listWrapped = false;
    } else if (++listIndex == profile.sources.size()) {
        listIndex = 0;
        listWrapped = true;
    }
    return TWRC_SUCCESS;
}

const SourceProfile* FindByName(const char* name)
{
    for (const SourceProfile& p : profile.sources) {
        if (p.name.compare(0, 33, name) == 0)
            return &p;
    }
    return profile.sources.empty() ? nullptr : &profile.sources.front();
}

TW_UINT16 Open(pTW_IDENTITY origin, TW_IDENTITY& id)
{
    if (source)
        return Fail(TWCC_MAXCONNECTIONS);
    LoadProfile();
    id.ProductName[sizeof id.ProductName - 1] = '\0';
    const SourceProfile* chosen = FindByName(id.ProductName);
    if (!chosen)
        return Fail(TWCC_NODS);
    AddDetail(chosen->name);
    if (!chosen->openDirectory.empty()) {
        SetCurrentDirectoryA(chosen->openDirectory.c_str());
        AddDetail("cwd=" + chosen->openDirectory);
    }
    if (chosen->openFailure != TWCC_SUCCESS)
        return Fail(chosen->openFailure);
    // Like sources that accept only an identity they handed out (Wine's camera source):
    // a manager that passes the application's empty identity on is refused.
    if (chosen->openNeedsIdentity && chosen->name.compare(0, 33, id.ProductName) != 0)
        return Fail(TWCC_NODS);
    source = chosen;
    FillIdentity(id, *source);
    self = id;
    application = origin ? *origin : TW_IDENTITY{};
    state = kOpen;
    pagesLeft = 0;
    pagesDone = 0;
    endXferFailed = 0;
    ResetCapabilities(*source);
    ResetMemoryTransfer();
    ResetFileTransfer();
    return TWRC_SUCCESS;
}

TW_UINT16 Close()
{
    if (!source)
        return Fail(TWCC_SEQERROR);
    if (state > kOpen)
        return Fail(TWCC_SEQERROR);
    ReleaseWindows();
    AddDetail(source->name);
    source = nullptr;
    state = kClosed;
    return TWRC_SUCCESS;
}
}  // namespace

TW_UINT16 OnIdentity(pTW_IDENTITY origin, TW_UINT16 msg, void* data)
{
    if (!data)
        return Fail(TWCC_BADVALUE);
    auto& id = *static_cast<TW_IDENTITY*>(data);
    switch (msg) {
    case MSG_GET:
        return GetIdentity(id);
    case MSG_OPENDS:
        return Open(origin, id);
    case MSG_CLOSEDS:
        return Close();
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 OnStatus(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (msg != MSG_GET || !data)
        return Fail(TWCC_BADPROTOCOL);
    auto& status = *static_cast<TW_STATUS*>(data);
    status.ConditionCode = condition;
    status.Reserved = 0;
    AddDetail(CcName(condition));
    condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

}  // namespace vs
