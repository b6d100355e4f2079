#pragma once
// Another program's hold on a store: byte-range locks through a handle of its own on the
// index file, at the bytes every program that uses the store respects
// (store/core/store_lock.h).

#include "store/core/store_lock.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class StoreHold {
public:
    explicit StoreHold(const std::string& indexPath);
    ~StoreHold();
    StoreHold(const StoreHold&) = delete;
    StoreHold& operator=(const StoreHold&) = delete;
    // Locks the byte at offset, shared or exclusive, waiting for it; with now, answers
    // false at once when another program holds it.
    bool Take(uint32_t offset, bool exclusive, bool now = false);
    // Lets go of every byte taken.
    void Release();

private:
    HANDLE file_;
    std::vector<uint32_t> held_;
};
