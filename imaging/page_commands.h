#pragma once
// The Page menu's clean-ups over a packed DIB given by pointer and size: grey, black and
// white, straighten and crop to the paper. Each writes its result as a new packed DIB into
// a block it asks for, and leaves the page itself alone. No windows.h: the same code runs
// natively under the sanitizers and the fuzzer.

#include <cstddef>
#include <cstdint>

namespace imaging {

// Where a clean-up writes its result: a block of exactly `bytes`, or null when the memory
// cannot be had.
class ResultBlock {
public:
    virtual uint8_t* Allocate(size_t bytes) = 0;

protected:
    ~ResultBlock() = default;
};

enum class PageCommand {
    kGrey,           // 8-bit grey with a grey colour table
    kBlackAndWhite,  // 1 bit, black and white, by a threshold that follows the page
    kStraighten,     // the lines of text made level; same size, same kind of page
    kCrop,           // the paper without the border around it; same kind of DIB
};

enum class Outcome {
    kDone,          // the result is in the block
    kNoLines,       // straighten: no lines of text to measure; nothing written
    kAlreadyLevel,  // straighten: the lines are level already; nothing written
    kNoBorder,      // crop: no border around the paper; nothing written
    kNoMemory,      // the work or the result could not get its memory
    kCannotHandle,  // the DIB is not safe, or its rows are run-length compressed
};

struct CommandResult {
    Outcome outcome = Outcome::kCannotHandle;
    double skewDegrees = 0;  // straighten: the angle measured
    size_t bytes = 0;        // kDone: the result's size
};

CommandResult RunPageCommand(PageCommand command, const uint8_t* dib, size_t size, ResultBlock& out);

// Straighten turns a page whose lines lie within this angle of level no further.
constexpr double kLevelEnough = 0.05;

}  // namespace imaging
