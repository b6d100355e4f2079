#pragma once
// Deflate for pixels a scanner's noise leaves nothing to search in: literals and runs of
// the byte before (distance 1), coded with Huffman tables made for every 16,384 of them,
// as zlib's run-length strategy codes them, in some two fifths of its time (zlib spends
// most of that strategy in its general symbol buffer and bit output) and to the same size
// within a few bytes. Each group of symbols goes out as whichever of a dynamic, fixed or
// stored block is the smallest. The blocks are ordinary deflate: any inflater reads them.
// No windows.h: the same code runs natively under the sanitizers.

#include <cstdint>
#include <span>
#include <vector>

namespace pgz {

// Appends bytes to out as raw deflate blocks. Unless last, they end with a sync flush (an
// empty stored block, on a byte boundary), so more blocks can follow; when last, the
// final block ends the stream. Throws std::bad_alloc when out cannot grow.
void DeflateRuns(std::span<const uint8_t> bytes, bool last, std::vector<uint8_t>& out);

}  // namespace pgz
