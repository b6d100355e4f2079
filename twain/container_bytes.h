#pragma once
// Byte-level reading and editing of TWAIN capability containers.
//
// A container arrives from a data source that may be buggy, so everything here works on a
// pointer and the size of the memory block behind it and never touches a byte outside
// it. No windows.h: this file also builds natively for the sanitizer tests and the fuzzer.
//
// A container is usable when its block holds its header, its ItemType is a TWAIN item
// type and, for lists, NumItems items of that type fit in the block. Ranges must hold a
// numeric item type (TWTY_INT8 .. TWTY_FIX32). Every reader answers "no value" for an
// unusable container and every editor refuses it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/little_endian.h"
#include "twain/twain_defs.h"

// Bytes of one item, indexed by its TWTY_ code; codes 13 to 15 are not item types.
inline constexpr std::array<std::uint16_t, 16> itemSizes{1, 2, 4, 1, 2, 4, 2, 4, 16, 34, 66, 130, 256, 0, 0, 0};

namespace cbytes {

// Field offsets of the four layouts (packed on 2 bytes).
inline constexpr std::size_t offItemType = 0, offNumItems = 2;
inline constexpr std::size_t arrayHeader = 6;                  // ItemList of a TW_ARRAY
inline constexpr std::size_t enumCurrent = 6, enumDefault = 10, enumHeader = 14;
inline constexpr std::size_t oneItem = 2, oneValueBytes = 6;
inline constexpr std::size_t rangeMin = 2, rangeMax = 6, rangeStep = 10, rangeDefault = 14,
                             rangeCurrent = 18, rangeBytes = 22;

// One container in memory: its TWON_ type, its first byte and the size of its block.
struct Block {
    std::uint32_t type;
    std::uint8_t* data;
    std::size_t size;
};

// 0 for a code that is no item type.
std::size_t ItemSize(std::uint32_t itemType);
// Bytes the library allocates for n items; 0 for an unknown container type or a size
// beyond 32 bits.
std::uint32_t ContainerBytes(std::uint32_t containerType, std::uint32_t itemType, std::uint32_t n);

// TW_FIX32 held in 32 bits: Whole in the low half, Frac in the high half.
std::int32_t RoundToLong(double x);
double Fix32BitsToDouble(std::uint32_t bits);
std::uint32_t DoubleToFix32Bits(double x);

// 32-bit value fields (TW_ONEVALUE Item, TW_RANGE fields) and list items.
double FieldToDouble(std::uint32_t itemType, std::uint32_t field);
std::uint32_t DoubleToField(std::uint32_t itemType, double x);
double ItemToDouble(std::uint32_t itemType, const std::uint8_t* item);
// Writes x at the item's own width; false (nothing written) for TW_FRAME and strings.
bool StoreItem(std::uint32_t itemType, std::uint8_t* item, double x);

// Readers. Counts and indices are ints because the library's interface is; a range with
// more items than an int holds is cut at INT32_MAX items.
std::optional<std::uint16_t> ItemType(Block b);
int ItemCount(Block b);  // -1 when unusable
std::optional<double> Item(Block b, int n);  // n clamped to the items
std::uint8_t* ItemPointer(Block b, int n);   // null for a range or an empty list
int FindValue(Block b, double x);            // highest index holding exactly x, or -1
std::optional<double> Current(Block b);
std::optional<double> Default(Block b);
std::optional<std::uint32_t> EnumIndex(Block b, bool current);
std::optional<double> RangeField(Block b, std::size_t offset);

// Editors; each answers whether it changed the container as asked.
bool SetIndex(Block b, int n, bool current);
bool SetValue(Block b, double x, bool current);
bool SetItem(Block b, int n, double x);
bool SetString(Block b, int n, const char* text);
bool SetFrame(Block b, int n, double left, double top, double right, double bottom);
bool DeleteItem(Block b, int n);
// Bytes the block needs before one more item can be inserted (0: cannot insert).
std::uint32_t BytesForInsert(Block b);
// Inserts with the block already large enough (see BytesForInsert). Answers -1 when
// nothing changed, else StoreItem's result (the slot of a frame or string item is zeroed).
int InsertItem(Block b, int n, double x);

// MSG_GETCURRENT answer read as wantType: copies itemSizes[wantType] bytes of the
// current value to out when the container is usable and its item type compatible.
bool ItemTypesCompatible(std::uint32_t have, std::uint32_t want);
bool CopyCurrentValue(Block b, std::uint32_t wantType, std::uint8_t* out);

// Pixel-type restriction of a list of 16-bit values: keeps the mask's types the list
// holds, once each, ascending. Answers the new count; 0 leaves the list as it was.
// Values of 32 and above are no pixel type of any mask and are dropped.
std::uint32_t FilterPixelTypes(std::uint8_t* list, std::uint32_t count, std::uint32_t mask);

enum class PixelOutcome { ok, badContainer, badContainerType, badItemType, empty, noCommonValues };
struct PixelResult {
    PixelOutcome outcome;
    std::uint32_t value;  // 1 for an edited list, the masked bit for a one value, 0 on failure
    bool sendBack;        // the edited list must be set back on the source
};
PixelResult RestrictPixelTypes(Block b, std::uint32_t mask);

}  // namespace cbytes
