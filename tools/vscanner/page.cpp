// Drawing the generated page into a DIB.
#include "tools/vscanner/page.h"

#include <cstring>

namespace vs {
namespace {
constexpr double kMetresPerInch = 39.37007874015748;

int ColourCount(const PageFormat& f)
{
    return f.bits <= 8 ? 1 << f.bits : 0;
}

RGBQUAD TableColour(const PageFormat& f, int i)
{
    const int count = ColourCount(f);
    RGBQUAD c{};
    if (f.pixelType == TWPT_PALETTE) {
        c.rgbRed = static_cast<BYTE>(i * 255 / (count - 1));
        c.rgbGreen = static_cast<BYTE>(255 - i * 255 / (count - 1));
        c.rgbBlue = static_cast<BYTE>((i * 7) & 0xFF);
    } else {  // black to white
        c.rgbRed = c.rgbGreen = c.rgbBlue = static_cast<BYTE>(i * 255 / (count - 1));
    }
    return c;
}

void StorePixel(BYTE* row, const PageFormat& f, int x, unsigned value)
{
    switch (f.bits) {
    case 1:
        if (value)
            row[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
        break;
    case 4:
        row[x / 2] |= static_cast<BYTE>(x % 2 ? value : value << 4);
        break;
    case 8:
        row[x] = static_cast<BYTE>(value);
        break;
    default: {
        const int bytes = f.bits / 8;
        std::memcpy(row + x * bytes, &value, bytes);
        break;
    }
    }
}
}  // namespace

unsigned PagePixel(const PageFormat& f, int x, int y, int page)
{
    switch (f.bits) {
    case 1:
        return ((x / 8) + (y / 8) + page) % 2;
    case 4:
        return static_cast<unsigned>((x / 8 + y / 8 + page) & 0x0F);
    case 8:
        return static_cast<unsigned>((x + y + page * 16) & 0xFF);
    default: {
        const unsigned red = f.width > 1 ? static_cast<unsigned>(x * 255 / (f.width - 1)) : 0;
        const unsigned green = f.height > 1 ? static_cast<unsigned>(y * 255 / (f.height - 1)) : 0;
        const unsigned blue = static_cast<unsigned>(page * 50) & 0xFF;
        return blue | green << 8 | red << 16;
    }
    }
}

HGLOBAL MakePage(const PageFormat& f, int page)
{
    const DWORD stride = ((static_cast<DWORD>(f.width) * f.bits + 31) / 32) * 4;
    const DWORD colours = static_cast<DWORD>(ColourCount(f));
    const DWORD size = sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD) + stride * f.height;
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    auto* header = handle ? static_cast<BITMAPINFOHEADER*>(GlobalLock(handle)) : nullptr;
    if (!header) {
        if (handle)
            GlobalFree(handle);
        return nullptr;
    }
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = f.width;
    header->biHeight = f.height;
    header->biPlanes = 1;
    header->biBitCount = static_cast<WORD>(f.bits);
    header->biCompression = BI_RGB;
    header->biSizeImage = stride * f.height;
    header->biXPelsPerMeter = header->biYPelsPerMeter = static_cast<LONG>(f.resolution * kMetresPerInch + 0.5);
    header->biClrUsed = colours;
    auto* table = reinterpret_cast<RGBQUAD*>(header + 1);
    for (DWORD i = 0; i < colours; ++i)
        table[i] = TableColour(f, static_cast<int>(i));
    BYTE* bits = reinterpret_cast<BYTE*>(table + colours);
    for (int y = 0; y < f.height; ++y) {
        BYTE* row = bits + stride * (f.height - 1 - y);  // bottom-up rows
        for (int x = 0; x < f.width; ++x)
            StorePixel(row, f, x, PagePixel(f, x, y, page));
    }
    GlobalUnlock(handle);
    return handle;
}

}  // namespace vs
