// Arbitrary bytes as a DIB (a bitmap file's header is skipped), run through every
// clean-up and the blank-page judgement: each answers without reading or writing outside
// the page or its result (ASan/UBSan watch), and what it calls done is a DIB every
// operation accepts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dib/dib_bytes.h"
#include "imaging/blank_page.h"
#include "imaging/page_commands.h"

namespace {
struct Block : imaging::ResultBlock {
    std::vector<uint8_t> bytes;
    uint8_t* Allocate(size_t n) override
    {
        bytes.assign(n, 0xA5);
        return bytes.data();
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        size_t skip = size < kFileHeaderBytes ? size : kFileHeaderBytes;
        data += skip, size -= skip;
    }
    // An exact-size copy, so that a read past the page's end is caught.
    std::vector<uint8_t> dib(data, data + size);
    for (imaging::PageCommand command : {imaging::PageCommand::kGrey, imaging::PageCommand::kBlackAndWhite,
                                         imaging::PageCommand::kStraighten, imaging::PageCommand::kCrop}) {
        Block out;
        imaging::CommandResult r = imaging::RunPageCommand(command, dib.data(), dib.size(), out);
        if (r.outcome == imaging::Outcome::kDone && (r.bytes != out.bytes.size() || !DibIsSafe(out.bytes.data(), r.bytes)))
            std::abort();
    }
    // A page that cannot be read is never judged blank: it would be dropped from a batch.
    if (imaging::IsBlankPage(dib.data(), dib.size()) && !DibIsSafe(dib.data(), dib.size()))
        std::abort();
    return 0;
}
