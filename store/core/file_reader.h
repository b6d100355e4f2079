#pragma once
// Read access to one store file, as the core reads it: positioned reads, so that a scan of
// the index and the blob reads between its steps never move each other's place. The
// platform supplies files (the tools open them read-only, sharing them with a running
// program); tests and the fuzzer hand over bytes in memory.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

class FileReader {
public:
    // Reads up to count bytes at offset: the count read, fewer only where the file ends,
    // or -1 when reading failed.
    virtual int64_t ReadAt(uint64_t offset, void* buffer, size_t count) = 0;
    // The file's size now (a running program may be appending to it).
    virtual uint64_t Size() = 0;

protected:
    ~FileReader() = default;
};

// A file held in memory.
class MemoryReader final : public FileReader {
public:
    explicit MemoryReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    int64_t ReadAt(uint64_t offset, void* buffer, size_t count) override
    {
        if (offset >= bytes_.size())
            return 0;
        size_t n = std::min<uint64_t>(count, bytes_.size() - offset);
        std::memcpy(buffer, bytes_.data() + offset, n);
        return static_cast<int64_t>(n);
    }
    uint64_t Size() override { return bytes_.size(); }

private:
    std::span<const uint8_t> bytes_;
};
