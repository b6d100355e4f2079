// Start values of the session data, for the library's unit tests.
#ifdef PAGOREX_TEST_SEAMS
#include "twain/capability.h"
#include "twain/session.h"
#include "twain/test_seam.h"

void TWAIN_ResetSessionForTest()
{
    if (proxyWindow)
        DestroyWindow(proxyWindow);
    proxyWindow = nullptr;
    TWAIN_InstallManagerEntryForTest(nullptr);
    TWAIN_SetManagerDirectoryForTest(nullptr);
    TWAIN_RegisterApp(1, 0, TWLG_USA, TWCY_USA, "1.0", "Vocalix Development", "Imager", "Vocalix");
    sourceIdentity = TW_IDENTITY{};
    chosenSource = TW_IDENTITY{};
    dsmAvailability = 0;
    lastResult = TWRC_SUCCESS;
    callDepth = 0;
    parentWindow = nullptr;
    stripCount = 0;
    enumMessage = MSG_GETFIRST;
    userInterface = TW_USERINTERFACE{};
    breakLoop = false;
    closeRequested = false;
    hideUI = false;
    disableParent = true;
    multiTransfer = false;
    pendingXfers = TW_PENDINGXFERS{};
    if (hDib)
        GlobalFree(hDib);
    hDib = nullptr;
    xferMech = TWSX_NATIVE;
    fileFormat = TWFF_BMP;
    filePath[0] = '\0';
    fileXferDone = false;
    memXferHandler = TWAIN_MemoryTransfer;
    callbackArg = 0;
    callbackResult = 0;
    incompatibilityReported = false;
    failedTransfers = 0;
    errorCode = TWERR_NONE;
    errorResult = 0;
    errorCondition = 0;
}
#endif
