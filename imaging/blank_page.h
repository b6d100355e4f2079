#pragma once
// Whether a scanned page is blank: nothing but paper once a margin at the sheet's edge
// is left out (where punch holes, staples and the edge's shadow lie), whatever its tint,
// its uneven light, its sensor noise or the print of its back showing through. A short
// line of text, a signature or a stamp is ink, and makes the page not blank. Sizes are
// physical, taken from the DIB's resolution (300 dpi where it gives none). No windows.h:
// the same code runs natively under the sanitizers and the fuzzer.

#include <cstddef>
#include <cstdint>

namespace imaging {

struct BlankVerdict {
    bool readable = false;  // false: unsafe or compressed rows, or no memory to look; not blank
    bool blank = false;
    double inkArea = 0;     // square millimetres of the ink features found inside the margin
    int features = 0;       // how many there are
    int paperLevel = 0;     // the paper's usual grey level (0 to 255)
};

// Ink features smaller than this many millimetres across are dust or a stray dot.
constexpr double kSmallestFeatureMm = 1.0;
// A page with less ink than this, in square millimetres, is blank: a fleck of dirt has
// less, a short line of small print several times as much.
constexpr double kLeastInkArea = 2.0;

BlankVerdict JudgeBlankPage(const uint8_t* dib, size_t size);
inline bool IsBlankPage(const uint8_t* dib, size_t size)
{
    return JudgeBlankPage(dib, size).blank;
}

}  // namespace imaging
