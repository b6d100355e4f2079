#pragma once
// The page the clean-up tests and benchmarks draw for themselves: lines of text-like
// strokes 3 to 5 pixels wide on paper lit from 255 on the left down to 150 on the right,
// with sensor noise (sigma 6), turned by a known angle and set in a dark border when
// asked. Knows which pixel is ink, paper or border. No windows.h.

#include <cstdint>
#include <vector>

namespace testpage {

enum class Content { kText, kBlank, kNoise };
enum Truth : uint8_t { kPaper = 0, kInk = 1, kBorder = 2 };

struct Drawing {
    int width = 1000;
    int height = 800;
    double degrees = 0;   // lines fall towards the right by this angle
    int border = 0;       // a scanner lid's dark border this wide on every side
    Content content = Content::kText;
    uint32_t seed = 1;
    uint32_t pelsPerMeter = 11811;  // 300 dpi
};

struct Page {
    std::vector<uint8_t> dib;    // packed DIB: 24 bits, bottom-up
    std::vector<uint8_t> truth;  // a Truth for every pixel, top row first
};

Page Make(const Drawing& drawing);
// An A4 page at 300 dpi (2480 x 3508).
Drawing A4(double degrees = 0, int border = 0);

}  // namespace testpage
