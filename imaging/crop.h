#pragma once
// A rectangle of a packed DIB as a DIB of the same kind (depth, header, colour table or
// masks, row order, resolution). No windows.h.

#include "imaging/clean_up.h"

#include <cstddef>
#include <cstdint>

namespace imaging {

// Bytes of the cut DIB, or 0 when the DIB cannot be cut (unsafe, run-length compressed)
// or the box does not lie inside its picture (rows counted from the top).
uint64_t CroppedBytes(const uint8_t* dib, size_t size, const Box& box);
// Writes it into out (at least CroppedBytes); false, nothing written, when it cannot.
bool Crop(const uint8_t* dib, size_t size, const Box& box, uint8_t* out, size_t outSize);

}  // namespace imaging
