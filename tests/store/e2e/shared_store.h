#pragma once
// The fixture of several real programs on one store: the programs, the scanner pages each
// saves, what the store must hold afterwards, and the lock the test takes like any program.
#include "support/driver.h"
#include "support/store_files.h"
#include "support/store_hold.h"
#include "store/tool/tool_test.h"
#include "tools/vscanner/page.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>


namespace sharedstore {
using storefiles::Bytes;
using storefiles::Record;

constexpr int kAcquire = 100, kExitSave = 104, kAbout = 105, kHideSourceUI = 113, kSaveImage = 115, kCompact = 119;
constexpr char kInUse[] = "Please wait, the image store is in use by another program...";
constexpr char kBanner[] = "Pagorex - Page Capture";
constexpr char kCompleted[] = "Completed compressing";
constexpr char kTransferred[] = "DAT_IMAGENATIVEXFER/MSG_GET -> TWRC_XFERDONE";

inline int EnvInt(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

// A page of the scanner as the program stores it: the native transfer's DIB behind a
// bitmap file header.
inline vs::PageFormat Page(int width, int height)
{
    return vs::PageFormat{width, height, 24, TWPT_RGB, 100};
}

// The image file of a blob; a compressed one only when the blob is exactly one whole gzip
// member whose check sum holds and whose content is the record's image length.
inline std::optional<Bytes> DecodeBlob(const Record& record, const Bytes& data)
{
    if (uint64_t(record.dataOffset) + record.storedLength > data.size())
        return std::nullopt;
    if (record.compressed == 0)  // an earlier writer's plain image file
        return Bytes(data.begin() + record.dataOffset, data.begin() + record.dataOffset + record.storedLength);
    z_stream stream = {};
    inflateInit2(&stream, 15 + 16);
    Bytes out(record.imageLength + 1);
    stream.next_in = const_cast<unsigned char*>(data.data() + record.dataOffset);
    stream.avail_in = record.storedLength;
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    int status = inflate(&stream, Z_FINISH);
    bool whole = status == Z_STREAM_END && stream.total_in == record.storedLength &&
                 stream.total_out == record.imageLength;
    inflateEnd(&stream);
    if (!whole)
        return std::nullopt;
    out.resize(record.imageLength);
    return out;
}

struct StoreState {
    std::vector<Record> records;
    Bytes data;
    bool newData = false;
};

struct SaveDone {
    int height;          // of the page saved
    DWORD began, ended;  // ticks around the Save Image command
};

// One program that saves pages for its record.
struct Saver {
    int record = 0;
    int width = 0;
    std::string profile, log;
    driver::Program program;
    std::vector<SaveDone> saves;
    int waitsSeen = 0;      // saves during which the title showed the wait
    std::string problem;    // how driving it went wrong
    std::atomic<bool> finished{false};
    std::atomic<bool> checking{false};  // reading the store, as another program
};

struct Interleaving {
    const char* name;
    std::vector<int> records;    // one saving program each; a repeated number shares a record
    std::vector<int> compactAt;  // forced compactions, once this many saves in all have ended
    bool pileUp;                 // half-way, another program holds the store until every saver waits
    bool otherWidth = false;     // every second saver is the program of the other width
};

// The other width's program directory (make test names it where this machine runs both
// widths, and installs that width's scanner in this prefix too), as a Windows path; ""
// where only this width runs.
inline std::string OtherWidthBin()
{
    const char* unix = std::getenv("PAGOREX_OTHER_WIDTH_BIN");
    if (!unix || !*unix)
        return "";
    std::string path = std::string("Z:") + unix;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path + "\\";
}

class SharedStoreTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = driver::MakeTempDirectory("pgx-shared"); }
    void TearDown() override
    {
        for (auto& saver : savers_)
            driver::Release(saver->program);
        driver::Release(compactor_);
        driver::RemoveDirectoryTree(dir_);
    }
    // A new directory and no programs, for the next row of a table.
    void Fresh()
    {
        TearDown();
        savers_.clear();
        earlier_.clear();
        saved_.clear();
        savesDone_ = 0;
        compactions_ = 0;
        SetUp();
    }
    std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

    // Records 1..count of an earlier run, some of them plain, so that a compaction has
    // blobs to compress and takes a while; with plainFirst the first one is plain too,
    // and every program's start compacts the store.
    void LayStore(int count, unsigned seed, bool plainFirst = false, int width = 140)
    {
        storefiles::StoreLayout layout;
        for (int i = 1; i <= count; ++i) {
            static uint32_t salt;
            salt = (seed * 7919u + static_cast<uint32_t>(i)) * 2654435761u;
            Bytes image = storefiles::Bitmap24(width + 10 * i, 90, [](int x, int y) {
                uint32_t v = static_cast<uint32_t>(x * 73856093 ^ y * 19349663) ^ salt;
                return (v ^ (v >> 13)) & 0xFFFFFFu;
            });
            layout.Add(i, image, plainFirst ? false : i % 3 != 2);
            earlier_[i] = image;
        }
        ASSERT_TRUE(driver::WriteFileBytes(Path("pagorex.idx"), layout.index));
        ASSERT_TRUE(driver::WriteFileBytes(Path("pagorex.dat"), layout.data));
    }
    // Starts the program for record, with a scanner profile and log of its own.
    void Start(driver::Program& program, int record, const std::string& profile = "", const std::string& log = "",
               const std::string& bin = driver::BinDirectory())
    {
        SetEnvironmentVariableA("VSCANNER_PROFILE", profile.empty() ? nullptr : profile.c_str());
        SetEnvironmentVariableA("VSCANNER_LOG", log.empty() ? nullptr : log.c_str());
        bool started = driver::Start(program, bin + "pagorex.exe",
                                     std::to_string(record) + " " + Path("HOST.DB"), dir_);
        SetEnvironmentVariableA("VSCANNER_PROFILE", nullptr);
        SetEnvironmentVariableA("VSCANNER_LOG", nullptr);
        ASSERT_TRUE(started);
        ASSERT_TRUE(driver::WaitForMainWindow(program, 30000)) << "no window for record " << record;
    }
    static bool WaitForTitle(HWND window, const std::string& title, DWORD timeoutMs = 30000)
    {
        for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(5)) {
            if (driver::Title(window) == title)
                return true;
        }
        return false;
    }
    // The window is sized to an image of that height once it shows one.
    static bool WaitForClientHeight(HWND window, int height)
    {
        for (DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(5)) {
            if (driver::ClientSize(window).cy == height)
                return true;
        }
        return false;
    }
    // Starts programs while the test writes the store, so that each one's start-up load
    // waits for it, and hands each a marker meanwhile (About, held until the load ends and
    // posted after the start-up compaction check): once its box has come and gone the
    // program has nothing left to do and takes commands one at a time.
    void StartIdle(const std::vector<driver::Program*>& programs, const std::vector<int>& records,
                   const std::vector<std::string>& profiles = {}, const std::vector<std::string>& logs = {},
                   const std::vector<std::string>& bins = {})
    {
        StoreHold writing(Path("pagorex.idx"));
        ASSERT_TRUE(writing.Take(kStoreLockOffset, true));
        // One after the other: a program's load meets no other program's, so the wait it
        // shows is its start-up check's.
        for (size_t i = 0; i < programs.size(); ++i) {
            Start(*programs[i], records[i], i < profiles.size() ? profiles[i] : "", i < logs.size() ? logs[i] : "",
                  i < bins.size() ? bins[i] : driver::BinDirectory());
            if (HasFatalFailure())
                return;
            ASSERT_TRUE(WaitForTitle(programs[i]->window, kInUse)) << "a program did not show that it waits";
            driver::PostCommand(programs[i]->window, kAbout);
            // Once it answers, its wait has taken the marker in.
            DWORD_PTR ignored = 0;
            ASSERT_TRUE(SendMessageTimeoutA(programs[i]->window, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &ignored));
        }
        writing.Release();
        for (driver::Program* program : programs) {
            ASSERT_TRUE(WaitForTitle(program->window, kBanner)) << "a program still waits after the store was freed";
            driver::MessageBoxInfo about = driver::WaitForMessageBox(*program, 20000);
            ASSERT_TRUE(about.window) << "the marker did not come";
            driver::PressButton(about.window, IDOK);
            ASSERT_TRUE(Gone(about.window));
        }
    }
    static bool Gone(HWND window)
    {
        for (DWORD start = GetTickCount(); IsWindow(window) && GetTickCount() - start < 10000; Sleep(5)) {
        }
        return !IsWindow(window);
    }
    // The store as another program reads it, between two operations.
    StoreState ReadStore()
    {
        StoreHold hold(Path("pagorex.idx"));
        hold.Take(kStoreLockOffset, false);
        StoreState state;
        state.records = storefiles::DecodeIndex(driver::ReadFileBytes(Path("pagorex.idx")));
        state.data = driver::ReadFileBytes(Path("pagorex.dat"));
        state.newData = driver::FileExists(Path("pagorex.new"));
        return state;
    }
    // Every record exactly once, every blob one whole gzip member of its image, the
    // records nobody saved holding their images of before.
    void ExpectSound(const StoreState& state, const std::string& when)
    {
        std::map<int, int> seen;
        for (const Record& r : state.records) {
            ++seen[r.recordNumber];
            std::optional<Bytes> image = DecodeBlob(r, state.data);
            ASSERT_TRUE(image) << when << ": record " << r.recordNumber << " does not decode";
            if (earlier_.count(r.recordNumber) && !saved_.count(r.recordNumber)) {
                EXPECT_EQ(*image, earlier_[r.recordNumber]) << when << ": record " << r.recordNumber;
            }
        }
        for (auto [number, count] : seen)
            EXPECT_EQ(count, 1) << when << ": record " << number << " is in the index " << count << " times";
        for (int number : saved_)
            EXPECT_EQ(seen.count(number), 1u) << when << ": record " << number << " is missing";
        EXPECT_FALSE(state.newData) << when << ": pagorex.new was left";
    }
    static std::optional<Bytes> ImageOf(const StoreState& state, int record)
    {
        for (const Record& r : state.records)
            if (r.recordNumber == record)
                return r.deleted ? std::nullopt : DecodeBlob(r, state.data);
        return std::nullopt;
    }

    void StartPrograms(const Interleaving& c, int seed)
    {
        std::vector<driver::Program*> programs{&compactor_};
        std::vector<int> records{999};
        std::vector<std::string> profiles{""}, logs{""}, bins{driver::BinDirectory()};
        for (size_t p = 0; p < c.records.size(); ++p) {
            auto saver = std::make_unique<Saver>();
            saver->record = c.records[p];
            saver->width = 40 + 60 * static_cast<int>(p) + seed % 7;
            saver->profile = Path("profile-" + std::to_string(p) + ".txt");
            saver->log = Path("scanner-" + std::to_string(p) + ".txt");
            programs.push_back(&saver->program);
            records.push_back(saver->record);
            profiles.push_back(saver->profile);
            logs.push_back(saver->log);
            bins.push_back(c.otherWidth && p % 2 == 1 ? OtherWidthBin() : driver::BinDirectory());
            saved_.insert(saver->record);
            savers_.push_back(std::move(saver));
        }
        StartIdle(programs, records, profiles, logs, bins);
        if (HasFatalFailure())
            return;
        for (auto& saver : savers_)
            ASSERT_TRUE(driver::Command(saver->program.window, kHideSourceUI));
    }

    // One saving program's run: a page of its own size for each save, acquired and saved.
    void RunSaver(Saver& saver, int saves, unsigned seed)
    {
        uint32_t random = seed * 2654435761u + static_cast<uint32_t>(saver.width);
        for (int i = 1; i <= saves && saver.problem.empty(); ++i) {
            int height = 20 + 2 * i + static_cast<int>(seed % 5);
            std::ofstream(saver.profile, std::ios::trunc) << "width = " << saver.width << "\nheight = " << height << "\n";
            if (!driver::Command(saver.program.window, kAcquire, 60000)) {
                saver.problem = "Acquire did not end";
                break;
            }
            if (Transfers(saver) != i || driver::ClientSize(saver.program.window).cy != height) {
                saver.problem = "page " + std::to_string(i) + " was not acquired and shown";
                break;
            }
            SaveDone done{height, GetTickCount(), 0};
            std::string told;
            bool waited = false;
            {
                driver::PendingCommand save(saver.program.window, kSaveImage);
                while (!save.Wait(15)) {
                    waited = waited || driver::Title(saver.program.window) == kInUse;
                    driver::MessageBoxInfo box = driver::WaitForMessageBox(saver.program, 0);
                    if (box.window) {
                        told = box.text;
                        driver::PressButton(box.window, IDOK);
                        Gone(box.window);
                    }
                    if (GetTickCount() - done.began > 180000) {
                        saver.problem = "Save Image did not end";
                        saver.finished = true;
                        return;
                    }
                }
            }
            done.ended = GetTickCount();
            saver.waitsSeen += waited;
            saver.saves.push_back(done);
            ++savesDone_;
            if (!told.empty())
                saver.problem = "save " + std::to_string(i) + " told: " + told;
            else
                CheckStored(saver, done, i);
            random = random * 1103515245u + 12345u;
            Sleep((random >> 16) % 120);
        }
        saver.finished = true;
    }
    static int Transfers(const Saver& saver)
    {
        std::ifstream in(saver.log);
        int count = 0;
        for (std::string line; std::getline(in, line);)
            count += line.find(kTransferred) != std::string::npos;
        return count;
    }
    // Right after a save that told the user nothing, a record that no other program
    // saves holds the page.
    void CheckStored(Saver& saver, const SaveDone& done, int i)
    {
        int sharing = 0;
        for (auto& s : savers_)
            sharing += s->record == saver.record;
        if (sharing > 1)
            return;
        saver.checking = true;
        std::optional<Bytes> stored = ImageOf(ReadStore(), saver.record);
        saver.checking = false;
        if (!stored || *stored != vs::PageBitmapFile(Page(saver.width, done.height), 0))
            saver.problem = "save " + std::to_string(i) + " told nothing, but the store does not hold its page";
    }

    // The forced compactions when the saves reach their marks, and the pile-up half-way,
    // on the test's own thread while the savers run.
    void Conduct(const Interleaving& c, int totalSaves)
    {
        size_t next = 0;
        bool piledUp = !c.pileUp;
        while (!AllFinished()) {
            if (!piledUp && savesDone_ >= totalSaves / 2) {
                piledUp = true;
                PileUp();
            }
            if (next < c.compactAt.size() && savesDone_ >= c.compactAt[next]) {
                ++next;
                Compact();
            }
            Sleep(5);
        }
    }
    bool AllFinished() const
    {
        for (auto& saver : savers_)
            if (!saver->finished)
                return false;
        return true;
    }
    void Compact()
    {
        SetWindowTextA(compactor_.window, "");  // the compaction's own title tells that it ran
        driver::PendingCommand compaction(compactor_.window, kCompact);
        EXPECT_TRUE(compaction.Wait(180000)) << "the compaction did not end";
        driver::MessageBoxInfo box = driver::WaitForMessageBox(compactor_, 0);
        EXPECT_FALSE(box.window) << "the compaction told: " << box.text;
        if (box.window)
            driver::PressButton(box.window, IDOK);
        EXPECT_EQ(driver::Title(compactor_.window), kCompleted);
        ++compactions_;
        ExpectSound(ReadStore(), "after a compaction");
    }
    // Another program takes the store for itself until every saver waits for it.
    void PileUp()
    {
        StoreHold writing(Path("pagorex.idx"));
        ASSERT_TRUE(writing.Take(kStoreLockOffset, true));
        for (auto& saver : savers_) {
            for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(5)) {
                if (driver::Title(saver->program.window) == kInUse || saver->finished || saver->checking)
                    break;
            }
        }
        ++pileUps_;
    }
    // What the record holds at the end: the page of the last save that ended, or, when
    // other programs' last saves for the record ran at the same time, one of theirs.
    void ExpectLastPages(const StoreState& state, int& lost)
    {
        for (int record : saved_) {
            const Saver* last = nullptr;
            for (auto& s : savers_)
                if (s->record == record && !s->saves.empty() && (!last || s->saves.back().ended > last->saves.back().ended))
                    last = s.get();
            ASSERT_NE(last, nullptr);
            std::vector<Bytes> allowed;
            for (auto& s : savers_) {
                if (s->record != record || s->saves.empty())
                    continue;
                const SaveDone& done = s->saves.back();
                if (s.get() == last || done.ended >= last->saves.back().began)
                    allowed.push_back(vs::PageBitmapFile(Page(s->width, done.height), 0));
            }
            std::optional<Bytes> stored = ImageOf(state, record);
            bool found = stored && std::find(allowed.begin(), allowed.end(), *stored) != allowed.end();
            EXPECT_TRUE(found) << "record " << record << " does not hold the last page saved for it";
            lost += !found;
        }
    }
    void CloseAll()
    {
        std::vector<driver::Program*> programs{&compactor_};
        for (auto& saver : savers_)
            programs.push_back(&saver->program);
        for (driver::Program* program : programs)
            driver::Close(program->window);
        for (driver::Program* program : programs)
            EXPECT_EQ(driver::WaitForExit(*program, 30000), 0);
    }

    std::string dir_;
    std::vector<std::unique_ptr<Saver>> savers_;
    driver::Program compactor_;
    std::map<int, Bytes> earlier_;
    std::set<int> saved_;
    std::atomic<int> savesDone_{0};
    int compactions_ = 0;
    int pileUps_ = 0;
};
}  // namespace sharedstore
