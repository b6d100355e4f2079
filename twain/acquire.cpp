// The acquisitions: prepare (manager, default source, transfer mechanism, pixel types),
// enable the source with the parent window disabled, pump messages through it until one
// transfer is done or it asks to close, and finish (keep the source for the next image,
// or close everything).
#include <cstdio>
#include <cstring>

#include "dib/dib_file.h"
#include "twain/capability.h"
#include "twain/session.h"

namespace {

constexpr std::size_t kMaxFileName = sizeof(TW_SETUPFILEXFER::FileName) - 1;

// The message for a file name the source cannot be given whole.
void ReportLongFileName(const char* name)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "ACQUIRA: The file name is longer than the %u characters a TWAIN file transfer can carry, "
                  "so no image was acquired:\n%.300s",
                  unsigned(kMaxFileName), name);
    TWAIN_ErrorBox(text);
}

// The full path of name into filePath; false (with a message) when it does not fit.
bool StoreFilePath(const char* name)
{
    char full[sizeof filePath + 1] = "";
    const DWORD length = GetFullPathNameA(name ? name : "", sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) {
        // A name that cannot be resolved goes to the source as it was given.
        TWAIN_CopyName(full, name ? name : "", sizeof full);
    }
    if (length >= sizeof full || std::strlen(full) > kMaxFileName) {
        ReportLongFileName(full[0] && length < sizeof full ? full : (name ? name : ""));
        return false;
    }
    TWAIN_CopyName(filePath, full, sizeof filePath);
    return true;
}

}  // namespace

bool TWAIN_PrepareAcquire(HWND window, int mechanism, unsigned mask)
{
    TWAIN_ClearError();
    closeRequested = false;
    if (nState < TWAIN_SOURCE_OPEN) {
        if (!TWAIN_OpenSourceManager(window)) {
            TWAIN_ErrorBox("Unable to open Source Manager (TWAIN_32.DLL)");
            return false;
        }
        if (!TWAIN_OpenDefaultSource(window)) {
            TWAIN_ReportLastError("Unable to open default Data Source.");
            return false;
        }
        TWAIN_ASSERT(nState == TWAIN_SOURCE_OPEN);
    }
    if (nState == TWAIN_SOURCE_OPEN) {
        if (!TWAIN_SetXferMech(mechanism)) {
            TWAIN_ReportLastError("Error setting transfer mode");
            return false;
        }
        if (!TWAIN_NegotiatePixelTypes(mask)) {
            TWAIN_ReportLastError("Failed to negotiate Pixel Type.");
            return false;
        }
        if (mechanism == TWSX_MEMORY)
            TWAIN_SetCapOneValue(ICAP_COMPRESSION, TWTY_UINT16, TWCP_NONE);
    }
    return nState >= TWAIN_SOURCE_OPEN;
}

void TWAIN_FinishAcquire()
{
    if (multiTransfer)
        TWAIN_FlushMessages();
    else
        TWAIN_UnloadSourceManager();
}

void TWAIN_EnableAndWait(HWND window)
{
    HWND parent = TWAIN_ResolveParentWindow(window);
    bool wasEnabled = false;
    if (disableParent && parent)
        wasEnabled = !EnableWindow(parent, FALSE);
    if (nState == TWAIN_TRANSFER_READY)
        TWAIN_DoOneTransfer();
    else if (nState >= TWAIN_SOURCE_ENABLED || TWAIN_EnableSource(parent))
        TWAIN_ModalEventLoop();
    else
        TWAIN_ReportLastError("Failed to enable Data Source.");
    if (disableParent && parent && IsWindow(parent))
        EnableWindow(parent, wasEnabled);
}

void TWAIN_ModalEventLoop()
{
    breakLoop = false;
    closeRequested = false;
    MSG message;
    while (nState >= TWAIN_SOURCE_ENABLED && !breakLoop) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            // The program was asked to quit during the acquisition: its own loop ends it.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (got < 0)
            break;
        if (!TWAIN_MessageHook(&message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    breakLoop = false;
}

HGLOBAL TWAIN_WaitForNativeXfer(HWND window)
{
    if (!hDib) {
        if (nState < TWAIN_SOURCE_OPEN)
            TWAIN_ErrorBox("TWAIN_WaitForNativeXfer called in state < 4.");
        else
            TWAIN_EnableAndWait(window);
    }
    HGLOBAL dib = hDib;
    hDib = nullptr;
    return dib;
}

bool TWAIN_IsImageReady()
{
    return hDib != nullptr || nState >= TWAIN_TRANSFER_READY;
}

namespace {
HGLOBAL AcquireDib(HWND window, int mechanism, unsigned mask)
{
    window = TWAIN_ResolveParentWindow(window);
    HGLOBAL dib = nullptr;
    if (TWAIN_PrepareAcquire(window, mechanism, mask))
        dib = TWAIN_WaitForNativeXfer(window);
    TWAIN_FinishAcquire();
    return dib;
}
}  // namespace

HGLOBAL TWAIN_AcquireNative(HWND window, unsigned mask)
{
    return AcquireDib(window, TWSX_NATIVE, mask);
}

HGLOBAL TWAIN_AcquireMemory(HWND window)
{
    return AcquireDib(window, TWSX_MEMORY, 0);
}

bool TWAIN_AcquireFileTransfer(HWND window, int format, const char* fileName)
{
    window = TWAIN_ResolveParentWindow(window);
    if (!StoreFilePath(fileName))
        return false;
    fileFormat = static_cast<TW_UINT16>(format);
    fileXferDone = false;
    if (TWAIN_PrepareAcquire(window, TWSX_FILE, 0))
        TWAIN_EnableAndWait(window);
    TWAIN_FinishAcquire();
    return fileXferDone;
}

int AcquireCB(HWND window, TW_MEMXFERHANDLER callback, int argument)
{
    callbackResult = 0;
    if (!callback || IsBadCodePtr(reinterpret_cast<FARPROC>(reinterpret_cast<void*>(callback)))) {
        TWAIN_ErrorBox("AcquireCB: Invalid callback address");
        return 0;
    }
    memXferHandler = callback;
    callbackArg = argument;
    window = TWAIN_ResolveParentWindow(window);
    // The callback makes no DIB, so there is none to wait for; a DIB an earlier transfer
    // left waiting stays for the acquisition that takes it.
    if (TWAIN_PrepareAcquire(window, TWSX_MEMORY, 0))
        TWAIN_EnableAndWait(window);
    TWAIN_FinishAcquire();
    memXferHandler = TWAIN_MemoryTransfer;
    return callbackResult;
}

bool TWAIN_AcquireToClipboard(HWND window, unsigned mask)
{
    if (nState < TWAIN_SOURCE_OPEN && !TWAIN_OpenDefaultSource(window))
        return false;
    if (nState == TWAIN_SOURCE_OPEN)
        TWAIN_NegotiatePixelTypes(mask);
    HGLOBAL dib = TWAIN_AcquireMemory(window);
    if (!dib)
        return false;
    const bool placed = TWAIN_DibToClipboard(dib);
    if (!placed)
        TWAIN_FreeDib(dib);
    return placed;
}

int TWAIN_AcquireToFile(HWND window, const char* fileName)
{
    HGLOBAL dib = TWAIN_AcquireMemory(window);
    if (!dib)
        return -1;
    int result = DibWriteFile(dib, fileName);
    if (result == -1)
        result = -10;
    TWAIN_FreeDib(dib);
    return result;
}

void TWAIN_FreeDib(HGLOBAL dib)
{
    if (dib)
        GlobalFree(dib);
}

bool TWAIN_DibToClipboard(HGLOBAL dib)
{
    if (!OpenClipboard(nullptr))
        return false;
    if (!EmptyClipboard()) {
        CloseClipboard();
        return false;
    }
    // Only a DIB the clipboard took belongs to it; otherwise it stays the caller's.
    const bool taken = SetClipboardData(CF_DIB, dib) != nullptr;
    CloseClipboard();
    return taken;
}
