// pagorex-store end to end: a sound store, each kind of damage, export and the errors
// a user meets, on stores laid out by the test helpers.
#include "tool_test.h"

#include "pagorex_version.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

namespace {
using storefiles::Bytes;
using storefiles::StoreLayout;

std::atomic<int> scratchCounter{0};

uint32_t Blocks(int x, int y)
{
    return static_cast<uint32_t>(((x / 4) * 40) & 0xFF) | static_cast<uint32_t>(((y / 4) * 60) & 0xFF) << 8 | 0x800000u;
}

Bytes Image(int width, int height)
{
    return storefiles::Bitmap24(width, height, Blocks);
}

void Put32(Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// (position, problem code) of every problem in verify --json; position -1 for the store's.
std::multiset<std::pair<int, std::string>> Problems(const std::string& json)
{
    std::multiset<std::pair<int, std::string>> problems;
    std::regex one(R"re(\{"position":(null|\d+),[^{}]*?"problem":"([a-z-]+)")re");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), one); it != std::sregex_iterator(); ++it)
        problems.insert({(*it)[1] == "null" ? -1 : std::stoi((*it)[1]), (*it)[2]});
    return problems;
}
}  // namespace

void ToolTest::SetUp()
{
    dir_ = std::filesystem::temp_directory_path() /
           ("pgx-tool-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            std::to_string(++scratchCounter));
    std::filesystem::remove_all(dir_);
    ASSERT_TRUE(std::filesystem::create_directories(dir_));
}

void ToolTest::TearDown()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void ToolTest::Write(const std::string& name, const Bytes& bytes) const
{
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ToolTest::Read(const std::string& name) const
{
    std::ifstream in(dir_ / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::pair<std::string, Bytes>> ToolTest::Snapshot() const
{
    std::vector<std::pair<std::string, Bytes>> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
        if (entry.is_regular_file())
            files.emplace_back(entry.path().filename().string(), Read(entry.path().filename().string()));
    std::sort(files.begin(), files.end());
    return files;
}

namespace {
class SoundStore : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        store.data = Bytes(300, 0x5A);  // a superseded blob
        store.Add(5, images[0]);
        store.Add(6, images[1], false);  // from an earlier writer
        store.Add(5, images[2]);         // shadowed by the first 5
        store.Add(7, images[3], true, 1);
        store.Add(-3, images[4]);
        Write("pagorex.idx", store.index);
        Write("pagorex.dat", store.data);
        before = Snapshot();
    }
    void TearDown() override
    {
        EXPECT_EQ(Snapshot(), before) << "the tool wrote the store";
        ToolTest::TearDown();
    }
    const std::vector<Bytes> images = {Image(30, 20), Image(40, 10), Image(8, 8), Image(12, 5), Image(9, 80)};
    StoreLayout store;
    std::vector<std::pair<std::string, Bytes>> before;
};

TEST_F(SoundStore, ListShowsEveryRecordWithItsPlaceStateAndBitmap)
{
    ToolRun run = RunTool({"list", Dir()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 6u) << run.out;
    EXPECT_EQ(Words(lines[0]), (std::vector<std::string>{"position", "record", "state", "file", "offset", "stored",
                                                         "blob", "image", "width", "height", "bits", "page"}));
    const char* states[] = {"live", "live", "shadowed", "deleted", "live"};
    const char* widths[] = {"30", "40", "8", "12", "9"};
    const char* heights[] = {"20", "10", "8", "5", "80"};
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(lines[i + 1]);
        const storefiles::Record& r = store.records[i];
        std::vector<std::string> expected = {std::to_string(i),
                                             std::to_string(r.recordNumber),
                                             states[i],
                                             "pagorex.dat",
                                             std::to_string(r.dataOffset),
                                             std::to_string(r.storedLength),
                                             r.compressed ? "gzip" : "plain",
                                             std::to_string(images[i].size()),
                                             widths[i],
                                             heights[i],
                                             "24",
                                             "-"};
        EXPECT_EQ(Words(lines[i + 1]), expected);
    }

    ToolRun json = RunTool({"list", Dir(), "--json"});
    ASSERT_EQ(json.exitCode, 0);
    EXPECT_NE(json.out.find("{\"position\":2,\"record\":5,\"state\":\"shadowed\",\"file\":\"pagorex.dat\",\"offset\":" +
                            std::to_string(store.records[2].dataOffset)),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"compressed\":false,\"imageLength\":" + std::to_string(images[1].size()) +
                            ",\"width\":40,\"height\":10,\"bitCount\":24,\"page\":null"),
              std::string::npos);
    EXPECT_NE(json.out.find("\"indexFragment\":0,\"complete\":true}"), std::string::npos);
}

TEST_F(SoundStore, VerifyFindsNothingAndSaysSo)
{
    ToolRun run = RunTool({"verify", Dir()});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out, Dir() + ": sound, 5 records checked (3 live, 1 deleted, 1 shadowed)\n");
    ToolRun json = RunTool({"verify", "--json", Dir()});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_TRUE(Problems(json.out).empty()) << json.out;
    EXPECT_NE(json.out.find("\"records\":5,\"complete\":true,\"sound\":true}"), std::string::npos) << json.out;
}

TEST_F(SoundStore, StatsCountRecordsAndBytes)
{
    uint64_t live = store.records[0].storedLength + store.records[1].storedLength + store.records[4].storedLength;
    ToolRun run = RunTool({"stats", Dir()});
    ASSERT_EQ(run.exitCode, 0);
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 7u) << run.out;
    EXPECT_EQ(lines[0], "records        5 (3 live, 1 deleted, 1 shadowed)");
    EXPECT_EQ(lines[2], "live bytes     " + std::to_string(live));
    EXPECT_EQ(lines[3], "data file      pagorex.dat, " + std::to_string(store.data.size()) + " bytes");
    EXPECT_EQ(lines[4], "stale bytes    300 (a forced compaction frees them)");
    EXPECT_EQ(lines[5], "plain records  1 (" + std::to_string(images[1].size()) + " bytes, compressed by a compaction)");
    // Image(9, 80) is the largest: 80 rows of 28 bytes.
    EXPECT_EQ(lines[6], "largest image  record -3 (#4), " + std::to_string(images[4].size()) + " bytes");

    ToolRun json = RunTool({"stats", Dir(), "--json"});
    ASSERT_EQ(json.exitCode, 0);
    EXPECT_NE(json.out.find("\"records\":5,\"live\":3,\"deleted\":1,\"shadowed\":1,\"liveBytes\":" +
                            std::to_string(live)),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"staleBytes\":300,\"plainRecords\":1"), std::string::npos);
    EXPECT_NE(json.out.find("\"largestImage\":{\"record\":-3,\"position\":4,\"imageLength\":" +
                            std::to_string(images[4].size()) + "}"),
              std::string::npos);
    EXPECT_NE(json.out.find("\"newData\":null}"), std::string::npos);
}

TEST_F(SoundStore, ExportWritesTheImagesAsStored)
{
    std::filesystem::path out = dir_.parent_path() / (dir_.filename().string() + "-out");
    std::filesystem::remove_all(out);
    struct {
        const char* record;
        size_t image;
    } const cases[] = {{"5", 0}, {"6", 1}, {"-3", 4}};
    for (auto c : cases) {
        SCOPED_TRACE(c.record);
        std::string file = (out.parent_path() / (out.filename().string() + c.record + ".bmp")).string();
        ToolRun run = RunTool({"export", Dir(), c.record, file});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), images[c.image]);
        in.close();
        std::filesystem::remove(file);
    }
    ToolRun all = RunTool({"export", Dir(), "--all", out.string()});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(Lines(all.out).back(), "3 of 3 live records exported to " + out.string());
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(out))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"5.bmp", "6.bmp", "-3.bmp"}));
    std::ifstream first(out / "5.bmp", std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(first), std::istreambuf_iterator<char>()), images[0])
        << "the first record of a number is the one exported";
    first.close();
    std::filesystem::remove_all(out);
}

struct DamageCase {
    const char* what;
    std::function<void(StoreLayout& store)> damage;
    std::multiset<std::pair<int, std::string>> problems;
    int exported;  // record whose export must fail, 0: none
};

// Four live records, numbered 1 to 4, each damaged in turn.
const DamageCase kDamage[] = {
    {"data file cut short", [](StoreLayout& s) { s.data.resize(s.data.size() - 10); }, {{3, "runs-past-end"}}, 4},
    {"blob not gzip",
     [](StoreLayout& s) {
         Bytes plain = Image(7, 7);
         s.records[1].dataOffset = static_cast<uint32_t>(s.data.size());
         s.records[1].storedLength = static_cast<uint32_t>(plain.size());
         s.data.insert(s.data.end(), plain.begin(), plain.end());
     },
     {{1, "not-gzip"}}, 2},
    {"wrong image length", [](StoreLayout& s) { s.records[2].imageLength -= 2; }, {{2, "wrong-image-length"}}, 3},
    {"bitmap whose header lies",
     [](StoreLayout& s) {
         Bytes lying = Image(10, 10);
         Put32(lying, 14 + 8, 4000);  // rows far beyond the file
         Bytes member = storefiles::Gzip(lying);
         s.records[0] = {0, 1, static_cast<uint32_t>(s.data.size()), static_cast<uint32_t>(member.size()), 1,
                         static_cast<uint32_t>(lying.size()), s.records[0].reserved};
         s.data.insert(s.data.end(), member.begin(), member.end());
     },
     {{0, "unsafe-bitmap"}}, 1},
    {"bitmap shorter than its header says",
     [](StoreLayout& s) {
         Bytes cut = Image(10, 10);
         cut.resize(cut.size() - 20);
         Bytes member = storefiles::Gzip(cut);
         s.records[2].dataOffset = static_cast<uint32_t>(s.data.size());
         s.records[2].storedLength = static_cast<uint32_t>(member.size());
         s.records[2].imageLength = static_cast<uint32_t>(cut.size());
         s.data.insert(s.data.end(), member.begin(), member.end());
     },
     {{2, "short-bitmap"}}, 3},
    {"record past the end", [](StoreLayout& s) { s.records[1].dataOffset = static_cast<uint32_t>(s.data.size() + 5); },
     {{1, "past-end"}}, 2},
    {"record at 2 GB and beyond", [](StoreLayout& s) { s.records[2].dataOffset = 0x80000010u; }, {{2, "past-end"}}, 3},
    {"second member in the blob",
     [](StoreLayout& s) {
         Bytes twice = s.Blob(3);
         twice.insert(twice.end(), twice.begin(), twice.end());
         s.records[3].dataOffset = static_cast<uint32_t>(s.data.size());
         s.records[3].storedLength = static_cast<uint32_t>(twice.size());
         s.data.insert(s.data.end(), twice.begin(), twice.end());
     },
     {{3, "extra-bytes"}}, 4},
    {"gzip trailer damaged",
     [](StoreLayout& s) { s.data[s.records[0].dataOffset + s.records[0].storedLength - 5] ^= 0x40; },
     {{0, "damaged-gzip"}}, 1},
    {"interrupted compaction", [](StoreLayout& s) { s.MoveFirst(2); }, {{-1, "interrupted-compaction"}}, 0},
    {"index cut inside a record", [](StoreLayout& s) { s.index.resize(s.index.size() - 56); },
     {{-1, "index-fragment"}}, 0},
};

class DamagedStore : public ToolTest {};

TEST_F(DamagedStore, EachKindOfDamageIsNamedWithItsRecordAndKeepsItsImageFromExport)
{
    for (const DamageCase& c : kDamage) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        StoreLayout store;
        for (int i = 0; i < 4; ++i)
            store.Add(i + 1, Image(10 + i, 6 + i));
        c.damage(store);
        if (store.index.size() % 256 == 0)
            store.Rewrite();
        Write("pagorex.idx", store.index);
        Write("pagorex.dat", store.data);
        if (!store.newData.empty())
            Write("pagorex.new", store.newData);
        auto before = Snapshot();

        ToolRun json = RunTool({"verify", Dir(), "--json"});
        EXPECT_EQ(json.exitCode, 1) << json.out << json.err;
        EXPECT_EQ(Problems(json.out), c.problems) << json.out;
        EXPECT_NE(json.out.find("\"sound\":false}"), std::string::npos);
        ToolRun text = RunTool({"verify", Dir()});
        EXPECT_EQ(text.exitCode, 1);
        std::vector<std::string> lines = Lines(text.out);
        ASSERT_EQ(lines.size(), c.problems.size() + 1) << text.out;
        EXPECT_NE(lines.back().find(": 1 problem, "), std::string::npos) << lines.back();
        if (c.problems.begin()->first >= 0) {
            int position = c.problems.begin()->first;
            EXPECT_EQ(lines[0].rfind("#" + std::to_string(position) + " record " + std::to_string(position + 1) +
                                     " (live, pagorex.dat): ", 0),
                      0u)
                << lines[0];
        }
        // In every format; a PDF of several records is not written for one damaged record.
        const std::string n = std::to_string(c.exported);
        const std::vector<std::vector<std::string>> exports = {
            {n, "{out}"}, {n, "{out}", "--format", "png"}, {"1", n, "--into", "{out}"}};
        for (std::vector<std::string> args : c.exported != 0 ? exports : decltype(exports){}) {
            std::string out = (dir_.parent_path() / (dir_.filename().string() + ".out")).string();
            std::replace(args.begin(), args.end(), std::string("{out}"), out);
            args.insert(args.begin(), {"export", Dir()});
            ToolRun exported = RunTool(args);
            EXPECT_EQ(exported.exitCode, 1) << exported.err;
            EXPECT_NE(exported.err.find("not exported"), std::string::npos) << exported.err;
            EXPECT_FALSE(std::filesystem::exists(out) || std::filesystem::exists(out + ".part"));
        }
        EXPECT_EQ(Snapshot(), before);
    }
}

TEST_F(DamagedStore, AnInterruptedCompactionIsListedWithTheFilesTheProgramReads)
{
    StoreLayout store;
    for (int i = 0; i < 3; ++i)
        store.Add(i + 1, Image(10 + i, 6));
    store.MoveFirst(2);
    Write("pagorex.idx", store.index);
    Write("pagorex.dat", store.data);
    Write("pagorex.new", store.newData);
    ToolRun list = RunTool({"list", Dir()});
    ASSERT_EQ(list.exitCode, 0);
    std::vector<std::string> lines = Lines(list.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(Words(lines[1])[3], "pagorex.new");
    EXPECT_EQ(Words(lines[2])[3], "pagorex.new");
    EXPECT_EQ(Words(lines[3])[3], "pagorex.dat");
    EXPECT_EQ(Words(lines[2])[8], "11") << "the moved blob is read where it now lies";
    ToolRun stats = RunTool({"stats", Dir(), "--json"});
    EXPECT_NE(stats.out.find("\"newData\":{\"bytes\":" + std::to_string(store.newData.size()) +
                             ",\"movedRecords\":2,\"staleBytes\":0}"),
              std::string::npos)
        << stats.out;
    std::string out = Path("moved.bmp");
    ToolRun exported = RunTool({"export", Dir(), "2", out});
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(Read("moved.bmp"), Image(11, 6));
}

// Record 7, a document of three pages whose third page lies before its second, beside
// record 8 of one page; each row changes the store and says what the commands then tell.
struct DocumentCase {
    const char* what;
    std::function<void(StoreLayout& store)> change;
    const char* list;  // state and page of each record, in index order
    std::multiset<std::pair<int, std::string>> problems;
    const char* documents;  // the stats line
    bool whole;    // record 7 is exported, every page of it
    bool pageOne;  // its page 1 is exported alone
};

const char kSoundDocuments[] = "documents      2 (1 of several pages), 4 pages";
const DocumentCase kDocuments[] = {
    {"sound", [](StoreLayout&) {}, "live 1/3, live -, page 3/3, page 2/3", {}, kSoundDocuments, true, true},
    {"page 2 missing", [](StoreLayout& s) { s.records.pop_back(); }, "live 1/3, live -, page 3/3",
     {{0, "missing-page"}}, "documents      2 (1 of several pages), 3 pages, 1 page missing (verify names it)", false,
     true},
    {"two records for page 3", [](StoreLayout& s) { s.records.push_back(s.records[2]); },
     "live 1/3, live -, page 3/3, page 2/3, shadowed 3/3", {{4, "duplicate-page"}}, kSoundDocuments, true, true},
    {"page 2 of a save that did not finish",
     [](StoreLayout& s) {
         s.records.push_back(s.records[3]);
         storefiles::WriteMark(s.records.back(), {4, 2, 3});
     },
     "live 1/3, live -, page 3/3, page 2/3, stale 2/3", {{4, "stale-page"}}, kSoundDocuments, true, true},
    {"the first record marked as page 2", [](StoreLayout& s) { storefiles::WriteMark(s.records[0], {5, 2, 3}); },
     "live 2/3, live -, stale 3/3, stale 2/3", {{0, "misplaced-page"}, {2, "stale-page"}, {3, "stale-page"}},
     "documents      2 (0 of several pages), 2 pages", false, false},
    {"page 3's blob damaged", [](StoreLayout& s) { s.data[s.records[2].dataOffset + s.records[2].storedLength - 5] ^= 8; },
     "live 1/3, live -, page 3/3, page 2/3", {{2, "damaged-gzip"}}, kSoundDocuments, false, true},
};

TEST_F(DamagedStore, DocumentsAreListedCheckedAndExportedPageByPage)
{
    const std::vector<Bytes> pages = {Image(10, 6), Image(11, 6), Image(12, 6)};
    const std::string out = (dir_.parent_path() / (dir_.filename().string() + "-doc")).string();
    for (const DocumentCase& c : kDocuments) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        StoreLayout store;
        for (uint32_t page : {1u, 0u, 3u, 2u}) {
            store.Add(page ? 7 : 8, page ? pages[page - 1] : Image(5, 5));
            if (page)
                storefiles::WriteMark(store.records.back(), {5, page, 3});
        }
        c.change(store);
        store.Rewrite();
        Write("pagorex.idx", store.index);
        Write("pagorex.dat", store.data);

        std::vector<std::string> lines = Lines(RunTool({"list", Dir()}).out);
        std::string shown;
        for (size_t i = 1; i < lines.size(); ++i)
            shown += (i > 1 ? ", " : "") + Words(lines[i])[2] + " " + Words(lines[i])[11];
        EXPECT_EQ(shown, c.list);
        EXPECT_NE(RunTool({"list", Dir(), "--json"}).out.find("\"bitCount\":24,\"page\":3,\"pages\":3,\"generation\":5}"),
                  std::string::npos);
        ToolRun json = RunTool({"verify", Dir(), "--json"});
        EXPECT_EQ(json.exitCode, c.problems.empty() ? 0 : 1);
        EXPECT_EQ(Problems(json.out), c.problems) << json.out;
        ToolRun text = RunTool({"verify", Dir()});
        lines = Lines(text.out);
        ASSERT_EQ(lines.size(), c.problems.size() + 1) << text.out;
        for (size_t i = 0; i + 1 < lines.size(); ++i)
            EXPECT_NE(lines[i].find(" record 7"), std::string::npos) << lines[i];
        EXPECT_EQ(Lines(RunTool({"stats", Dir()}).out)[1], c.documents);

        // What an export left under a name, taken away.
        auto taken = [](const std::string& file) {
            std::ifstream in(file, std::ios::binary);
            Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            in.close();
            std::filesystem::remove(file);
            return bytes;
        };
        ToolRun all = RunTool({"export", Dir(), "7", out + ".bmp"});
        EXPECT_EQ(all.exitCode, c.whole ? 0 : 1) << all.err;
        for (uint32_t page = 1; page <= 3; ++page)
            EXPECT_EQ(taken(out + "-p" + std::to_string(page) + ".bmp"), c.whole ? pages[page - 1] : Bytes()) << page;
        ToolRun one = RunTool({"export", Dir(), "7", out + ".bmp", "--page", "1"});
        EXPECT_EQ(one.exitCode, c.pageOne ? 0 : 1) << one.err;
        EXPECT_EQ(taken(out + ".bmp"), c.pageOne ? pages[0] : Bytes());
        EXPECT_EQ(RunTool({"export", Dir(), "8", "7", "--into", out + ".pdf"}).exitCode, c.whole ? 0 : 1);
        EXPECT_EQ(taken(out + ".pdf").empty(), !c.whole);
    }
}

struct ErrorCase {
    const char* what;
    std::vector<std::string> args;  // "{dir}" stands for the store, "{none}" for a missing directory
    int exitCode;
    const char* err;  // part of what stderr says; "" for nothing at all
    const char* out;  // the start of what stdout says
};

const ErrorCase kErrors[] = {
    {"no command", {}, 2, "which command?", ""},
    {"unknown command", {"frobnicate", "{dir}"}, 2, "unknown command 'frobnicate'", ""},
    {"unknown option", {"list", "{dir}", "--fast"}, 2, "unknown option '--fast'", ""},
    {"--json on export", {"export", "{dir}", "5", "x.bmp", "--json"}, 2, "unknown option '--json'", ""},
    {"store missing", {"list"}, 2, "DIR is missing", ""},
    {"too many operands", {"stats", "{dir}", "{dir}"}, 2, "too many operands", ""},
    {"missing directory", {"verify", "{none}"}, 2, "no such directory", ""},
    {"record number not a number", {"export", "{dir}", "12x", "a.bmp"}, 2, "bad record number '12x'", ""},
    {"record number out of range", {"export", "{dir}", "2147483648", "a.bmp"}, 2, "bad record number", ""},
    {"record not in the index", {"export", "{dir}", "42", "{dir}/a.bmp"}, 1, "no record 42 in the index", ""},
    {"record marked deleted", {"export", "{dir}", "7", "{dir}/a.bmp"}, 1, "record 7 has no image", ""},
    {"export over a store file", {"export", "{dir}", "5", "{dir}/PAGOREX.DAT"}, 2, "will not write over a store file",
     ""},
    {"export --all without OUTDIR", {"export", "{dir}", "--all"}, 2, "export --all takes DIR and OUTDIR", ""},
    {"export over a file that exists", {"export", "{dir}", "5", "{dir}"}, 2, "exists (--force replaces it)", ""},
    {"unknown format", {"export", "{dir}", "5", "a.bmp", "--format", "gif"}, 2, "unknown format 'gif'", ""},
    {"--into with another format", {"export", "{dir}", "5", "--into", "a.bmp", "--format", "png"}, 2,
     "--into writes a PDF", ""},
    {"--into with a deleted record", {"export", "{dir}", "5", "7", "--into", "{dir}/a.bmp"}, 1,
     "record 7 has no image", ""},
    {"--page with --into", {"export", "{dir}", "5", "--into", "a.bmp", "--page", "2"}, 2,
     "--page K goes with one RECORD and FILE", ""},
    {"--page 0", {"export", "{dir}", "5", "a.bmp", "--page", "0"}, 2, "--page takes a page number", ""},
    {"--plain-pdf with png", {"export", "{dir}", "5", "a.png", "--format", "png", "--plain-pdf"}, 2,
     "--plain-pdf goes with a PDF", ""},
    {"--page past the record's pages", {"export", "{dir}", "5", "{dir}/a.bmp", "--page", "2"}, 1,
     "record 5: not exported: it has no page 2 (1 page)", ""},
    {"help", {"--help"}, 0, "", "usage: pagorex-store COMMAND DIR"},
    {"version, as in the version resources", {"--version"}, 0, "", "pagorex-store " PAGOREX_VERSION},
    {"help on list", {"list", "--help"}, 0, "", "usage: pagorex-store list DIR [--json]"},
    {"help on verify", {"verify", "{none}", "--help"}, 0, "", "usage: pagorex-store verify DIR [--json]"},
    {"help on stats", {"stats", "-h"}, 0, "", "usage: pagorex-store stats DIR [--json]"},
    {"help on export", {"export", "--help"}, 0, "", "usage: pagorex-store export DIR RECORD FILE [--format"},
};

class ToolErrors : public SoundStore {};

TEST_F(ToolErrors, EveryMistakeGetsAClearMessageAndItsExitCode)
{
    std::string none = Path("nowhere");
    for (const ErrorCase& c : kErrors) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args;
        for (std::string arg : c.args) {
            if (arg.rfind("{dir}", 0) == 0)
                arg = arg.size() > 5 ? Path(arg.substr(6)) : Dir();
            if (arg == "{none}")
                arg = none;
            args.push_back(arg);
        }
        ToolRun run = RunTool(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        if (*c.err == '\0')
            EXPECT_EQ(run.err, "");
        else
            EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(run.out.rfind(c.out, 0), 0u) << run.out;
        EXPECT_FALSE(Exists("a.bmp") || Exists("a.bmp.1.part"));
    }
}

// Another name of a store file is refused even with --force, and a failed export takes
// away only the temporary file it made itself.
TEST_F(SoundStore, ExportRefusesEveryNameOfAStoreFileAndRemovesOnlyItsOwnTemporaryFile)
{
    std::filesystem::create_hard_link(Path("pagorex.dat"), Path("alias.bin"));
    Write("out.pdf.part", Bytes(10, 'p'));
    before = Snapshot();
    ToolRun alias = RunTool({"export", Dir(), "5", Path("alias.bin"), "--force"});
    EXPECT_EQ(alias.exitCode, 2);
    EXPECT_NE(alias.err.find("will not write over a store file"), std::string::npos) << alias.err;
    ToolRun failed = RunTool({"export", Dir(), "5", "7", "--into", Path("out.pdf")});
    EXPECT_EQ(failed.exitCode, 1) << failed.err;
}

TEST_F(ToolTest, ADirectoryWithoutAnIndexIsNoStore)
{
    Write("pagorex.dat", Bytes(100, 1));
    for (const char* command : {"list", "verify", "stats"}) {
        ToolRun run = RunTool({command, Dir()});
        EXPECT_EQ(run.exitCode, 2) << command;
        EXPECT_NE(run.err.find("no image store here (pagorex.idx is missing)"), std::string::npos) << run.err;
    }
    Write("pagorex.idx", {});
    ToolRun empty = RunTool({"verify", Dir()});
    EXPECT_EQ(empty.exitCode, 0) << "an empty index is an empty store";
    Write("pagorex.idx", Bytes(100, 0));
    ToolRun fragment = RunTool({"list", Dir()});
    EXPECT_EQ(fragment.exitCode, 0);
    EXPECT_EQ(Lines(fragment.out).size(), 1u);
    EXPECT_NE(fragment.err.find("ends in 100 bytes that are no whole record"), std::string::npos) << fragment.err;
}
}  // namespace
