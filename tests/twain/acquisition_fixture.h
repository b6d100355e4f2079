#pragma once
// The fixture of the acquisition tests: the scripted manager with a source that accepts
// a transfer mechanism, no compression and a pixel type, announces an image after every
// enable and hands over a 5 x 3 DIB in a native transfer; and a watcher that answers and
// remembers every message box shown meanwhile.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scripted_dsm.h"
#include "support/box_watch.h"

namespace twtest {

class ScriptedAcquisition : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallFake();
        for (TW_UINT16 cap : {ICAP_XFERMECH, ICAP_COMPRESSION, ICAP_PIXELTYPE})
            Script(cap, TWON_ONEVALUE, {TWTY_UINT16, 0, 0, 0, 0, 0});
        fake.events = {MSG_XFERREADY};
        fake.native = [] { return static_cast<TW_HANDLE>(MakeDib(5, 3)); };
        watcher = std::make_unique<boxes::BoxWatcher>();
    }
    void TearDown() override
    {
        watcher.reset();
        TWAIN_ResetSessionForTest();
    }
    // The texts of the boxes shown so far.
    std::vector<std::string> Boxes()
    {
        std::vector<std::string> texts;
        for (const auto& b : watcher->Seen())
            texts.push_back(b.text);
        return texts;
    }
    std::unique_ptr<boxes::BoxWatcher> watcher;
};

}  // namespace twtest
