#pragma once
// How hard deflate works on an image, chosen by what the image is (its first block's
// bitmap header) and by what each block's pixels show. Level 9 spends four fifths of a
// save looking for long matches; a scanned page's sensor noise leaves almost none, and a
// run-length pass gives the same size in a tenth of the time. A page of one or a few bits
// per pixel (text, line art) is the opposite: its repeats are what it compresses to, and
// there the search pays. Every effort writes ordinary deflate blocks: a member mixing
// them is read like any other.
// No windows.h: the same code runs natively under the sanitizers.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace pgz {

struct Block;

enum class Effort : uint8_t {
    Best,     // zlib level 9: what is no bitmap, and pixels that repeat themselves
    Dense,    // level 9 with a larger hash, searching on past good matches: 1 to 4 bits a pixel
    Fast,     // zlib level 3: pixels with little noise
    Runs,     // runs of one byte only (run_deflate.h): noisy pixels, where longer searches find nothing
    Sampled,  // 8 bits a pixel and more: one of the three above, by a trial on each block
};

// Bits per pixel from the bitmap file headers at the start of bytes (a core header or an
// info header of any version), or 0 when they are no bitmap file or do not say.
uint32_t BitmapDepth(std::span<const uint8_t> bytes);

// The effort for the whole input, given its first block: by the bitmap file header's depth.
Effort ChooseEffort(std::span<const uint8_t> firstBlock);

// What a Sampled block is compressed with: a trial on a slice from its middle takes the
// quickest effort that comes within a few per mille of level 9 there. Deterministic: the
// same bytes always get the same effort, whichever thread compresses them.
Effort TrialEffort(std::span<const uint8_t> blockBytes);

// How many bytes of the input each block after the first takes: a page of few colours
// compresses some 25 to 1, and every block boundary costs it a new set of Huffman tables.
size_t BlockSizeFor(Effort effort);

// A raw deflate stream set up for one effort, reset for every block.
class Deflater {
public:
    explicit Deflater(Effort effort);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    Effort effort() const { return effort_; }
    // Compresses block.Bytes() after its dictionary: a sync flush ends it, or the end of
    // the stream for the last block. Sets output, crc and failed.
    void Compress(Block& block);
    // Compresses bytes alone and answers the size (0 when zlib failed): for trials.
    size_t Measure(std::span<const uint8_t> bytes);

private:
    bool Reset();
    struct Stream;
    std::unique_ptr<Stream> stream_;
    Effort effort_;
};

// A deflater for effort from those kept since earlier blocks (setting one up for level 9
// costs more than a small block), or a new one; handed back when the block is done.
std::unique_ptr<Deflater> LeaseDeflater(Effort effort);
void ReturnDeflater(std::unique_ptr<Deflater> deflater);

}  // namespace pgz
