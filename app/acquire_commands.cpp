// The acquisition rows of the command table, their menu-state rules, and the main
// loop's hand-off of every message to the acquisition library.
#include "app/acquire.h"

#include "app/shell.h"
#include "app/store_guard.h"
#include "resources/resource.h"
#include "twain/twain.h"

namespace {
// An Acquire the main loop posted for a waiting image and that has not run yet: the
// source's further events must not queue more of them.
bool waitingImageAcquirePosted = false;

void PostAcquireForWaitingImage()
{
    if (TWAIN_IsImageReady() && !waitingImageAcquirePosted && mainWindow) {
        waitingImageAcquirePosted = true;
        PostMessageA(mainWindow, WM_COMMAND, CMD_ACQUIRE, 0);
    }
}

void Acquire(HWND window)
{
    waitingImageAcquirePosted = false;
    // The library flushes the queue through its hook as an acquisition ends: a page the
    // source announced meanwhile was taken there, and the main loop never saw it come.
    if (AcquireImage(window))
        PostAcquireForWaitingImage();
}

void AcquireMultiPageCommand(HWND window)
{
    AcquireMultiPage(window);
}

void AcquireToClipboard(HWND window)
{
    ++acquireBusy;
    if (!TWAIN_AcquireToClipboard(window, 0))
        ShowStringMessage(IDS_NO_CLIPBOARD_IMAGE, MB_OK | MB_ICONINFORMATION);
    --acquireBusy;
}

void SelectSource(HWND window)
{
    TWAIN_SelectImageSource(window);
}

// Acquisitions, and the Select Source dialog (run inside the Source Manager), wait for
// store work and for each other; whatever arrives while they run waits for them.
template <void (*Operation)(HWND)>
void InAcquisition(HWND window)
{
    AcquisitionWork work(window);
    Operation(window);
}

template <void (*Operation)(HWND), int Id>
void HeldAcquisition(HWND window)
{
    RunHeldCommand(window, Id, InAcquisition<Operation>);
}

// The options take effect at the next opening of the source: an enabled one is
// disabled first (it stays open).
template <void (*Change)()>
void AfterDisabling(HWND window)
{
    AcquisitionWork work(window);
    TWAIN_DisableSource();
    Change();
}

template <unsigned Bit>
void TogglePixelType()
{
    pixelTypeMask ^= Bit;
}

template <int Mode>
void SetTransferMode()
{
    transferMode = Mode;
}

template <int Hide>
void SetSourceUI(HWND window)
{
    AcquisitionWork work(window);
    hideSourceUI = Hide;
    TWAIN_DisableSource();
}

void SuppressErrors(HWND)
{
    suppressErrorDialogs = suppressErrorDialogs ? 0 : 1;
    TWAIN_SuppressErrorBoxes(suppressErrorDialogs != 0);
}

void ToggleDisableParent(HWND)
{
    TWAIN_SetDisableParent(!TWAIN_GetDisableParent());
}

void CloseSource(HWND window)
{
    AcquisitionWork work(window);
    TWAIN_CloseSource();
}

constexpr CommandRow kAcquisitionCommands[] = {
    {CMD_ACQUIRE, HeldAcquisition<Acquire, CMD_ACQUIRE>},
    {CMD_ACQUIRE_CLIPBOARD, HeldAcquisition<AcquireToClipboard, CMD_ACQUIRE_CLIPBOARD>},
    {CMD_SELECT_SOURCE, HeldAcquisition<SelectSource, CMD_SELECT_SOURCE>},
    {CMD_PIXEL_BW, AfterDisabling<TogglePixelType<1u << TWPT_BW>>},
    {CMD_PIXEL_GRAY, AfterDisabling<TogglePixelType<1u << TWPT_GRAY>>},
    {CMD_PIXEL_RGB, AfterDisabling<TogglePixelType<1u << TWPT_RGB>>},
    {CMD_PIXEL_PALETTE, AfterDisabling<TogglePixelType<1u << TWPT_PALETTE>>},
    {CMD_PIXEL_ALL, AfterDisabling<[] { pixelTypeMask = 0; }>},
    {CMD_SHOW_UI, SetSourceUI<0>},
    {CMD_HIDE_UI, SetSourceUI<1>},
    {CMD_MULTI_TRANSFER, AfterDisabling<[] { TWAIN_SetMultiTransfer(!TWAIN_GetMultiTransfer()); }>},
    {CMD_AUTOFEED, AfterDisabling<[] { feederMode = 1; autoFeed = autoFeed ? 0 : 1; }>},
    {CMD_FEEDER_DISABLE, AfterDisabling<[] { feederMode = -1; autoFeed = 0; }>},
    {CMD_FEEDER_ENABLE, AfterDisabling<[] { feederMode = 1; }>},
    {CMD_DUPLEX, AfterDisabling<[] { duplexEnabled = duplexEnabled ? 0 : 1; }>},
    {CMD_XFER_MEMORY, AfterDisabling<SetTransferMode<kMemoryTransfer>>},
    {CMD_XFER_NATIVE, AfterDisabling<SetTransferMode<kNativeTransfer>>},
    {CMD_XFER_FILE, AfterDisabling<SetTransferMode<kFileTransfer>>},
    {CMD_DISABLE_PARENT, ToggleDisableParent},
    {CMD_CLOSE_SOURCE, CloseSource},
    {CMD_SUPPRESS_ERRORS, SuppressErrors},
    {CMD_ACQUIRE_MULTIPAGE, HeldAcquisition<AcquireMultiPageCommand, CMD_ACQUIRE_MULTIPAGE>},
};

bool AcquisitionUnavailable()
{
    return !TWAIN_IsAvailable() || acquireBusy != 0;
}

template <unsigned Bit>
bool PixelTypeChosen()
{
    return (pixelTypeMask & Bit) != 0;
}

template <int Mode>
bool TransferModeIs()
{
    return transferMode == Mode;
}

constexpr MenuRule kAcquisitionMenuRules[] = {
    {CMD_ACQUIRE, false, AcquisitionUnavailable},
    {CMD_ACQUIRE_CLIPBOARD, false, AcquisitionUnavailable},
    {CMD_ACQUIRE_MULTIPAGE, false, AcquisitionUnavailable},
    {CMD_SELECT_SOURCE, false, AcquisitionUnavailable},
    {CMD_CLOSE_SOURCE, false, [] { return acquireBusy == 0; }},
    {CMD_PIXEL_BW, true, PixelTypeChosen<1u << TWPT_BW>},
    {CMD_PIXEL_GRAY, true, PixelTypeChosen<1u << TWPT_GRAY>},
    {CMD_PIXEL_RGB, true, PixelTypeChosen<1u << TWPT_RGB>},
    {CMD_PIXEL_PALETTE, true, PixelTypeChosen<1u << TWPT_PALETTE>},
    {CMD_PIXEL_ALL, true, [] { return pixelTypeMask == 0; }},
    {CMD_SHOW_UI, true, [] { return hideSourceUI == 0; }},
    {CMD_HIDE_UI, true, [] { return hideSourceUI == 1; }},
    {CMD_DISABLE_PARENT, true, TWAIN_GetDisableParent},
    {CMD_MULTI_TRANSFER, true, TWAIN_GetMultiTransfer},
    {CMD_DUPLEX, true, [] { return duplexEnabled == 1; }},
    {CMD_FEEDER_DISABLE, true, [] { return feederMode < 0; }},
    {CMD_FEEDER_ENABLE, true, [] { return feederMode > 0; }},
    {CMD_AUTOFEED, true, [] { return autoFeed == 1; }},
    {CMD_XFER_NATIVE, true, TransferModeIs<kNativeTransfer>},
    {CMD_XFER_MEMORY, true, TransferModeIs<kMemoryTransfer>},
    {CMD_XFER_FILE, true, TransferModeIs<kFileTransfer>},
    {CMD_SUPPRESS_ERRORS, true, [] { return suppressErrorDialogs == 1; }},
};
}  // namespace

std::span<const CommandRow> AcquisitionCommands()
{
    return kAcquisitionCommands;
}

std::span<const MenuRule> AcquisitionMenuRules()
{
    return kAcquisitionMenuRules;
}

void DispatchAppMessage(MSG& message)
{
    bool taken = false;
    {
        // A transfer the hook performs may show a box, whose loop must not close the
        // window under it.
        AcquisitionWork work(mainWindow);
        taken = TWAIN_MessageHook(&message);
    }
    if (taken) {
        PostAcquireForWaitingImage();
        return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
}
