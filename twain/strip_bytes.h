#pragma once
// The arithmetic of a buffered memory transfer: which DIB an image needs, whether a strip
// that a source delivered lies inside the image and inside the buffer the library handed
// over, copying it into the DIB's rows, and counting the pixels still to come. Everything
// a source writes into TW_IMAGEINFO and TW_IMAGEMEMXFER is untrusted; these functions
// work over pointers and sizes without windows.h, so they also build natively for the
// sanitizers and the fuzzer.

#include <cstddef>
#include <cstdint>

#include "twain/twain_defs.h"

namespace strips {

// Why no DIB can be made for an image, in the order the checks are made.
enum class Refusal {
    none,
    unknownLength,    // ImageLength -1
    compressed,       // anything but TWCP_NONE
    exoticPixelType,  // beyond TWPT_PALETTE, or negative
    badSize,          // width or length 0 or negative
    noBits,           // BitsPerPixel (or the bits of one plane) 0 or negative
    badSamples,       // planar data with SamplesPerPixel 0, negative or beyond 8
    tooLarge,         // more bytes than any DIB can hold
};

// The DIB an image is assembled into and how its strips arrive.
struct ImagePlan {
    std::int32_t width = 0;
    std::int32_t length = 0;
    int depth = 0;      // bits per pixel of the DIB
    bool planar = false;
    int planes = 1;     // SamplesPerPixel for planar data, else 1
    int planeBits = 0;  // bits per pixel of one plane, as the strips carry them
    std::int64_t pixels = 0;  // of one plane
};

Refusal PlanImage(const TW_IMAGEINFO& info, ImagePlan* plan);
// The message shown for a refusal (never null; empty for none).
void FormatRefusal(Refusal refusal, const TW_IMAGEINFO& info, char* out, std::size_t size);

// Cuts a strip that reaches past the bottom or right edge to the image (unsigned
// comparison: an offset beyond the image leaves the count alone for the check to see).
void ClampStrip(const TW_IMAGEINFO& info, TW_IMAGEMEMXFER& mx);

enum class Action { store, skip, reject };
struct StripCheck {
    Action action = Action::skip;
    const char* report = nullptr;  // reason for the incompatibility report, or null
    std::uint32_t rows = 0;        // rows to store
    std::uint32_t rowStep = 0;     // bytes from one source row to the next
    std::uint32_t rowBytes = 0;    // bytes read from each source row
};
// Checks a clamped strip against the image and against the buffer of bufferLength
// bytes that the library handed over (and the BytesWritten the source filled in);
// sentColumns is Columns as the source sent it, before the clamp.
StripCheck CheckStrip(const ImagePlan& plan, const TW_IMAGEMEMXFER& mx, std::uint32_t sentColumns,
                      std::uint32_t bufferLength);

// Copies a checked strip from buffer into the DIB (the whole packed DIB of dibSize
// bytes); plane is the current plane of planar data. False when the DIB is not one
// that the plan describes.
bool StoreStrip(std::uint8_t* dib, std::size_t dibSize, const ImagePlan& plan, const TW_IMAGEMEMXFER& mx,
                const StripCheck& check, const std::uint8_t* buffer, int plane);

// Pixels still expected, plane by plane.
// A source that answers strip after strip without pixels is given up on after this many.
inline constexpr int kMaxEmptyStrips = 1000;
struct Progress {
    std::int64_t remaining = 0;
    int plane = 0;
    int emptyStrips = 0;
};
enum class Next { more, done, stalled };
Progress StartProgress(const ImagePlan& plan);
// Counts a stored strip of `pixels` pixels; lastStrip when the source said TWRC_XFERDONE.
Next Advance(const ImagePlan& plan, Progress& progress, std::int64_t pixels, bool lastStrip);

// One strip as the memory transfer takes it: clamp, check, store, count.
struct StripOutcome {
    Next next = Next::more;
    bool rejected = false;
    const char* report = nullptr;  // a reason to report, with or without rejection
};
StripOutcome TakeStrip(std::uint8_t* dib, std::size_t dibSize, const TW_IMAGEINFO& info, const ImagePlan& plan,
                       Progress& progress, TW_IMAGEMEMXFER& mx, const std::uint8_t* buffer,
                       std::uint32_t bufferLength, bool lastStrip);

// The source delivers red, green, blue; a chunky 24-bit DIB holds blue, green, red. The
// strip step swaps them as it copies (a pass of its own over the page cost as much as
// the copy).
bool NeedsRedBlueSwap(const ImagePlan& plan);

// Fills the colour table from a palette: at most 256 elements (NumColors is cut), each
// into the entry its Index names; an Index beyond the table is skipped. The table keeps
// its full size so that the rows behind it stay where they were stored; entries no
// element names keep the gray ramp. Answers the number of entries set.
int ApplyPalette(std::uint8_t* dib, std::size_t dibSize, const TW_PALETTE8& palette);

// Copies text into out (size characters, always terminated) with every line feed turned
// into carriage return and line feed; answers the characters written.
std::size_t ToCrLf(const char* text, char* out, std::size_t size);

}  // namespace strips
