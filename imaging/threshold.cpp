// A local threshold: each pixel against the mean and deviation of the window around it.
// The window's sums are kept as sliding sums, column sums down the page and a running
// sum along each row, so every pixel costs the same whatever the window's size.
#include "imaging/clean_up.h"

#include <algorithm>
#include <cmath>

namespace imaging {
namespace {
// Sauvola's k and R: how far below the window's mean the threshold lies where the window
// is flat, and the deviation at which it reaches the mean.
constexpr float kWeight = 0.34f;
constexpr float kRange = 128.0f;
// At most 101 x 101 pixels: their sum of squares still fits 32 bits.
constexpr int kLargestWindow = 101;
constexpr int kSmallestWindow = 15;

void AddRow(const uint8_t* row, int width, int sign, uint32_t* sums, uint32_t* squares)
{
    for (int x = 0; x < width; ++x) {
        uint32_t g = row[x];
        sums[x] += uint32_t(sign) * g;
        squares[x] += uint32_t(sign) * g * g;
    }
}

void ThresholdRow(const uint8_t* grey, uint8_t* out, int width, int r, const uint32_t* sums, const uint32_t* squares,
                  const float* inverse)
{
    uint32_t s = 0, q = 0;
    for (int x = 0; x < std::min(r, width); ++x)
        s += sums[x], q += squares[x];
    for (int x = 0; x < width; ++x) {
        if (x + r < width)
            s += sums[x + r], q += squares[x + r];
        if (x - r - 1 >= 0)
            s -= sums[x - r - 1], q -= squares[x - r - 1];
        const float mean = float(s) * inverse[x];
        const float variance = std::max(0.0f, float(q) * inverse[x] - mean * mean);
        const float threshold = mean * (1.0f + kWeight * (std::sqrt(variance) / kRange - 1.0f));
        out[x] = float(grey[x]) > threshold ? 1 : 0;
    }
}
}  // namespace

int ThresholdWindow(uint32_t pelsPerMeter)
{
    // An eighth of an inch: several strokes of ordinary print, and paper around them.
    double dpi = pelsPerMeter ? pelsPerMeter * 0.0254 : 300.0;
    int side = int(dpi / 8) | 1;
    return std::clamp(side, kSmallestWindow, kLargestWindow);
}

void Binarize(const Plane& grey, int window, Plane& bw)
{
    const int width = grey.width, height = grey.height;
    const int r = std::clamp(window, 1, kLargestWindow) / 2;
    bw.Resize(width, height, 1);
    std::vector<uint32_t> sums(size_t(width), 0), squares(size_t(width), 0);
    std::vector<float> inverse(static_cast<size_t>(width));
    for (int y = 0; y < std::min(r, height); ++y)
        AddRow(grey.Row(y), width, 1, sums.data(), squares.data());
    int lastRows = -1;
    for (int y = 0; y < height; ++y) {
        if (y + r < height)
            AddRow(grey.Row(y + r), width, 1, sums.data(), squares.data());
        if (y - r - 1 >= 0)
            AddRow(grey.Row(y - r - 1), width, -1, sums.data(), squares.data());
        const int rows = std::min(height - 1, y + r) - std::max(0, y - r) + 1;
        if (rows != lastRows) {
            for (int x = 0; x < width; ++x)
                inverse[x] = 1.0f / float((std::min(width - 1, x + r) - std::max(0, x - r) + 1) * rows);
            lastRows = rows;
        }
        ThresholdRow(grey.Row(y), bw.Row(y), width, r, sums.data(), squares.data(), inverse.data());
    }
}

}  // namespace imaging
