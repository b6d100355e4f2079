// The session state and the two call wrappers: every change of nState, apart from
// loading and unloading the manager, happens here.
#include "twain/session.h"

#include <cstring>

int nState = TWAIN_PRESESSION;
TW_IDENTITY sourceIdentity;
HMODULE dsmModule = nullptr;
DSMENTRYPROC dsmEntry = nullptr;
int dsmAvailability = 0;
TW_UINT16 lastResult = TWRC_SUCCESS;
int callDepth = 0;
HWND parentWindow = nullptr;
int stripCount = 0;

namespace {
constexpr char kBuildName[] = "Release";
constexpr int kLibraryVersion = 260;  // 2.60 in hundredths

TW_IDENTITY DefaultIdentity()
{
    TW_IDENTITY id{};
    id.Id = 0;
    id.Version.MajorNum = 1;
    id.Version.MinorNum = 0;
    id.Version.Language = TWLG_USA;
    id.Version.Country = TWCY_USA;
    std::strcpy(id.Version.Info, "1.0");
    id.ProtocolMajor = TWON_PROTOCOLMAJOR;
    id.ProtocolMinor = TWON_PROTOCOLMINOR;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strcpy(id.Manufacturer, "Vocalix Development");
    std::strcpy(id.ProductFamily, "Imager");
    std::strcpy(id.ProductName, "Vocalix");
    return id;
}

// A source may fill its strings to the last byte; keep every copy terminated.
void TerminateStrings(TW_IDENTITY& id)
{
    id.Version.Info[sizeof id.Version.Info - 1] = '\0';
    id.Manufacturer[sizeof id.Manufacturer - 1] = '\0';
    id.ProductFamily[sizeof id.ProductFamily - 1] = '\0';
    id.ProductName[sizeof id.ProductName - 1] = '\0';
}

void PresetMemXfer(TW_IMAGEMEMXFER& mx)
{
    mx.Compression = TWON_DONTCARE16;
    mx.BytesPerRow = TWON_DONTCARE32;
    mx.Columns = TWON_DONTCARE32;
    mx.Rows = TWON_DONTCARE32;
    mx.XOffset = TWON_DONTCARE32;
    mx.YOffset = TWON_DONTCARE32;
    mx.BytesWritten = TWON_DONTCARE32;
}

bool IsTransferGet(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg)
{
    return dg == DG_IMAGE && msg == MSG_GET && (dat == DAT_IMAGENATIVEXFER || dat == DAT_IMAGEFILEXFER);
}

// The state rules of a call into the source; answers the call's outcome.
bool FollowSourceResult(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, TW_UINT16 rc)
{
    const bool success = rc == TWRC_SUCCESS;
    if (dg == DG_CONTROL) {
        if (dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
            if (data && static_cast<TW_EVENT*>(data)->TWMessage == MSG_XFERREADY)
                nState = TWAIN_TRANSFER_READY;
            return rc == TWRC_DSEVENT;
        }
        if (dat == DAT_PENDINGXFERS && msg == MSG_ENDXFER && success) {
            const bool more = data && static_cast<TW_PENDINGXFERS*>(data)->Count != 0;
            nState = more ? TWAIN_TRANSFER_READY : TWAIN_SOURCE_ENABLED;
        } else if (dat == DAT_PENDINGXFERS && msg == MSG_RESET && success) {
            nState = TWAIN_SOURCE_ENABLED;
        } else if (dat == DAT_SETUPMEMXFER && msg == MSG_GET && success) {
            stripCount = 0;
        } else if (dat == DAT_USERINTERFACE && msg == MSG_ENABLEDS) {
            if (rc == TWRC_FAILURE) {
                TWAIN_RecordError(TWERR_DS_OPERATION);
                return false;
            }
            nState = TWAIN_SOURCE_ENABLED;
            return true;
        } else if (dat == DAT_USERINTERFACE && msg == MSG_DISABLEDS && success) {
            nState = TWAIN_SOURCE_OPEN;
        }
        return success;
    }
    if (IsTransferGet(dg, dat, msg)) {
        const bool started = rc == TWRC_XFERDONE || rc == TWRC_CANCEL;
        nState = started ? TWAIN_TRANSFERRING : TWAIN_TRANSFER_READY;
        return rc == TWRC_XFERDONE;
    }
    if (dg == DG_IMAGE && dat == DAT_IMAGEMEMXFER && msg == MSG_GET) {
        if (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) {
            ++stripCount;
            nState = TWAIN_TRANSFERRING;
            return true;
        }
        if (rc == TWRC_FAILURE)
            nState = stripCount > 0 ? TWAIN_TRANSFERRING : TWAIN_TRANSFER_READY;
        else if (rc == TWRC_CANCEL)
            TWAIN_BreakModalLoop();
        return false;
    }
    return success;
}
}  // namespace

TW_IDENTITY appIdentity = DefaultIdentity();

void TWAIN_CopyName(char* to, const char* from, std::size_t size)
{
    if (!to || size == 0)
        return;
    std::size_t n = 0;
    for (; from && n + 1 < size && from[n] != '\0'; ++n)
        to[n] = from[n];
    to[n] = '\0';
}

void TWAIN_RegisterApp(int major, int minor, int language, int country, const char* versionInfo,
                       const char* manufacturer, const char* productFamily, const char* productName)
{
    appIdentity.Id = 0;
    appIdentity.Version.MajorNum = static_cast<TW_UINT16>(major);
    appIdentity.Version.MinorNum = static_cast<TW_UINT16>(minor);
    appIdentity.Version.Language = static_cast<TW_UINT16>(language);
    appIdentity.Version.Country = static_cast<TW_UINT16>(country);
    TWAIN_CopyName(appIdentity.Version.Info, versionInfo, sizeof appIdentity.Version.Info);
    TWAIN_CopyName(appIdentity.Manufacturer, manufacturer, sizeof appIdentity.Manufacturer);
    TWAIN_CopyName(appIdentity.ProductFamily, productFamily, sizeof appIdentity.ProductFamily);
    TWAIN_CopyName(appIdentity.ProductName, productName, sizeof appIdentity.ProductName);
    appIdentity.ProtocolMajor = TWON_PROTOCOLMAJOR;
    appIdentity.ProtocolMinor = TWON_PROTOCOLMINOR;
    appIdentity.SupportedGroups = DG_CONTROL | DG_IMAGE;
}

bool TWAIN_CallSourceManager(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data)
{
    lastResult = TWRC_FAILURE;
    if (!dsmEntry)
        return false;
    lastResult = dsmEntry(&appIdentity, nullptr, dg, dat, msg, data);
    const bool success = lastResult == TWRC_SUCCESS;
    if (dg != DG_CONTROL)
        return success;
    if (dat == DAT_IDENTITY && msg == MSG_OPENDS) {
        if (success) {
            std::memcpy(&sourceIdentity, data, sizeof sourceIdentity);
            TerminateStrings(sourceIdentity);
            nState = TWAIN_SOURCE_OPEN;
        } else {
            TWAIN_RecordError(TWERR_DSM_OPERATION);
        }
    } else if (success && dat == DAT_IDENTITY && msg == MSG_CLOSEDS) {
        nState = TWAIN_SM_OPEN;
    } else if (success && dat == DAT_PARENT && msg == MSG_OPENDSM) {
        nState = TWAIN_SM_OPEN;
    } else if (success && dat == DAT_PARENT && msg == MSG_CLOSEDSM) {
        nState = TWAIN_SM_LOADED;
    }
    return success;
}

bool TWAIN_CallSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data)
{
    if (!TWAIN_ASSERT(nState >= TWAIN_SOURCE_OPEN)) {
        // There is no source to talk to: refuse rather than address a closed one.
        lastResult = TWRC_FAILURE;
        return false;
    }
    lastResult = TWRC_FAILURE;
    if (dg == DG_IMAGE && dat == DAT_IMAGEMEMXFER && msg == MSG_GET && data)
        PresetMemXfer(*static_cast<TW_IMAGEMEMXFER*>(data));
    if (!dsmEntry)
        return false;
    if (callDepth > 0)
        OutputDebugStringA(" - blocked\n");
    ++callDepth;
    const TW_UINT16 rc = dsmEntry(&appIdentity, &sourceIdentity, dg, dat, msg, data);
    --callDepth;
    lastResult = rc;
    return FollowSourceResult(dg, dat, msg, data, rc);
}

int TWAIN_GetState()
{
    return nState;
}

int TWAIN_GetResultCode()
{
    return static_cast<TW_INT16>(lastResult);
}

int TWAIN_LibraryVersion()
{
    return kLibraryVersion;
}

const char* TWAIN_BuildName()
{
    return kBuildName;
}

void TWAIN_GetBuildName(char* buffer, std::size_t size)
{
    TWAIN_CopyName(buffer, kBuildName, size);
}
