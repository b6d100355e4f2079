// The skew of a page's lines of text: the angle at which the ink, projected along it,
// piles up in the sharpest rows. Measured on the lower edges of the ink (ink with paper
// below), which line up along the lines' feet; blocks of ink and photographs add only
// their outlines.
#include "imaging/clean_up.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace imaging {
namespace {
constexpr double kLargestSkew = 10.0;
constexpr double kCoarseStep = 0.5;
constexpr double kFineStep = 0.05;
// Pages are measured at no more than this many pixels across (about 150 dpi for A4).
constexpr int kMeasuredWidth = 1300;
// A projection along the lines must stand this far above the typical one: the sharpest
// projection of noise or of a photograph hardly differs from any other.
constexpr double kClearPeak = 1.6;
constexpr size_t kFewestPoints = 200;

struct EdgePoints {
    std::vector<int32_t> x, y;
    int height = 0, width = 0;
};

// The page shrunk by a whole factor, each pixel the mean of its block.
void Shrink(const Plane& grey, int factor, Plane& small)
{
    small.Resize(grey.width / factor, grey.height / factor, 1);
    std::vector<uint32_t> sums(size_t(small.width));
    for (int y = 0; y < small.height; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (int k = 0; k < factor; ++k) {
            const uint8_t* row = grey.Row(y * factor + k);
            for (int x = 0; x < small.width; ++x)
                for (int j = 0; j < factor; ++j)
                    sums[x] += row[x * factor + j];
        }
        for (int x = 0; x < small.width; ++x)
            small.Row(y)[x] = uint8_t(sums[x] / uint32_t(factor * factor));
    }
}

// Lower edges of the ink on the paper, leaving out a margin where a sheet's own edges or
// a scanner's border would show: a border's edge is as straight as any line of text.
EdgePoints LowerEdges(const Plane& bw, const Box& paper)
{
    EdgePoints p;
    p.width = bw.width, p.height = bw.height;
    const int mx = (paper.right - paper.left) / 20, my = (paper.bottom - paper.top) / 20;
    for (int y = paper.top + my; y + 1 < paper.bottom - my; ++y) {
        const uint8_t *row = bw.Row(y), *below = bw.Row(y + 1);
        for (int x = paper.left + mx; x < paper.right - mx; ++x)
            if (row[x] == 0 && below[x] == 1)
                p.x.push_back(x), p.y.push_back(y);
    }
    return p;
}

// How sharply the points pile up in rows along the angle: the sum of the squared counts.
double Sharpness(const EdgePoints& p, double degrees, std::vector<int32_t>& counts)
{
    const double slope = std::tan(Radians(degrees));
    const int64_t step = std::llround(slope * 65536);
    const int64_t reach = int64_t(std::ceil(std::fabs(slope) * p.width)) + 2;
    counts.assign(size_t(p.height + 2 * reach), 0);
    for (size_t i = 0; i < p.x.size(); ++i) {
        int64_t at = ((int64_t(p.y[i]) << 16) - p.x[i] * step + (int64_t(1) << 15)) >> 16;
        ++counts[size_t(at + reach)];
    }
    double sum = 0;
    for (int32_t c : counts)
        sum += double(c) * c;
    return sum;
}

// The vertex of the parabola through three equally spaced scores.
double Vertex(double left, double middle, double right)
{
    double bend = left - 2 * middle + right;
    return bend < 0 ? std::clamp(0.5 * (left - right) / bend, -0.5, 0.5) : 0.0;
}
}  // namespace

Skew FindSkew(const Plane& grey, int window)
{
    Skew skew;
    const int factor = std::max(1, (grey.width + kMeasuredWidth - 1) / kMeasuredWidth);
    Plane small, bw;
    if (factor > 1)
        Shrink(grey, factor, small);
    const Plane& measured = factor > 1 ? small : grey;
    if (measured.width < 16 || measured.height < 16)
        return skew;
    Binarize(measured, std::max(3, window / factor) | 1, bw);
    Box paper{0, 0, measured.width, measured.height};
    FindPaper(measured, paper);
    EdgePoints points = LowerEdges(bw, paper);
    if (points.x.size() < kFewestPoints)
        return skew;

    std::vector<int32_t> counts;
    std::vector<double> coarse;
    for (double a = -kLargestSkew; a <= kLargestSkew + 1e-9; a += kCoarseStep)
        coarse.push_back(Sharpness(points, a, counts));
    size_t best = size_t(std::max_element(coarse.begin(), coarse.end()) - coarse.begin());
    std::vector<double> sorted = coarse;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    if (coarse[best] < kClearPeak * sorted[sorted.size() / 2])
        return skew;

    // Finer steps around the best coarse angle, and between the best of them.
    const double centre = -kLargestSkew + double(best) * kCoarseStep;
    const int half = int(std::lround(kCoarseStep / kFineStep));
    std::vector<double> fine;
    for (int i = -half; i <= half; ++i)
        fine.push_back(Sharpness(points, centre + i * kFineStep, counts));
    size_t top = size_t(std::max_element(fine.begin(), fine.end()) - fine.begin());
    double offset = top > 0 && top + 1 < fine.size() ? Vertex(fine[top - 1], fine[top], fine[top + 1]) : 0.0;
    skew.degrees = std::clamp(centre + (double(top) - half + offset) * kFineStep, -kLargestSkew, kLargestSkew);
    skew.found = true;
    return skew;
}

}  // namespace imaging
