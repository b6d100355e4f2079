#include "imaging/test_page.h"

#include <cmath>
#include <cstring>

namespace testpage {
namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr int kLinePitch = 60, kGlyphHeight = 30, kCell = 24, kGlyphWidth = 18;

// Normal samples of sigma 6 (Box-Muller), looked up by a cheap generator.
const std::vector<int8_t>& NoiseTable()
{
    static const std::vector<int8_t> table = [] {
        std::vector<int8_t> t(1 << 14);
        uint32_t s = 12345;
        for (size_t i = 0; i < t.size(); i += 2) {
            s = s * 1664525u + 1013904223u;
            double u1 = ((s >> 8) + 1.0) / 16777217.0;
            s = s * 1664525u + 1013904223u;
            double u2 = (s >> 8) / 16777216.0, r = std::sqrt(-2 * std::log(u1)) * 6;
            t[i] = int8_t(std::lround(std::fmax(-127, std::fmin(127, r * std::cos(2 * kPi * u2)))));
            t[i + 1] = int8_t(std::lround(std::fmax(-127, std::fmin(127, r * std::sin(2 * kPi * u2)))));
        }
        return t;
    }();
    return table;
}

uint32_t Hash(uint32_t a, uint32_t b)
{
    uint32_t h = a * 2654435761u ^ (b + 0x9E3779B9u) * 40503u;
    return h ^ h >> 15;
}

// Whether (u, v) of the straight page lies on a stroke: lines of glyphs built from bars 3
// to 5 pixels wide (two sides, top, middle, foot), with gaps between words.
bool Stroke(double u, double v, int left, int top, int right, int bottom)
{
    if (u < left || v < top || u >= right || v >= bottom)
        return false;
    const int line = int(v - top) / kLinePitch, cell = int(u - left) / kCell;
    const double gy = v - top - line * kLinePitch, gx = u - left - cell * kCell;
    if (gy >= kGlyphHeight || gx >= kGlyphWidth)
        return false;
    const uint32_t h = Hash(uint32_t(line), uint32_t(cell));
    if (h % 7 == 0)
        return false;  // a gap between words
    const double w = 3 + h % 3;
    const bool parts[5] = {(h & 8) != 0, (h & 16) != 0 || !(h & 8), (h & 32) != 0, (h & 64) != 0, (h & 128) != 0};
    return (parts[0] && gx < w) || (parts[1] && gx >= kGlyphWidth - w) || (parts[2] && gy < w) ||
           (parts[3] && std::fabs(gy - kGlyphHeight / 2.0) < w / 2) || (parts[4] && gy >= kGlyphHeight - w);
}

uint8_t Clamp(double v)
{
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
}

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// A 24-bit bottom-up DIB of w x h pixels, its header written, its rows zero.
std::vector<uint8_t> Dib24(int w, int h, uint32_t pelsPerMeter)
{
    const int stride = (w * 3 + 3) & ~3;
    std::vector<uint8_t> dib(40 + size_t(stride) * h, 0);
    uint8_t* header = dib.data();
    Put32(header, 40), Put32(header + 4, uint32_t(w)), Put32(header + 8, uint32_t(h));
    header[12] = 1, header[14] = 24;
    Put32(header + 20, uint32_t(stride * h));
    Put32(header + 24, pelsPerMeter), Put32(header + 28, pelsPerMeter);
    return dib;
}

// Glyph strokes as the test page draws them at 300 dpi, placed in millimetres.
bool Glyphs(double x, double y, double left, double top, double right, double bottom)
{
    constexpr double k = 300 / 25.4;
    return Stroke(x * k, y * k, int(left * k), int(top * k), int(right * k), int(bottom * k));
}

// Whether the sheet's mark, moved by s millimetres, has ink at (x, y) millimetres.
bool MarkInk(const Sheet& sheet, double x, double y, double s)
{
    const double u = x - 80 - s, r = std::hypot(x - 95 - s, y - 60 - s);
    const double slope = 3.5 / 2.2 * std::cos(u / 2.2 + sheet.seed) + 1.5 / 0.7 * std::cos(u / 0.7);
    if (sheet.mark == Mark::kTextLine)
        return Glyphs(x, y, 25 + s, 40 + s, 41 + s, 43 + s);
    if (sheet.mark == Mark::kSignature)
        return u >= 0 && u < 45 &&
               std::fabs(y - 170 - s - 3.5 * std::sin(u / 2.2 + sheet.seed) - 1.5 * std::sin(u / 0.7)) <
                   0.22 * std::sqrt(1 + slope * slope);
    // A stamp's two rings, the ink patchy as a stamp leaves it.
    return (std::fabs(r - 14) < 0.5 || std::fabs(r - 10.5) < 0.35) && Hash(uint32_t(x * 5), uint32_t(y * 5)) % 4;
}

// The sheet's colour at (x, y) millimetres, holes and marks moved by s millimetres.
void SheetColour(const Sheet& sheet, double x, double y, double s, double rgb[3])
{
    static constexpr double kTints[3][3] = {{246, 246, 244}, {214, 214, 212}, {250, 242, 205}};
    static constexpr double kInks[4][3] = {{0, 0, 0}, {25, 25, 35}, {30, 40, 140}, {190, 40, 50}};
    const double light = 1 - 0.12 * x / sheet.widthMm;
    const bool hole = std::fabs(x - 12) < 3 && std::hypot(x - 12, std::fabs(y - sheet.heightMm / 2 - s) - 40) < 3;
    const bool ink = !hole && sheet.mark != Mark::kNone && MarkInk(sheet, x, y, s);
    // Shadows of the edges and of a staple along the top, and the back's print.
    const double edge = std::fmin(std::fmin(x, y), std::fmin(sheet.widthMm - x, sheet.heightMm - y));
    const double staple = x > 6 + s && x < 18 + s ? std::fabs(y - 8 - s) : 1;
    double shade = (edge < 2 ? 0.6 + 0.2 * edge : 1) * (staple < 0.25 ? 0.3 : staple < 0.8 ? 0.8 : 1);
    for (double d : {-0.15, 0.0, 0.15})
        shade -= 0.035 * Glyphs(sheet.widthMm - x + d, y - d, 20, 20, sheet.widthMm - 20, sheet.heightMm - 20);
    for (int k = 0; k < 3; ++k)
        rgb[k] = hole ? (sheet.seed % 2 ? 35 : 255)
                      : (ink ? kInks[int(sheet.mark)][k] : kTints[int(sheet.tint)][k] * shade) * light;
}
}  // namespace

std::vector<uint8_t> MakeSheet(const Sheet& sheet)
{
    const double mmPerPixel = 25.4 / sheet.dpi;
    const int w = int(sheet.widthMm / mmPerPixel), h = int(sheet.heightMm / mmPerPixel), stride = (w * 3 + 3) & ~3;
    std::vector<uint8_t> dib = Dib24(w, h, uint32_t(std::lround(sheet.dpi / 0.0254)));
    const std::vector<int8_t>& noise = NoiseTable();
    uint32_t state = sheet.seed * 2654435761u + 11;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = dib.data() + 40 + size_t(h - 1 - y) * stride;
        for (int x = 0; x < w; ++x) {
            double rgb[3];
            SheetColour(sheet, (x + 0.5) * mmPerPixel, (y + 0.5) * mmPerPixel, sheet.seed % 4, rgb);
            for (int k = 0; k < 3; ++k) {
                state = state * 1664525u + 1013904223u;
                row[3 * x + 2 - k] = Clamp(rgb[k] + noise[(state >> 12) & (noise.size() - 1)]);
            }
        }
    }
    return dib;
}

Drawing A4(double degrees, int border)
{
    Drawing s;
    s.width = 2480, s.height = 3508, s.degrees = degrees, s.border = border;
    return s;
}

Page Make(const Drawing& drawing)
{
    const int w = drawing.width, h = drawing.height, stride = (w * 3 + 3) & ~3;
    Page page;
    page.dib = Dib24(w, h, drawing.pelsPerMeter);
    page.truth.assign(size_t(w) * h, kPaper);
    const std::vector<int8_t>& noise = NoiseTable();
    uint32_t state = drawing.seed * 2654435761u + 7;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    const double c = std::cos(drawing.degrees * kPi / 180), s = std::sin(drawing.degrees * kPi / 180);
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
    const int b = drawing.border, pw = w - 2 * b, ph = h - 2 * b;
    const int left = b + pw / 12, top = b + ph / 12, right = w - b - pw / 12, bottom = h - b - ph / 12;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = page.dib.data() + 40 + size_t(h - 1 - y) * stride;
        for (int x = 0; x < w; ++x) {
            const double u = cx + (x - cx) * c + (y - cy) * s, v = cy - (x - cx) * s + (y - cy) * c;
            const double light = 255 - 105.0 * x / (w - 1);
            double rgb[3] = {light, light * 0.97, light * 0.92};
            uint8_t& truth = page.truth[size_t(y) * w + x];
            if (x < b || y < b || x >= w - b || y >= h - b) {
                truth = kBorder;
                rgb[0] = rgb[1] = rgb[2] = 30;
            } else if (drawing.content == Content::kNoise) {
                rgb[0] = rgb[1] = rgb[2] = next() >> 24;
            } else if (drawing.content == Content::kText && Stroke(u, v, left, top, right, bottom)) {
                truth = kInk;
                rgb[0] = light * 0.10, rgb[1] = light * 0.10, rgb[2] = light * 0.16;
            }
            for (int k = 0; k < 3; ++k)
                row[3 * x + 2 - k] = Clamp(rgb[k] + noise[(next() >> 12) & (noise.size() - 1)]);
        }
    }
    return page;
}

}  // namespace testpage
