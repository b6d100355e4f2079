// Pending transfers and the image information of the generated page.
#include "tools/vscanner/scanner.h"

#include <cmath>
#include <type_traits>

namespace vs {
namespace {
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
    if (source->endXferFailures < 0 || endXferFailed < source->endXferFailures) {
        ++endXferFailed;
        AddDetail("failure " + std::to_string(endXferFailed));
        return Fail(source->endXferFailure);
    }
    // A stuck source reports the same count for ever, and stays ready.
    if (pagesLeft > 0 && !source->countStuck)
        --pagesLeft;
    pending.Count = CountToReport();
    state = pagesLeft > 0 ? kReady : kEnabled;
    AddDetail("Count=" + std::to_string(static_cast<TW_INT16>(pending.Count)));
    if (state == kEnabled)
        BatchEnded();
    return TWRC_SUCCESS;
}

// Also taken in state 7: an application whose MSG_ENDXFER failed has no other way back.
TW_UINT16 Reset(TW_PENDINGXFERS& pending)
{
    if (state != kReady && state != kTransferring)
        return Fail(TWCC_SEQERROR);
    if (state == kTransferring)
        AddDetail("from state 7");
    pagesLeft = 0;
    pending.Count = 0;
    state = kEnabled;
    ResetMemoryTransfer();
    return TWRC_SUCCESS;
}

void Override(const std::optional<long>& value, auto& field)
{
    if (value)
        field = static_cast<std::remove_reference_t<decltype(field)>>(*value);
}
}  // namespace

PageFormat CurrentFormat()
{
    const TW_UINT16 type = CurrentCapability(ICAP_PIXELTYPE);
    const int bits = type == source->pixelType ? source->bits : DefaultBits(type);
    return PageFormat{source->width, source->height, bits, type, source->resolution, source->paletteColors,
                      source->blankPages};
}

void PageHandedOver()
{
    AddDetail("page " + std::to_string(pagesDone + 1) + (IsBlank(CurrentFormat(), pagesDone) ? ", blank" : ""));
    ++pagesDone;
}

bool TransferRefused(TW_UINT16& conditionCode)
{
    conditionCode = source->xferFailure;
    if (source->xferAnswer == XferAnswer::Failure)
        return true;
    if (source->failAfter >= 0 && pagesDone >= source->failAfter) {
        AddDetail("after " + std::to_string(pagesDone) + " pages");
        return true;
    }
    return false;
}

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
    info.Planar = IsPlanar(f, source->strips) ? TRUE : FALSE;
    info.PixelType = static_cast<TW_INT16>(f.pixelType);
    info.Compression = CurrentCapability(ICAP_COMPRESSION);

    const InfoOverrides& o = source->info;
    Override(o.width, info.ImageWidth);
    Override(o.length, info.ImageLength);
    Override(o.samplesPerPixel, info.SamplesPerPixel);
    if (o.bitsPerSample) {
        for (TW_INT16& b : info.BitsPerSample)
            b = static_cast<TW_INT16>(*o.bitsPerSample);
    }
    Override(o.bitsPerPixel, info.BitsPerPixel);
    Override(o.planar, info.Planar);
    Override(o.pixelType, info.PixelType);
    Override(o.compression, info.Compression);
    AddDetail(std::to_string(info.ImageWidth) + "x" + std::to_string(info.ImageLength) + " bpp=" +
              std::to_string(info.BitsPerPixel) + " spp=" + std::to_string(info.SamplesPerPixel) +
              " planar=" + std::to_string(info.Planar) + " type=" + std::to_string(info.PixelType) +
              " compression=" + std::to_string(info.Compression));
    return TWRC_SUCCESS;
}

}  // namespace vs
