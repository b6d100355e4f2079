#pragma once
// The page the clean-up tests and benchmarks draw for themselves: lines of text-like
// strokes 3 to 5 pixels wide on paper lit from 255 on the left down to 150 on the right,
// with sensor noise (sigma 6), turned by a known angle and set in a dark border when
// asked. Knows which pixel is ink, paper or border. And the sheets of a feeder batch that
// are blank or nearly so. No windows.h.

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

// A sheet of a feeder batch: paper with what a scan of it carries besides (a tint, light
// falling off to the right, sensor noise, the shadow along its edges, two punch holes, a
// staple's shadow along the top left corner, the back's print showing through faintly), and
// on it nothing, or one mark: a short line of text, a signature, a round stamp.
enum class Tint { kWhite, kGrey, kYellowish };
enum class Mark { kNone, kTextLine, kSignature, kStamp };

struct Sheet {
    double widthMm = 148, heightMm = 210;  // A5
    double dpi = 150;
    Tint tint = Tint::kWhite;
    Mark mark = Mark::kNone;
    uint32_t seed = 1;  // moves holes and marks by up to 3 mm; odd seeds scan the holes dark
};

// The sheet as a packed DIB: 24 bits, bottom-up, the sheet's resolution.
std::vector<uint8_t> MakeSheet(const Sheet& sheet);

}  // namespace testpage
