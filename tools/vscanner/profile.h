#pragma once
// The virtual scanner's profile: what each source it presents is called, what page it
// produces, which capability values it offers, and which faults it plays.
//
// Plain text, one "key = value" a line, '#' starts a comment. Keys before the first
// "[source]" line are defaults for every source; each "[source]" starts a new source
// from those defaults. A file without "[source]" describes one source.
// Parsing needs no Windows headers.

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vscanner/cap_script.h"
#include "tools/vscanner/mem_strips.h"
#include "twain/twain_defs.h"

namespace vs {

enum class EnableAnswer { Success, CheckStatus, Failure };
enum class XferAnswer { Done, Cancel, Failure };
// When MSG_CLOSEDSREQ comes: never, just before or just after MSG_XFERREADY, in its
// place, or once the last pending image was ended.
enum class CloseRequest { None, Before, After, Instead, Done };
// What a native transfer hands over: the DIB in a global block, a GDI bitmap (a DIB
// section) holding it, a GDI object that is no bitmap, or no handle at all.
enum class NativeHandle { Global, DibSection, Pen, Null };

// Fields of TW_IMAGEINFO a profile can make the source report instead of the truth.
struct InfoOverrides {
    std::optional<long> width, length, samplesPerPixel, bitsPerSample, bitsPerPixel, planar, pixelType, compression;
};

// A header field of the native DIB written over the true value (offset in the header).
struct HeaderOverride {
    int offset;
    int size;  // 2 or 4 bytes
    long value;
};

struct SourceProfile {
    // Identity
    std::string name = "Pagorex Virtual Scanner";
    std::string manufacturer = "Pagorex";
    std::string family = "Virtual Scanner";
    std::string versionInfo = "1.0";
    TW_UINT16 majorVersion = 1;
    TW_UINT16 minorVersion = 0;

    // The page: size in pixels, depth and resolution (dots per inch).
    int width = 320;
    int height = 240;
    int bits = 24;
    TW_UINT16 pixelType = TWPT_RGB;
    double resolution = 100.0;
    int pages = 1;                // pending transfers after MSG_XFERREADY
    std::bitset<kMostPages> blankPages;  // bit n: the (n + 1)th page handed over is a blank sheet
    bool unknownCount = false;    // report Count -1 while pages remain

    // Capabilities
    std::vector<TW_UINT16> xferMechs = {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY};
    TW_UINT16 xferMech = TWSX_NATIVE;
    std::vector<TW_UINT16> pixelTypes = {TWPT_BW, TWPT_GRAY, TWPT_RGB};
    std::vector<TW_UINT16> compressions = {TWCP_NONE};
    bool feeder = false;          // CAP_FEEDERENABLED may be set TRUE
    bool feederEnabled = false;
    bool autoFeed = false;
    TW_UINT16 duplex = TWDX_NONE; // CAP_DUPLEX
    bool duplexEnabled = false;
    TW_INT16 xferCount = -1;
    std::vector<CapScript> capScripts;  // "cap.<capability>" keys (cap_script.h)

    // Faults
    TW_UINT16 openFailure = TWCC_SUCCESS;  // non-zero: MSG_OPENDS fails with this code
    std::string openDirectory;             // current directory set while opening
    bool openNeedsIdentity = false;        // refuse MSG_OPENDS unless it names this source
    EnableAnswer enableAnswer = EnableAnswer::Success;
    TW_UINT16 enableFailure = TWCC_BUMMER;
    CloseRequest closeRequest = CloseRequest::None;
    XferAnswer xferAnswer = XferAnswer::Done;
    TW_UINT16 xferFailure = TWCC_BUMMER;
    int failAfter = -1;                    // transfers after this many fail (-1: none do)
    int endXferFailures = 0;               // MSG_ENDXFER fails this often (-1: always)
    TW_UINT16 endXferFailure = TWCC_BUMMER;
    bool countStuck = false;               // MSG_ENDXFER never lowers the pending count
    int scanDelay = -1;                    // ms after enabling until MSG_XFERREADY (-1: at once without
                                           // the dialog, on Scan with it)
    int scans = 1;                         // announcements while enabled without the dialog

    // Buffered memory transfer
    TW_UINT32 bufferSize = 16384;          // TW_SETUPMEMXFER Preferred
    StripSettings strips;                  // rows per strip, padding, planes, strip faults
    int paletteColors = 0;                 // NumColors of DAT_PALETTE8 (0: the depth's table)
    PaletteOrder paletteOrder = PaletteOrder::Index;
    InfoOverrides info;

    // Native transfer
    NativeHandle nativeHandle = NativeHandle::Global;
    std::string nativeFile;                // a bitmap file or packed DIB handed over as it is
    std::vector<HeaderOverride> dibHeader; // "dib.<field>" keys
    long dibBlockSize = -1;                // bytes of the global block (-1: the DIB's size)

    // File transfer
    std::vector<TW_UINT16> fileFormats = {TWFF_TIFF, TWFF_PICT, TWFF_BMP, TWFF_XBM, TWFF_JFIF,
                                          TWFF_FPX,  TWFF_TIFFMULTI, TWFF_PNG, TWFF_SPIFF, TWFF_EXIF};
    std::string fileName = "TWAIN.TMP";    // DAT_SETUPFILEXFER default
    TW_UINT16 fileFormat = TWFF_BMP;
};

struct Profile {
    std::vector<SourceProfile> sources;
    std::vector<std::string> problems;  // lines that could not be used, for the log
};

// Parses a profile; never fails: unusable lines are noted in problems and skipped.
Profile ParseProfile(std::string_view text);

// Bits per pixel of a page of the given pixel type, when the profile does not say.
int DefaultBits(TW_UINT16 pixelType);

}  // namespace vs
