#pragma once
// jbig2dec (MuPDF's JBIG2 decoder) on the encoder's stream, fed as a PDF reader feeds it.
#include "tools/pagorex-store/jbig2_encoder.h"

#include <string>

#include <jbig2.h>
#undef inline  // jbig2.h defines it away where it is no macro, as in C++

namespace jbig2check {
struct PageCase {
    const char* name;
    int width, height;
    std::vector<uint8_t> rows;  // packed, the top row first
    Jbig2Page Page(bool oneIsBlack) const { return {width, height, rows.data(), oneIsBlack, 11811, 11811}; }
};
// The pages the encoder is tested on (jbig2_encoder_test.cpp): the drawn text page made black
// and white, the 1-bit kind of bitmap, odd widths, white, black, stripes, a checkerboard.
std::vector<PageCase> Pages();

inline bool Black(const Jbig2Page& page, uint32_t x, uint32_t y)
{
    return (page.rows[(size_t(page.width) + 7) / 8 * y + x / 8] >> (7 - x % 8) & 1) == (page.oneIsBlack ? 1 : 0);
}

// "" when jbig2dec decodes the stream to the page's pixels; else where it differs.
inline std::string Difference(const Jbig2Page& page, const std::vector<uint8_t>& stream)
{
    std::string said;
    Jbig2Ctx* ctx = jbig2_ctx_new(nullptr, JBIG2_OPTIONS_EMBEDDED, nullptr, nullptr, nullptr);
    jbig2_data_in(ctx, stream.data(), stream.size());
    jbig2_complete_page(ctx);
    Jbig2Image* image = jbig2_page_out(ctx);
    if (!image || image->width != uint32_t(page.width) || image->height != uint32_t(page.height))
        said += "no page of the page's size";
    for (uint32_t y = 0; said.empty() && y < image->height; ++y)
        for (uint32_t x = 0; said.empty() && x < image->width; ++x)
            if ((image->data[y * image->stride + x / 8] >> (7 - x % 8) & 1) != Black(page, x, y))
                said = "pixel " + std::to_string(x) + ", " + std::to_string(y) + " differs";
    jbig2_release_page(ctx, image);
    jbig2_ctx_free(ctx);
    return said;
}
}  // namespace jbig2check
