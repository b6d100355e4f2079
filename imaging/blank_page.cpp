// Judging a page blank on a shrunk grey copy of it: cells of a quarter of a millimetre,
// each the average of its pixels, so that sensor noise averages out while a pen's stroke
// still darkens a whole cell. Each cell is held against the paper around it (the median
// of the medians of the nine blocks of four millimetres nearest), which follows tinted
// paper and uneven light; cells well below it are ink. Show-through of the back's
// print stays within that contrast. Ink cells joined into features a millimetre or more
// across, wholly inside the margin, are what makes a page not blank.
#include "imaging/blank_page.h"

#include "dib/dib_pixels.h"
#include "imaging/page_image.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace imaging {
namespace {
constexpr double kMmPerInch = 25.4;
constexpr double kCellMm = 0.25;
// Below about 200 dpi a cell is larger than a quarter millimetre: a single pixel does
// not average its noise.
constexpr int kLeastCell = 2;
constexpr double kBlockMm = 4.0;
// Punch holes (6 mm wide, their centres 12 mm in), staples and the edge's shadow lie in it.
constexpr double kMarginMm = 12.0;
// Grey levels below the paper that are ink: several times the contrast of print showing
// through from the back, a fraction of a pen's or a printer's.
constexpr int kInkContrast = 40;
// Paper is light; a page whose usual level is darker is a photograph or a lid, not paper.
constexpr int kDarkestPaper = 96;
// A larger page is looked at in larger cells.
constexpr int64_t kMostCells = int64_t(1) << 22;

struct Grid {
    int width = 0, height = 0;  // cells
    double mmX = 0, mmY = 0;    // millimetres a cell covers
    std::vector<uint8_t> grey;  // the cells' average luminance, top row first
};

double Dpi(uint32_t pelsPerMeter)
{
    const double dpi = pelsPerMeter * (kMmPerInch / 1000);
    return dpi >= 10 && dpi <= 10000 ? dpi : 300;
}

// One row of cells: each channel of every pixel column summed over the pixel rows the
// cells cover (a loop the compiler vectorises), then the columns of each cell together
// and the luminance of its average colour.
void ShrinkRow(const DibPixels& p, int64_t top, int64_t bottom, int cellX, std::vector<uint8_t>& rgb,
               std::vector<uint32_t>& columns, uint8_t* out)
{
    std::fill(columns.begin(), columns.end(), 0);
    for (int64_t y = top; y < bottom; ++y) {
        DibPixelsRGB(p, y, rgb.data());
        for (size_t i = 0; i < columns.size(); ++i)
            columns[i] += rgb[i];
    }
    const int64_t width = p.frame.width;
    for (int64_t left = 0; left < width; left += cellX, ++out) {
        const int64_t right = std::min<int64_t>(width, left + cellX);
        uint64_t sum[3] = {};
        for (int64_t x = left; x < right; ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += columns[size_t(3 * x + c)];
        // A multiplication where three divisions of 64 bits would cost most of the work.
        const double inverse = 1.0 / double((right - left) * (bottom - top));
        *out = Luminance(int(double(sum[0]) * inverse + 0.5), int(double(sum[1]) * inverse + 0.5),
                         int(double(sum[2]) * inverse + 0.5));
    }
}

Grid Shrink(const DibPixels& p, double dpiX, double dpiY)
{
    const int64_t width = p.frame.width, rows = p.frame.rows;
    int cellX = std::max(kLeastCell, int(std::lround(dpiX * kCellMm / kMmPerInch)));
    int cellY = std::max(kLeastCell, int(std::lround(dpiY * kCellMm / kMmPerInch)));
    while ((width + cellX - 1) / cellX * ((rows + cellY - 1) / cellY) > kMostCells)
        cellX *= 2, cellY *= 2;
    Grid g;
    g.width = int((width + cellX - 1) / cellX);
    g.height = int((rows + cellY - 1) / cellY);
    g.mmX = cellX * kMmPerInch / dpiX;
    g.mmY = cellY * kMmPerInch / dpiY;
    g.grey.resize(size_t(g.width) * size_t(g.height));
    std::vector<uint8_t> rgb(size_t(width) * 3);
    std::vector<uint32_t> columns(size_t(width) * 3);
    for (int y = 0; y < g.height; ++y)
        ShrinkRow(p, int64_t(y) * cellY, std::min<int64_t>(rows, int64_t(y + 1) * cellY), cellX, rgb, columns,
                  g.grey.data() + size_t(y) * size_t(g.width));
    return g;
}

// The median of each block of cells, by a histogram of each block of a row of blocks.
std::vector<uint8_t> BlockMedians(const Grid& g, int block, int width, int height)
{
    std::vector<uint8_t> median(size_t(width) * size_t(height));
    std::vector<uint32_t> histogram(size_t(width) * 256);
    for (int by = 0; by < height; ++by) {
        std::fill(histogram.begin(), histogram.end(), 0);
        const int top = by * block, bottom = std::min(g.height, top + block);
        for (int y = top; y < bottom; ++y) {
            const uint8_t* row = g.grey.data() + size_t(y) * size_t(g.width);
            for (int bx = 0, x = 0; bx < width; ++bx)
                for (uint32_t* h = histogram.data() + size_t(bx) * 256; x < std::min(g.width, (bx + 1) * block); ++x)
                    ++h[row[x]];
        }
        for (int bx = 0; bx < width; ++bx) {
            const uint32_t* h = histogram.data() + size_t(bx) * 256;
            const uint32_t half = uint32_t((std::min(g.width, (bx + 1) * block) - bx * block) * (bottom - top)) / 2;
            uint32_t below = 0;
            int level = 0;
            while (below + h[level] <= half)
                below += h[level++];
            median[size_t(by) * size_t(width) + size_t(bx)] = uint8_t(level);
        }
    }
    return median;
}

// The paper's level around each block of cells: the median of the medians of the block and
// its eight neighbours, so that a block full of ink takes the paper beside it, and paper
// beside a bright hole is not taken for ink.
struct Paper {
    int block = 1;  // cells a block is wide and high
    int width = 0, height = 0;
    std::vector<uint8_t> level;
};

Paper PaperAround(const Grid& g)
{
    Paper p;
    p.block = std::max(2, int(std::lround(kBlockMm / std::max(g.mmX, g.mmY))));
    p.width = (g.width + p.block - 1) / p.block;
    p.height = (g.height + p.block - 1) / p.block;
    const std::vector<uint8_t> median = BlockMedians(g, p.block, p.width, p.height);
    p.level.resize(median.size());
    uint8_t around[9];
    for (int by = 0; by < p.height; ++by) {
        for (int bx = 0; bx < p.width; ++bx) {
            int n = 0;
            for (int y = std::max(0, by - 1); y <= std::min(p.height - 1, by + 1); ++y)
                for (int x = std::max(0, bx - 1); x <= std::min(p.width - 1, bx + 1); ++x)
                    around[n++] = median[size_t(y) * size_t(p.width) + size_t(x)];
            std::nth_element(around, around + n / 2, around + n);
            p.level[size_t(by) * size_t(p.width) + size_t(bx)] = around[n / 2];
        }
    }
    return p;
}

// The usual level of the paper over the page: the median of the blocks' levels.
int UsualLevel(const Paper& p)
{
    std::vector<uint8_t> levels(p.level);
    std::nth_element(levels.begin(), levels.begin() + long(levels.size() / 2), levels.end());
    return levels[levels.size() / 2];
}

struct Feature {
    int left, top, right, bottom;  // cells, inclusive
    size_t cells = 0;
    bool inMargin = false;
};

// The ink feature that holds cell `start`, by a flood over the eight neighbours of each
// ink cell (1 in mask); its cells are marked taken (2).
Feature TakeFeature(std::vector<uint8_t>& mask, const Grid& g, int marginX, int marginY, size_t start,
                    std::vector<size_t>& stack)
{
    const int sx = int(start % size_t(g.width)), sy = int(start / size_t(g.width));
    Feature f{sx, sy, sx, sy};
    stack.assign(1, start);
    mask[start] = 2;
    while (!stack.empty()) {
        const size_t at = stack.back();
        stack.pop_back();
        const int x = int(at % size_t(g.width)), y = int(at / size_t(g.width));
        ++f.cells;
        f.left = std::min(f.left, x), f.right = std::max(f.right, x);
        f.top = std::min(f.top, y), f.bottom = std::max(f.bottom, y);
        f.inMargin |= x < marginX || y < marginY || x >= g.width - marginX || y >= g.height - marginY;
        for (int ny = std::max(0, y - 1); ny <= std::min(g.height - 1, y + 1); ++ny) {
            for (int nx = std::max(0, x - 1); nx <= std::min(g.width - 1, x + 1); ++nx) {
                const size_t next = size_t(ny) * size_t(g.width) + size_t(nx);
                if (mask[next] == 1)
                    mask[next] = 2, stack.push_back(next);
            }
        }
    }
    return f;
}

// The ink features inside the margin, a millimetre or more across, into the verdict.
void MeasureInk(const Grid& g, const Paper& paper, BlankVerdict& verdict)
{
    std::vector<uint8_t> mask(g.grey.size());
    for (int y = 0; y < g.height; ++y) {
        const uint8_t* level = paper.level.data() + size_t(y / paper.block) * size_t(paper.width);
        const size_t row = size_t(y) * size_t(g.width);
        for (int bx = 0, x = 0; bx < paper.width; ++bx)
            for (const int end = std::min(g.width, (bx + 1) * paper.block); x < end; ++x)
                mask[row + size_t(x)] = level[bx] - g.grey[row + size_t(x)] >= kInkContrast;
    }
    // Within an eighth of a small page's side, so that a card keeps an inside.
    const int marginX = int(std::min(kMarginMm / g.mmX, g.width / 8.0));
    const int marginY = int(std::min(kMarginMm / g.mmY, g.height / 8.0));
    std::vector<size_t> stack;
    for (size_t at = 0; at < mask.size(); ++at) {
        if (mask[at] != 1)
            continue;
        const Feature f = TakeFeature(mask, g, marginX, marginY, at, stack);
        const double across = std::max((f.right - f.left + 1) * g.mmX, (f.bottom - f.top + 1) * g.mmY);
        if (f.inMargin || across < kSmallestFeatureMm)
            continue;
        verdict.inkArea += double(f.cells) * g.mmX * g.mmY;
        ++verdict.features;
    }
}
}  // namespace

BlankVerdict JudgeBlankPage(const uint8_t* dib, size_t size)
{
    BlankVerdict verdict;
    PageInfo info;
    DibPixels pixels;
    if (!ReadPageInfo(dib, size, info) || !DibReadPixels(dib, size, pixels) || pixels.frame.width == 0 ||
        pixels.frame.rows == 0)
        return verdict;
    try {
        const Grid grid = Shrink(pixels, Dpi(info.xPelsPerMeter), Dpi(info.yPelsPerMeter));
        const Paper paper = PaperAround(grid);
        verdict.paperLevel = UsualLevel(paper);
        MeasureInk(grid, paper, verdict);
    } catch (const std::bad_alloc&) {
        return verdict;  // not looked at: kept as a page
    }
    verdict.readable = true;
    verdict.blank = verdict.paperLevel >= kDarkestPaper && verdict.inkArea < kLeastInkArea;
    return verdict;
}

}  // namespace imaging
