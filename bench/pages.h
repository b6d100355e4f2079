#pragma once
// Pages for the store's benchmarks, made deterministically here: an A4 page at 300 dpi
// (white paper with sensor noise, lines of text and a grey photo block; it compresses to
// a little over half its size) in 24-bit colour, 8-bit grey and 1 bit, and small plain
// grey pages of the kind an earlier writer left uncompressed in the store.

#include <cstdint>
#include <vector>

namespace bench {

using Bytes = std::vector<std::uint8_t>;

// The packed DIB (info header, colour table, rows) of the A4 page.
Bytes A4PageDib();
// The page as a sensor sees it: white paper at 246 and noise of standard deviation 2 on
// each channel on its own, as scanners deliver pages, in 24-bit colour.
Bytes A4NoisyPageDib();
// The same page scanned in 8-bit grey (a grey palette), and in 1 bit (text only, as a
// scanner thresholds it, with a speck of dust here and there).
Bytes A4GreyPageDib();
Bytes A4TextPageDib();
// A 24-bit page (a packed DIB with a 40-byte header) as a scanner delivers it: blurred by
// its lens (a Gaussian of sigma pixels: 1.5 at 300 dpi), then its sensor's noise added
// (standard deviation near 6, bell-shaped, on each channel on its own).
void AsScanned(Bytes& dib, double sigma);
// The bitmap file of a grey page, 8 bits with a grey palette, about 400 KB; seed makes
// each page of a store different.
Bytes GreyPageFile(std::uint32_t seed);
// The bitmap file holding a packed DIB.
Bytes BitmapFileOf(const Bytes& packedDib);

}  // namespace bench
