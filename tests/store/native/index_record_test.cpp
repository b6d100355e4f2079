#include "store/core/index_record.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {
using Bytes = std::array<uint8_t, kIndexRecordSize>;

struct FieldCase {
    const char* what;
    size_t offset;
    std::array<uint8_t, 4> bytes;  // as they lie in the file
    size_t width;
    int64_t (*read)(const IndexRecord&);
    int64_t expected;
};

// Each field at its place in the file, little-endian, including the sign of the record
// number and values that need all 32 bits.
const FieldCase kFields[] = {
    {"deleted", 0, {0x01}, 1, [](const IndexRecord& r) -> int64_t { return r.deleted; }, 1},
    {"deleted odd", 0, {0xFE}, 1, [](const IndexRecord& r) -> int64_t { return r.deleted; }, 0xFE},
    {"recordNumber", 1, {0x78, 0x56, 0x34, 0x12}, 4,
     [](const IndexRecord& r) -> int64_t { return r.recordNumber; }, 0x12345678},
    {"recordNumber negative", 1, {0xFD, 0xFF, 0xFF, 0xFF}, 4,
     [](const IndexRecord& r) -> int64_t { return r.recordNumber; }, -3},
    {"dataOffset", 5, {0x00, 0x04, 0x00, 0x80}, 4,
     [](const IndexRecord& r) -> int64_t { return r.dataOffset; }, 0x80000400},
    {"storedLength", 9, {0xFF, 0xFF, 0xFF, 0xFF}, 4,
     [](const IndexRecord& r) -> int64_t { return r.storedLength; }, 0xFFFFFFFF},
    {"compressed", 13, {0x01}, 1, [](const IndexRecord& r) -> int64_t { return r.compressed; }, 1},
    {"imageLength", 14, {0x36, 0x28, 0x00, 0x00}, 4,
     [](const IndexRecord& r) -> int64_t { return r.imageLength; }, 0x2836},
    {"reserved first", 18, {0xAB}, 1, [](const IndexRecord& r) -> int64_t { return r.reserved[0]; }, 0xAB},
    {"reserved last", 255, {0xCD}, 1, [](const IndexRecord& r) -> int64_t { return r.reserved[237]; }, 0xCD},
};

TEST(IndexRecordBytes, EachFieldDecodesFromItsPlaceAndEncodesBackUnchanged)
{
    for (const FieldCase& c : kFields) {
        SCOPED_TRACE(c.what);
        Bytes bytes{};
        for (size_t i = 0; i < c.width; ++i)
            bytes[c.offset + i] = c.bytes[i];
        IndexRecord record{};
        ASSERT_TRUE(DecodeIndexRecord(bytes, record));
        EXPECT_EQ(c.read(record), c.expected);

        Bytes again{};
        again.fill(0x5A);
        ASSERT_TRUE(EncodeIndexRecord(record, again));
        EXPECT_EQ(again, bytes);
    }
}

TEST(IndexRecordBytes, ForeignBytesEverywhereSurviveARoundTrip)
{
    Bytes bytes;
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    IndexRecord record{};
    ASSERT_TRUE(DecodeIndexRecord(bytes, record));
    Bytes again{};
    ASSERT_TRUE(EncodeIndexRecord(record, again));
    EXPECT_EQ(again, bytes);
}

TEST(IndexRecordBytes, FragmentsShorterThanARecordAreRefusedAndTouchNothing)
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{18}, size_t{255}}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> fragment(size, 0x11);
        IndexRecord record{};
        record.recordNumber = 42;
        EXPECT_FALSE(DecodeIndexRecord(fragment, record));
        EXPECT_EQ(int32_t{record.recordNumber}, 42);
        EXPECT_FALSE(EncodeIndexRecord(record, fragment));
        EXPECT_EQ(fragment, std::vector<uint8_t>(size, 0x11));
    }
}

TEST(IndexRecordBytes, LongerBuffersUseOnlyTheFirstRecord)
{
    std::vector<uint8_t> two(2 * kIndexRecordSize, 0);
    two[1] = 7;
    two[kIndexRecordSize + 1] = 9;
    IndexRecord record{};
    ASSERT_TRUE(DecodeIndexRecord(two, record));
    EXPECT_EQ(int32_t{record.recordNumber}, 7);
    record.recordNumber = 8;
    ASSERT_TRUE(EncodeIndexRecord(record, two));
    EXPECT_EQ(two[1], 8);
    EXPECT_EQ(two[kIndexRecordSize + 1], 9);
}

TEST(IndexRecordBytes, CountIgnoresATrailingFragment)
{
    EXPECT_EQ(IndexRecordCount(0), 0u);
    EXPECT_EQ(IndexRecordCount(255), 0u);
    EXPECT_EQ(IndexRecordCount(3 * 256 + 100), 3u);
    EXPECT_EQ(IndexRecordCount(0xFFFFFFFF), 0xFFFFFFu);
}
}  // namespace
