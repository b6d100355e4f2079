// Pending transfers, image information and the native transfer of a generated page.
#include "tools/vscanner/page.h"
#include "tools/vscanner/scanner.h"

#include <cmath>

namespace vs {
namespace {
PageFormat CurrentFormat()
{
    const TW_UINT16 type = CurrentCapability(ICAP_PIXELTYPE);
    const int bits = type == source->pixelType ? source->bits : DefaultBits(type);
    return PageFormat{source->width, source->height, bits, type, source->resolution};
}

TW_FIX32 Fix32(double value)
{
    const long n = std::lround(value * 65536.0);
    return TW_FIX32{static_cast<TW_INT16>(n >> 16), static_cast<TW_UINT16>(n & 0xFFFF)};
}

TW_UINT16 CountToReport()
{
    if (pagesLeft > 0 && source->unknownCount)
        return 0xFFFF;  // -1: the source does not know how many follow
    return static_cast<TW_UINT16>(pagesLeft);
}

TW_UINT16 EndTransfer(TW_PENDINGXFERS& pending)
{
    if (state != kReady && state != kTransferring)
        return Fail(TWCC_SEQERROR);
    if (pagesLeft > 0)
        --pagesLeft;
    pending.Count = CountToReport();
    state = pagesLeft > 0 ? kReady : kEnabled;
    AddDetail("Count=" + std::to_string(static_cast<TW_INT16>(pending.Count)));
    return TWRC_SUCCESS;
}

TW_UINT16 Reset(TW_PENDINGXFERS& pending)
{
    if (state != kReady)
        return Fail(TWCC_SEQERROR);
    pagesLeft = 0;
    pending.Count = 0;
    state = kEnabled;
    return TWRC_SUCCESS;
}
}  // namespace

TW_UINT16 OnPendingXfers(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (!source || !data)
        return Fail(!source ? TWCC_SEQERROR : TWCC_BADVALUE);
    auto& pending = *static_cast<TW_PENDINGXFERS*>(data);
    switch (msg) {
    case MSG_GET:
        pending.Count = CountToReport();
        return TWRC_SUCCESS;
    case MSG_ENDXFER:
        return EndTransfer(pending);
    case MSG_RESET:
        return Reset(pending);
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 OnImageInfo(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (msg != MSG_GET || !data)
        return Fail(TWCC_BADPROTOCOL);
    if (state != kReady && state != kTransferring)
        return Fail(TWCC_SEQERROR);
    const PageFormat f = CurrentFormat();
    auto& info = *static_cast<TW_IMAGEINFO*>(data);
    info = TW_IMAGEINFO{};
    info.XResolution = info.YResolution = Fix32(f.resolution);
    info.ImageWidth = f.width;
    info.ImageLength = f.height;
    const bool colour = f.bits >= 24;
    info.SamplesPerPixel = colour ? 3 : 1;
    for (int i = 0; i < info.SamplesPerPixel; ++i)
        info.BitsPerSample[i] = static_cast<TW_INT16>(colour ? 8 : f.bits);
    info.BitsPerPixel = static_cast<TW_INT16>(f.bits);
    info.Planar = FALSE;
    info.PixelType = static_cast<TW_INT16>(f.pixelType);
    info.Compression = TWCP_NONE;
    return TWRC_SUCCESS;
}

TW_UINT16 OnNativeXfer(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (msg != MSG_GET || !data)
        return Fail(TWCC_BADPROTOCOL);
    if (state != kReady || CurrentCapability(ICAP_XFERMECH) != TWSX_NATIVE)
        return Fail(TWCC_SEQERROR);
    if (source->xferAnswer == XferAnswer::Failure)
        return Fail(source->xferFailure);
    state = kTransferring;
    if (source->xferAnswer == XferAnswer::Cancel)
        return TWRC_CANCEL;
    HGLOBAL page = MakePage(CurrentFormat(), pagesDone);
    if (!page) {
        state = kReady;
        return Fail(TWCC_LOWMEMORY);
    }
    ++pagesDone;
    *static_cast<TW_HANDLE*>(data) = page;
    AddDetail("page " + std::to_string(pagesDone));
    return TWRC_XFERDONE;
}

}  // namespace vs
