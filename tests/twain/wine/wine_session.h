#pragma once
// Sessions through Wine's real Source Manager and the virtual scanner
// (build/bin/vscanner.ds, installed by wine-run as C:\windows\twain_32\sane.ds,
// or twain_64 in a 64-bit prefix).
// Each test writes the scanner's profile and reads the scanner's log.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "twain/session.h"

namespace twtest {

// A transfer mechanism no source has: the hook transfers nothing with it.
inline constexpr int kNoMechanism = 0xFFFF;

class WineSession : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the scanner's profile (read when the manager next lists or opens sources).
    void UseProfile(const std::string& text);
    // The scanner's log, line by line.
    std::vector<std::string> Log() const;
    // The log without listing (DAT_IDENTITY/MSG_GET) and without events that were not
    // the source's: the session's own triplets and signals.
    std::vector<std::string> SessionLog() const;
    // Feeds the thread's messages through the message hook, dispatching the others,
    // until done() holds; false on timeout.
    bool Pump(const std::function<bool()>& done, DWORD timeoutMs = 5000);
    // Opens the default source and enables it without its dialog; waits for
    // MSG_XFERREADY (state 6).
    void ReachTransferReady();

    std::string profilePath;
    std::string logPath;
    UINT lastPumpedMessage = 0;  // the message that made done() hold
};

}  // namespace twtest
