#pragma once
// A black-and-white page as the bytes of a PDF image stream for /JBIG2Decode, losslessly:
// a page information segment and one generic region (the 16-pixel template with its usual
// adaptive pixels, an adaptive arithmetic coder, rows equal to the row above sent as one
// symbol), no file header and no end-of-page segment, as a PDF embeds the format. It
// parses nothing: it codes the packed rows it is given. No windows.h.
//
// Colours: the caller says which sample value of its rows is black. A PDF reader decodes
// the stream to 0 for black and 1 for white whichever it was, so the image goes into the
// PDF as DeviceGray, 1 bit, with the default /Decode. With oneIsBlack false the samples a
// reader decodes are the rows' own, so a two-colour palette that is not black and white can
// stay an indexed colour space over them.

#include <cstddef>
#include <cstdint>
#include <vector>

struct Jbig2Page {
    int32_t width = 0;   // pixels, at least 1
    int32_t height = 0;  // rows, at least 1
    // height rows of (width + 7) / 8 bytes, row 0 the top, the leftmost pixel in the high
    // bit; the bits past the width in a row's last byte may be anything.
    const uint8_t* rows = nullptr;
    bool oneIsBlack = true;  // false: 0 is black and 1 white
    uint32_t xPelsPerMeter = 0, yPelsPerMeter = 0;  // 0 where unknown
};

// Appends the stream to out; false (out unchanged) when the size is not one the format or
// this machine can hold.
bool EncodeJbig2(const Jbig2Page& page, std::vector<uint8_t>& out);
