#include "support/store_files.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace storefiles {
namespace {
void Put32(Bytes& out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}
uint32_t Get32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
}  // namespace

Bytes EncodeRecord(const Record& record)
{
    Bytes out(256, 0);
    out[0] = record.deleted;
    Put32(out, 1, static_cast<uint32_t>(record.recordNumber));
    Put32(out, 5, record.dataOffset);
    Put32(out, 9, record.storedLength);
    out[13] = record.compressed;
    Put32(out, 14, record.imageLength);
    std::memcpy(out.data() + 18, record.reserved.data(), 238);
    return out;
}

std::vector<Record> DecodeIndex(const Bytes& index)
{
    std::vector<Record> records;
    for (size_t at = 0; at + 256 <= index.size(); at += 256) {
        const unsigned char* p = index.data() + at;
        Record r;
        r.deleted = p[0];
        r.recordNumber = static_cast<int32_t>(Get32(p + 1));
        r.dataOffset = Get32(p + 5);
        r.storedLength = Get32(p + 9);
        r.compressed = p[13];
        r.imageLength = Get32(p + 14);
        r.reserved.assign(p + 18, p + 256);
        records.push_back(r);
    }
    return records;
}

Bytes Bitmap24(int width, int height, uint32_t (*colour)(int x, int y))
{
    uint32_t rowBytes = (width * 3 + 3) & ~3u;
    uint32_t imageSize = rowBytes * height;
    Bytes file(54 + imageSize, 0);
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, 54 + imageSize);
    Put32(file, 10, 54);
    Put32(file, 14, 40);
    Put32(file, 18, static_cast<uint32_t>(width));
    Put32(file, 22, static_cast<uint32_t>(height));
    file[26] = 1;
    file[28] = 24;
    Put32(file, 34, imageSize);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = file.data() + 54 + static_cast<size_t>(height - 1 - y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            uint32_t c = colour(x, y);  // 0x00BBGGRR
            row[x * 3 + 0] = static_cast<unsigned char>(c >> 16);
            row[x * 3 + 1] = static_cast<unsigned char>(c >> 8);
            row[x * 3 + 2] = static_cast<unsigned char>(c);
        }
    }
    return file;
}

uint32_t BitmapPixel(const Bytes& file, int x, int y)
{
    int32_t width = static_cast<int32_t>(Get32(file.data() + 18));
    int32_t height = static_cast<int32_t>(Get32(file.data() + 22));
    uint32_t rowBytes = (width * 3 + 3) & ~3u;
    size_t stored = height > 0 ? static_cast<size_t>(height - 1 - y) : static_cast<size_t>(y);
    const unsigned char* p = file.data() + Get32(file.data() + 10) + stored * rowBytes + x * 3;
    return p[2] | (p[1] << 8) | (p[0] << 16);
}

Bytes Gzip(const Bytes& data)
{
    z_stream stream = {};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&stream, data.size()) + 32);
    stream.next_in = const_cast<unsigned char*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

Bytes Gunzip(const Bytes& data, bool* whole)
{
    z_stream stream = {};
    inflateInit2(&stream, 15 + 16);
    Bytes out;
    unsigned char chunk[16384];
    stream.next_in = const_cast<unsigned char*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
    }
    if (whole)
        *whole = status == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return out;
}

Bytes ImageOf(const Record& record, const Bytes& data)
{
    if (record.dataOffset > data.size())
        return {};
    size_t end = std::min<size_t>(data.size(), static_cast<size_t>(record.dataOffset) + record.storedLength);
    Bytes blob(data.begin() + record.dataOffset, data.begin() + end);
    if (!record.compressed)
        return blob;
    Bytes image = Gunzip(blob);
    if (image.size() > record.imageLength)
        image.resize(record.imageLength);
    return image;
}

void AddRecord(Bytes& index, Bytes& data, int32_t recordNumber, const Bytes& imageFile, bool compressed)
{
    Record r;
    r.recordNumber = recordNumber;
    r.dataOffset = static_cast<uint32_t>(data.size());
    Bytes blob = compressed ? Gzip(imageFile) : imageFile;
    r.storedLength = static_cast<uint32_t>(blob.size());
    r.compressed = compressed ? 1 : 0;
    r.imageLength = compressed ? static_cast<uint32_t>(imageFile.size()) : 0;
    data.insert(data.end(), blob.begin(), blob.end());
    Bytes encoded = EncodeRecord(r);
    index.insert(index.end(), encoded.begin(), encoded.end());
}

void StoreLayout::Add(int32_t recordNumber, const Bytes& imageFile, bool compressed, uint8_t deleted)
{
    Bytes encoded;
    AddRecord(encoded, data, recordNumber, imageFile, compressed);
    records.push_back(DecodeIndex(encoded)[0]);
    records.back().deleted = deleted;
    Rewrite();
}

namespace {
// The mark: 8 magic bytes, generation, page, pages, 4 zero bytes, the CRC-32 of those 24
// bytes and the record number, 4 zero bytes.
constexpr size_t kMarkAt = 224 - 18;  // in reserved
const unsigned char kMagic[8] = {0x9A, 'P', 'G', 'X', 0x0D, 0x0A, 0x1A, 0x0A};

uint32_t MarkCheck(const unsigned char* mark, int32_t recordNumber)
{
    const unsigned char number[4] = {uint8_t(recordNumber), uint8_t(recordNumber >> 8), uint8_t(recordNumber >> 16),
                                     uint8_t(uint32_t(recordNumber) >> 24)};
    return uint32_t(crc32(crc32(0, mark, 24), number, 4));
}

}  // namespace

void WriteMark(Record& record, const PageMark& mark)
{
    unsigned char* at = record.reserved.data() + kMarkAt;
    std::fill(at, at + 32, 0);
    std::copy(kMagic, kMagic + 8, at);
    Bytes fields(20, 0);
    Put32(fields, 0, mark.generation), Put32(fields, 4, mark.page), Put32(fields, 8, mark.pages);
    std::copy(fields.begin(), fields.end(), at + 8);
    Bytes check(4, 0);
    Put32(check, 0, MarkCheck(at, record.recordNumber));
    std::copy(check.begin(), check.end(), at + 24);
}

PageMark ReadMark(const Record& record)
{
    const unsigned char* at = record.reserved.data() + kMarkAt;
    if (!std::equal(kMagic, kMagic + 8, at) || Get32(at + 24) != MarkCheck(at, record.recordNumber))
        return {};
    return {Get32(at + 8), Get32(at + 12), Get32(at + 16)};
}

void StoreLayout::AddDocument(int32_t recordNumber, const std::vector<Bytes>& pages, uint32_t generation)
{
    for (uint32_t page = 1; page <= pages.size(); ++page) {
        Add(recordNumber, pages[page - 1]);
        WriteMark(records.back(), {generation, page, uint32_t(pages.size())});
    }
    Rewrite();
}

void StoreLayout::Rewrite()
{
    index.clear();
    for (const Record& record : records) {
        Bytes encoded = EncodeRecord(record);
        index.insert(index.end(), encoded.begin(), encoded.end());
    }
}

void StoreLayout::MoveFirst(size_t count)
{
    newData.clear();
    for (size_t i = 0; i < count; ++i) {
        Bytes blob = Blob(i);
        records[i].dataOffset = static_cast<uint32_t>(newData.size());
        newData.insert(newData.end(), blob.begin(), blob.end());
    }
    Rewrite();
}

Bytes StoreLayout::Blob(size_t i) const
{
    const Record& r = records[i];
    return Bytes(data.begin() + r.dataOffset, data.begin() + r.dataOffset + r.storedLength);
}

}  // namespace storefiles
