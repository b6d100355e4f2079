// Judging whether an A4 page at 300 dpi is blank, as a feeder batch does for every page:
// a blank sheet as scanned, made grey and made black and white, and a page full of text
// (the most ink to follow), each against a memcpy of the 24-bit page's bytes. A page
// should take a few tens of milliseconds where that copy takes one or two.
#include <cstring>
#include <vector>

#include "bench/bench.h"
#include "imaging/blank_page.h"
#include "imaging/page_commands.h"
#include "imaging/test_page.h"

namespace {

struct Block : imaging::ResultBlock {
    std::vector<uint8_t> bytes;
    uint8_t* Allocate(size_t n) override
    {
        bytes.resize(n);
        return bytes.data();
    }
};

std::vector<uint8_t> Converted(imaging::PageCommand command, const std::vector<uint8_t>& page)
{
    Block out;
    imaging::RunPageCommand(command, page.data(), page.size(), out);
    return out.bytes;
}

std::vector<bench::Row> Measure()
{
    const std::vector<uint8_t> sheet = testpage::MakeSheet({210, 297, 300});
    const struct {
        const char* name;
        std::vector<uint8_t> page;
    } pages[] = {
        {"blank page?, A4 300 dpi blank sheet RGB", sheet},
        {"blank page?, A4 300 dpi blank sheet grey", Converted(imaging::PageCommand::kGrey, sheet)},
        {"blank page?, A4 300 dpi blank sheet B&W", Converted(imaging::PageCommand::kBlackAndWhite, sheet)},
        {"blank page?, A4 300 dpi page of text RGB", testpage::Make(testpage::A4()).dib},
    };
    std::vector<uint8_t> copy(sheet.size());
    std::vector<bench::Row> rows;
    for (const auto& p : pages) {
        bool blank = false;
        const bench::Timing t = bench::BestOf([&] { blank = imaging::IsBlankPage(p.page.data(), p.page.size()); },
                                              [&] { std::memcpy(copy.data(), sheet.data(), sheet.size()); });
        bench::Row row;
        row.name = std::string(p.name) + (blank ? ": blank" : ": not blank");
        row.seconds = t.seconds;
        row.reference = "memcpy of the RGB page's bytes";
        row.referenceSeconds = t.referenceSeconds;
        row.goal = 20.0;
        rows.push_back(row);
    }
    return rows;
}

const bool registered = bench::Register(Measure, "blank");

}  // namespace
