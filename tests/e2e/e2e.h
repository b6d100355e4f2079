#pragma once
// Shared pieces of the end-to-end tests: a fresh store directory per test and the real
// program started on it.

#include "support/driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// The display's dots per inch, which must be 96, or PAGOREX_EXPECT_DPI in a prefix of its own.
inline int DisplayDpi()
{
    const char* expected = std::getenv("PAGOREX_EXPECT_DPI");
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(dpi, expected ? std::atoi(expected) : 96) << "the display is not at the scale this run is for";
    return dpi;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = driver::MakeTempDirectory("pgx-e2e"); }
    void TearDown() override
    {
        driver::Release(program_);
        driver::RemoveDirectoryTree(dir_);
    }

    std::string Path(const std::string& name) const { return dir_ + "\\" + name; }
    static std::string Exe() { return driver::BinDirectory() + "pagorex.exe"; }

    // Starts the program for a record of the test's store and waits for its window.
    // Unless keepOptions, it starts from the options' initial values.
    void StartFor(int record, const std::string& hostFile = "CALLS.DB", bool keepOptions = false)
    {
        ASSERT_TRUE(driver::Start(program_, Exe(), std::to_string(record) + " " + Path(hostFile), dir_, keepOptions));
        ASSERT_TRUE(driver::WaitForMainWindow(program_)) << "no main window";
    }
    // Closes the window from its title bar and expects a clean end.
    void CloseAndExpectExit()
    {
        driver::Close(program_.window);
        EXPECT_EQ(driver::WaitForExit(program_), 0);
    }

    std::string dir_;
    driver::Program program_;
};
