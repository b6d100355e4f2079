#pragma once
// A DIB as a PNG file, lossless at the picture's own depth: palettes as palette images
// (an even grey ramp as a grey image), 16-bit and bit-field pixels as 8-bit RGB, 24 and
// 32 bits as RGB (RGBA where the header gives an alpha field
// that some pixel uses), 48 bits as 16-bit RGB, the
// resolution in pHYs. Written by hand over zlib: the tool must build for Windows, and
// Debian has no libpng for the cross compilers. No windows.h.

#include "flate_stream.h"

// Writes the PNG of the DIB that plan was made for to out; false when out failed.
bool WritePng(const DibExportPlan& plan, ByteSink& out);
