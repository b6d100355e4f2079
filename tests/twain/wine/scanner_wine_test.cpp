// What the virtual scanner itself hands over through Wine's Source Manager, triplet by
// triplet: its signals, native handles, files, strips and pending counts as the profile
// sets them. The acquisition library's handling of them is tested in acquire_wine_test.
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "tools/vscanner/page.h"
#include "wine_session.h"

namespace twtest {
namespace {

class ScannerThroughWine : public WineSession {
protected:
    // The lines of the log that are signals or the source's own decisions.
    std::vector<std::string> Signals() const
    {
        std::vector<std::string> lines;
        for (const std::string& line : Log()) {
            if (line.rfind("signal ", 0) == 0 || line.rfind("scan after", 0) == 0)
                lines.push_back(line);
        }
        return lines;
    }

    bool LogHas(const std::string& line) const
    {
        const auto log = SessionLog();
        return std::find(log.begin(), log.end(), line) != log.end();
    }

    static TW_HANDLE NativeTransfer()
    {
        TW_HANDLE handle = nullptr;
        EXPECT_TRUE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle));
        return handle;
    }

};

TEST_F(ScannerThroughWine, SignalsFollowTheProfile)
{
    struct Case {
        const char* keys;
        std::vector<std::string> signals;  // up to the first transfer-ready state or the close
    };
    const Case cases[] = {
        {"close_request = before\n", {"signal MSG_CLOSEDSREQ -> TWRC_SUCCESS", "signal MSG_XFERREADY -> TWRC_SUCCESS"}},
        {"close_request = after\n", {"signal MSG_XFERREADY -> TWRC_SUCCESS", "signal MSG_CLOSEDSREQ -> TWRC_SUCCESS"}},
        {"close_request = instead\n", {"signal MSG_CLOSEDSREQ -> TWRC_SUCCESS"}},
        {"scan_delay = 300\n", {"scan after 300 ms", "signal MSG_XFERREADY -> TWRC_SUCCESS"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        UseProfile(std::string("[source]\nname = Alpha\n") + c.keys);
        DeleteFileA(logPath.c_str());
        TWAIN_SetHideUI(true);
        ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
        ASSERT_TRUE(TWAIN_EnableSource(nullptr));
        const DWORD start = GetTickCount();
        EXPECT_TRUE(Pump([&] { return Signals().size() >= c.signals.size(); }));
        Pump([] { return false; }, 100);
        EXPECT_EQ(Signals(), c.signals);
        if (std::string(c.keys).find("scan_delay") != std::string::npos) {
            EXPECT_GE(GetTickCount() - start, 250u);
        }
        ASSERT_TRUE(TWAIN_UnloadSourceManager());
    }
}

TEST_F(ScannerThroughWine, TheDialogAnnouncesOnItsOwnAfterTheDelay)
{
    UseProfile("[source]\nname = Alpha\nscan_delay = 200\n");
    ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
    ASSERT_TRUE(TWAIN_EnableSource(nullptr));  // with its dialog, which nobody presses
    ASSERT_TRUE(Pump([] { return TWAIN_GetState() == TWAIN_TRANSFER_READY; }));
    EXPECT_TRUE(LogHas("DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS -> TWRC_SUCCESS | ShowUI=TRUE dialog shown"));
    EXPECT_EQ(Signals(), (std::vector<std::string>{"scan after 200 ms", "signal MSG_XFERREADY -> TWRC_SUCCESS"}));
}

TEST_F(ScannerThroughWine, AfterTheLastImageItAsksToCloseOrScansAgain)
{
    struct Case {
        const char* keys;
        const char* next;
    };
    const Case cases[] = {
        {"close_request = done\n", "signal MSG_CLOSEDSREQ -> TWRC_SUCCESS"},
        {"scans = 2\n", "signal MSG_XFERREADY -> TWRC_SUCCESS"},
        {"scans = 2\nscan_delay = 100\n", "signal MSG_XFERREADY -> TWRC_SUCCESS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        UseProfile(std::string("[source]\nname = Alpha\n") + c.keys);
        DeleteFileA(logPath.c_str());
        ReachTransferReady();
        GlobalFree(NativeTransfer());
        ASSERT_TRUE(TWAIN_EndTransfer());
        EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_ENABLED);
        ASSERT_TRUE(Pump([&] { return Signals().size() >= 2; }));
        EXPECT_EQ(Signals().back(), c.next);
        ASSERT_TRUE(TWAIN_UnloadSourceManager());
    }
}

TEST_F(ScannerThroughWine, NativeHandlesAsTheProfileSays)
{
    const std::string file = profilePath + ".dib";
    {
        std::vector<std::uint8_t> bytes = vs::PageBitmapFile(vs::PageFormat{3, 2, 8, TWPT_GRAY, 72.0}, 0);
        bytes[14 + 32] = 77;  // biClrUsed 77: fewer colours than the table the rows follow
        bytes[14 + 33] = 0;
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    struct Case {
        std::string keys;
        DWORD objectType;     // of a GDI handle, 0 for a global block or none
        SIZE_T blockSize;     // of a global block
        LONG height;          // the header's biHeight
        DWORD colours;        // the header's biClrUsed
    };
    const Case cases[] = {
        {"dib.biClrUsed = 4000\ndib.biHeight = -9\nnative_block_size = 100\n", 0, 100, -9, 4000},
        {"native_file = " + file + "\n", 0, 40 + 256 * 4 + 2 * 4, 2, 77},
        {"native_handle = dibsection\n", OBJ_BITMAP, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        UseProfile("[source]\nname = Alpha\nwidth = 5\nheight = 4\npixel_type = gray\n" + c.keys);
        ReachTransferReady();
        TW_HANDLE handle = NativeTransfer();
        EXPECT_EQ(TWAIN_GetState(), TWAIN_TRANSFERRING);
        if (c.objectType) {
            EXPECT_EQ(GetObjectType(handle), c.objectType);
            DeleteObject(handle);
        } else if (c.blockSize) {
            EXPECT_EQ(GlobalSize(handle), c.blockSize);
            auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(handle));
            ASSERT_NE(header, nullptr);
            EXPECT_EQ(header->biHeight, c.height);
            EXPECT_EQ(header->biClrUsed, c.colours);
            GlobalUnlock(handle);
            GlobalFree(handle);
        } else {
            EXPECT_EQ(handle, nullptr);
        }
        ASSERT_TRUE(TWAIN_UnloadSourceManager());
    }
    DeleteFileA(file.c_str());
}

TEST_F(ScannerThroughWine, FileSetUpStartsFromTheProfileAndRefusesOtherFormats)
{
    UseProfile("[source]\nname = Alpha\nxfer_mech = file\nfile_formats = bmp tiff\nfile_name = first.tif\n"
               "file_format = tiff\n");
    ReachTransferReady();
    TW_SETUPFILEXFER setup{};
    ASSERT_TRUE(TWAIN_CallSource(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &setup));
    EXPECT_STREQ(setup.FileName, "first.tif");
    EXPECT_EQ(setup.Format, TWFF_TIFF);
    std::snprintf(setup.FileName, sizeof setup.FileName, "%s", "second.png");
    setup.Format = TWFF_PNG;
    EXPECT_FALSE(TWAIN_CallSource(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    EXPECT_EQ(TWAIN_GetConditionCode(), TWCC_BADVALUE);
    setup.Format = TWFF_BMP;
    ASSERT_TRUE(TWAIN_CallSource(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    TW_SETUPFILEXFER now{};
    ASSERT_TRUE(TWAIN_CallSource(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &now));
    EXPECT_STREQ(now.FileName, "second.png");
    EXPECT_EQ(now.Format, TWFF_BMP);
    ASSERT_TRUE(TWAIN_CallSource(DG_CONTROL, DAT_SETUPFILEXFER, MSG_RESET, &now));
    EXPECT_STREQ(now.FileName, "first.tif");
}

// The strips reach the application's buffer through the manager, whether it hands over
// a pointer or a handle.
TEST_F(ScannerThroughWine, StripsFillTheApplicationsBuffer)
{
    UseProfile("[source]\nname = Alpha\nwidth = 10\nheight = 7\npixel_type = gray\nxfer_mech = memory\n"
               "buffer_size = 36\n");
    const vs::PageFormat format{10, 7, 8, TWPT_GRAY, 100.0};
    for (TW_UINT32 flags : {TWMF_APPOWNS | TWMF_POINTER, TWMF_APPOWNS | TWMF_HANDLE}) {
        SCOPED_TRACE(flags);
        ReachTransferReady();
        TW_SETUPMEMXFER setup{};
        ASSERT_TRUE(TWAIN_CallSource(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup));
        ASSERT_EQ(setup.Preferred, 36u);
        EXPECT_EQ(setup.MinBufSize, 12u);
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, setup.Preferred);
        std::vector<std::uint8_t> pointer(setup.Preferred);
        std::vector<std::vector<std::uint8_t>> rows(format.height);
        for (int strip = 0; strip < 10 && TWAIN_GetResultCode() != TWRC_XFERDONE; ++strip) {
            TW_IMAGEMEMXFER mx{};
            mx.Memory = TW_MEMORY{flags, setup.Preferred, flags & TWMF_HANDLE ? block : pointer.data()};
            ASSERT_TRUE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mx));
            EXPECT_EQ(mx.BytesPerRow, 12u);
            EXPECT_EQ(mx.Rows, strip < 2 ? 3u : 1u);
            const auto* bytes = flags & TWMF_HANDLE ? static_cast<std::uint8_t*>(GlobalLock(block)) : pointer.data();
            for (TW_UINT32 r = 0; r < mx.Rows; ++r)
                rows[mx.YOffset + r].assign(bytes + r * mx.BytesPerRow, bytes + r * mx.BytesPerRow + format.width);
            if (flags & TWMF_HANDLE)
                GlobalUnlock(block);
        }
        EXPECT_EQ(TWAIN_GetResultCode(), TWRC_XFERDONE);
        for (int y = 0; y < format.height; ++y) {
            std::vector<std::uint8_t> want(format.width);
            vs::PageRow(format, 0, y, -1, want.data());
            EXPECT_EQ(rows[y], want) << "row " << y;
        }
        GlobalFree(block);
        // Asking for more after the last strip is out of sequence.
        TW_IMAGEMEMXFER more{};
        more.Memory = TW_MEMORY{TWMF_APPOWNS | TWMF_POINTER, setup.Preferred, pointer.data()};
        EXPECT_FALSE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &more));
        EXPECT_EQ(TWAIN_GetConditionCode(), TWCC_SEQERROR);
        ASSERT_TRUE(TWAIN_UnloadSourceManager());
    }
}

TEST_F(ScannerThroughWine, EndingTransfersAsTheProfileSays)
{
    struct Case {
        const char* keys;
        // For each of three transfers: whether it succeeds, whether MSG_ENDXFER does, and
        // the state afterwards.
        struct Step {
            bool transfer, ended;
            int state;
        } steps[3];
    };
    const Case cases[] = {
        {"pages = 3\nendxfer_failures = 1\n",
         {{true, false, TWAIN_TRANSFERRING}, {false, true, TWAIN_TRANSFER_READY}, {true, true, TWAIN_TRANSFER_READY}}},
        {"pages = 3\ncount_stuck = yes\nfail_after = 1\n",
         {{true, true, TWAIN_TRANSFER_READY}, {false, true, TWAIN_TRANSFER_READY}, {false, true, TWAIN_TRANSFER_READY}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        UseProfile(std::string("[source]\nname = Alpha\n") + c.keys);
        ReachTransferReady();
        for (const auto& step : c.steps) {
            TW_HANDLE handle = nullptr;
            if (TWAIN_GetState() == TWAIN_TRANSFER_READY) {
                EXPECT_EQ(TWAIN_CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle), step.transfer);
            }
            if (handle)
                GlobalFree(handle);
            if (TWAIN_GetState() == TWAIN_TRANSFERRING) {
                EXPECT_EQ(TWAIN_CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pendingXfers), step.ended);
            }
            EXPECT_EQ(TWAIN_GetState(), step.state);
        }
        if (std::string(c.keys).find("count_stuck") != std::string::npos) {
            EXPECT_EQ(pendingXfers.Count, 3);
        }
        // MSG_RESET takes the source back to enabled from either state.
        EXPECT_TRUE(TWAIN_CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pendingXfers));
        ASSERT_TRUE(TWAIN_UnloadSourceManager());
    }
}

}  // namespace
}  // namespace twtest
