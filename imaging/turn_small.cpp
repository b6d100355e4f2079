// Turning a page by a small angle about its centre, keeping its size. Walks each turned
// row through the source in fixed point, one step per pixel.
#include "imaging/clean_up.h"

#include <algorithm>
#include <cmath>

namespace imaging {
namespace {
constexpr int kFraction = 16;
constexpr int64_t kOne = int64_t(1) << kFraction;

struct Walk {
    int64_t x, y;    // source position of the row's first pixel
    int64_t dx, dy;  // from one pixel to the next
};

Walk RowWalk(const Plane& p, double radians, int row)
{
    const double c = std::cos(radians), s = std::sin(radians);
    const double cx = (p.width - 1) / 2.0, cy = (p.height - 1) / 2.0;
    const double dx = -cx, dy = row - cy;
    const double sx = cx + dx * c - dy * s, sy = cy + dx * s + dy * c;
    return Walk{std::llround(sx * kOne), std::llround(sy * kOne), std::llround(c * kOne), std::llround(s * kOne)};
}

// One channel value at integer (x, y), or the background outside the picture.
inline int Sample(const Plane& p, int64_t x, int64_t y, int channel, const uint8_t* background)
{
    if (x < 0 || y < 0 || x >= p.width || y >= p.height)
        return background[channel];
    return p.Row(int(y))[x * p.channels + channel];
}

void SmoothRow(const Plane& in, Walk w, const uint8_t* background, uint8_t* out)
{
    const int channels = in.channels;
    for (int x = 0; x < in.width; ++x, w.x += w.dx, w.y += w.dy, out += channels) {
        const int64_t x0 = w.x >> kFraction, y0 = w.y >> kFraction;
        const int fx = int((w.x >> 8) & 0xFF), fy = int((w.y >> 8) & 0xFF);
        if (x0 >= 0 && y0 >= 0 && x0 + 1 < in.width && y0 + 1 < in.height) {
            const uint8_t* a = in.Row(int(y0)) + x0 * channels;
            const uint8_t* b = a + size_t(in.width) * channels;
            for (int c = 0; c < channels; ++c) {
                int top = a[c] * (256 - fx) + a[c + channels] * fx;
                int bottom = b[c] * (256 - fx) + b[c + channels] * fx;
                out[c] = uint8_t((top * (256 - fy) + bottom * fy + 32768) >> 16);
            }
            continue;
        }
        for (int c = 0; c < channels; ++c) {
            int top = Sample(in, x0, y0, c, background) * (256 - fx) + Sample(in, x0 + 1, y0, c, background) * fx;
            int bottom =
                Sample(in, x0, y0 + 1, c, background) * (256 - fx) + Sample(in, x0 + 1, y0 + 1, c, background) * fx;
            out[c] = uint8_t((top * (256 - fy) + bottom * fy + 32768) >> 16);
        }
    }
}

void NearestRow(const Plane& in, Walk w, const uint8_t* background, uint8_t* out)
{
    for (int x = 0; x < in.width; ++x, w.x += w.dx, w.y += w.dy) {
        const int64_t sx = (w.x + kOne / 2) >> kFraction, sy = (w.y + kOne / 2) >> kFraction;
        out[x] = uint8_t(Sample(in, sx, sy, 0, background));
    }
}
}  // namespace

void TurnPlane(const Plane& in, double degrees, const uint8_t* background, bool smooth, Plane& out)
{
    out.Resize(in.width, in.height, in.channels);
    const double radians = Radians(degrees);
    for (int y = 0; y < in.height; ++y) {
        Walk w = RowWalk(in, radians, y);
        if (smooth)
            SmoothRow(in, w, background, out.Row(y));
        else
            NearestRow(in, w, background, out.Row(y));
    }
}

void EdgeColour(const Plane& plane, uint8_t* colour)
{
    for (int c = 0; c < plane.channels; ++c) {
        uint32_t histogram[256] = {};
        uint32_t total = 0;
        auto count = [&](int x, int y) { ++histogram[plane.Row(y)[x * plane.channels + c]], ++total; };
        for (int x = 0; x < plane.width; ++x)
            count(x, 0), count(x, plane.height - 1);
        for (int y = 1; y + 1 < plane.height; ++y)
            count(0, y), count(plane.width - 1, y);
        uint32_t seen = 0;
        int level = 0;
        while (level < 255 && (seen += histogram[level]) * 2 < total)
            ++level;
        colour[c] = uint8_t(level);
    }
}

}  // namespace imaging
