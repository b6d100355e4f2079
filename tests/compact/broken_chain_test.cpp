// A new data file whose chain of moved records is broken (a gap left by an earlier
// failure) before a record that still points into it. No save, repair or compaction may
// cut, replace or delete the bytes that record points at.
#include "compact_support.h"

#include "store/compaction.h"
#include "store/interrupted_compaction.h"
#include "store/store.h"

#include <functional>

namespace {
constexpr size_t kBroken = 2;  // records 0 and 1 form the chain; record 2 lies past a gap
constexpr size_t kGap = 16;

class BrokenChainTest : public CompactTest {
public:
    // Records 11..16. The new data file holds the blobs of records 0 and 1 back to back,
    // a gap, then record 2's blob; the data file holds records 3 to 5, padded up to the
    // end of the chain so that the next blob appended lands exactly where the chain ends.
    void LayOutBrokenChain()
    {
        DeleteFileA(Path("pagorex.new").c_str());
        images.clear();
        std::vector<IndexRecord> records;
        Bytes data, newData;
        for (int i = 0; i < 6; ++i) {
            images.push_back(Pattern(i < 2 ? 3000 : i == 2 ? 1500 : 200, static_cast<uint8_t>(40 + i)));
            Bytes member = Gzip(images.back());
            Bytes& file = i < 3 ? newData : data;
            if (i == 2)
                file.insert(file.end(), kGap, 0x5A);
            records.push_back(MakeRecord(11 + i, static_cast<uint32_t>(file.size()),
                                         static_cast<uint32_t>(member.size()), 1,
                                         static_cast<uint32_t>(images.back().size())));
            file.insert(file.end(), member.begin(), member.end());
        }
        chainEnd = records[1].dataOffset + records[1].storedLength;
        ASSERT_LT(data.size(), chainEnd);
        data.resize(chainEnd, 0);
        Bytes index;
        for (const IndexRecord& r : records)
            index = Concat({index, RecordBytes(r)});
        Write("pagorex.idx", index);
        Write("pagorex.dat", data);
        Write("pagorex.new", newData);
    }
    // Record 2's blob is still where it points in the new data file, and every other
    // record yields its image from the file the store reads it from.
    void ExpectNothingLost()
    {
        std::vector<IndexRecord> records = Records();
        ASSERT_EQ(records.size(), images.size());
        ASSERT_TRUE(Exists("pagorex.new")) << "record 2 points into it";
        EXPECT_EQ(ImageFrom(records[kBroken], Read("pagorex.new")), images[kBroken]);
        for (size_t i = 0; i < records.size(); ++i) {
            if (i == kBroken)
                continue;
            const char* file = DataFileOfRecord(Files(), static_cast<int32_t>(i * kIndexRecordSize));
            ASSERT_NE(file, nullptr);
            EXPECT_EQ(ImageFrom(records[i], Read(file)), images[i]) << "record " << i << " from " << file;
        }
    }
    bool SaveFor(int32_t number, const Bytes& image)
    {
        UseRecord(number);
        return SaveImageFile(Shell(), image);
    }

    std::vector<Bytes> images;
    uint32_t chainEnd = 0;
};

struct BrokenCase {
    const char* name;
    std::function<void(BrokenChainTest&)> run;
    const char* told;  // part of the message the user gets; null: none
};

const Bytes kNewImage = Pattern(90, 7);

const BrokenCase kCases[] = {
    {"save of a record in the data file",
     [](BrokenChainTest& t) {
         ASSERT_TRUE(t.SaveFor(16, kNewImage));
         t.images[5] = kNewImage;
     },
     nullptr},
    {"save of a record in the chain",
     [](BrokenChainTest& t) {
         ASSERT_TRUE(t.SaveFor(12, kNewImage));
         t.images[1] = kNewImage;
     },
     nullptr},
    {"save of a new record",
     [](BrokenChainTest& t) {
         ASSERT_TRUE(t.SaveFor(99, kNewImage));
         t.images.push_back(kNewImage);
     },
     nullptr},
    {"repair", [](BrokenChainTest& t) { RecoverFromNewData(t.Shell()); }, "other records still point into pagorex.new"},
    {"forced compaction",
     [](BrokenChainTest& t) {
         Bytes index = t.Read("pagorex.idx"), data = t.Read("pagorex.dat"), newData = t.Read("pagorex.new");
         CompactStore(t.Shell(), 1);
         EXPECT_EQ(t.Read("pagorex.idx"), index);
         EXPECT_EQ(t.Read("pagorex.dat"), data);
         EXPECT_EQ(t.Read("pagorex.new"), newData);
     },
     "still point into pagorex.new"},
};

TEST_F(BrokenChainTest, NoOperationDestroysBytesARecordPointsAt)
{
    for (const BrokenCase& c : kCases) {
        SCOPED_TRACE(c.name);
        LayOutBrokenChain();
        boxes::BoxWatcher watcher(std::vector<int>{IDYES, IDYES});
        c.run(*this);
        bool told = false;
        for (const boxes::SeenBox& box : watcher.Seen())
            told = told || (c.told && box.text.find(c.told) != std::string::npos);
        EXPECT_EQ(told, c.told != nullptr);
        ExpectNothingLost();
    }
}

TEST_F(BrokenChainTest, ASaveLandingWhereTheKeptChainEndsIsNotTakenForAMovedRecord)
{
    // Record 2 itself gets a new image; the data file ends exactly where the chain does,
    // and the new blob would fit into the new data file from there.
    LayOutBrokenChain();
    ASSERT_EQ(Read("pagorex.dat").size(), chainEnd);
    ASSERT_TRUE(SaveFor(13, kNewImage));
    images[kBroken] = kNewImage;
    IndexRecord saved = Records()[kBroken];
    EXPECT_STREQ(DataFileOfRecord(Files(), static_cast<int32_t>(kBroken * kIndexRecordSize)), "pagorex.dat");
    EXPECT_EQ(ImageFrom(saved, Read("pagorex.dat")), kNewImage);
    ExpectEveryImage(images);
}
}  // namespace
