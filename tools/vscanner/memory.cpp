// The buffered memory transfer: the buffer the source prefers, the strips it fills into
// the application's buffer, and the palette of a palette image.
#include "tools/vscanner/scanner.h"

namespace vs {
namespace {
StripCursor cursor;
bool transferring = false;  // strips of the current image are being handed out
int page = 0;

StripSettings Settings()
{
    StripSettings s = source->strips;
    s.compression = CurrentCapability(ICAP_COMPRESSION);
    if (source->xferAnswer == XferAnswer::Cancel && s.cancelAt == 0)
        s.cancelAt = 1;
    return s;
}

// The application's buffer, as its flags say: a pointer, or a handle to lock.
std::uint8_t* LockBuffer(const TW_MEMORY& memory)
{
    if (memory.Flags & TWMF_HANDLE)
        return static_cast<std::uint8_t*>(GlobalLock(static_cast<HGLOBAL>(memory.TheMem)));
    return static_cast<std::uint8_t*>(memory.TheMem);
}

void UnlockBuffer(const TW_MEMORY& memory)
{
    if (memory.Flags & TWMF_HANDLE)
        GlobalUnlock(static_cast<HGLOBAL>(memory.TheMem));
}

TW_UINT16 Begin()
{
    if (CurrentCapability(ICAP_XFERMECH) != TWSX_MEMORY)
        return Fail(TWCC_SEQERROR);
    if (TW_UINT16 refusal; TransferRefused(refusal))
        return Fail(refusal);
    cursor = StripCursor{};
    page = pagesDone;
    transferring = true;
    return TWRC_SUCCESS;
}

void Describe(const Strip& s)
{
    std::string text = "strip " + std::to_string(cursor.number);
    if (s.plane >= 0)
        text += " plane " + std::to_string(s.plane);
    text += " rows=" + std::to_string(s.rows) + " cols=" + std::to_string(s.columns) +
            " x=" + std::to_string(s.xOffset) + " y=" + std::to_string(s.yOffset) +
            " bpr=" + std::to_string(s.bytesPerRow) + " written=" + std::to_string(s.bytesWritten);
    if (s.compression != TWCP_NONE)
        text += " compression=" + std::to_string(s.compression);
    AddDetail(text);
}
}  // namespace

void ResetMemoryTransfer()
{
    cursor = StripCursor{};
    transferring = false;
}

TW_UINT16 OnSetupMemXfer(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (msg != MSG_GET || !data)
        return Fail(TWCC_BADPROTOCOL);
    if (!source || state < kOpen || state > kReady)
        return Fail(TWCC_SEQERROR);
    auto& setup = *static_cast<TW_SETUPMEMXFER*>(data);
    const TW_UINT32 row = StripRowBytes(CurrentFormat(), source->strips, static_cast<std::uint32_t>(source->width));
    setup.MinBufSize = row < source->bufferSize ? row : source->bufferSize;
    setup.MaxBufSize = TWON_DONTCARE32;
    setup.Preferred = source->bufferSize;
    AddDetail("Preferred=" + std::to_string(setup.Preferred));
    return TWRC_SUCCESS;
}

TW_UINT16 OnImageMemXfer(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (msg != MSG_GET || !data)
        return Fail(TWCC_BADPROTOCOL);
    if (state == kReady) {
        if (TW_UINT16 rc = Begin(); rc != TWRC_SUCCESS)
            return rc;
    } else if (state != kTransferring || !transferring || cursor.finished) {
        return Fail(TWCC_SEQERROR);
    }
    auto& mx = *static_cast<TW_IMAGEMEMXFER*>(data);
    std::uint8_t* buffer = LockBuffer(mx.Memory);
    if (!buffer)
        return Fail(TWCC_BADVALUE);
    const Strip s = NextStrip(CurrentFormat(), page, Settings(), cursor, buffer, mx.Memory.Length);
    UnlockBuffer(mx.Memory);
    if (s.rc == TWRC_FAILURE)
        return Fail(s.condition);
    state = kTransferring;
    if (s.rc == TWRC_CANCEL) {
        AddDetail("strip " + std::to_string(cursor.number));
        return TWRC_CANCEL;
    }
    mx.Compression = s.compression;
    mx.BytesPerRow = s.bytesPerRow;
    mx.Columns = s.columns;
    mx.Rows = s.rows;
    mx.XOffset = s.xOffset;
    mx.YOffset = s.yOffset;
    mx.BytesWritten = s.bytesWritten;
    Describe(s);
    if (s.rc == TWRC_XFERDONE)
        PageHandedOver();
    return s.rc;
}

TW_UINT16 OnPalette8(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (msg != MSG_GET || !data)
        return Fail(TWCC_BADPROTOCOL);
    if (!source || (state != kReady && state != kTransferring))
        return Fail(TWCC_SEQERROR);
    const PageFormat f = CurrentFormat();
    const int colours = source->paletteColors ? source->paletteColors : TableSize(f);
    *static_cast<TW_PALETTE8*>(data) = PagePalette(f, colours, source->paletteOrder);
    AddDetail("NumColors=" + std::to_string(colours));
    return TWRC_SUCCESS;
}

}  // namespace vs
