#pragma once
// Container bytes exactly as a data source would lay them out, for scripting answers.

#include <cstdint>
#include <vector>

#include "twain/twain_defs.h"

namespace capbytes {

using Bytes = std::vector<std::uint8_t>;

// Writes v little-endian in width bytes at `at`, growing b as needed; bytes beyond the
// fourth are zero.
void Put(Bytes& b, std::size_t at, std::uint32_t v, std::size_t width);

// Items are written at the item type's width (TW_FIX32 values as their 32 bits).
Bytes Enumeration(TW_UINT16 itemType, const std::vector<std::uint32_t>& items, std::uint32_t current = 0,
                  std::uint32_t def = 0);
Bytes Array(TW_UINT16 itemType, const std::vector<std::uint32_t>& items);
Bytes OneValue(TW_UINT16 itemType, std::uint32_t item);
Bytes Range(TW_UINT16 itemType, std::uint32_t min, std::uint32_t max, std::uint32_t step, std::uint32_t current,
            std::uint32_t def);

}  // namespace capbytes
