#pragma once
// A DIB handle locked for the length of one operation (locks nest).
#include <windows.h>

#include <cstdint>

#include "dib/dib_bytes.h"

class LockedDib {
public:
    explicit LockedDib(HGLOBAL dib)
        : dib_(dib), data_(static_cast<uint8_t*>(GlobalLock(dib))),
          size_(data_ ? GlobalSize(dib) : 0)
    {
    }
    ~LockedDib()
    {
        if (data_)
            GlobalUnlock(dib_);
    }
    LockedDib(const LockedDib&) = delete;
    LockedDib& operator=(const LockedDib&) = delete;

    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    // The header can be read (a core header only through DibLayout).
    bool readable() const { return DibHeaderReadable(data_, size_); }
    DibLayout layout() const { return readable() ? DibReadLayout(data_) : DibLayout{}; }
    // The 40-byte header whose fields may change, or null.
    BITMAPINFOHEADER* info() const
    {
        return readable() && DibReadLayout(data_).headerSize != kCoreHeaderBytes
                   ? reinterpret_cast<BITMAPINFOHEADER*>(data_)
                   : nullptr;
    }

private:
    HGLOBAL dib_;
    uint8_t* data_;
    size_t size_;
};
