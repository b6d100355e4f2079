// The parent window and its hidden stand-in, the message hook through which every
// message reaches an enabled source, flushing, and enabling and disabling the source.
#include "twain/session.h"

TW_USERINTERFACE userInterface;
bool breakLoop = false;
bool closeRequested = false;
HWND proxyWindow = nullptr;
HINSTANCE instanceHandle = nullptr;
bool hideUI = false;
bool disableParent = true;
bool multiTransfer = false;

namespace {
// Rounds of discarding pending transfers while disabling (see TWAIN_DisableSource).
constexpr int kResetRounds = 3;
bool disabling = false;
}  // namespace

void TWAIN_SetInstance(HINSTANCE instance)
{
    instanceHandle = instance;
}

HWND TWAIN_CreateProxyWindow()
{
    proxyWindow = CreateWindowExA(0, "STATIC", "Acquire Proxy", WS_POPUPWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instanceHandle, nullptr);
    if (!IsWindow(proxyWindow)) {
        TWAIN_ErrorBox("ACQUIRA: Unable to create proxy window");
        proxyWindow = nullptr;
    }
    return proxyWindow;
}

HWND TWAIN_ResolveParentWindow(HWND window)
{
    if (IsWindow(window))
        return window;
    if (window)
        TWAIN_ErrorBox("ACQUIRA: window handle is invalid");
    if (proxyWindow)
        return proxyWindow;
    return TWAIN_CreateProxyWindow();
}

void TWAIN_BreakModalLoop()
{
    breakLoop = true;
}

void TWAIN_FlushMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Whoever runs the outer loop must still see it.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (!TWAIN_MessageHook(&message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

bool TWAIN_MessageHook(MSG* message)
{
    if (nState < TWAIN_SOURCE_ENABLED)
        return false;
    TW_EVENT event{};
    event.pEvent = message;
    event.TWMessage = MSG_NULL;
    const bool belongs = TWAIN_CallSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    switch (event.TWMessage) {
    case MSG_XFERREADY:
        // While the source is being disabled, an announced image is discarded, not taken.
        if (TWAIN_ASSERT(nState == TWAIN_TRANSFER_READY) && !disabling)
            TWAIN_DoOneTransfer();
        break;
    case MSG_CLOSEDSREQ:
        closeRequested = true;
        TWAIN_DisableSource();
        break;
    default:
        break;
    }
    return belongs;
}

bool TWAIN_EnableSource(HWND window)
{
    if (nState < TWAIN_SOURCE_OPEN && !TWAIN_OpenDefaultSource(window))
        return false;
    userInterface.ShowUI = hideUI ? FALSE : TRUE;
    userInterface.ModalUI = FALSE;
    userInterface.hParent = TWAIN_ResolveParentWindow(window);
    if (TWAIN_CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &userInterface))
        failedTransfers = 0;
    return nState == TWAIN_SOURCE_ENABLED;
}

bool TWAIN_DisableSource()
{
    TWAIN_BreakModalLoop();
    const bool outer = !disabling;
    disabling = true;
    // Resetting flushes the queue through the source. A source that announces a
    // transfer right after asking to be closed is back in state 6 then, and would
    // refuse MSG_DISABLEDS: discard that transfer too.
    TWAIN_ResetPendingTransfers();
    for (int round = 1; round < kResetRounds && nState == TWAIN_TRANSFER_READY; ++round)
        TWAIN_ResetPendingTransfers();
    if (nState >= TWAIN_SOURCE_ENABLED) {
        if (TWAIN_CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &userInterface))
            TWAIN_ASSERT(nState == TWAIN_SOURCE_OPEN);
    }
    TWAIN_FlushMessages();
    if (outer)
        disabling = false;
    return nState < TWAIN_SOURCE_ENABLED;
}

bool TWAIN_UserClosedSource()
{
    return closeRequested;
}

void TWAIN_SetHideUI(bool hide)
{
    hideUI = hide;
}

bool TWAIN_GetHideUI()
{
    return hideUI;
}

void TWAIN_SetDisableParent(bool disable)
{
    disableParent = disable;
}

bool TWAIN_GetDisableParent()
{
    return disableParent;
}

void TWAIN_SetMultiTransfer(bool multi)
{
    multiTransfer = multi;
}

bool TWAIN_GetMultiTransfer()
{
    return multiTransfer;
}
