// Acquisitions end to end through Wine's Source Manager and the virtual scanner: every
// transfer mechanism, pixel type and row layout compared pixel by pixel with the page the
// scanner was asked for; file transfers; several pages and multi-transfer.
#include "acquire_through_wine.h"

namespace twtest {
namespace {

TEST_F(AcquireThroughWine, EveryMechanismBringsThePagePixelForPixel)
{
    const PageCase cases[] = {
        {"pixel_type = bw\n", Mech::Native, Page(TWPT_BW, 1), 1},
        {"pixel_type = gray\nbits = 4\n", Mech::Native, Page(TWPT_GRAY, 4), 4},
        {"pixel_type = gray\n", Mech::Native, Page(TWPT_GRAY, 8), 8},
        {"pixel_type = rgb\n", Mech::Native, Page(TWPT_RGB, 24), 24},
        {"pixel_types = palette rgb\npixel_type = palette\n", Mech::Native, Page(TWPT_PALETTE, 8), 8},
        {"pixel_type = rgb\nnative_handle = dibsection\n", Mech::Native, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\ndib.biSizeImage = 0\n", Mech::Native, Page(TWPT_RGB, 24), 24},

        {"pixel_type = bw\n", Mech::Memory, Page(TWPT_BW, 1), 1},
        {"pixel_type = bw\nrow_padding = byte\nbuffer_size = 50\n", Mech::Memory, Page(TWPT_BW, 1), 1},
        {"pixel_type = gray\nbits = 4\nrow_padding = byte\n", Mech::Memory, Page(TWPT_GRAY, 4), 4},
        {"pixel_type = gray\nrows_per_strip = 3\n", Mech::Memory, Page(TWPT_GRAY, 8), 8},
        {"pixel_type = gray\nrow_padding = byte\nbuffer_size = 100\n", Mech::Memory, Page(TWPT_GRAY, 8), 8},
        {"pixel_type = rgb\n", Mech::Memory, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\nrow_padding = byte\nbuffer_size = 1000\n", Mech::Memory, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\nplanar = yes\nbuffer_size = 200\n", Mech::Memory, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\nplanar = yes\nrow_padding = byte\nrows_per_strip = 5\n", Mech::Memory, Page(TWPT_RGB, 24),
         24},
        {"pixel_types = palette rgb\npixel_type = palette\n", Mech::Memory, Page(TWPT_PALETTE, 8), 8},
        {"pixel_types = palette rgb\npixel_type = palette\npalette_order = reversed\n", Mech::Memory,
         Page(TWPT_PALETTE, 8), 8},
        {"pixel_types = palette rgb\npixel_type = palette\npalette_order = shuffled\npalette_colors = 16\n",
         Mech::Memory, Page(TWPT_PALETTE, 8, 16), 8},
        {"pixel_types = palette rgb\npixel_type = palette\npalette_colors = 300\n", Mech::Memory,
         Page(TWPT_PALETTE, 8, 300), 8},
        // Strips that reach past the image are cut to it.
        {"pixel_type = gray\nstrip_fault = past_bottom\nbuffer_size = 400\n", Mech::Memory, Page(TWPT_GRAY, 8), 8},
        {"pixel_type = gray\nstrip_fault = past_right\n", Mech::Memory, Page(TWPT_GRAY, 8), 8},

        {"pixel_type = rgb\nbits = 32\n", Mech::Memory, Page(TWPT_RGB, 32), 24},
        {"pixel_type = gray\nbits = 4\nrows_per_strip = 7\n", Mech::Memory, Page(TWPT_GRAY, 4), 4},

        {"pixel_type = bw\n", Mech::File, Page(TWPT_BW, 1), 1},
        {"pixel_type = gray\n", Mech::File, Page(TWPT_GRAY, 8), 8},
        {"pixel_types = palette rgb\npixel_type = palette\n", Mech::File, Page(TWPT_PALETTE, 8), 8},
        {"pixel_type = rgb\n", Mech::File, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\nrows_per_strip = 4\n", Mech::Clipboard, Page(TWPT_RGB, 24), 24},
        {"pixel_type = gray\nplanar = yes\n", Mech::ToFile, Page(TWPT_GRAY, 8), 8},
        {"pixel_type = rgb\nplanar = yes\n", Mech::Callback, Page(TWPT_RGB, 24), 24},
        // A source that refuses the empty identity Wine's manager passes on for the default.
        {"pixel_type = rgb\nopen_needs_identity = yes\n", Mech::Native, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\nopen_needs_identity = yes\n", Mech::Memory, Page(TWPT_RGB, 24), 24},
        // A blank sheet, in each way a page travels.
        {"pixel_type = rgb\nblank_pages = 1\n", Mech::Native, Page(TWPT_RGB, 24, 0, true), 24},
        {"pixel_type = bw\nblank_pages = 1\n", Mech::Memory, Page(TWPT_BW, 1, 0, true), 1},
        {"pixel_types = palette rgb\npixel_type = palette\nblank_pages = 1\n", Mech::Memory,
         Page(TWPT_PALETTE, 8, 0, true), 8},
        {"pixel_type = gray\nblank_pages = 1\n", Mech::File, Page(TWPT_GRAY, 8, 0, true), 8},
    };
    for (const PageCase& c : cases) {
        SCOPED_TRACE(std::string(MechName(c.mech)) + ": " + c.keys);
        UseProfile(Keys(c.keys));
        DeleteFileA(logPath.c_str());
        Outcome out = Acquire(c.mech);
        ExpectPage(out.dib, c.page, 0, c.bits);
        EXPECT_TRUE(out.boxes.empty()) << out.AllBoxes();
        EXPECT_EQ(out.error, TWERR_NONE);
        EXPECT_EQ(out.state, TWAIN_PRESESSION);  // the manager is unloaded after every image
        EXPECT_EQ(Count("DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER -> TWRC_SUCCESS"), 1);
        if (c.mech != Mech::Native && c.mech != Mech::File) {
            EXPECT_EQ(Count("DG_CONTROL/DAT_SETUPMEMXFER/MSG_GET -> TWRC_SUCCESS"), 1);
        }
    }
}

TEST_F(AcquireThroughWine, FileTransferWritesTheFormatAskedFor)
{
    const vs::PageFormat page{37, 23, 24, TWPT_RGB, 100.0};
    const std::string jfif = "TWFF_JFIF: page 1 of the virtual scanner, which writes no such file.\r\n";
    struct Case {
        TW_UINT16 format;
        std::vector<std::uint8_t> content;
    };
    const Case cases[] = {
        {TWFF_BMP, vs::PageBitmapFile(page, 0)},
        {TWFF_TIFF, vs::PageTiff(page, 0)},
        {TWFF_JFIF, std::vector<std::uint8_t>(jfif.begin(), jfif.end())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        UseProfile(Keys("pixel_type = rgb\n"));
        DeleteFileA(outputPath.c_str());
        Outcome out = Acquire(Mech::File, c.format);
        EXPECT_TRUE(out.fileWritten);
        EXPECT_EQ(ReadAll(outputPath), c.content);
        EXPECT_TRUE(out.boxes.empty());
    }
}

// The name a file transfer hands over holds 255 characters; a longer path cut there
// would name another file, which the source would write or overwrite.
TEST_F(AcquireThroughWine, FilePathsLongerThanTheSourceTakesAreRefused)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string directory = std::string(temp) + "pgx_long_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(directory.c_str(), nullptr);
    std::string path = directory + "\\";
    path += std::string(255 - path.size(), 'a');  // cut to 255 this would be a name of its own
    const std::string cut = path.substr(0, 255);
    path += ".bmp";
    ASSERT_GT(path.size(), 255u);
    ASSERT_LT(path.size(), 260u);
    UseProfile(Keys(""));
    Outcome out = Acquire(Mech::File, TWFF_BMP, path);
    EXPECT_FALSE(out.fileWritten);
    EXPECT_EQ(out.boxes.size(), 1u);
    EXPECT_TRUE(out.Shown("The file name is longer than the 255 characters")) << out.AllBoxes();
    EXPECT_EQ(Count("DG_CONTROL/DAT_SETUPFILEXFER/MSG_SET"), 0);
    EXPECT_EQ(Count("DG_IMAGE/DAT_IMAGEFILEXFER"), 0);
    EXPECT_EQ(GetFileAttributesA(cut.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(cut.c_str());
    RemoveDirectoryA(directory.c_str());
    ExpectNextAcquisitionWorks();
}

TEST_F(AcquireThroughWine, SeveralPagesWithAndWithoutMultiTransfer)
{
    vs::PageFormat page{37, 23, 8, TWPT_GRAY, 100.0};
    page.blank.set(1);  // the second page is a blank sheet
    for (Mech mech : {Mech::Native, Mech::Memory}) {
        SCOPED_TRACE(MechName(mech));
        UseProfile(Keys("pixel_type = gray\npages = 3\nblank_pages = 2\n"));
        // Without multi-transfer one image comes and the rest are discarded.
        TWAIN_SetMultiTransfer(false);
        DeleteFileA(logPath.c_str());
        {
            Outcome first = Acquire(mech);
            ExpectPage(first.dib, page, 0, 8);
            EXPECT_EQ(first.state, TWAIN_PRESESSION);
            EXPECT_EQ(Count("DG_CONTROL/DAT_PENDINGXFERS/MSG_RESET -> TWRC_SUCCESS"), 1);
        }
        // With it, the source stays ready and every acquisition takes the next page
        // without enabling again.
        TWAIN_SetMultiTransfer(true);
        DeleteFileA(logPath.c_str());
        for (int n = 0; n < 3; ++n) {
            SCOPED_TRACE(n);
            Outcome out = Acquire(mech);
            ExpectPage(out.dib, page, n, 8);
            EXPECT_EQ(out.state, n < 2 ? TWAIN_TRANSFER_READY : TWAIN_SOURCE_ENABLED);
        }
        EXPECT_EQ(Count("DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS"), 1);
        EXPECT_EQ(Count("DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER -> TWRC_SUCCESS"), 3);
        ASSERT_TRUE(TWAIN_UnloadSourceManager());
    }
}

// A scanner that announces its next page on its own while the program waits in its
// own loop: the hook transfers it there, and the next acquisition finds it waiting.
TEST_F(AcquireThroughWine, AnAnnouncementBetweenAcquisitionsIsTransferredInTheHook)
{
    const vs::PageFormat page{37, 23, 24, TWPT_RGB, 100.0};
    for (Mech mech : {Mech::Native, Mech::Memory}) {
        SCOPED_TRACE(MechName(mech));
        UseProfile(Keys("scans = 2\nscan_delay = 600\n"));  // long enough not to come while the first acquisition ends
        TWAIN_SetMultiTransfer(true);
        DeleteFileA(logPath.c_str());
        Outcome first = Acquire(mech);
        ExpectPage(first.dib, page, 0, 24);
        EXPECT_EQ(first.state, TWAIN_SOURCE_ENABLED);
        EXPECT_FALSE(TWAIN_IsImageReady());
        ASSERT_TRUE(Pump([] { return TWAIN_IsImageReady(); }));
        // The hook took the image before anybody asked for it: the second acquisition
        // transfers nothing more.
        const std::string transfer =
            mech == Mech::Native ? "DG_IMAGE/DAT_IMAGENATIVEXFER" : "DG_CONTROL/DAT_SETUPMEMXFER";
        EXPECT_EQ(Count(transfer), 2);
        Outcome second = Acquire(mech);
        ExpectPage(second.dib, page, 1, 24);
        EXPECT_EQ(Count(transfer), 2);
        EXPECT_EQ(Count("DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS"), 1);
        ASSERT_TRUE(TWAIN_UnloadSourceManager());
    }
}
}  // namespace
}  // namespace twtest
