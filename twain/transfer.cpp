// One transfer in state 6 by the negotiated mechanism, ended with MSG_ENDXFER; the
// native and file mechanisms. Whatever a source hands over is checked before anybody
// uses it.
#include <cstring>

#include "dib/dib.h"
#include "twain/capability.h"
#include "twain/session.h"

HGLOBAL hDib = nullptr;
TW_UINT16 fileFormat = TWFF_BMP;
char filePath[260] = "";
bool fileXferDone = false;
TW_MEMXFERHANDLER memXferHandler = TWAIN_MemoryTransfer;
int callbackArg = 0;
int callbackResult = 0;
int failedTransfers = 0;
TransferOutcome transferOutcome = TransferOutcome::failed;

namespace {

// After this many transfers in a row that brought nothing while the source still says
// images are pending, they are discarded and the source disabled: such a source would
// otherwise be asked again and again by every multi-transfer and multi-page loop.
constexpr int kMaxFailedTransfers = 2;
constexpr std::size_t kMaxSetupName = sizeof(TW_SETUPFILEXFER::FileName) - 1;

void RecordFailure()
{
    if (lastResult == TWRC_CANCEL) {
        transferOutcome = TransferOutcome::cancelled;
        TWAIN_RecordError(TWERR_CANCELLED);
    } else {
        transferOutcome = TransferOutcome::failed;
        TWAIN_RecordError(TWERR_TRANSFER);
    }
}

int NormalDepth(int bits)
{
    switch (bits) {
    case 1: case 4: case 8: case 16: case 24: case 32:
        return bits;
    default:
        return 24;
    }
}

// A source that hands over a GDI bitmap (a DIB section) instead of a global block: the
// same pixels as a packed DIB of our own. Null when the bitmap cannot be read whole.
HGLOBAL PackedFromBitmap(HBITMAP bitmap)
{
    BITMAP bm{};
    if (!GetObjectA(bitmap, sizeof bm, &bm))
        return nullptr;
    DIBSECTION section{};
    const bool isSection = GetObjectA(bitmap, sizeof section, &section) == int(sizeof section);
    const int depth = NormalDepth(isSection ? section.dsBmih.biBitCount : bm.bmBitsPixel * bm.bmPlanes);
    const LONG width = bm.bmWidth, height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    if (width <= 0 || height <= 0 || width > kDibMaxSide || height > kDibMaxSide)
        return nullptr;
    const std::int64_t image = std::int64_t((std::int64_t(depth) * width + 31) / 32 * 4) * height;
    const int colours = depth <= 8 ? 1 << depth : 0;
    if (image > INT32_MAX)
        return nullptr;
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, SIZE_T(kInfoHeaderBytes + 4 * colours + image));
    if (!dib)
        return nullptr;
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
    int lines = 0;
    if (header) {
        header->biSize = kInfoHeaderBytes;
        header->biWidth = width;
        header->biHeight = height;
        header->biPlanes = 1;
        header->biBitCount = WORD(depth);
        header->biCompression = BI_RGB;
        HDC screen = GetDC(nullptr);
        BYTE* bits = reinterpret_cast<BYTE*>(header) + kInfoHeaderBytes + 4 * colours;
        lines = GetDIBits(screen, bitmap, 0, UINT(height), bits, reinterpret_cast<BITMAPINFO*>(header), DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        // GetDIBits may fill in its own idea of these; the block holds exactly this layout.
        header->biSize = kInfoHeaderBytes;
        header->biCompression = BI_RGB;
        header->biClrUsed = 0;
        header->biClrImportant = 0;
        header->biSizeImage = DWORD(image);
        header->biXPelsPerMeter = isSection ? section.dsBmih.biXPelsPerMeter : 0;
        header->biYPelsPerMeter = isSection ? section.dsBmih.biYPelsPerMeter : 0;
        GlobalUnlock(dib);
    }
    if (lines != height) {
        GlobalFree(dib);
        return nullptr;
    }
    return dib;
}

// Frees a bitmap or a global block (a discarded one included), never a value that
// merely looks like a handle.
void DropHandle(HANDLE handle)
{
    if (GetObjectType(static_cast<HGDIOBJ>(handle)) == OBJ_BITMAP)
        DeleteObject(static_cast<HGDIOBJ>(handle));
    else if (GlobalSize(handle) != 0 || (GlobalFlags(handle) & GMEM_DISCARDED))
        GlobalFree(handle);
}

// The DIB of a native transfer, checked like a bitmap file against the block's real
// size; anything else is freed and gives null.
HGLOBAL TakeNativeImage(TW_HANDLE handle)
{
    if (!handle)
        return nullptr;
    HGLOBAL dib = static_cast<HGLOBAL>(handle);
    if (GetObjectType(static_cast<HGDIOBJ>(handle)) == OBJ_BITMAP) {
        dib = PackedFromBitmap(static_cast<HBITMAP>(handle));
        DeleteObject(static_cast<HGDIOBJ>(handle));
        if (!dib)
            return nullptr;
    }
    if (!DibHandleIsSafe(dib)) {
        DropHandle(dib);
        return nullptr;
    }
    return dib;
}

bool BuiltInHandler()
{
    return memXferHandler == TWAIN_MemoryTransfer;
}

}  // namespace

void TWAIN_NativeTransfer()
{
    transferOutcome = TransferOutcome::failed;
    if (!TWAIN_ASSERT(nState == TWAIN_TRANSFER_READY))
        return;
    TW_HANDLE handle = nullptr;
    TWAIN_CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    hDib = nullptr;
    if (lastResult != TWRC_XFERDONE) {
        // A source that fails or cancels may still have handed over its block.
        if (handle)
            DropHandle(handle);
        RecordFailure();
        return;
    }
    hDib = TakeNativeImage(handle);
    if (hDib)
        transferOutcome = TransferOutcome::image;
    else
        TWAIN_RecordError(TWERR_TRANSFER);
}

void TWAIN_FileTransfer()
{
    transferOutcome = TransferOutcome::failed;
    // A longer name would reach the source cut, naming another file; the acquisition
    // refuses such names before it starts, and none is ever sent.
    if (std::strlen(filePath) > kMaxSetupName) {
        TWAIN_RecordError(TWERR_TRANSFER);
        return;
    }
    TW_SETUPFILEXFER setup{};
    std::memcpy(setup.FileName, filePath, std::strlen(filePath) + 1);
    setup.Format = fileFormat;
    if (TWAIN_CallSource(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup))
        TWAIN_CallSource(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
    if (lastResult == TWRC_XFERDONE) {
        fileXferDone = true;
        transferOutcome = TransferOutcome::image;
    } else {
        RecordFailure();
    }
}

void TWAIN_DoOneTransfer()
{
    // The image of an earlier transfer has not been taken yet (the application's loop
    // transferred it in the hook): a new DIB stays pending until it is.
    const bool makesDib = xferMech == TWSX_NATIVE || (xferMech == TWSX_MEMORY && BuiltInHandler());
    if (hDib && makesDib) {
        TWAIN_BreakModalLoop();
        return;
    }
    transferOutcome = TransferOutcome::failed;
    switch (xferMech) {
    case TWSX_NATIVE:
        TWAIN_NativeTransfer();
        break;
    case TWSX_FILE:
        TWAIN_FileTransfer();
        break;
    case TWSX_MEMORY:
        if (TWAIN_ASSERT(nState == TWAIN_TRANSFER_READY)) {
            const bool builtIn = BuiltInHandler();
            callbackResult = memXferHandler(callbackArg);
            memXferHandler = TWAIN_MemoryTransfer;
            // A callback of the application makes no DIB; what it answers is its outcome.
            if (!builtIn && callbackResult != 0)
                transferOutcome = TransferOutcome::image;
        }
        break;
    default:
        // No mechanism was negotiated: nothing was tried, so nothing failed either.
        transferOutcome = TransferOutcome::notTried;
        break;
    }
    TWAIN_BreakModalLoop();
    endRecovered = false;
    TWAIN_EndTransfer();
    if (!endRecovered)
        TWAIN_ASSERT(nState == TWAIN_TRANSFER_READY || nState == TWAIN_SOURCE_ENABLED);

    if (transferOutcome != TransferOutcome::failed) {
        failedTransfers = 0;
    } else if (++failedTransfers >= kMaxFailedTransfers && nState == TWAIN_TRANSFER_READY) {
        failedTransfers = 0;
        TWAIN_DisableSource();
    }
}
