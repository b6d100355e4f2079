#include "bench/pages.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>

namespace bench {
namespace {

class Noise {
public:
    explicit Noise(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    // -amplitude .. amplitude
    int Next(int amplitude)
    {
        state_ = state_ * 1664525u + 1013904223u;
        return int((state_ >> 8) % std::uint32_t(2 * amplitude + 1)) - amplitude;
    }
    // Bell-shaped, as a sensor's noise is: the count of 16 coin tosses less 8, a binomial
    // of standard deviation 2 that reaches 8 at most.
    int Bell()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return std::popcount(state_ >> 16) - 8;
    }

private:
    std::uint32_t state_;
};

void Put16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

Bytes InfoHeader(int width, int height, int bitCount, std::uint32_t imageBytes, std::uint32_t colours)
{
    Bytes header(40, 0);
    Put32(&header[0], 40);
    Put32(&header[4], std::uint32_t(width));
    Put32(&header[8], std::uint32_t(height));
    Put16(&header[12], 1);
    Put16(&header[14], std::uint32_t(bitCount));
    Put32(&header[20], imageBytes);
    Put32(&header[24], 11811);  // 300 dpi
    Put32(&header[28], 11811);
    Put32(&header[32], colours);
    return header;
}

std::uint8_t Clamp(int v)
{
    return std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Whether the picture has ink at (x, y) of a text area starting at (left, top): lines
// 70 rows apart, 38 rows high, made of 28-pixel glyph cells and gaps between words.
bool Ink(int x, int y, int left, int top)
{
    int line = (y - top) / 70, cy = (y - top) % 70, cell = (x - left) / 28, cx = (x - left) % 28;
    if (cy >= 38 || cx >= 20 || (cell + line * 7) % 9 == 8)
        return false;
    std::uint32_t h = std::uint32_t(cell) * 2654435761u ^ std::uint32_t(line) * 40503u;
    return ((h >> (cy % 16)) & 1) && ((h >> ((cx + 7) % 24)) & 3);
}


// The grey level of the page at (x, y) before the sensor's noise: paper, lines of text
// above and below a photo block that shades from dark to light.
int A4Level(int x, int y, Noise& noise, int paper = 244)
{
    bool photoRows = y > 1400 && y < 2300;
    if (photoRows && x > 300 && x < 2180)
        return 60 + (x - 300) * 120 / 1880 + (y - 1400) * 50 / 900 + noise.Next(12);
    if (!photoRows && y > 300 && y < 3200 && x > 250 && x < 2230 && Ink(x, y, 250, 300))
        return 30;
    return paper;
}

constexpr int kA4Width = 2480, kA4Height = 3508;

// A scanned page of samples bytes per pixel (3: colour, 1: grey with a grey palette); bell:
// a sensor's bell-shaped noise on paper at 246, else an even spread of 4 either way.
Bytes ScannedA4(int samples, bool bell = false)
{
    const int rowBytes = (kA4Width * samples + 3) & ~3;
    const std::uint32_t colours = samples == 1 ? 256 : 0;
    Bytes dib = InfoHeader(kA4Width, kA4Height, 8 * samples, std::uint32_t(rowBytes) * kA4Height, colours);
    for (std::uint32_t i = 0; i < colours; ++i)
        dib.insert(dib.end(), {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0});
    const std::size_t bits = dib.size();
    dib.resize(bits + std::size_t(rowBytes) * kA4Height, 0);
    Noise noise(4);
    for (int y = 0; y < kA4Height; ++y) {
        std::uint8_t* row = &dib[bits + std::size_t(kA4Height - 1 - y) * rowBytes];  // bottom-up
        for (int x = 0; x < kA4Width; ++x) {
            int v = A4Level(x, y, noise, bell ? 246 : 244);
            for (int c = 0; c < samples; ++c)
                row[x * samples + c] = Clamp(v + (bell ? noise.Bell() : noise.Next(4)));
        }
    }
    return dib;
}
}  // namespace

Bytes A4PageDib()
{
    return ScannedA4(3);
}

Bytes A4NoisyPageDib()
{
    return ScannedA4(3, true);
}

Bytes A4GreyPageDib()
{
    return ScannedA4(1);
}

Bytes A4TextPageDib()
{
    const int rowBytes = ((kA4Width + 31) / 32) * 4;
    Bytes dib = InfoHeader(kA4Width, kA4Height, 1, std::uint32_t(rowBytes) * kA4Height, 2);
    dib.insert(dib.end(), {0, 0, 0, 0, 255, 255, 255, 0});  // index 0 black, 1 white
    const std::size_t bits = dib.size();
    dib.resize(bits + std::size_t(rowBytes) * kA4Height, 0xFF);
    Noise noise(6);
    for (int y = 0; y < kA4Height; ++y) {
        std::uint8_t* row = &dib[bits + std::size_t(kA4Height - 1 - y) * rowBytes];
        for (int x = 0; x < kA4Width; ++x) {
            // Ink, and now and then a speck of dust, as a scanner thresholds a page.
            bool black = (y > 300 && y < 3200 && x > 250 && x < 2230 && Ink(x, y, 250, 300)) || noise.Next(3000) == 0;
            if (black)
                row[x / 8] &= std::uint8_t(~(0x80 >> (x % 8)));
        }
    }
    return dib;
}

namespace {
// The samples of the rows (each channel on its own, the rows' padding left out) blurred
// by the kernel along one axis: along a row where step is a pixel's bytes, else down.
void BlurAlong(std::vector<float>& samples, std::size_t stride, int width, int height, std::size_t step,
               const std::vector<double>& kernel)
{
    const int r = int(kernel.size() / 2), length = step == 3 ? width : height;
    const std::vector<float> in = samples;
    for (std::size_t at = 0; at < samples.size(); ++at) {
        if (at % stride >= std::size_t(width) * 3)
            continue;
        const int pos = int(step == 3 ? at % stride / 3 : at / stride);
        double sum = 0, weights = 0;  // of the samples on the page: its edges are not darkened
        for (int i = std::max(-r, -pos); i <= std::min(r, length - 1 - pos); ++i) {
            sum += kernel[i + r] * in[std::size_t(std::ptrdiff_t(at) + i * std::ptrdiff_t(step))];
            weights += kernel[i + r];
        }
        samples[at] = float(sum / weights);
    }
}
}  // namespace

void AsScanned(Bytes& dib, double sigma)
{
    const int width = int(dib[4] | dib[5] << 8 | dib[6] << 16), height = int(dib[8] | dib[9] << 8 | dib[10] << 16);
    const std::size_t stride = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    std::vector<double> kernel;
    for (int r = int(std::ceil(3 * sigma)), i = -r; i <= r; ++i)
        kernel.push_back(std::exp(-i * i / (2 * sigma * sigma)));
    std::uint8_t* bits = dib.data() + 40;
    std::vector<float> samples(bits, bits + stride * std::size_t(height));
    for (std::size_t step : {std::size_t(3), stride})
        BlurAlong(samples, stride, width, height, step, kernel);
    Noise noise(29);
    for (std::size_t at = 0; at < samples.size(); ++at)
        bits[at] = Clamp(int(std::lround(samples[at] + 2 * (noise.Bell() + noise.Bell()))));
}

Bytes GreyPageFile(std::uint32_t seed)
{
    constexpr int kSide = 640;
    Bytes dib = InfoHeader(kSide, kSide, 8, kSide * kSide, 256);
    for (int i = 0; i < 256; ++i)
        dib.insert(dib.end(), {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0});
    std::size_t bits = dib.size();
    dib.resize(bits + std::size_t(kSide) * kSide);
    Noise noise(seed + 17);
    int shift = int(seed % 40);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            int v = y > 60 && y < 600 && x > 40 && x < 600 && Ink(x + shift, y, 40, 60) ? 40 : 236;
            dib[bits + std::size_t(kSide - 1 - y) * kSide + x] = Clamp(v + noise.Next(3));
        }
    return BitmapFileOf(dib);
}

Bytes BitmapFileOf(const Bytes& packedDib)
{
    std::uint32_t colours;
    std::memcpy(&colours, &packedDib[32], 4);
    std::uint16_t bitCount;
    std::memcpy(&bitCount, &packedDib[14], 2);
    if (colours == 0 && bitCount <= 8)
        colours = 1u << bitCount;
    Bytes file(14 + packedDib.size(), 0);
    file[0] = 'B';
    file[1] = 'M';
    Put32(&file[2], std::uint32_t(file.size()));
    Put32(&file[10], 14 + 40 + colours * 4);
    std::memcpy(&file[14], packedDib.data(), packedDib.size());
    return file;
}

}  // namespace bench
