// The native transfer: the page as a packed DIB in a global block, or what a profile
// makes of it (a lying header, a file's bytes, a cut block, a GDI bitmap, a handle that
// is no image at all).
#include "tools/vscanner/scanner.h"

#include <cstring>
#include <vector>

namespace vs {
namespace {
// The DIB's bytes: the generated page or the profile's file (a bitmap file loses its
// 14-byte file header), with the profile's header fields written over.
bool DibBytes(std::vector<std::uint8_t>& dib)
{
    if (source->nativeFile.empty()) {
        dib = PageDib(CurrentFormat(), pagesDone);
    } else {
        if (!ReadWholeFile(source->nativeFile.c_str(), 64u << 20, dib))
            return false;
        if (dib.size() >= 14 && dib[0] == 'B' && dib[1] == 'M')
            dib.erase(dib.begin(), dib.begin() + 14);
        AddDetail("from " + source->nativeFile);
    }
    for (const HeaderOverride& o : source->dibHeader) {
        const auto value = static_cast<std::uint32_t>(o.value);
        if (static_cast<std::size_t>(o.offset + o.size) <= dib.size())
            std::memcpy(dib.data() + o.offset, &value, o.size);
    }
    return true;
}

HGLOBAL GlobalBlock(const std::vector<std::uint8_t>& dib)
{
    const std::size_t size = source->dibBlockSize >= 0 ? static_cast<std::size_t>(source->dibBlockSize) : dib.size();
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size ? size : 1);
    void* to = handle ? GlobalLock(handle) : nullptr;
    if (!to) {
        if (handle)
            GlobalFree(handle);
        return nullptr;
    }
    std::memcpy(to, dib.data(), size < dib.size() ? size : dib.size());
    GlobalUnlock(handle);
    if (size != dib.size())
        AddDetail("block " + std::to_string(size) + " of " + std::to_string(dib.size()));
    return handle;
}

// Some drivers hand over a DIB section instead of a global block.
HBITMAP DibSection()
{
    // The generated page's own header, never a profile's lie: the section is built from it.
    const std::vector<std::uint8_t> page = PageDib(CurrentFormat(), pagesDone);
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(page.data());
    const std::size_t bitsAt = sizeof(BITMAPINFOHEADER) + header->biClrUsed * sizeof(RGBQUAD);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(page.data()), DIB_RGB_COLORS, &bits,
                                      nullptr, 0);
    if (bitmap && bits)
        std::memcpy(bits, page.data() + bitsAt, page.size() - bitsAt);
    return bitmap;
}

TW_HANDLE Handle(const std::vector<std::uint8_t>& dib)
{
    switch (source->nativeHandle) {
    case NativeHandle::DibSection:
        AddDetail("as a DIB section");
        return DibSection();
    case NativeHandle::Pen:
        AddDetail("as a pen");
        return CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    case NativeHandle::Null:
        AddDetail("as no handle");
        return nullptr;
    default:
        return GlobalBlock(dib);
    }
}
}  // namespace

TW_UINT16 OnNativeXfer(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (msg != MSG_GET || !data)
        return Fail(TWCC_BADPROTOCOL);
    if (state != kReady || CurrentCapability(ICAP_XFERMECH) != TWSX_NATIVE)
        return Fail(TWCC_SEQERROR);
    if (TW_UINT16 refusal; TransferRefused(refusal))
        return Fail(refusal);
    state = kTransferring;
    if (source->xferAnswer == XferAnswer::Cancel)
        return TWRC_CANCEL;
    std::vector<std::uint8_t> dib;
    if (!DibBytes(dib) || dib.size() < sizeof(BITMAPINFOHEADER)) {
        state = kReady;
        return Fail(TWCC_OPERATIONERROR);
    }
    TW_HANDLE handle = Handle(dib);
    if (!handle && source->nativeHandle != NativeHandle::Null) {
        state = kReady;
        return Fail(TWCC_LOWMEMORY);
    }
    *static_cast<TW_HANDLE*>(data) = handle;
    PageHandedOver();
    return TWRC_XFERDONE;
}

}  // namespace vs
