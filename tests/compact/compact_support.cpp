#include "compact_support.h"

#include "app/shell.h"
#include "store/interrupted_compaction.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>

LaidOut LayOut(const std::vector<Entry>& entries, const std::vector<size_t>& dataOrder)
{
    LaidOut out;
    out.records.resize(entries.size());
    std::vector<size_t> order = dataOrder;
    if (order.empty()) {
        order.resize(entries.size());
        std::iota(order.begin(), order.end(), size_t{0});
    }
    for (size_t i : order) {
        const Entry& entry = entries[i];
        Bytes stale = Pattern(entry.staleBefore, static_cast<uint8_t>(i + 101));
        out.data.insert(out.data.end(), stale.begin(), stale.end());
        Bytes blob = entry.plain ? entry.image : Gzip(entry.image);
        IndexRecord& record = out.records[i];
        record = MakeRecord(entry.number, static_cast<uint32_t>(out.data.size()), static_cast<uint32_t>(blob.size()),
                            entry.plain ? 0 : 1, entry.plain ? 0 : static_cast<uint32_t>(entry.image.size()),
                            entry.deleted);
        FillReserved(record, static_cast<uint8_t>(i * 3 + 1));
        if (entry.mark.generation)
            WritePageMark(record, entry.mark);
        out.data.insert(out.data.end(), blob.begin(), blob.end());
    }
    for (const IndexRecord& record : out.records) {
        Bytes bytes = RecordBytes(record);
        out.index.insert(out.index.end(), bytes.begin(), bytes.end());
    }
    for (const Entry& entry : entries)
        out.images.push_back(entry.image);
    return out;
}

Bytes ImageFrom(const IndexRecord& record, const Bytes& file)
{
    size_t start = std::min<size_t>(record.dataOffset, file.size());
    size_t end = std::min<size_t>(start + record.storedLength, file.size());
    Bytes blob(file.begin() + static_cast<ptrdiff_t>(start), file.begin() + static_cast<ptrdiff_t>(end));
    if (record.compressed == 0)
        return blob;
    Bytes image = Gunzip(blob);
    if (image.size() > record.imageLength)
        image.resize(record.imageLength);
    return image;
}

std::vector<Entry> RandomEntries(std::mt19937& random, size_t count)
{
    std::vector<Entry> entries;
    auto pick = [&](uint32_t below) { return static_cast<uint32_t>(random() % below); };
    for (size_t i = 0; i < count; ++i) {
        Entry entry;
        // Duplicate numbers now and then; the first in index order is the one a host sees.
        entry.number = pick(4) == 0 && i > 0 ? entries[pick(static_cast<uint32_t>(i))].number
                                             : static_cast<int32_t>(i * 10 + pick(5)) - 20;
        size_t size = pick(5) == 0 ? pick(40) : 200 + pick(6000);
        entry.image = pick(2) ? Pattern(size, static_cast<uint8_t>(pick(256)))
                              : Bytes(size, static_cast<uint8_t>(pick(4)));  // compresses well
        entry.plain = pick(2) == 0;
        entry.deleted = pick(6) == 0 ? static_cast<uint8_t>(1 + pick(3)) : 0;
        entry.staleBefore = pick(3) == 0 ? pick(900) : 0;
        entries.push_back(entry);
    }
    return entries;
}

std::vector<size_t> RandomOrder(std::mt19937& random, size_t count)
{
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t{0});
    std::shuffle(order.begin(), order.end(), random);
    return order;
}

void CompactTest::SetUp()
{
    StoreDirectory::SetUp();
    ClearStoreFault();
    SetStoreStopHook(nullptr);
}

void CompactTest::TearDown()
{
    ClearStoreFault();
    SetStoreStopHook(nullptr);
    StoreDirectory::TearDown();
}

LaidOut CompactTest::Store(const std::vector<Entry>& entries, const std::vector<size_t>& dataOrder)
{
    LaidOut out = LayOut(entries, dataOrder);
    Write("pagorex.idx", out.index);
    Write("pagorex.dat", out.data);
    return out;
}

void CompactTest::ExpectEveryImage(const std::vector<Bytes>& images) const
{
    std::vector<IndexRecord> records = Records();
    ASSERT_EQ(records.size(), images.size());
    std::map<std::string, Bytes> files;
    for (size_t i = 0; i < records.size(); ++i) {
        const char* name = DataFileOfRecord(Files(), static_cast<int32_t>(i * kIndexRecordSize));
        ASSERT_NE(name, nullptr) << "the index could not be read";
        std::string file = name;
        if (!files.count(file))
            files[file] = Read(file.c_str());
        EXPECT_EQ(ImageFrom(records[i], files[file]), images[i]) << "record " << i << " read from " << file;
    }
}

void CompactTest::ExpectSettled(const std::vector<Bytes>& images) const
{
    EXPECT_FALSE(Exists("pagorex.new"));
    EXPECT_TRUE(Exists("pagorex.dat"));
    std::vector<IndexRecord> records = Records();
    ASSERT_EQ(records.size(), images.size());
    Bytes data = Read("pagorex.dat");
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(ImageFrom(records[i], data), images[i]) << "record " << i;
}

void CompactTest::ExpectDocumentKept(const LaidOut& laid, int32_t number, const std::vector<Bytes>& pages) const
{
    std::vector<IndexRecord> records = Records();
    ASSERT_EQ(records.size(), laid.records.size());
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(std::memcmp(records[i].reserved, laid.records[i].reserved, sizeof records[i].reserved), 0) << i;
    EXPECT_EQ(LoadPages(directory, number), pages);
}

std::string CompactTest::Title() const
{
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}
