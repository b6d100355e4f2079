// The buffered memory transfer: a DIB built strip by strip from what the source writes
// into one buffer of its preferred size, and the once-per-run report of a strip that
// does not fit, also put on the clipboard for the user to send on.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dib/dib.h"
#include "dib/dib_lock.h"
#include "twain/capability.h"
#include "twain/session.h"
#include "twain/strip_bytes.h"

bool incompatibilityReported = false;

namespace {

constexpr std::size_t kReportSize = 1024;
// For a source that names no usable preferred size.
constexpr TW_UINT32 kDefaultBuffer = 64 * 1024;

bool Usable(TW_UINT32 size)
{
    return size != 0 && size != TWON_DONTCARE32;
}

TW_UINT32 BufferSize(const TW_SETUPMEMXFER& setup)
{
    if (Usable(setup.Preferred))
        return setup.Preferred;
    if (Usable(setup.MinBufSize) && setup.MinBufSize > kDefaultBuffer)
        return setup.MinBufSize;
    return kDefaultBuffer;
}

// The buffer the library hands over; set before each request and again after it, so
// that a strip is always read from this buffer whatever the source wrote into Memory.
void HandOver(TW_IMAGEMEMXFER& mx, std::uint8_t* buffer, TW_UINT32 size)
{
    mx.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    mx.Memory.Length = size;
    mx.Memory.TheMem = buffer;
}

void DiscardDib()
{
    TWAIN_FreeDib(hDib);
    hDib = nullptr;
}

}  // namespace

bool TWAIN_StoreStrip(std::uint8_t* dib, std::size_t dibSize, TW_IMAGEMEMXFER& mx, const TW_IMAGEINFO& info,
                      const strips::ImagePlan& plan, strips::Progress& progress, bool lastStrip, strips::Next* next)
{
    const int plane = progress.plane;
    const strips::StripOutcome outcome =
        strips::TakeStrip(dib, dibSize, info, plan, progress, mx, static_cast<const std::uint8_t*>(mx.Memory.TheMem),
                          mx.Memory.Length, lastStrip);
    if (outcome.report)
        TWAIN_ReportMemoryIncompatibility(outcome.report, mx, info, plane);
    *next = outcome.next;
    return !outcome.rejected;
}

bool TWAIN_CreateTransferDib(const TW_IMAGEINFO& info)
{
    if (!TWAIN_ASSERT(hDib == NULL))
        return false;
    strips::ImagePlan plan;
    const strips::Refusal refusal = strips::PlanImage(info, &plan);
    if (refusal != strips::Refusal::none) {
        char text[256];
        strips::FormatRefusal(refusal, info, text, sizeof text);
        TWAIN_ErrorBox(text);
        return false;
    }
    hDib = DibCreate(info.BitsPerPixel, info.ImageWidth, info.ImageLength);
    if (!hDib) {
        TWAIN_ErrorBox("ACQR: Unable to allocate memory for image.");
        return false;
    }
    {
        // Rows a source never sends stay black rather than showing what the memory held.
        LockedDib locked(hDib);
        const std::size_t rows = std::size_t(DibBitsOffset(DibReadLayout(locked.data())));
        std::memset(locked.data() + rows, 0, locked.size() - rows);
    }
    DibSetResolution(hDib, Fix32ToDouble(info.XResolution), Fix32ToDouble(info.YResolution));
    return true;
}

namespace {
// Asks the source for strips into buffer until the image is whole or the transfer stops;
// true when the image was received whole.
bool ReceiveStrips(const TW_IMAGEINFO& info, std::uint8_t* buffer, TW_UINT32 size)
{
    strips::ImagePlan plan;
    strips::PlanImage(info, &plan);
    strips::Progress progress = strips::StartProgress(plan);
    bool done = false;
    TW_IMAGEMEMXFER mx{};
    // Locked for the whole run rather than once per strip: a page comes in thousands.
    LockedDib locked(hDib);
    for (bool more = locked.data() != nullptr; more;) {
        HandOver(mx, buffer, size);
        if (!TWAIN_CallSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mx))
            break;
        HandOver(mx, buffer, size);
        strips::Next next = strips::Next::more;
        more = TWAIN_StoreStrip(locked.data(), locked.size(), mx, info, plan, progress, lastResult == TWRC_XFERDONE,
                                &next) &&
               next == strips::Next::more;
        done = next == strips::Next::done;
    }
    return done;
}

// The colours of a whole palette image, from the source; false (the image discarded) when
// it will not give them.
bool ReceivePalette()
{
    TW_PALETTE8 palette{};
    if (!TWAIN_CallSource(DG_IMAGE, DAT_PALETTE8, MSG_GET, &palette)) {
        DiscardDib();
        TWAIN_ErrorBox("ACQR: Can't get image palette.");
        return false;
    }
    LockedDib locked(hDib);
    strips::ApplyPalette(locked.data(), locked.size(), palette);
    return true;
}
}  // namespace

int TWAIN_MemoryTransfer(int)
{
    transferOutcome = TransferOutcome::failed;
    if (!TWAIN_ASSERT(hDib == NULL) || !TWAIN_ASSERT(nState == TWAIN_TRANSFER_READY))
        return 0;
    TW_SETUPMEMXFER setup{};
    if (!TWAIN_CallSource(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup))
        return 0;
    TW_IMAGEINFO info{};
    if (!TWAIN_CallSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info))
        return 0;
    if (!TWAIN_CreateTransferDib(info))
        return 0;
    TWAIN_ASSERT(hDib != NULL);
    const TW_UINT32 size = BufferSize(setup);
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(size));
    if (!buffer) {
        DiscardDib();
        TWAIN_ErrorBox("ACQR: Transfer buffer allocation failed.");
        return 0;
    }
    const bool done = ReceiveStrips(info, buffer, size);
    std::free(buffer);
    if (lastResult == TWRC_CANCEL) {
        transferOutcome = TransferOutcome::cancelled;
        TWAIN_RecordError(TWERR_CANCELLED);
    }
    // Only a complete image needs its colours; a cancelled one is discarded below
    // without asking the source for more.
    if (done && info.PixelType == TWPT_PALETTE && !ReceivePalette())
        return 0;
    if (!done && hDib) {
        TWAIN_RecordError(TWERR_TRANSFER);
        DiscardDib();
    }
    if (done)
        transferOutcome = TransferOutcome::image;
    return done ? 1 : 0;
}

void TWAIN_ReportMemoryIncompatibility(const char* reason, const TW_IMAGEMEMXFER& mx, const TW_IMAGEINFO& info,
                                       int plane)
{
    if (incompatibilityReported)
        return;
    incompatibilityReported = true;
    char text[kReportSize];
    std::snprintf(text, sizeof text,
                  "ACQUIRA Memory Transfer Incompatibility\n(%s)\n\nThis text has been copied to the clipboard.\n"
                  "Please paste it into an e-mail to: %s\n\nProduct \"%s\"\nVersion %u-%u  Vendor: \"%s\"\n"
                  "Channel: %d   MXB.Memory.Flags: 0x%x\nMXB.Comp: %u, BytesPerRow: %ld, BytesWritten: %ld\n"
                  "MXB.Columns: %ld, Rows: %ld, XOffset: %ld, YOffset: %ld\nINFO.ImageWidth: %ld, ImageLength: %ld\n"
                  "INFO.SPP: %d, BPS: [%d, %d, %d, %d], BPP: %d\nINFO.Planar: %d, PixelType: %d, Compression: %u\n",
                  reason, kSupportAddress, sourceIdentity.ProductName, unsigned(sourceIdentity.Version.MajorNum),
                  unsigned(sourceIdentity.Version.MinorNum), sourceIdentity.Manufacturer, plane,
                  unsigned(mx.Memory.Flags), unsigned(mx.Compression), long(TW_INT32(mx.BytesPerRow)),
                  long(TW_INT32(mx.BytesWritten)), long(TW_INT32(mx.Columns)), long(TW_INT32(mx.Rows)),
                  long(TW_INT32(mx.XOffset)), long(TW_INT32(mx.YOffset)), long(info.ImageWidth),
                  long(info.ImageLength), int(info.SamplesPerPixel), int(info.BitsPerSample[0]),
                  int(info.BitsPerSample[1]), int(info.BitsPerSample[2]), int(info.BitsPerSample[3]),
                  int(info.BitsPerPixel), int(info.Planar), int(info.PixelType), unsigned(info.Compression));
    TWAIN_TextToClipboard(text);
    TWAIN_ErrorBox(text);
}

void TWAIN_TextToClipboard(const char* text)
{
    if (!OpenClipboard(nullptr))
        return;
    char lines[kReportSize];
    const std::size_t length = strips::ToCrLf(text, lines, sizeof lines);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, length + 1);
    void* at = block ? GlobalLock(block) : nullptr;
    if (at) {
        std::memcpy(at, lines, length + 1);
        GlobalUnlock(block);
        if (!SetClipboardData(CF_TEXT, block))
            GlobalFree(block);
    } else if (block) {
        GlobalFree(block);
    }
    CloseClipboard();
}
