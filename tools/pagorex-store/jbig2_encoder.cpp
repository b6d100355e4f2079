#include "tools/pagorex-store/jbig2_encoder.h"

#include <array>
#include <bit>
#include <cstring>
#include <tuple>
#include <utility>

namespace {
// The adaptive coder's probability estimates: the less probable symbol's share of the
// interval, the estimate that follows a more probable and a less probable symbol, and
// whether a less probable one swaps which symbol is the more probable.
struct Estimate {
    uint16_t qe;
    uint8_t nextMps, nextLps, swap;
};
constexpr Estimate kEstimates[47] = {
    {0x5601, 1, 1, 1},   {0x3401, 2, 6, 0},   {0x1801, 3, 9, 0},   {0x0AC1, 4, 12, 0},  {0x0521, 5, 29, 0},
    {0x0221, 38, 33, 0}, {0x5601, 7, 6, 1},   {0x5401, 8, 14, 0},  {0x4801, 9, 14, 0},  {0x3801, 10, 14, 0},
    {0x3001, 11, 17, 0}, {0x2401, 12, 18, 0}, {0x1C01, 13, 20, 0}, {0x1601, 29, 21, 0}, {0x5601, 15, 14, 1},
    {0x5401, 16, 14, 0}, {0x5101, 17, 15, 0}, {0x4801, 18, 16, 0}, {0x3801, 19, 17, 0}, {0x3401, 20, 18, 0},
    {0x3001, 21, 19, 0}, {0x2801, 22, 19, 0}, {0x2401, 23, 20, 0}, {0x2201, 24, 21, 0}, {0x1C01, 25, 22, 0},
    {0x1801, 26, 23, 0}, {0x1601, 27, 24, 0}, {0x1401, 28, 25, 0}, {0x1201, 29, 26, 0}, {0x1101, 30, 27, 0},
    {0x0AC1, 31, 28, 0}, {0x09C1, 32, 29, 0}, {0x08A1, 33, 30, 0}, {0x0521, 34, 31, 0}, {0x0441, 35, 32, 0},
    {0x02A1, 36, 33, 0}, {0x0221, 37, 34, 0}, {0x0141, 38, 35, 0}, {0x0111, 39, 36, 0}, {0x0085, 40, 37, 0},
    {0x0049, 41, 38, 0}, {0x0025, 42, 39, 0}, {0x0015, 43, 40, 0}, {0x0009, 44, 41, 0}, {0x0005, 45, 42, 0},
    {0x0001, 45, 43, 0}, {0x5601, 46, 46, 0},
};

// A context's state is one byte, its estimate's index times two plus its more probable
// symbol; a step of this table gives the state that follows either symbol at once.
struct Step {
    uint16_t qe;
    uint8_t afterMps, afterLps;
};
constexpr std::array<Step, 94> MakeSteps()
{
    std::array<Step, 94> steps{};
    for (unsigned s = 0; s < steps.size(); ++s) {
        const Estimate& e = kEstimates[s / 2];
        const unsigned mps = s & 1;
        steps[s] = {e.qe, uint8_t(e.nextMps * 2 + mps), uint8_t(e.nextLps * 2 + (mps ^ e.swap))};
    }
    return steps;
}
constexpr std::array<Step, 94> kSteps = MakeSteps();

// The arithmetic coder: its registers, and the bytes it writes. The row loop codes with a
// copy of it in locals, so that the registers stay in the machine's. The bytes begin with
// one that is not part of the stream: the register's carry may in principle reach the
// byte before the first.
class MqCoder {
public:
    explicit MqCoder(std::vector<uint8_t>& bytes) : bytes_(&bytes) { bytes.assign(1, 0); }

    void Encode(uint8_t& state, unsigned bit)
    {
        const Step step = kSteps[state];
        a_ -= step.qe;
        if (bit == (state & 1u)) {
            if (a_ & 0x8000) {
                c_ += step.qe;
                return;
            }
            if (a_ < step.qe)
                a_ = step.qe;
            else
                c_ += step.qe;
            state = step.afterMps;
        } else {
            if (a_ < step.qe)
                c_ += step.qe;
            else
                a_ = step.qe;
            state = step.afterLps;
        }
        Renormalize();
    }

    // count white pixels in the context of state, in strides that need no renormalization:
    // while the interval stays at least half, each more probable symbol only moves the base.
    void EncodeWhite(uint8_t& state, size_t count)
    {
        while (count > 0) {
            const uint32_t qe = kSteps[state].qe;
            if ((state & 1u) == 0) {
                const size_t free = (a_ - 0x8000) / qe;
                const size_t n = free < count ? free : count;
                a_ -= uint32_t(n) * qe;
                c_ += uint32_t(n) * qe;
                count -= n;
                if (count == 0)
                    return;
            }
            Encode(state, 0);
            --count;
        }
    }

    // Ends the code so that a reader that runs on past it reads 1 bits, and marks the end.
    void Finish()
    {
        const uint32_t top = c_ + a_;
        c_ |= 0xFFFF;
        if (c_ >= top)
            c_ -= 0x8000;
        for (int i = 0; i < 2; ++i)
            std::tie(c_, ct_) = ByteOut(c_ << ct_, *bytes_);
        if (bytes_->back() != 0xFF)
            bytes_->push_back(0xFF);
        bytes_->push_back(0xAC);
    }

private:
    void Renormalize()
    {
        int shift = std::countl_zero(uint16_t(a_));
        while (shift >= ct_) {
            a_ <<= ct_;
            shift -= ct_;
            std::tie(c_, ct_) = ByteOut(c_ << ct_, *bytes_);
        }
        a_ <<= shift;
        c_ <<= shift;
        ct_ -= shift;
    }

    // Moves the register's top byte out; answers the register left and the bits it takes
    // before the next. After a 0xFF byte only seven follow, so that no carry runs through it.
    static std::pair<uint32_t, int> ByteOut(uint32_t c, std::vector<uint8_t>& bytes)
    {
        if (bytes.back() != 0xFF && c >= 0x8000000) {
            ++bytes.back();
            c &= 0x7FFFFFF;
        }
        if (bytes.back() == 0xFF) {
            bytes.push_back(uint8_t(c >> 20));
            return {c & 0xFFFFF, 7};
        }
        bytes.push_back(uint8_t(c >> 19));
        return {c & 0x7FFFF, 8};
    }

    uint32_t a_ = 0x8000, c_ = 0;
    int ct_ = 12;
    std::vector<uint8_t>* bytes_;
};

// The context of a pixel: 5 pixels of the row two above (from two left of it to two
// right), 7 of the row above (three either side) and the 4 to its left, the farthest up
// and left in the high bit. The outer pixels of the two rows above are the adaptive ones,
// where readers expect them.
constexpr uint8_t kAdaptivePixels[8] = {3, 0xFF, 0xFD, 0xFF, 2, 0xFE, 0xFE, 0xFE};
// Each row begins with a symbol saying whether it is the row above once more, coded in
// this context; such a row is not coded further. On a level text page that saves a
// twentieth of the stream, and where no row repeats it costs under half a percent.
constexpr uint32_t kSameRowContext = 0x9B25;

// The rows a pixel's context reaches, as the coder needs them: black is 1, the bits past
// the width are 0, and a zero byte lies on either side of each.
class Rows {
public:
    explicit Rows(const Jbig2Page& page)
        : page_(page), bytes_((size_t(page.width) + 7) / 8), lines_(3 * (bytes_ + 2), 0)
    {
    }
    size_t Bytes() const { return bytes_; }
    // The last row loaded (back 0) or one of the two before it; rows above the page are white.
    const uint8_t* Line(int back) const { return &lines_[(next_ + 2 - back) % 3 * (bytes_ + 2) + 1]; }
    const uint8_t* Load()
    {
        uint8_t* line = &lines_[next_ * (bytes_ + 2) + 1];
        const uint8_t* row = page_.rows + size_t(loaded_++) * bytes_;
        const uint8_t flip = page_.oneIsBlack ? 0 : 0xFF;
        for (size_t b = 0; b < bytes_; ++b)
            line[b] = row[b] ^ flip;
        if (page_.width % 8)
            line[bytes_ - 1] &= uint8_t(0xFF00 >> (page_.width % 8));
        next_ = (next_ + 1) % 3;
        return line;
    }

private:
    const Jbig2Page& page_;
    size_t bytes_;
    std::vector<uint8_t> lines_;
    int next_ = 0, loaded_ = 0;
};

// Codes a row given with the two above it, and answers the run of white it leaves pending:
// each byte whose pixels are white and see only white joins the run, coded at the next
// pixel that is not, in the all-white context. Each other byte's contexts follow from
// the first by shifting in a pixel of each row.
size_t CodeRow(MqCoder& held, uint8_t* states, size_t white, const uint8_t* r2, const uint8_t* r1,
               const uint8_t* r0, size_t width)
{
    MqCoder coder = held;
    uint32_t w2 = r2[-1] << 8 | r2[0], w1 = r1[-1] << 8 | r1[0], w0 = r0[-1] << 8 | r0[0];
    for (size_t b = 0; 8 * b < width; ++b) {
        // Bytes b - 1, b and b + 1: pixel 8b + k at bit 15 - k.
        w2 = (w2 << 8 | r2[b + 1]) & 0xFFFFFF;
        w1 = (w1 << 8 | r1[b + 1]) & 0xFFFFFF;
        w0 = (w0 << 8 | r0[b + 1]) & 0xFFFFFF;
        const unsigned pixels = width - 8 * b < 8 ? unsigned(width - 8 * b) : 8;
        if ((w2 >> 6 & 0xFFF) == 0 && (w1 >> 5 & 0x3FFF) == 0 && (w0 >> 8 & 0xFFF) == 0) {
            white += pixels;
            continue;
        }
        coder.EncodeWhite(states[0], white);
        white = 0;
        uint32_t context = (w2 >> 13 & 0x1F) << 11 | (w1 >> 12 & 0x7F) << 4 | (w0 >> 16 & 0xF);
        for (unsigned k = 0; k < pixels; ++k) {
            const unsigned bit = w0 >> (15 - k) & 1;
            coder.Encode(states[context], bit);
            context = (context << 1 & 0xF7EE) | (w2 >> (12 - k) & 1) << 11 | (w1 >> (11 - k) & 1) << 4 | bit;
        }
    }
    held = coder;
    return white;
}

// Codes the page's pixels into code, row by row.
void CodeRegion(const Jbig2Page& page, std::vector<uint8_t>& code)
{
    Rows rows(page);
    MqCoder coder(code);
    std::vector<uint8_t> states(65536, 0);
    size_t white = 0;
    bool same = false;
    for (int y = 0; y < page.height; ++y) {
        const uint8_t* row = rows.Load();
        const bool now = std::memcmp(row, rows.Line(1), rows.Bytes()) == 0;
        coder.EncodeWhite(states[0], white);
        white = 0;
        coder.Encode(states[kSameRowContext], now != same);
        same = now;
        if (!same)
            white = CodeRow(coder, states.data(), white, rows.Line(2), rows.Line(1), row, size_t(page.width));
    }
    coder.EncodeWhite(states[0], white);
    coder.Finish();
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

// A segment's header: its number, its type, no segments it refers to, page 1.
void SegmentHeader(std::vector<uint8_t>& out, uint32_t number, uint8_t type, uint32_t length)
{
    Put32(out, number);
    out.insert(out.end(), {type, 0, 1});
    Put32(out, length);
}
}  // namespace

bool EncodeJbig2(const Jbig2Page& page, std::vector<uint8_t>& out)
{
    if (page.width < 1 || page.height < 1 || !page.rows)
        return false;
    std::vector<uint8_t> code;
    CodeRegion(page, code);
    const size_t length = 17 + 1 + sizeof kAdaptivePixels + code.size() - 1;
    if (length >= 0xFFFFFFFF)
        return false;
    SegmentHeader(out, 0, 48, 19);  // page information
    for (uint32_t field : {uint32_t(page.width), uint32_t(page.height), page.xPelsPerMeter, page.yPelsPerMeter})
        Put32(out, field);
    out.insert(out.end(), {1, 0, 0});  // lossless, white behind, not striped
    SegmentHeader(out, 1, 39, uint32_t(length));  // immediate lossless generic region
    for (uint32_t field : {uint32_t(page.width), uint32_t(page.height), 0u, 0u})
        Put32(out, field);
    out.push_back(0);     // combined by OR, which on white is a copy
    out.push_back(0x08);  // arithmetic coding, the 16-pixel template, rows that repeat skipped
    out.insert(out.end(), std::begin(kAdaptivePixels), std::end(kAdaptivePixels));
    out.insert(out.end(), code.begin() + 1, code.end());
    return true;
}
