// The clean-ups as whole-page commands: read the page, do the work on planes, write the
// result into the block the caller hands out.
#include "imaging/page_commands.h"

#include "imaging/clean_up.h"
#include "imaging/crop.h"

#include <cmath>
#include <new>
#include <stdexcept>

namespace imaging {
namespace {
constexpr Rgb kBlackAndWhite[2] = {{0, 0, 0}, {255, 255, 255}};
constexpr uint64_t kLargestPlane = uint64_t(1) << 30;

CommandResult Write(const Plane& plane, int bitCount, const PageInfo& info, const Rgb palette[2], ResultBlock& out)
{
    CommandResult result;
    const size_t bytes = ResultBytes(bitCount, plane.width, plane.height);
    uint8_t* block = out.Allocate(bytes);
    if (!block) {
        result.outcome = Outcome::kNoMemory;
        return result;
    }
    WriteResult(plane, bitCount, info, palette, block);
    result.outcome = Outcome::kDone;
    result.bytes = bytes;
    return result;
}

CommandResult Grey(const uint8_t* dib, size_t size, const PageInfo& info, ResultBlock& out)
{
    Plane grey;
    ReadGrey(dib, size, grey);
    return Write(grey, 8, info, nullptr, out);
}

CommandResult BlackAndWhite(const uint8_t* dib, size_t size, const PageInfo& info, ResultBlock& out)
{
    Plane grey, bw;
    ReadGrey(dib, size, grey);
    if (info.kind == PageKind::kBilevel) {
        // Already two colours: each pixel goes to the nearer of black and white.
        bw.Resize(grey.width, grey.height, 1);
        for (size_t i = 0; i < grey.pixels.size(); ++i)
            bw.pixels[i] = grey.pixels[i] >= 128;
    } else {
        Binarize(grey, ThresholdWindow(info.xPelsPerMeter), bw);
    }
    return Write(bw, 1, info, kBlackAndWhite, out);
}

CommandResult Straighten(const uint8_t* dib, size_t size, const PageInfo& info, ResultBlock& out)
{
    CommandResult result;
    Skew skew;
    {
        Plane grey;
        ReadGrey(dib, size, grey);
        skew = FindSkew(grey, ThresholdWindow(info.xPelsPerMeter));
    }
    result.skewDegrees = skew.degrees;
    result.outcome = !skew.found ? Outcome::kNoLines : Outcome::kAlreadyLevel;
    if (!skew.found || std::fabs(skew.degrees) < kLevelEnough)
        return result;
    Plane page, turned;
    uint8_t background[3] = {};
    if (info.kind == PageKind::kBilevel)
        ReadIndices(dib, size, page);
    else if (info.kind == PageKind::kGrey)
        ReadGrey(dib, size, page);
    else
        ReadColour(dib, size, page);
    EdgeColour(page, background);
    TurnPlane(page, skew.degrees, background, info.kind != PageKind::kBilevel, turned);
    page = Plane();
    const int bitCount = info.kind == PageKind::kBilevel ? 1 : info.kind == PageKind::kGrey ? 8 : 24;
    result = Write(turned, bitCount, info, info.bilevel, out);
    result.skewDegrees = skew.degrees;
    return result;
}

CommandResult CropToPaper(const uint8_t* dib, size_t size, ResultBlock& out)
{
    CommandResult result;
    Box paper;
    {
        Plane grey;
        ReadGrey(dib, size, grey);
        if (!FindPaper(grey, paper)) {
            result.outcome = Outcome::kNoBorder;
            return result;
        }
    }
    const uint64_t bytes = CroppedBytes(dib, size, paper);
    uint8_t* block = bytes && bytes <= SIZE_MAX ? out.Allocate(size_t(bytes)) : nullptr;
    if (!block) {
        result.outcome = bytes ? Outcome::kNoMemory : Outcome::kCannotHandle;
        return result;
    }
    result.outcome = Crop(dib, size, paper, block, size_t(bytes)) ? Outcome::kDone : Outcome::kCannotHandle;
    result.bytes = size_t(bytes);
    return result;
}
}  // namespace

CommandResult RunPageCommand(PageCommand command, const uint8_t* dib, size_t size, ResultBlock& out)
{
    CommandResult result;
    PageInfo info;
    if (!ReadPageInfo(dib, size, info))
        return result;
    // The work holds a few planes of the page; a page whose colour plane alone would pass
    // a gigabyte cannot be cleaned up in any process that shows it.
    if (uint64_t(info.width) * uint64_t(info.height) * 3 > kLargestPlane) {
        result.outcome = Outcome::kNoMemory;
        return result;
    }
    try {
        switch (command) {
        case PageCommand::kGrey: return Grey(dib, size, info, out);
        case PageCommand::kBlackAndWhite: return BlackAndWhite(dib, size, info, out);
        case PageCommand::kStraighten: return Straighten(dib, size, info, out);
        case PageCommand::kCrop: return CropToPaper(dib, size, out);
        }
    } catch (const std::bad_alloc&) {
        result.outcome = Outcome::kNoMemory;
    } catch (const std::length_error&) {
        result.outcome = Outcome::kNoMemory;
    }
    return result;
}

}  // namespace imaging
