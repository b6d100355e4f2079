#pragma once
// Checked views of a container block, shared by the byte-level readers and editors.
// A view exists only when the whole of what it describes lies inside the block.

#include "twain/container_bytes.h"

namespace cbytes {

// TW_ARRAY or TW_ENUMERATION whose NumItems items fit in the block.
struct ListView {
    std::uint16_t itemType;
    std::size_t itemSize;
    std::uint32_t count;
    std::uint8_t* items;
};
std::optional<ListView> ListOf(Block b);

// TW_ONEVALUE whose Item (4 bytes, or the whole frame or string) fits in the block.
struct OneValueView {
    std::uint16_t itemType;
    std::uint8_t* item;
};
std::optional<OneValueView> OneValueOf(Block b);

// TW_RANGE of a numeric item type. A range that cannot be stepped (StepSize not above
// 0, or MaxValue below MinValue) holds its minimum and, when greater, its maximum.
struct RangeView {
    std::uint16_t itemType;
    double min, max, step;
    bool stepped;
    int count;
};
std::optional<RangeView> RangeOf(Block b);
double RangeItem(const RangeView& r, int n);

// Bytes before the items (or the whole fixed layout) of a container type.
std::size_t HeaderBytes(std::uint32_t containerType);

}  // namespace cbytes
