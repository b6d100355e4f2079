#pragma once
// Scripted capabilities of the virtual scanner: the profile can make it answer any
// capability with any container, item type and item count (also ones no sound source
// would send), refuse gets and sets, and it logs every container it receives on MSG_SET.
// Parsing needs no Windows headers.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "twain/twain_defs.h"

namespace vs {

struct CapScript {
    TW_UINT16 cap = 0;
    bool nullHandle = false;        // answer success without a container
    TW_UINT16 conType = TWON_ONEVALUE;
    TW_UINT16 itemType = TWTY_UINT16;
    std::vector<std::string> values;  // numbers, or the text of string items
    std::optional<TW_UINT32> count;   // NumItems written instead of the number of values
    TW_UINT32 current = 0;            // enumeration indices; range current and default values
    TW_UINT32 defaultIndex = 0;
    std::optional<std::string> rangeCurrent, rangeDefault;
    TW_UINT16 getRc = TWRC_SUCCESS;   // answer to MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT
    TW_UINT16 setRc = TWRC_SUCCESS;   // answer to MSG_SET
};

// True for keys this module reads ("cap.<capability>", "cap.<capability>.get",
// "cap.<capability>.set").
bool IsCapScriptKey(std::string_view key);
// Applies one such line to the list; false when it cannot be used.
bool ApplyCapScript(std::vector<CapScript>& scripts, std::string_view key, std::string_view value);

// Names and codes used by the profile and the log.
std::optional<TW_UINT16> CapCode(std::string_view name);
const char* ContainerName(TW_UINT16 conType);
const char* ItemTypeName(TW_UINT16 itemType);

// Encoding and decoding of container bytes.
std::vector<TW_UINT8> EncodeScript(const CapScript& s);
// "ENUMERATION UINT16 items=0,1 current=0 default=0": the container as received, read
// only as far as its block holds.
std::string DescribeContainer(TW_UINT16 conType, const TW_UINT8* data, std::size_t size);

}  // namespace vs
