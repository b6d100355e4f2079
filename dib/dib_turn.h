#pragma once
// Turning a packed DIB by quarter and half turns, byte for byte, into a second block
// (no windows.h: the same code runs natively under the sanitizers and the fuzzer).
//
// The turned copy keeps everything that is not a pixel: the header kind, the colour
// table or bit-field masks, the depth and the storage order (a top-down DIB stays
// top-down) and whatever the block holds behind the rows. A quarter turn swaps width
// and height and the two resolutions. Rows are padded afresh for the new width with
// zero bytes, so four quarter turns give back a DIB whose padding was zero byte for byte.

#include <cstddef>
#include <cstdint>

enum class DibTurn { kClockwise, kCounterClockwise, kHalf };

// Bytes of the turned copy of a packed DIB of `size` bytes, or 0 when it cannot be turned:
// it is not safe, or its rows are run-length compressed.
uint64_t DibMemTurnedBytes(const uint8_t* dib, size_t size, DibTurn turn);
// Writes the turned copy into out, which holds at least DibMemTurnedBytes bytes; false
// (nothing written) when the DIB cannot be turned or out is too small.
bool DibMemTurn(const uint8_t* dib, size_t size, DibTurn turn, uint8_t* out, size_t outSize);
