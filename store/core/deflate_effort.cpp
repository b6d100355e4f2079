#include "store/core/deflate_effort.h"

#include "dib/dib_bytes.h"
#include "store/core/parallel_gzip.h"
#include "store/core/run_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace pgz {
namespace {
// The trial looks at this much of a block: a row or two of a page, enough to show the
// sensor's noise and whether the picture repeats itself, deflated two or three times
// over in a fraction of what the block costs at level 9.
constexpr size_t kProbeBytes = 8 * 1024;
// A block this small is done at level 9 in no time.
constexpr size_t kSmallestTrial = 16 * 1024;
// A quicker effort is taken when the trial finds it at most this much larger than level 9.
constexpr double kTolerance = 1.003;
// Deflaters kept for the next blocks: one per worker and effort in use is plenty.
constexpr size_t kKeptDeflaters = 2 * 8 + 2;

size_t MeasureWith(Effort effort, std::span<const uint8_t> probe);

// The quickest effort within kTolerance of level 9 on the probe.
Effort Trial(std::span<const uint8_t> probe)
{
    size_t best = MeasureWith(Effort::Best, probe);
    if (best == 0)
        return Effort::Best;
    for (Effort quicker : {Effort::Runs, Effort::Fast}) {
        size_t size = MeasureWith(quicker, probe);
        if (size > 0 && double(size) <= double(best) * kTolerance)
            return quicker;
    }
    return Effort::Best;
}
}  // namespace

uint32_t BitmapDepth(std::span<const uint8_t> bytes)
{
    if (bytes.size() < kFileHeaderBytes || BmpParseFileHeader(bytes.data()).type != kBmpSignature)
        return 0;
    std::span<const uint8_t> dib = bytes.subspan(kFileHeaderBytes);
    if (!DibHeaderReadable(dib.data(), dib.size()))
        return 0;
    DibLayout layout = DibReadLayout(dib.data());
    return layout.headerSize == kCoreHeaderBytes || layout.headerSize >= kInfoHeaderBytes ? layout.bitCount : 0;
}

Effort ChooseEffort(std::span<const uint8_t> firstBlock)
{
    uint32_t depth = BitmapDepth(firstBlock);
    return depth == 0 ? Effort::Best : depth < 8 ? Effort::Dense : Effort::Sampled;
}

Effort TrialEffort(std::span<const uint8_t> blockBytes)
{
    if (blockBytes.size() < kSmallestTrial)
        return Effort::Best;
    // The middle: the first block starts with the headers and the colour table.
    return Trial(blockBytes.subspan((blockBytes.size() - kProbeBytes) / 2, kProbeBytes));
}

size_t BlockSizeFor(Effort effort)
{
    return effort == Effort::Dense ? 2 * kBlockSize : kBlockSize;
}

struct Deflater::Stream {
    z_stream z{};
    bool ready = false;
};

Deflater::Deflater(Effort effort) : stream_(std::make_unique<Stream>()), effort_(effort)
{
    if (effort == Effort::Runs)
        return;  // DeflateRuns needs no zlib stream
    // Sampled has no deflater of its own; it is set up as level 9 should one be asked for.
    const int level = effort == Effort::Fast ? 3 : 9;
    const int memLevel = effort == Effort::Dense ? 9 : 8;
    stream_->ready = deflateInit2(&stream_->z, level, Z_DEFLATED, -15, memLevel, Z_DEFAULT_STRATEGY) == Z_OK;
}

Deflater::~Deflater()
{
    if (stream_->ready)
        deflateEnd(&stream_->z);
}

bool Deflater::Reset()
{
    if (!stream_->ready || deflateReset(&stream_->z) != Z_OK)
        return false;
    // A reset puts back the level's own search limits. Good matches stop shortening the
    // search only at 64 bytes: on text pages the best of a long chain is worth the time.
    return effort_ != Effort::Dense || deflateTune(&stream_->z, 64, 258, 258, 4096) == Z_OK;
}

size_t Deflater::Measure(std::span<const uint8_t> bytes)
{
    if (effort_ == Effort::Runs) {
        std::vector<uint8_t> out;
        DeflateRuns(bytes, true, out);
        return out.size();
    }
    if (!Reset())
        return 0;
    z_stream& z = stream_->z;
    std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(bytes.size())));
    z.next_in = const_cast<Bytef*>(bytes.data());
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    return deflate(&z, Z_FINISH) == Z_STREAM_END ? out.size() - z.avail_out : 0;
}

void Deflater::Compress(Block& block)
{
    std::span<const uint8_t> bytes = block.Bytes();
    z_stream& z = stream_->z;
    block.crc = static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
    block.output.clear();
    if (effort_ == Effort::Runs) {
        // Runs of the byte before only: the dictionary has nothing to offer them.
        block.failed = false;
        DeflateRuns(bytes, block.last, block.output);
        return;
    }
    block.failed = !Reset() || (block.dictionary > 0 && deflateSetDictionary(&z, block.input.data(),
                                                                              static_cast<uInt>(block.dictionary)) != Z_OK);
    if (block.failed)
        return;
    // Room for the worst case and the sync flush's empty stored block; more if needed.
    block.output.resize(deflateBound(&z, static_cast<uLong>(bytes.size())) + 16);
    z.next_in = const_cast<Bytef*>(bytes.data());
    z.avail_in = static_cast<uInt>(bytes.size());
    size_t produced = 0;
    const int flush = block.last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        z.next_out = block.output.data() + produced;
        z.avail_out = static_cast<uInt>(block.output.size() - produced);
        int result = deflate(&z, flush);
        produced = block.output.size() - z.avail_out;
        if (result == Z_STREAM_END || (flush == Z_SYNC_FLUSH && result == Z_OK && z.avail_out > 0))
            break;
        if (result != Z_OK && result != Z_BUF_ERROR) {
            block.failed = true;
            return;
        }
        block.output.resize(block.output.size() + 64 * 1024);
    }
    block.output.resize(produced);
}

namespace {
std::mutex keptMutex;
// Never destroyed: a worker may hand a deflater back while the program ends.
std::vector<std::unique_ptr<Deflater>>& Kept()
{
    static auto* kept = new std::vector<std::unique_ptr<Deflater>>;
    return *kept;
}
}  // namespace

std::unique_ptr<Deflater> LeaseDeflater(Effort effort)
{
    {
        std::lock_guard lock(keptMutex);
        auto& kept = Kept();
        auto it = std::find_if(kept.begin(), kept.end(), [effort](const auto& d) { return d->effort() == effort; });
        if (it != kept.end()) {
            std::unique_ptr<Deflater> deflater = std::move(*it);
            kept.erase(it);
            return deflater;
        }
    }
    return std::make_unique<Deflater>(effort);
}

void ReturnDeflater(std::unique_ptr<Deflater> deflater)
{
    std::lock_guard lock(keptMutex);
    auto& kept = Kept();
    if (kept.size() < kKeptDeflaters)
        kept.push_back(std::move(deflater));
}

namespace {
// A trial's deflaters are kept like the blocks' ones: setting up three for every block
// costs more than the trial, and churns the heap of a program that exports page after page.
size_t MeasureWith(Effort effort, std::span<const uint8_t> probe)
{
    std::unique_ptr<Deflater> deflater = LeaseDeflater(effort);
    size_t size = deflater->Measure(probe);
    ReturnDeflater(std::move(deflater));
    return size;
}
}  // namespace

}  // namespace pgz
