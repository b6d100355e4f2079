#pragma once
// The virtual scanner's profile: what each source it presents is called, what page it
// produces, which capability values it offers, and which faults it plays.
//
// Plain text, one "key = value" a line, '#' starts a comment. Keys before the first
// "[source]" line are defaults for every source; each "[source]" starts a new source
// from those defaults. A file without "[source]" describes one source.
// Parsing needs no Windows headers.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vscanner/cap_script.h"
#include "twain/twain_defs.h"

namespace vs {

enum class EnableAnswer { Success, CheckStatus, Failure };
enum class XferAnswer { Done, Cancel, Failure };

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
    EnableAnswer enableAnswer = EnableAnswer::Success;
    TW_UINT16 enableFailure = TWCC_BUMMER;
    bool closeRequestFirst = false;        // MSG_CLOSEDSREQ before MSG_XFERREADY
    XferAnswer xferAnswer = XferAnswer::Done;
    TW_UINT16 xferFailure = TWCC_BUMMER;
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
