#pragma once
// A DIB's picture as the formats other systems read (PNG, PDF) carry it: the colour model
// and sample depth that keep every pixel as it is, the palette, the resolution, and each
// row from the top packed as both formats pack it (leftmost pixel in the high bits,
// 16-bit samples big-endian, red before green before blue, alpha last). No windows.h: the
// tool's writers run natively under the sanitizers too.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dib/dib_pixels.h"

enum class DibColorModel {
    Grey,     // palette indices that are an even grey ramp: the index is the grey level
    Palette,  // indices into the palette
    Rgb,
    Rgba,     // only where the bitmap's header gives an alpha mask
};

struct DibExportPlan {
    int32_t width = 0;
    int32_t height = 0;  // rows, always positive
    DibColorModel model = DibColorModel::Rgb;
    int bitDepth = 8;    // bits per sample: 1, 4, 8 or 16
    int channels = 3;    // samples per pixel: 1, 3 or 4
    // A grey ramp that runs from white to black (0 is white): still grey, read the other way.
    bool invertedGrey = false;
    // Palette and Grey: 2^bitDepth entries, red, green, blue; indices past the bitmap's own
    // table are black.
    uint32_t paletteEntries = 0;
    const uint8_t* Palette() const { return pixels.table[0]; }
    // Pels per metre to give the formats: the header's where they are sane (10 to 10,000
    // dpi), one given alone for both axes (a source that wrote only one meant a square
    // pixel), 0 where the header gives none that can be believed.
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    size_t rowBytes = 0;  // one packed row

    DibPixels pixels;  // where the rows are read from
};

// Plans the export of a packed DIB of size bytes; false when it is not safe (DibIsSafe) or
// its rows are compressed (DibMemExpandRle first).
bool DibExportPlanFor(const uint8_t* dib, size_t size, DibExportPlan& plan);
// Writes image row `row` (0 is the top) to out, plan.rowBytes bytes.
void DibExportRow(const DibExportPlan& plan, int row, uint8_t* out);

bool DibIsRle(const uint8_t* dib, size_t size);
// The picture of a run-length compressed DIB as an uncompressed one (40-byte header, the
// same palette and resolution, rows bottom-up); pixels the runs skip are index 0. False
// when the DIB is not safe or not compressed; runs past the picture are clipped.
bool DibMemExpandRle(const uint8_t* dib, size_t size, std::vector<uint8_t>& plain);
