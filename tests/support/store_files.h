#pragma once
// Builds and reads store files and bitmap files byte by byte, independently of the
// program's own code, so tests can check what the program wrote.

#include <cstdint>
#include <string>
#include <vector>

namespace storefiles {

using Bytes = std::vector<unsigned char>;

struct Record {
    uint8_t deleted = 0;
    int32_t recordNumber = 0;
    uint32_t dataOffset = 0;
    uint32_t storedLength = 0;
    uint8_t compressed = 0;
    uint32_t imageLength = 0;
    Bytes reserved = Bytes(238, 0);
};

Bytes EncodeRecord(const Record& record);
std::vector<Record> DecodeIndex(const Bytes& index);

// A 24-bit bottom-up bitmap file whose pixel (x, y) from the top is colour(x, y).
Bytes Bitmap24(int width, int height, uint32_t (*colour)(int x, int y));
// The colour of pixel (x, y), counted from the top, of a 24-bit bitmap file, as 0x00BBGGRR.
uint32_t BitmapPixel(const Bytes& file, int x, int y);

Bytes Gzip(const Bytes& data);
// The bytes of the gzip data; whole, when given, tells whether they were exactly one whole
// member with nothing after it (what gzip -d insists on, where gzread passes trailing
// bytes over).
Bytes Gunzip(const Bytes& data, bool* whole = nullptr);

// The image file of record i as stored: the blob, decompressed when compressed.
Bytes ImageOf(const Record& record, const Bytes& data);

// Appends blobs and records: the blob of each image goes to the end of data.
void AddRecord(Bytes& index, Bytes& data, int32_t recordNumber, const Bytes& imageFile, bool compressed);

// The page mark of a document's records (their last 32 reserved bytes), written and read
// here apart from the program's own code: page 0 where a record carries none whose check
// value holds.
struct PageMark {
    uint32_t generation = 0, page = 0, pages = 0;
};
void WriteMark(Record& record, const PageMark& mark);
PageMark ReadMark(const Record& record);

// A whole store in memory, built record by record.
struct StoreLayout {
    Bytes index, data, newData;
    std::vector<Record> records;
    // Appends the image's blob to data and its record to the index.
    void Add(int32_t recordNumber, const Bytes& imageFile, bool compressed = true, uint8_t deleted = 0);
    // Appends a document of several pages, generation generation: page 1 first, then
    // each further page, every record marked.
    void AddDocument(int32_t recordNumber, const std::vector<Bytes>& pages, uint32_t generation = 1);
    // Writes the records into index again after they were changed.
    void Rewrite();
    // As a compaction stopped after count records leaves it: their blobs copied into
    // newData, back to back, and the records pointing there.
    void MoveFirst(size_t count);
    // The stored bytes of record i, from data.
    Bytes Blob(size_t i) const;
};

}  // namespace storefiles
