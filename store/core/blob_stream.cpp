#include "store/core/blob_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {
constexpr size_t kInputSize = 256 * 1024;
constexpr uint8_t kGzipMagic[2] = {0x1F, 0x8B};
}  // namespace

struct BlobStream::Inflater {
    z_stream stream{};
    bool ready = false;
    ~Inflater()
    {
        if (ready)
            inflateEnd(&stream);
    }
};

BlobStream::BlobStream(Source source, bool compressed, uint32_t imageLength)
    : source_(std::move(source)), mode_(compressed ? Mode::Start : Mode::Plain), left_(imageLength)
{
}

BlobStream::~BlobStream() = default;

bool BlobStream::Fill(size_t want)
{
    if (inStart_ > 0 && inStart_ == inEnd_)
        inStart_ = inEnd_ = 0;
    if (input_.empty())
        input_.resize(kInputSize);
    while (inEnd_ - inStart_ < want && !sourceEnded_) {
        if (inEnd_ == input_.size()) {
            std::memmove(input_.data(), input_.data() + inStart_, inEnd_ - inStart_);
            inEnd_ -= inStart_;
            inStart_ = 0;
        }
        int64_t got = source_(input_.data() + inEnd_, input_.size() - inEnd_);
        if (got < 0)
            return false;
        sourceEnded_ = got == 0;
        inEnd_ += static_cast<size_t>(got);
    }
    return true;
}

bool BlobStream::MemberFollows()
{
    return inEnd_ - inStart_ >= 2 && std::memcmp(input_.data() + inStart_, kGzipMagic, 2) == 0;
}

int64_t BlobStream::Read(void* buffer, size_t count)
{
    auto* out = static_cast<uint8_t*>(buffer);
    switch (mode_) {
    case Mode::Plain:
        return source_(out, count);
    case Mode::Start:
        if (!Fill(2)) {
            mode_ = Mode::Failed;
            return -1;
        }
        mode_ = MemberFollows() ? Mode::Inflate : Mode::Direct;
        return Read(buffer, count);
    case Mode::Direct:
        return ReadDirect(out, count);
    case Mode::Inflate:
        return Inflate(out, count);
    case Mode::End:
        return 0;
    case Mode::Failed:
        break;
    }
    return -1;
}

// Bytes that are no gzip member are the image file as they stand.
int64_t BlobStream::ReadDirect(uint8_t* out, size_t count)
{
    count = static_cast<size_t>(std::min<uint64_t>(count, left_));
    size_t done = 0;
    while (done < count) {
        if (inStart_ == inEnd_ && !Fill(1)) {
            mode_ = Mode::Failed;
            return done ? static_cast<int64_t>(done) : -1;
        }
        size_t n = std::min(count - done, inEnd_ - inStart_);
        if (n == 0)
            break;
        std::memcpy(out + done, input_.data() + inStart_, n);
        inStart_ += n;
        done += n;
    }
    left_ -= done;
    return static_cast<int64_t>(done);
}

int64_t BlobStream::Inflate(uint8_t* out, size_t count)
{
    if (!inflater_) {
        inflater_ = std::make_unique<Inflater>();
        if (inflateInit2(&inflater_->stream, 16 + MAX_WBITS) != Z_OK) {
            mode_ = Mode::Failed;
            return -1;
        }
        inflater_->ready = true;
    }
    z_stream& z = inflater_->stream;
    count = static_cast<size_t>(std::min<uint64_t>(count, left_));
    z.next_out = out;
    z.avail_out = static_cast<uInt>(count);
    // The bytes expanded before a failure still count; the failure shows at the next read.
    // Damage past the image's end takes nothing from an image already whole (whether
    // inflate sees it before the output is full depends on how the input arrived).
    auto produced = [&] { return static_cast<int64_t>(count - z.avail_out); };
    auto fail = [&]() -> int64_t {
        int64_t done = produced();
        mode_ = static_cast<uint64_t>(done) == left_ ? Mode::End : Mode::Failed;
        left_ -= static_cast<uint64_t>(done);
        return done ? done : -1;
    };
    while (z.avail_out > 0) {
        if (inStart_ == inEnd_) {
            if (!Fill(1))
                return fail();
            if (inStart_ == inEnd_)
                return fail();  // the member is cut short
        }
        z.next_in = input_.data() + inStart_;
        z.avail_in = static_cast<uInt>(inEnd_ - inStart_);
        int result = inflate(&z, Z_NO_FLUSH);
        inStart_ = inEnd_ - z.avail_in;
        if (result == Z_STREAM_END) {
            if (!Fill(2) || !MemberFollows()) {
                mode_ = Mode::End;
                break;
            }
            inflateReset(&z);
        } else if (result != Z_OK && result != Z_BUF_ERROR) {
            return fail();
        }
    }
    left_ -= static_cast<uint64_t>(produced());
    return produced();
}
