// The whole page at a glance in the real window: Fit Page read back as pixels against an
// area average of the page worked out here, for a black-and-white page of thin strokes
// and a colour photograph, each in a window of the other orientation: centred, its
// proportions kept, its thin strokes kept as greys.
#include "e2e.h"
#include "support/store_files.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {
using storefiles::Bytes;

void Put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// A black-and-white page: lines of one-pixel strokes, as small print thresholded.
Bytes StrokesPage(int width, int height)
{
    const int stride = (width + 31) / 32 * 4;
    Bytes file(62 + size_t(stride) * height, 0);
    file[0] = 'B', file[1] = 'M';
    Put32(file, 2, uint32_t(file.size())), Put32(file, 10, 62), Put32(file, 14, 40), Put32(file, 18, width);
    Put32(file, 22, height), file[26] = 1, file[28] = 1, Put32(file, 46, 2), Put32(file, 58, 0xFFFFFF);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool ink = y % 24 < 12 && x > 40 && x < width - 40 && (x % 5 == 0 || y % 24 == 11);
            if (!ink)
                file[62 + size_t(height - 1 - y) * stride + x / 8] |= uint8_t(0x80 >> x % 8);
        }
    return file;
}

uint32_t Photo(int x, int y)
{
    // Soft gradients with grain, never black: the page's edges are told by the window's black.
    const int grain = int((uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u) >> 28);
    return RGB(40 + (x * 180 / 1600 + grain) % 200, 40 + (y * 150 / 1200) % 200, 60 + ((x + y) / 16) % 150);
}

// Red, green, blue of pixel (x, y) from the top of a bitmap file of 1 or 24 bits.
COLORREF FilePixel(const Bytes& file, int x, int y)
{
    if (file[28] == 24)
        return storefiles::BitmapPixel(file, x, y);
    const int width = file[18] | file[19] << 8, height = file[22] | file[23] << 8, stride = (width + 31) / 32 * 4;
    return file[62 + size_t(height - 1 - y) * stride + x / 8] & (0x80 >> x % 8) ? RGB(255, 255, 255) : 0;
}

class ViewTest : public ProgramTest {
protected:
    // Starts the program on record 1 at Fit Page with a client area of the given size.
    void ShowAtFitPage(const Bytes& page, SIZE client)
    {
        Bytes index, data;
        storefiles::AddRecord(index, data, 1, page, true);
        driver::WriteFileBytes(Path("pagorex.idx"), index);
        driver::WriteFileBytes(Path("pagorex.dat"), data);
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Pagorex");  // Fit Page is the initial mode
        StartFor(1, "CALLS.DB", true);
        RECT frame = {0, 0, client.cx, client.cy};
        AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, TRUE);
        SetWindowPos(program_.window, HWND_TOP, 0, 0, frame.right - frame.left, frame.bottom - frame.top, 0);
        driver::SettledPixel(program_.window, 0, 0);
    }
};

TEST_F(ViewTest, FitPageDrawsTheWholePageCentredAsTheAverageOfTheAreaEachPixelCovers)
{
    const struct {
        const char* name;
        Bytes page;
        SIZE client;
    } cases[] = {{"strokes, portrait in a landscape window", StrokesPage(1200, 1600), {640, 420}},
                 {"photograph, landscape in a portrait window", storefiles::Bitmap24(1600, 1200, Photo), {420, 640}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShowAtFitPage(c.page, c.client);
        const SIZE client = driver::ClientSize(program_.window);
        const int width = c.page[18] | c.page[19] << 8, height = c.page[22] | c.page[23] << 8;
        // Where the page lies: everything the window's black does not show. The screen may
        // still show the window as it was before its new size: read until two reads agree.
        std::vector<COLORREF> seen, before;
        for (DWORD start = GetTickCount(); GetTickCount() - start < 5000 && (seen.empty() || seen != before); Sleep(100))
            before = seen, seen = driver::ScreenPixels(program_.window, client.cx, client.cy);
        int left = client.cx, right = -1, top = client.cy, bottom = -1;
        for (int y = 0; y < client.cy; ++y)
            for (int x = 0; x < client.cx; ++x)
                if (seen[size_t(y) * client.cx + x] != 0)
                    left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
        const int w = right - left + 1, h = bottom - top + 1;
        const double scale = std::min(double(client.cx) / width, double(client.cy) / height);
        EXPECT_NEAR(w, width * scale, 1.0);
        EXPECT_NEAR(h, height * scale, 1.0);
        EXPECT_NEAR(left, client.cx - right - 1, 1) << "centred across";
        EXPECT_NEAR(top, client.cy - bottom - 1, 1) << "centred down";
        // The area each drawn pixel covers, averaged here in doubles.
        double difference = 0;
        for (int oy = 0; oy < h; ++oy)
            for (int ox = 0; ox < w; ++ox) {
                const double x0 = double(ox) * width / w, x1 = double(ox + 1) * width / w;
                const double y0 = double(oy) * height / h, y1 = double(oy + 1) * height / h;
                double sum[3] = {};
                for (int y = int(y0); y < std::ceil(y1); ++y)
                    for (int x = int(x0); x < std::ceil(x1); ++x) {
                        const double cover = (std::min(x1, x + 1.0) - std::max(x0, double(x))) *
                                             (std::min(y1, y + 1.0) - std::max(y0, double(y)));
                        const COLORREF p = FilePixel(c.page, x, y);
                        sum[0] += GetRValue(p) * cover, sum[1] += GetGValue(p) * cover, sum[2] += GetBValue(p) * cover;
                    }
                const double area = (x1 - x0) * (y1 - y0);
                const COLORREF s = seen[size_t(top + oy) * client.cx + left + ox];
                difference += std::fabs(GetRValue(s) - sum[0] / area) + std::fabs(GetGValue(s) - sum[1] / area) +
                              std::fabs(GetBValue(s) - sum[2] / area);
            }
        EXPECT_LE(difference / (3.0 * w * h), 4.0) << "mean difference in levels";
        CloseAndExpectExit();
        driver::Release(program_);
    }
}
}  // namespace
