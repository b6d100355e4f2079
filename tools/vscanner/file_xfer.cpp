// The file transfer: the file name and format the application sets up, and the page
// written there (a bitmap file, a TIFF, or for formats it cannot encode a small text
// file that names the format).
#include "tools/vscanner/scanner.h"

#include <cstring>
#include <vector>

namespace vs {
namespace {
TW_SETUPFILEXFER current;

constexpr const char* kFormatNames[] = {"TWFF_TIFF", "TWFF_PICT",      "TWFF_BMP", "TWFF_XBM",   "TWFF_JFIF",
                                        "TWFF_FPX",  "TWFF_TIFFMULTI", "TWFF_PNG", "TWFF_SPIFF", "TWFF_EXIF"};

std::string FormatName(TW_UINT16 format)
{
    return format < std::size(kFormatNames) ? kFormatNames[format] : "format " + std::to_string(format);
}

void Defaults(TW_SETUPFILEXFER& setup)
{
    setup = TW_SETUPFILEXFER{};
    const std::size_t n = source->fileName.size() < 255 ? source->fileName.size() : 255;
    std::memcpy(setup.FileName, source->fileName.data(), n);
    setup.Format = source->fileFormat;
}

void Describe(const TW_SETUPFILEXFER& setup)
{
    AddDetail("FileName=" + std::string(setup.FileName) + " Format=" + FormatName(setup.Format));
}

std::vector<std::uint8_t> FileBytes(TW_UINT16 format)
{
    const PageFormat f = CurrentFormat();
    if (format == TWFF_BMP)
        return PageBitmapFile(f, pagesDone);
    if (format == TWFF_TIFF || format == TWFF_TIFFMULTI)
        return PageTiff(f, pagesDone);
    const std::string text = FormatName(format) + ": page " + std::to_string(pagesDone + 1) +
                             " of the virtual scanner, which writes no such file.\r\n";
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

bool WriteWhole(const char* path, const std::vector<std::uint8_t>& bytes)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}
}  // namespace

void ResetFileTransfer()
{
    Defaults(current);
}

TW_UINT16 OnSetupFileXfer(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (!data)
        return Fail(TWCC_BADVALUE);
    if (!source || state < kOpen || state > kReady)
        return Fail(TWCC_SEQERROR);
    auto& setup = *static_cast<TW_SETUPFILEXFER*>(data);
    switch (msg) {
    case MSG_GET:
        setup = current;
        break;
    case MSG_GETDEFAULT:
        Defaults(setup);
        break;
    case MSG_RESET:
        Defaults(current);
        setup = current;
        break;
    case MSG_SET: {
        TW_SETUPFILEXFER received = setup;
        received.FileName[sizeof received.FileName - 1] = '\0';
        Describe(received);
        bool known = false;
        for (TW_UINT16 f : source->fileFormats)
            known = known || f == received.Format;
        if (!known || received.FileName[0] == '\0')
            return Fail(TWCC_BADVALUE);
        current = received;
        return TWRC_SUCCESS;
    }
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
    Describe(setup);
    return TWRC_SUCCESS;
}

TW_UINT16 OnImageFileXfer(pTW_IDENTITY, TW_UINT16 msg, void*)
{
    if (msg != MSG_GET)
        return Fail(TWCC_BADPROTOCOL);
    if (state != kReady || CurrentCapability(ICAP_XFERMECH) != TWSX_FILE)
        return Fail(TWCC_SEQERROR);
    if (TW_UINT16 refusal; TransferRefused(refusal))
        return Fail(refusal);
    if (source->xferAnswer == XferAnswer::Cancel) {
        state = kTransferring;
        return TWRC_CANCEL;
    }
    Describe(current);
    if (!WriteWhole(current.FileName, FileBytes(current.Format)))
        return Fail(TWCC_FILEWRITEERROR);
    state = kTransferring;
    PageHandedOver();
    return TWRC_XFERDONE;
}

}  // namespace vs
