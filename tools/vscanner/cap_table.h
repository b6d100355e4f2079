#pragma once
// The scripted capabilities of the open source (profile keys "cap.<capability>...",
// tools/vscanner/README.md) in front of the scanner's own capability table.

#include <windows.h>

#include <optional>

#include "tools/vscanner/profile.h"

namespace vs {

// Takes the open source's scripts (called when a source opens).
void ResetScriptedCapabilities(const SourceProfile& p);
// Logs the container of every MSG_SET; answers a scripted capability, or nothing so
// that the scanner's own table answers.
std::optional<TW_UINT16> ScriptedCapability(TW_UINT16 msg, TW_CAPABILITY& request);

}  // namespace vs
