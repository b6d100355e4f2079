#include "store/core/run_deflate.h"

#include "base/little_endian.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace pgz {
namespace {
// As many symbols as zlib puts in a block at its default memory level: tables that follow
// the page from text lines to a photo, at a header of some 60 bytes each.
constexpr size_t kSymbolsPerBlock = 16384;
constexpr int kLiteralCodes = 286, kEndOfBlock = 256, kFirstLengthCode = 257, kLengthCodes = 29;
constexpr int kCodeLengthCodes = 19;
// The fixed code has two literal/length codes that are never used; they shift the others.
constexpr int kFixedCodes = 288;
constexpr unsigned kMaxBits = 15, kMaxCodeLengthBits = 7;
constexpr size_t kShortestRun = 3, kLongestRun = 258, kStoredMax = 65535;
// A symbol: a literal byte, or kRun plus a run's length less kShortestRun.
constexpr uint16_t kRun = 256;
enum BlockType : uint32_t { kStored = 0, kFixedBlock = 1, kDynamic = 2 };

constexpr uint16_t kLengthBase[kLengthCodes] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// The order in which a dynamic block sends the lengths of its code length code.
constexpr uint8_t kCodeLengthOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

struct LengthCodeTable {
    uint8_t of[kLongestRun + 1] = {};  // the length code (0..28) of each run length
    constexpr LengthCodeTable()
    {
        for (int code = 0; code < kLengthCodes; ++code)
            for (size_t length = kLengthBase[code]; length <= kLongestRun; ++length)
                of[length] = uint8_t(code);
    }
};
constexpr LengthCodeTable kLengthCodeOf;

// A Huffman code: its lengths, and its codes bit-reversed (deflate sends a code from its
// top bit, the bit writer from the bottom).
struct Code {
    std::array<uint8_t, kFixedCodes> length{};
    std::array<uint16_t, kFixedCodes> bits{};
};

// Lengths of a Huffman code for freq, or false when one would be longer than limit.
bool TryLengths(const uint32_t* freq, int n, unsigned limit, Code& code)
{
    std::array<uint16_t, kLiteralCodes> leaf;
    int leaves = 0;
    for (int i = 0; i < n; ++i) {
        code.length[i] = 0;
        if (freq[i] != 0)
            leaf[leaves++] = uint16_t(i);
    }
    if (leaves <= 1) {
        if (leaves == 1)
            code.length[leaf[0]] = 1;  // a code of one symbol still takes a bit
        return true;
    }
    std::sort(leaf.begin(), leaf.begin() + leaves,
              [freq](uint16_t a, uint16_t b) { return freq[a] != freq[b] ? freq[a] < freq[b] : a < b; });
    // Two queues, the leaves and the nodes made from them, both in rising weight.
    std::array<uint64_t, 2 * kLiteralCodes> weight;
    std::array<int16_t, 2 * kLiteralCodes> parent;
    for (int k = 0; k < leaves; ++k)
        weight[k] = freq[leaf[k]];
    int nextLeaf = 0, nextNode = leaves, made = leaves;
    auto lightest = [&] {
        return nextLeaf < leaves && (nextNode == made || weight[nextLeaf] <= weight[nextNode]) ? nextLeaf++
                                                                                                 : nextNode++;
    };
    for (; made < 2 * leaves - 1; ++made) {
        int a = lightest(), b = lightest();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = int16_t(made);
    }
    // A node is made after its children: depths follow from the root down.
    std::array<uint8_t, 2 * kLiteralCodes> depth;
    depth[made - 1] = 0;
    unsigned deepest = 0;
    for (int k = made - 2; k >= 0; --k) {
        depth[k] = uint8_t(depth[parent[k]] + 1);
        if (k < leaves) {
            code.length[leaf[k]] = depth[k];
            deepest = std::max<unsigned>(deepest, depth[k]);
        }
    }
    return deepest <= limit;
}

uint16_t Reversed(uint32_t bits, unsigned count)
{
    uint32_t reversed = 0;
    for (unsigned i = 0; i < count; ++i, bits >>= 1)
        reversed = reversed << 1 | (bits & 1);
    return uint16_t(reversed);
}

// The canonical codes of the lengths.
void AssignBits(int n, Code& code)
{
    uint32_t count[kMaxBits + 1] = {}, next[kMaxBits + 1] = {};
    for (int i = 0; i < n; ++i)
        ++count[code.length[i]];
    count[0] = 0;
    for (unsigned bits = 1; bits <= kMaxBits; ++bits)
        next[bits] = (next[bits - 1] + count[bits - 1]) << 1;
    for (int i = 0; i < n; ++i)
        if (code.length[i] != 0)
            code.bits[i] = Reversed(next[code.length[i]]++, code.length[i]);
}

// A Huffman code for freq with no code longer than limit: where the plain code would be
// deeper, the frequencies are flattened until it is not (rare: a few very rare symbols).
void BuildCode(const uint32_t* freq, int n, unsigned limit, Code& code)
{
    std::array<uint32_t, kLiteralCodes> flattened;
    std::copy(freq, freq + n, flattened.begin());
    while (!TryLengths(flattened.data(), n, limit, code))
        for (int i = 0; i < n; ++i)
            if (flattened[i] != 0)
                flattened[i] = flattened[i] / 2 + 1;
    AssignBits(n, code);
}

Code FixedCode()
{
    Code code;
    for (int i = 0; i < kFixedCodes; ++i)
        code.length[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    AssignBits(kFixedCodes, code);
    return code;
}
const Code kFixed = FixedCode();
constexpr unsigned kFixedDistanceBits = 5;  // distance code 0 is five zero bits

// The symbols of one block, and the bytes they stand for.
struct Symbols {
    std::vector<uint16_t> tokens;
    uint32_t freq[kLiteralCodes] = {};  // of literals, the end of block and length codes
    uint32_t runs = 0;                  // the uses of distance code 0
    uint32_t extraBits = 0;             // the lengths' extra bits
    size_t from = 0, to = 0;
};

// Symbols for bytes from `from` on, until the block has its share of them. A run is
// looked for only where the next three bytes repeat the byte (one comparison of four
// bytes): on noise a branch taken at every repeat would be foretold wrongly half the time.
void Tokenize(std::span<const uint8_t> bytes, size_t from, Symbols& s)
{
    s.tokens.resize(kSymbolsPerBlock + 1);
    const uint8_t* p = bytes.data();
    const size_t size = bytes.size();
    size_t i = from, n = 0;
    while (i < size && n < kSymbolsPerBlock) {
        const uint8_t c = p[i];
        s.tokens[n++] = c;
        if (size - i < 1 + kShortestRun || LoadLE32(p + i) != c * 0x01010101u) {
            ++i;
            continue;
        }
        const size_t limit = std::min(size, i + 1 + kLongestRun);
        size_t j = i + 1 + kShortestRun;
        while (j < limit && p[j] == c)
            ++j;
        s.tokens[n++] = uint16_t(kRun + (j - i - 1) - kShortestRun);
        i = j;
    }
    s.tokens.resize(n);
    s.from = from, s.to = i;
}

// The symbols' frequencies, in four tables by turns: a byte that repeats would otherwise
// wait for its own count's last store.
void Count(Symbols& s)
{
    uint32_t counts[4][2 * kRun] = {};
    const uint16_t* token = s.tokens.data();
    const size_t n = s.tokens.size();
    size_t k = 0;
    for (; k + 4 <= n; k += 4)
        for (int t = 0; t < 4; ++t)
            ++counts[t][token[k + t]];
    for (; k < n; ++k)
        ++counts[0][token[k]];
    std::fill(std::begin(s.freq), std::end(s.freq), 0);
    s.runs = s.extraBits = 0;
    for (int symbol = 0; symbol < 2 * kRun; ++symbol) {
        const uint32_t count = counts[0][symbol] + counts[1][symbol] + counts[2][symbol] + counts[3][symbol];
        if (symbol < kRun) {
            s.freq[symbol] = count;
            continue;
        }
        const unsigned code = kLengthCodeOf.of[symbol - kRun + kShortestRun];
        s.freq[kFirstLengthCode + code] += count;
        s.extraBits += count * kLengthExtra[code];
        s.runs += count;
    }
    s.freq[kEndOfBlock] = 1;
}

void StoreLE64(uint8_t* p, uint64_t value)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &value, 8);
    } else {
        StoreLE32(p, uint32_t(value));
        StoreLE32(p + 4, uint32_t(value >> 32));
    }
}

// Writes bits from the lowest up into out.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(&out), at_(out.size()) {}
    // Room for bits more bits (and the eight-byte stores' slack), before they are put.
    void Reserve(uint64_t bits)
    {
        out_->resize(std::max(out_->size(), at_ + size_t(bits / 8) + 16));
        data_ = out_->data();
    }
    // Whole bytes go out at once, without a branch a literal's length would make hard to
    // foretell: eight bytes are stored and the position moves on by those complete.
    void Put(uint32_t bits, unsigned count)
    {
        buffer_ |= uint64_t(bits) << count_;
        count_ += count;
        StoreLE64(data_ + at_, buffer_);
        at_ += count_ / 8;
        buffer_ >>= count_ & ~7u;  // count_ < 64: at most 7 left over and 32 put
        count_ &= 7;
    }
    void Align()
    {
        for (; count_ > 0; count_ = count_ > 8 ? count_ - 8 : 0, buffer_ >>= 8)
            data_[at_++] = uint8_t(buffer_);
        buffer_ = 0;
    }
    void Bytes(const uint8_t* bytes, size_t count)
    {
        if (count > 0)
            std::memcpy(data_ + at_, bytes, count);
        at_ += count;
    }
    void Finish() { out_->resize(at_); }

private:
    std::vector<uint8_t>* out_;
    uint8_t* data_ = nullptr;
    size_t at_;
    uint64_t buffer_ = 0;
    unsigned count_ = 0;
};

// A dynamic block's header: the code lengths of both codes, run-length coded with the
// code length code (16: the last length 3 to 6 times more, 17 and 18: 3 to 10 and 11 to
// 138 zeros).
struct DynamicHeader {
    int literals = kFirstLengthCode, distances = 1, lengthCodes = 4;
    std::array<uint8_t, kLiteralCodes + 1> ops{}, extra{};
    int opCount = 0;
    Code lengthCode;
    uint64_t bits = 0;

    void Add(uint8_t op, uint8_t repeat, uint32_t* freq)
    {
        ops[opCount] = op, extra[opCount++] = repeat;
        ++freq[op];
    }
    void Build(const Code& literal, const Code& distance);
};

void DynamicHeader::Build(const Code& literal, const Code& distance)
{
    literals = kLiteralCodes;
    while (literals > kFirstLengthCode && literal.length[literals - 1] == 0)
        --literals;
    uint8_t lengths[kLiteralCodes + 1];
    std::copy(literal.length.begin(), literal.length.begin() + literals, lengths);
    lengths[literals] = distance.length[0];
    const int count = literals + distances;
    uint32_t freq[kCodeLengthCodes] = {};
    for (int k = 0; k < count;) {
        const uint8_t length = lengths[k];
        int same = 1;
        while (k + same < count && lengths[k + same] == length)
            ++same;
        if (length == 0 && same >= 3) {
            same = std::min(same, 138);
            Add(same >= 11 ? 18 : 17, uint8_t(same - (same >= 11 ? 11 : 3)), freq);
        } else if (length != 0 && same >= 4) {
            Add(length, 0, freq);
            same = 1 + std::min(same - 1, 6);
            Add(16, uint8_t(same - 1 - 3), freq);
        } else {
            Add(length, 0, freq);
            same = 1;
        }
        k += same;
    }
    BuildCode(freq, kCodeLengthCodes, kMaxCodeLengthBits, lengthCode);
    lengthCodes = kCodeLengthCodes;
    while (lengthCodes > 4 && lengthCode.length[kCodeLengthOrder[lengthCodes - 1]] == 0)
        --lengthCodes;
    bits = 5 + 5 + 4 + 3 * uint64_t(lengthCodes) + 2 * freq[16] + 3 * freq[17] + 7 * freq[18];
    for (int op = 0; op < kCodeLengthCodes; ++op)
        bits += uint64_t(freq[op]) * lengthCode.length[op];
}

// The bits of the symbols under a code (the block's header and type not counted).
uint64_t SymbolBits(const Symbols& s, const Code& literal, unsigned distanceBits)
{
    uint64_t bits = s.extraBits + uint64_t(s.runs) * distanceBits;
    for (int i = 0; i < kLiteralCodes; ++i)
        bits += uint64_t(s.freq[i]) * literal.length[i];
    return bits;
}

void PutSymbols(BitWriter& writer, const Symbols& s, const Code& literal, uint32_t distanceBits,
                unsigned distanceLength)
{
    // A copy the compiler can keep in registers: the bytes it stores might alias any memory.
    BitWriter out = writer;
    for (uint16_t token : s.tokens) {
        if (token < kRun) {
            out.Put(literal.bits[token], literal.length[token]);
            continue;
        }
        const size_t length = token - kRun + kShortestRun;
        const unsigned code = kLengthCodeOf.of[length];
        out.Put(literal.bits[kFirstLengthCode + code], literal.length[kFirstLengthCode + code]);
        out.Put(uint32_t(length - kLengthBase[code]), kLengthExtra[code]);
        out.Put(distanceBits, distanceLength);
    }
    out.Put(literal.bits[kEndOfBlock], literal.length[kEndOfBlock]);
    writer = out;
}

void PutDynamicHeader(BitWriter& out, const DynamicHeader& h)
{
    out.Put(uint32_t(h.literals - kFirstLengthCode), 5);
    out.Put(uint32_t(h.distances - 1), 5);
    out.Put(uint32_t(h.lengthCodes - 4), 4);
    for (int k = 0; k < h.lengthCodes; ++k)
        out.Put(h.lengthCode.length[kCodeLengthOrder[k]], 3);
    static constexpr unsigned kRepeatBits[kCodeLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                              0, 0, 0, 0, 0, 0, 2, 3, 7};
    for (int k = 0; k < h.opCount; ++k) {
        const uint8_t op = h.ops[k];
        out.Put(h.lengthCode.bits[op], h.lengthCode.length[op]);
        out.Put(h.extra[k], kRepeatBits[op]);
    }
}

// Stored blocks of at most 65,535 bytes each; an empty one for no bytes (a sync flush).
void PutStored(BitWriter& out, const uint8_t* bytes, size_t count, bool final)
{
    out.Reserve(8 * (count + 5 * (count / kStoredMax + 1)));
    do {
        const size_t part = std::min(count, kStoredMax);
        out.Put(final && part == count ? 1 : 0, 1);
        out.Put(kStored, 2);
        out.Align();
        uint8_t lengths[4];
        StoreLE16(lengths, uint16_t(part));
        StoreLE16(lengths + 2, uint16_t(~part));
        out.Bytes(lengths, 4);
        out.Bytes(bytes, part);
        bytes += part, count -= part;
    } while (count > 0);
}

// One block for the symbols: dynamic, fixed or stored, whichever is the smallest.
void PutBlock(BitWriter& out, std::span<const uint8_t> bytes, const Symbols& s, bool final)
{
    Code literal, distance;
    BuildCode(s.freq, kLiteralCodes, kMaxBits, literal);
    const uint32_t distanceFreq[1] = {std::max<uint32_t>(s.runs, 1)};
    BuildCode(distanceFreq, 1, kMaxBits, distance);
    DynamicHeader header;
    header.Build(literal, distance);
    const uint64_t dynamic = header.bits + SymbolBits(s, literal, distance.length[0]);
    const uint64_t fixed = SymbolBits(s, kFixed, kFixedDistanceBits);
    const size_t count = s.to - s.from;
    // A stored block costs its bytes, at most a byte to align and four of lengths.
    if (8 * (uint64_t(count) + 5 * (count / kStoredMax + 1)) <= std::min(dynamic, fixed)) {
        PutStored(out, bytes.data() + s.from, count, final);
        return;
    }
    out.Reserve(3 + std::min(dynamic, fixed));
    out.Put(final ? 1 : 0, 1);
    if (fixed <= dynamic) {
        out.Put(kFixedBlock, 2);
        PutSymbols(out, s, kFixed, 0, kFixedDistanceBits);
        return;
    }
    out.Put(kDynamic, 2);
    PutDynamicHeader(out, header);
    PutSymbols(out, s, literal, distance.bits[0], distance.length[0]);
}
}  // namespace

void DeflateRuns(std::span<const uint8_t> bytes, bool last, std::vector<uint8_t>& out)
{
    BitWriter writer(out);
    Symbols symbols;
    // No bytes and more to come: the sync flush alone. No bytes at the end: one final block.
    for (bool final = false; !final && (symbols.to < bytes.size() || last);) {
        Tokenize(bytes, symbols.to, symbols);
        Count(symbols);
        final = last && symbols.to == bytes.size();
        PutBlock(writer, bytes, symbols, final);
    }
    if (!last)
        PutStored(writer, nullptr, 0, false);  // the sync flush
    writer.Align();
    writer.Finish();
}

}  // namespace pgz
