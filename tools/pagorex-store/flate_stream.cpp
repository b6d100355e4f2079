#include "flate_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>

namespace {
thread_local const char* failure = "";
}  // namespace

const char* FlateFailure()
{
    return failure;
}

FlateStream::FlateStream(ByteSink& out, pgz::Effort effort, uint64_t total) : out_(out), effort_(effort), left_(total)
{
    failure = "";
    // The zlib header: deflate with a 32 KB window, FCHECK making it a multiple of 31.
    const uint8_t header[2] = {0x78, 0xDA};
    ok_ = Put(header, 2);
    Open();
}

void FlateStream::Open()
{
    // A block written out is used again: a fresh one of a few hundred KB costs the pages
    // of a new mapping each time.
    if (spare_.empty()) {
        block_ = std::make_unique<pgz::Block>();
    } else {
        block_ = std::move(spare_.back());
        spare_.pop_back();
    }
    size_t room = size_t(std::min<uint64_t>(pgz::BlockSizeFor(effort_), left_));
    left_ -= room;
    block_->input.assign(window_.begin(), window_.end());
    block_->dictionary = window_.size();
    block_->effort = effort_;
    block_->input.resize(window_.size() + room);
    filled_ = 0;
}

bool FlateStream::Put(const uint8_t* bytes, size_t count)
{
    written_ += count;
    return out_.Write(bytes, count);
}

// Writes finished blocks in their order while more than leave are in flight.
bool FlateStream::Take(size_t leave)
{
    while (ok_ && compressor_.Pending() > leave)
        if (std::unique_ptr<pgz::Block> done = compressor_.TakeNext(1000)) {
            if (done->failed)
                failure = done->fault ? "compressing the image failed (an internal error)"
                                      : "there was not enough memory to compress the image";
            ok_ = !done->failed && Put(done->output.data(), done->output.size());
            spare_.push_back(std::move(done));
        }
    return ok_;
}

bool FlateStream::Submit(bool last)
{
    pgz::Block& block = *block_;
    block.input.resize(block.dictionary + filled_);
    block.last = last;
    std::span<const uint8_t> bytes = block.input;
    size_t keep = std::min(bytes.size(), pgz::kWindowSize);
    window_.assign(bytes.end() - static_cast<ptrdiff_t>(keep), bytes.end());
    compressor_.Submit(std::move(block_));
    if (!last)
        Open();
    return Take(2 * compressor_.Threads());
}

bool FlateStream::Add(const uint8_t* bytes, size_t count)
{
    adler_ = static_cast<uint32_t>(adler32(adler_, bytes, static_cast<uInt>(count)));
    while (ok_ && count > 0) {
        size_t room = block_->input.size() - block_->dictionary - filled_;
        if (room == 0) {
            // Full, and more to come: on to the next block (more than announced is taken too).
            left_ = std::max<uint64_t>(left_, count);
            Submit(false);
            continue;
        }
        size_t part = std::min(room, count);
        std::memcpy(block_->input.data() + block_->dictionary + filled_, bytes, part);
        filled_ += part, bytes += part, count -= part;
    }
    return ok_;
}

bool FlateStream::Finish()
{
    if (!ok_ || !Submit(true) || !Take(0))
        return false;
    const uint8_t trailer[4] = {uint8_t(adler_ >> 24), uint8_t(adler_ >> 16), uint8_t(adler_ >> 8), uint8_t(adler_)};
    return ok_ = Put(trailer, 4);
}

namespace {
int Paeth(int a, int b, int c)
{
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

uint8_t Predict(int type, int a, int b, int c)
{
    switch (type) {
    case 1:
        return uint8_t(a);
    case 2:
        return uint8_t(b);
    case 3:
        return uint8_t((a + b) / 2);
    case 4:
        return uint8_t(Paeth(a, b, c));
    default:
        return 0;
    }
}

// Filters row (prior is the row above, zeros for the first) with filter type into out;
// answers the sum of the filtered bytes taken as signed, the heuristic libpng uses. One
// loop per type, so that the compiler can keep each free of branches.
template <int kType>
uint64_t FilterAs(const uint8_t* row, const uint8_t* prior, size_t bytes, size_t bpp, uint8_t* out)
{
    uint32_t sum = 0;  // at most 128 a byte, of a row of at most 6 MB
    auto put = [&](size_t i, int a, int c) {
        uint8_t value = uint8_t(row[i] - Predict(kType, a, prior[i], c));
        out[i] = value;
        sum += uint8_t(value < 128 ? value : 256 - value);
    };
    size_t i = 0;
    for (; i < bpp && i < bytes; ++i)
        put(i, 0, 0);
    for (; i < bytes; ++i)
        put(i, row[i - bpp], prior[i - bpp]);
    return sum;
}

uint64_t Filter(int type, const uint8_t* row, const uint8_t* prior, size_t bytes, size_t bpp, uint8_t* out)
{
    static constexpr uint64_t (*kFilters[])(const uint8_t*, const uint8_t*, size_t, size_t, uint8_t*) = {
        FilterAs<0>, FilterAs<1>, FilterAs<2>, FilterAs<3>, FilterAs<4>};
    return kFilters[type](row, prior, bytes, bpp, out);
}

// Keeps the samples part asks for, in place.
void KeepPart(const DibExportPlan& plan, RowPart part, uint8_t* row)
{
    if (part == RowPart::All)
        return;
    for (int32_t x = 0; x < plan.width; ++x) {
        if (part == RowPart::Alpha)
            row[x] = row[4 * x + 3];
        else
            std::memmove(row + 3 * x, row + 4 * x, 3);
    }
}
}  // namespace

bool DeflateRows(const DibExportPlan& plan, RowPart part, bool filtered, ByteSink& out)
{
    const int channels = part == RowPart::All ? plan.channels : part == RowPart::Alpha ? 1 : 3;
    const size_t bytes = (size_t(plan.width) * size_t(channels * plan.bitDepth) + 7) / 8;
    const size_t bpp = std::max<size_t>(1, size_t(channels * plan.bitDepth) / 8);
    const bool adaptive = filtered && plan.bitDepth >= 8 && plan.model != DibColorModel::Palette;
    const size_t lead = filtered ? 1 : 0;  // the filter byte
    // Rows of few bits repeat themselves (text, line art): there the long search pays. Deeper
    // ones a trial decides, unless they go out unfiltered for speed, where runs are what a
    // scan's noise leaves to find.
    const pgz::Effort effort = plan.bitDepth < 8 ? pgz::Effort::Dense : filtered ? pgz::Effort::Sampled
                                                                                 : pgz::Effort::Runs;
    std::vector<uint8_t> row(plan.rowBytes), prior(bytes, 0), best(bytes + 1), trial(bytes + 1);
    FlateStream stream(out, effort, uint64_t(plan.height) * (bytes + lead));
    for (int32_t y = 0; y < plan.height; ++y) {
        DibExportRow(plan, y, row.data());
        KeepPart(plan, part, row.data());
        if (!filtered) {
            if (!stream.Add(row.data(), bytes))
                return false;
            continue;
        }
        best[0] = 0;
        uint64_t least = Filter(0, row.data(), prior.data(), bytes, bpp, best.data() + 1);
        for (int type = 1; adaptive && type <= 4; ++type) {
            uint64_t sum = Filter(type, row.data(), prior.data(), bytes, bpp, trial.data() + 1);
            if (sum < least) {
                least = sum, trial[0] = uint8_t(type);
                best.swap(trial);
            }
        }
        if (!stream.Add(best.data(), bytes + 1))
            return false;
        std::memcpy(prior.data(), row.data(), bytes);
    }
    return stream.Finish();
}
