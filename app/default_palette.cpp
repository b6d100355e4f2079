// The fixed palette used for DIBs without a colour table.
#include "app/view.h"

#include <algorithm>

namespace {
struct Rgb {
    BYTE r, g, b;
};

constexpr Rgb kLowStatic[10] = {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},
                                {0, 0, 128},     {128, 0, 128},   {0, 128, 128},   {192, 192, 192},
                                {192, 220, 192}, {166, 202, 240}};
constexpr BYTE kLowGrays[12] = {4, 8, 12, 17, 22, 28, 34, 41, 85, 77, 66, 57};
constexpr Rgb kExtras[7] = {{255, 124, 128}, {255, 80, 80},   {214, 0, 147},  {204, 236, 255},
                            {239, 214, 198}, {231, 231, 214}, {173, 169, 144}};
constexpr Rgb kDarkRed = {165, 0, 33};
constexpr BYTE kHighGrays[12] = {95, 119, 134, 150, 203, 178, 215, 221, 227, 234, 241, 248};
constexpr Rgb kHighStatic[10] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},
                                 {0, 255, 0},     {255, 255, 0},   {0, 0, 255},     {255, 0, 255},
                                 {0, 255, 255},   {255, 255, 255}};
// Cube colours that the static colours already hold, and four that are left out to make
// room for the extras.
constexpr Rgb kCubeOmitted[12] = {{0, 0, 0},     {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                  {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
                                  {0, 51, 255},  {0, 255, 51},  {51, 0, 255},  {51, 255, 0}};

constexpr bool Omitted(Rgb c)
{
    return std::any_of(std::begin(kCubeOmitted), std::end(kCubeOmitted),
                       [c](Rgb o) { return o.r == c.r && o.g == c.g && o.b == c.b; });
}

std::array<PALETTEENTRY, 256> BuildDefaultPalette()
{
    std::array<PALETTEENTRY, 256> palette{};
    size_t next = 0;
    auto add = [&](Rgb c, BYTE flags) { palette[next++] = PALETTEENTRY{c.r, c.g, c.b, flags}; };
    for (Rgb c : kLowStatic)
        add(c, 0);
    for (BYTE level : kLowGrays)
        add({level, level, level}, PC_NOCOLLAPSE);
    for (Rgb c : kExtras)
        add(c, PC_NOCOLLAPSE);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) {
                Rgb c{static_cast<BYTE>(r * 51), static_cast<BYTE>(g * 51), static_cast<BYTE>(b * 51)};
                if (!Omitted(c))
                    add(c, PC_NOCOLLAPSE);
            }
    add(kDarkRed, PC_NOCOLLAPSE);
    for (BYTE level : kHighGrays)
        add({level, level, level}, PC_NOCOLLAPSE);
    for (Rgb c : kHighStatic)
        add(c, 0);
    return palette;
}
}  // namespace

const std::array<PALETTEENTRY, 256>& DefaultPalette()
{
    static const std::array<PALETTEENTRY, 256> palette = BuildDefaultPalette();
    return palette;
}
