#pragma once
// A temporary store directory under the Windows temp directory, with the shell's store
// path pointed at it, and helpers to lay out and read back store files.

#include "app/store_commands.h"
#include "store/core/index_record.h"
#include "store/store_files.h"
#include "support/box_watch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

class StoreDirectory : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;
    // Points the shell at this directory for host record number.
    void UseRecord(int32_t number);
    // What the shell hands the store's operations, for the fixture's window.
    StoreHost& Shell() { return *shell; }
    // The store files of the directory the shell points at.
    StoreFiles Files() const;

    std::string Path(const char* name) const { return directory + name; }
    void Write(const char* name, const Bytes& bytes) const;
    Bytes Read(const char* name) const;
    bool Exists(const char* name) const;
    void MakeDirectoryAt(const char* name) const;
    // The index file's records, whole ones only.
    std::vector<IndexRecord> Records() const;

    std::string directory;  // ends with a backslash
    HWND window = nullptr;  // a real hidden window, the shell's main window
    std::unique_ptr<ShellStore> shell;
};

// A host that records what the store's operations show and ask, answering every
// question Yes, for any directory and record.
class RecordingHost final : public StoreHost {
public:
    RecordingHost(std::string directory, int32_t record) : directory_(std::move(directory)), record_(record) {}
    const char* StoreDirectory() override { return usable ? directory_.c_str() : nullptr; }
    int32_t RecordNumber() override { return record_; }
    void SetProgressText(const char* text) override { titles.emplace_back(text); }
    void KeepAlive() override { ++keptAlive; }
    int Message(const char* text, const char* caption, unsigned) override;
    void ShowImage(ImageFileSource* image) override;
    void AddPage(ImageFileSource* image) override;
    // Counts the wait and asks onWait with the count whether to go on waiting; without
    // onWait it gives up after a few hundred rounds rather than hang a test.
    bool WaitForStore() override;
    void StoreWaitEnded() override { ++waitsEnded; }

    bool usable = true;
    std::vector<std::string> titles, messages;
    int keptAlive = 0;
    std::optional<Bytes> shown;  // set once a load handed an image over (empty: none)
    std::vector<Bytes> pages;    // what AddPage was handed after it (empty: null)
    std::function<bool(int wait)> onWait;
    int waits = 0, waitsEnded = 0;

private:
    std::string directory_;
    int32_t record_;
};

Bytes RecordBytes(const IndexRecord& record);
IndexRecord MakeRecord(int32_t number, uint32_t offset, uint32_t stored, uint8_t compressed, uint32_t imageLength,
                       uint8_t deleted = 0);
void FillReserved(IndexRecord& record, uint8_t seed);
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Pattern(size_t size, uint8_t seed);
// A gzip member of bytes, as zlib writes it at level 9.
Bytes Gzip(const Bytes& bytes);
Bytes Gunzip(const Bytes& member);

// A 24-bit bottom-up packed DIB (info header and rows) with pixels from seed, and the
// bitmap file that holds it.
Bytes PackedDib(int width, int height, uint8_t seed);
Bytes BitmapFile(const Bytes& packedDib);
HGLOBAL DibFromBytes(const Bytes& packedDib);
Bytes BytesOfDib(HGLOBAL dib);

// Save Image as the program runs it (SaveRecord), the window's image written as imageFile.
// It goes through the store's file calls, so that a recording of them holds it.
bool SaveImageFile(StoreHost& host, const Bytes& imageFile);
// Save Image while no image is shown: the record is marked as having none.
bool SaveNoImage(StoreHost& host);

// Save Image of a document (SaveDocument), each page written as its image file through the
// store's file calls.
bool SavePages(StoreHost& host, const std::vector<Bytes>& pages);
// What a load of the record hands over, page 1 first (an empty page: none, or null); the
// messages it told go to told.
std::vector<Bytes> LoadPages(const std::string& directory, int32_t record, std::vector<std::string>* told = nullptr);
