#pragma once
// pagorex-store run end to end as a separate program, on stores laid out byte by byte in
// a scratch directory. The same cases run the Linux build natively and the Windows build
// under Wine; only starting the program differs (tool_run_posix.cpp, tool_run_windows.cpp).

#include "support/store_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

struct ToolRun {
    int exitCode = -1;
    std::string out, err;  // line ends as \n
    long maxRssKb = 0;     // the peak memory of the run (Linux only)
};

// Runs pagorex-store with args and waits for it.
ToolRun RunTool(const std::vector<std::string>& args);
// Runs command (a program looked up on the PATH, and its first arguments) with args
// (Linux only).
ToolRun RunCommand(const std::vector<std::string>& command, const std::vector<std::string>& args);

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Dir() const { return dir_.string(); }
    void Write(const std::string& name, const storefiles::Bytes& bytes) const;
    storefiles::Bytes Read(const std::string& name) const;
    bool Exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }
    // Every file of the store directory with its bytes, to show the tool changed nothing.
    std::vector<std::pair<std::string, storefiles::Bytes>> Snapshot() const;

    std::filesystem::path dir_;
};
