// The strict blob check and the read window it reads through.
#include "store/core/blob_check.h"

#include "base/little_endian.h"
#include "dib/dib_bytes.h"

#include <zlib.h>

#include <algorithm>

namespace {
constexpr size_t kInflateOut = 64 * 1024;
constexpr size_t kSmallestRefill = 64 * 1024;
constexpr size_t kFileHeader = 14;

struct ProblemName {
    BlobProblem problem;
    const char* code;
    const char* text;
};

constexpr ProblemName kProblemNames[] = {
    {BlobProblem::None, "none", "sound"},
    {BlobProblem::Empty, "empty", "the blob holds no bytes"},
    {BlobProblem::MissingFile, "missing-file", "the file that holds the blob is missing"},
    {BlobProblem::PastEnd, "past-end", "the blob starts past the end of its file"},
    {BlobProblem::RunsPastEnd, "runs-past-end", "the blob runs past the end of its file (cut short?)"},
    {BlobProblem::Unreadable, "unreadable", "the blob could not be read"},
    {BlobProblem::NotGzip, "not-gzip", "the blob is not a gzip member"},
    {BlobProblem::DamagedGzip, "damaged-gzip", "the gzip member is damaged"},
    {BlobProblem::CutGzip, "cut-gzip", "the gzip member is cut short"},
    {BlobProblem::ExtraBytes, "extra-bytes", "bytes follow the gzip member inside the blob"},
    {BlobProblem::WrongImageLength, "wrong-image-length", "the image length does not match the gzip member"},
    {BlobProblem::NotBitmap, "not-bitmap", "the image is not a bitmap file"},
    {BlobProblem::UnsafeBitmap, "unsafe-bitmap", "the bitmap's header does not fit its data"},
    {BlobProblem::ShortBitmap, "short-bitmap", "the bitmap file is shorter than its header says"},
    {BlobProblem::Unchecked, "unchecked", "the blob could not be checked: there was not enough memory"},
    {BlobProblem::CheckFailed, "check-failed", "the blob could not be checked: the check failed (an internal error)"},
};

const ProblemName& NameOf(BlobProblem problem)
{
    for (const ProblemName& name : kProblemNames)
        if (name.problem == problem)
            return name;
    return kProblemNames[0];
}

}  // namespace

const char* BlobProblemText(BlobProblem problem)
{
    return NameOf(problem).text;
}

const char* BlobProblemCode(BlobProblem problem)
{
    return NameOf(problem).code;
}

// One inflate state for every blob: setting one up costs more than many small blobs.
struct BlobChecker::Inflater {
    z_stream stream{};
    bool ready = false;
    std::vector<uint8_t> out = std::vector<uint8_t>(kInflateOut);
    Inflater() { ready = inflateInit2(&stream, 15 + 16) == Z_OK; }  // gzip members only
    ~Inflater()
    {
        if (ready)
            inflateEnd(&stream);
    }
};

BlobChecker::BlobChecker() : inflater_(std::make_unique<Inflater>()) {}

BlobChecker::~BlobChecker() = default;

void BlobChecker::Start(const IndexRecord& record, bool headerOnly, ImageSink* sink)
{
    record_ = record;
    // The program reads every non-zero value as compressed.
    compressed_ = record.compressed != 0;
    headerOnly_ = headerOnly;
    sink_ = sink;
    fed_ = 0;
    memberEnded_ = false;
    sinkFailed_ = false;
    streamProblem_ = BlobProblem::None;
    bitmapProblem_ = BlobProblem::None;
    verdict_ = BlobVerdict{};
    headBytes_ = 0;
    headerJudged_ = false;
    dibBytes_ = 0;
    if (inflater_->ready)
        inflateReset(&inflater_->stream);
}

void BlobChecker::Fail(BlobProblem problem)
{
    if (streamProblem_ == BlobProblem::None)
        streamProblem_ = problem;
}

bool BlobChecker::Done() const
{
    return streamProblem_ != BlobProblem::None || sinkFailed_ ||
           (headerOnly_ && (headerJudged_ || bitmapProblem_ != BlobProblem::None));
}

bool BlobChecker::Feed(const uint8_t* bytes, size_t count)
{
    if (Done())
        return false;
    uint64_t before = fed_;
    fed_ += count;
    if (!compressed_) {
        Image(bytes, count);
        return !Done();
    }
    if (memberEnded_) {
        if (count > 0)
            Fail(BlobProblem::ExtraBytes);
        return !Done();
    }
    // The magic is checked here: zlib would only call it a bad header.
    static constexpr uint8_t kMagic[2] = {0x1F, 0x8B};
    for (uint64_t i = before; i < 2 && i < fed_; ++i)
        if (bytes[i - before] != kMagic[i]) {
            Fail(BlobProblem::NotGzip);
            return false;
        }
    if (!inflater_->ready) {
        Fail(BlobProblem::Unreadable);
        return false;
    }
    z_stream& z = inflater_->stream;
    z.next_in = const_cast<Bytef*>(bytes);
    z.avail_in = static_cast<uInt>(count);
    // Until the input is used up and inflate has nothing left to hand out.
    // A listing wants the headers only: inflate no further than they reach.
    size_t room = headerOnly_ ? sizeof head_ : inflater_->out.size();
    for (;;) {
        z.next_out = inflater_->out.data();
        z.avail_out = static_cast<uInt>(room);
        int status = inflate(&z, Z_NO_FLUSH);
        size_t produced = room - z.avail_out;
        if (produced > 0)
            Image(inflater_->out.data(), produced);
        if (status == Z_STREAM_END) {
            memberEnded_ = true;
            if (z.avail_in > 0)
                Fail(BlobProblem::ExtraBytes);
            break;
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            verdict_.zlibMessage = z.msg;
            Fail(BlobProblem::DamagedGzip);
            break;
        }
        if (Done() || (z.avail_in == 0 && z.avail_out > 0))
            break;
    }
    return !Done();
}

void BlobChecker::Image(const uint8_t* bytes, size_t count)
{
    verdict_.imageBytes += count;
    if (sink_ && !sinkFailed_ && !sink_->Write(bytes, count))
        sinkFailed_ = true;
    if (headerJudged_ || bitmapProblem_ != BlobProblem::None || headBytes_ == sizeof head_)
        return;
    size_t take = std::min(count, sizeof head_ - headBytes_);
    std::copy(bytes, bytes + take, head_ + headBytes_);
    headBytes_ += take;
    JudgeHeader();
}

// As the program's bitmap reader: "BM", a file header announcing at least a core header,
// and a DIB of that size that passes the safety check.
void BlobChecker::JudgeHeader()
{
    if (headBytes_ >= 2 && (head_[0] != 'B' || head_[1] != 'M')) {
        bitmapProblem_ = BlobProblem::NotBitmap;
        return;
    }
    if (headBytes_ < kFileHeader)
        return;
    int64_t dibBytes = BmpDibBytes(BmpParseFileHeader(head_));
    if (dibBytes < 0 && LoadLE32(head_ + 2) >= kFileHeader) {
        bitmapProblem_ = BlobProblem::UnsafeBitmap;  // more than any DIB can hold
        return;
    }
    if (dibBytes < static_cast<int64_t>(kCoreHeaderBytes)) {
        bitmapProblem_ = BlobProblem::NotBitmap;
        return;
    }
    dibBytes_ = static_cast<uint64_t>(dibBytes);
    size_t needed = kFileHeader + std::min<size_t>(dibBytes_, kInfoHeaderBytes);
    if (headBytes_ < needed)
        return;
    const uint8_t* dib = head_ + kFileHeader;
    // Only the bytes the file header gives the DIB count, however many have come in: the
    // verdict must not depend on how the blob was fed.
    if (DibHeaderReadable(dib, needed - kFileHeader)) {
        DibLayout layout = DibReadLayout(dib);
        verdict_.bitmap = {true, layout.width, layout.height, layout.bitCount, LoadLE32(head_ + 2)};
    }
    headerJudged_ = true;
    if (!DibHeaderIsSafe(dib, static_cast<size_t>(dibBytes_)))
        bitmapProblem_ = BlobProblem::UnsafeBitmap;
}

BlobVerdict BlobChecker::Finish(bool whole)
{
    if (compressed_ && whole && !memberEnded_ && streamProblem_ == BlobProblem::None && !sinkFailed_) {
        // Every byte was fed and the member still has not ended.
        Fail(fed_ < 2 ? BlobProblem::NotGzip : BlobProblem::CutGzip);
    }
    if (whole && !headerOnly_) {
        if (!headerJudged_ && bitmapProblem_ == BlobProblem::None)
            bitmapProblem_ = headBytes_ < kFileHeader ? BlobProblem::NotBitmap : BlobProblem::ShortBitmap;
        if (bitmapProblem_ == BlobProblem::None && verdict_.imageBytes < kFileHeader + dibBytes_)
            bitmapProblem_ = BlobProblem::ShortBitmap;
    }
    BlobVerdict verdict = verdict_;
    if (streamProblem_ != BlobProblem::None)
        verdict.problem = streamProblem_;
    else if (compressed_ && whole && !headerOnly_ && verdict.imageBytes != record_.imageLength)
        verdict.problem = BlobProblem::WrongImageLength;
    else
        verdict.problem = bitmapProblem_;
    return verdict;
}

ReadWindow::ReadWindow(FileReader& file, size_t capacity) : file_(file), capacity_(std::max(capacity, kSmallestRefill))
{
}

int64_t ReadWindow::View(uint64_t offset, size_t max, uint64_t wanted, const uint8_t** data)
{
    if (offset < start_ || offset >= start_ + held_) {
        size_t refill = static_cast<size_t>(std::clamp<uint64_t>(wanted, kSmallestRefill, capacity_));
        if (window_.size() < refill)
            window_.resize(refill);
        int64_t read = file_.ReadAt(offset, window_.data(), refill);
        if (read < 0) {
            held_ = 0;
            return -1;
        }
        start_ = offset;
        held_ = static_cast<size_t>(read);
        if (held_ == 0)
            return 0;
    }
    size_t at = static_cast<size_t>(offset - start_);
    *data = window_.data() + at;
    return static_cast<int64_t>(std::min(max, held_ - at));
}

uint64_t ReadWindow::Size(bool refresh)
{
    if (!sized_ || refresh) {
        size_ = file_.Size();
        sized_ = true;
    }
    return size_;
}

BlobVerdict CheckBlob(ReadWindow& file, const IndexRecord& record, BlobChecker& checker, bool headerOnly,
                      ImageSink* sink)
{
    BlobVerdict verdict;
    if (record.storedLength == 0) {
        verdict.problem = BlobProblem::Empty;
        return verdict;
    }
    uint64_t start = record.dataOffset, end = start + record.storedLength;
    // A running program may have appended the blob after the size was taken.
    if (end > file.Size() && end > file.Size(true)) {
        verdict.problem = start >= file.Size() ? BlobProblem::PastEnd : BlobProblem::RunsPastEnd;
        return verdict;
    }
    checker.Start(record, headerOnly, sink);
    // A listing needs the first few hundred bytes at most.
    constexpr uint64_t kHeaderReach = 4096;
    uint64_t at = start;
    while (at < end) {
        const uint8_t* bytes = nullptr;
        uint64_t wanted = headerOnly ? std::min(end - at, kHeaderReach) : end - at;
        int64_t got = file.View(at, static_cast<size_t>(std::min<uint64_t>(end - at, kInflateOut)), wanted, &bytes);
        if (got <= 0) {
            verdict.problem = got < 0 ? BlobProblem::Unreadable : BlobProblem::RunsPastEnd;
            return verdict;
        }
        at += static_cast<uint64_t>(got);
        if (!checker.Feed(bytes, static_cast<size_t>(got)))
            break;
    }
    return checker.Finish(at == end);
}
