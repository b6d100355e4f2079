// DS_Entry: every triplet the Source Manager hands the virtual scanner goes through a
// table of handlers and is logged with the answer.
#include "tools/vscanner/scanner.h"

namespace vs {

HINSTANCE module = nullptr;
Profile profile;
const SourceProfile* source = nullptr;
int state = kClosed;
TW_IDENTITY self;
TW_IDENTITY application;
TW_UINT16 condition = TWCC_SUCCESS;
int pagesLeft = 0;
int pagesDone = 0;
int endXferFailed = 0;
TW_USERINTERFACE ui;

TW_UINT16 Fail(TW_UINT16 conditionCode)
{
    condition = conditionCode;
    return TWRC_FAILURE;
}

namespace {
struct Route {
    TW_UINT32 dg;
    TW_UINT16 dat;
    Handler handler;
};

constexpr Route kRoutes[] = {
    {DG_CONTROL, DAT_IDENTITY, OnIdentity},
    {DG_CONTROL, DAT_STATUS, OnStatus},
    {DG_CONTROL, DAT_USERINTERFACE, OnUserInterface},
    {DG_CONTROL, DAT_EVENT, OnEvent},
    {DG_CONTROL, DAT_PENDINGXFERS, OnPendingXfers},
    {DG_CONTROL, DAT_CAPABILITY, OnCapability},
    {DG_IMAGE, DAT_IMAGEINFO, OnImageInfo},
    {DG_IMAGE, DAT_IMAGENATIVEXFER, OnNativeXfer},
    {DG_CONTROL, DAT_SETUPMEMXFER, OnSetupMemXfer},
    {DG_IMAGE, DAT_IMAGEMEMXFER, OnImageMemXfer},
    {DG_IMAGE, DAT_PALETTE8, OnPalette8},
    {DG_CONTROL, DAT_SETUPFILEXFER, OnSetupFileXfer},
    {DG_IMAGE, DAT_IMAGEFILEXFER, OnImageFileXfer},
};

TW_UINT16 Dispatch(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data)
{
    for (const Route& r : kRoutes) {
        if (r.dg == dg && r.dat == dat)
            return r.handler(origin, msg, data);
    }
    return Fail(TWCC_BADPROTOCOL);
}

void LogTriplet(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc)
{
    std::string line = std::string(DgName(dg)) + "/" + DatName(dat) + "/" + MsgName(msg) + " -> " + RcName(rc);
    if (rc == TWRC_FAILURE)
        line += std::string(" ") + CcName(condition);
    std::string detail = TakeDetail();
    if (!detail.empty())
        line += " |" + detail;
    Log(line);
}
}  // namespace
}  // namespace vs

extern "C" __declspec(dllexport) TW_UINT16 WINAPI DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat,
                                                           TW_UINT16 msg, TW_MEMREF data)
{
    // DAT_STATUS tells about the last operation; the events the application passes
    // down all the time do not count as one.
    if (dat != DAT_STATUS && dat != DAT_EVENT)
        vs::condition = TWCC_SUCCESS;
    const TW_UINT16 rc = vs::Dispatch(origin, dg, dat, msg, data);
    vs::LogTriplet(dg, dat, msg, rc);
    return rc;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        vs::module = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded by FreeLibrary: leave no window or class that points into freed code.
        vs::ReleaseWindows();
    }
    return TRUE;
}
