// Finding the sheet inside a border: the page's levels split in two (Otsu's threshold),
// the class of the picture's outer edge against the class of its middle, then the
// outermost rows and columns that are mostly of the middle's class.
#include "imaging/clean_up.h"

#include <algorithm>

namespace imaging {
namespace {
// A border narrower than this is a sheet's shadow or noise, not worth a cut.
constexpr int kSmallestCut = 2;

int OtsuLevel(const Plane& grey)
{
    double histogram[256] = {};
    for (uint8_t g : grey.pixels)
        histogram[g] += 1;
    double total = double(grey.pixels.size()), sum = 0;
    for (int i = 0; i < 256; ++i)
        sum += i * histogram[i];
    double below = 0, belowSum = 0, best = -1;
    int level = 128;
    for (int t = 0; t < 255; ++t) {
        below += histogram[t];
        belowSum += t * histogram[t];
        double above = total - below;
        if (below == 0 || above == 0)
            continue;
        double diff = belowSum / below - (sum - belowSum) / above;
        double between = below * above * diff * diff;
        if (between > best)
            best = between, level = t + 1;
    }
    return level;
}

struct Classes {
    int level;          // levels at or above it are bright
    bool paperBright;   // the middle of the picture is bright
    bool Paper(uint8_t g) const { return (g >= level) == paperBright; }
};

// The share of bright pixels in a rectangle.
double BrightShare(const Plane& grey, const Box& box, int level)
{
    uint64_t bright = 0, all = 0;
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x)
            bright += grey.Row(y)[x] >= level, ++all;
    return all ? double(bright) / double(all) : 0.0;
}

double EdgeBrightShare(const Plane& grey, int level)
{
    const int w = grey.width, h = grey.height;
    double sum = BrightShare(grey, Box{0, 0, w, 1}, level) + BrightShare(grey, Box{0, h - 1, w, h}, level) +
                 BrightShare(grey, Box{0, 0, 1, h}, level) + BrightShare(grey, Box{w - 1, 0, w, h}, level);
    return sum / 4;
}

// First and last columns (or rows) whose pixels within the span are mostly paper.
void PaperSpan(const Plane& grey, const Classes& k, bool columns, int from, int to, int& first, int& last)
{
    const int length = columns ? grey.width : grey.height;
    std::vector<uint32_t> paper(size_t(length), 0);
    if (columns) {
        for (int y = from; y < to; ++y) {
            const uint8_t* row = grey.Row(y);
            for (int x = 0; x < length; ++x)
                paper[x] += k.Paper(row[x]);
        }
    } else {
        for (int y = 0; y < length; ++y) {
            const uint8_t* row = grey.Row(y);
            for (int x = from; x < to; ++x)
                paper[y] += k.Paper(row[x]);
        }
    }
    const uint32_t half = uint32_t(to - from) / 2;
    first = 0, last = length;
    while (first < length && paper[first] <= half)
        ++first;
    while (last > first && paper[last - 1] <= half)
        --last;
}
}  // namespace

bool FindPaper(const Plane& grey, Box& paper)
{
    const int w = grey.width, h = grey.height;
    if (w < 16 || h < 16)
        return false;
    Classes k{OtsuLevel(grey), false};
    const double middle = BrightShare(grey, Box{w / 4, h / 4, w - w / 4, h - h / 4}, k.level);
    k.paperBright = middle >= 0.5;
    if ((EdgeBrightShare(grey, k.level) >= 0.5) == k.paperBright)
        return false;
    // Columns over the middle rows, rows within those columns, and the columns once more
    // over the rows found: a wide border at the top cannot hide the sides.
    Box b;
    PaperSpan(grey, k, true, h / 4, h - h / 4, b.left, b.right);
    if (b.right - b.left < w / 8)
        return false;
    PaperSpan(grey, k, false, b.left, b.right, b.top, b.bottom);
    if (b.bottom - b.top < h / 8)
        return false;
    PaperSpan(grey, k, true, b.top, b.bottom, b.left, b.right);
    if (b.right - b.left < w / 8)
        return false;
    if (std::max({b.left, b.top, w - b.right, h - b.bottom}) < kSmallestCut)
        return false;
    paper = b;
    return true;
}

}  // namespace imaging
