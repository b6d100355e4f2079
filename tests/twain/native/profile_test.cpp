// The virtual scanner's profile text: defaults, sections, values and the lines it skips.
#include <gtest/gtest.h>

#include "tools/vscanner/profile.h"

namespace vs {
namespace {

TEST(ScannerProfile, EmptyTextGivesTheBuiltInSource)
{
    Profile p = ParseProfile("");
    ASSERT_EQ(p.sources.size(), 1u);
    EXPECT_EQ(p.sources[0].name, "Pagorex Virtual Scanner");
    EXPECT_EQ(p.sources[0].width, 320);
    EXPECT_EQ(p.sources[0].bits, 24);
    EXPECT_EQ(p.sources[0].pages, 1);
    EXPECT_TRUE(p.problems.empty());
}

TEST(ScannerProfile, KeysBeforeTheFirstSectionAreEverySourcesDefaults)
{
    Profile p = ParseProfile("# shared\r\nresolution = 150\r\n\r\n[source]\r\nname = A\r\n[SOURCE]\r\n"
                             "name = B   # a comment\r\nresolution = 300\r\n");
    ASSERT_EQ(p.sources.size(), 2u);
    EXPECT_EQ(p.sources[0].name, "A");
    EXPECT_EQ(p.sources[0].resolution, 150.0);
    EXPECT_EQ(p.sources[1].name, "B");
    EXPECT_EQ(p.sources[1].resolution, 300.0);
    EXPECT_TRUE(p.problems.empty());
}

TEST(ScannerProfile, ValuesByNameOrNumber)
{
    Profile p = ParseProfile("pixel_type = gray\nxfer_mechs = native, memory\npixel_types = BW 1 rgb\n"
                             "compressions = none group4 9\nduplex = 2pass\nopen_failure = nods\n"
                             "enable_failure = 20\nenable_answer = CheckStatus\nxfer_answer = cancel\n"
                             "feeder = yes\nautofeed = on\nxfer_count = 3\nunknown_count = true\n");
    ASSERT_TRUE(p.problems.empty()) << p.problems.front();
    const SourceProfile& s = p.sources.at(0);
    EXPECT_EQ(s.pixelType, TWPT_GRAY);
    EXPECT_EQ(s.bits, 8);  // the pixel type's depth
    EXPECT_EQ(s.xferMechs, (std::vector<TW_UINT16>{TWSX_NATIVE, TWSX_MEMORY}));
    EXPECT_EQ(s.pixelTypes, (std::vector<TW_UINT16>{TWPT_BW, TWPT_GRAY, TWPT_RGB}));
    EXPECT_EQ(s.compressions, (std::vector<TW_UINT16>{TWCP_NONE, TWCP_GROUP4, TWCP_PNG}));
    EXPECT_EQ(s.duplex, TWDX_2PASSDUPLEX);
    EXPECT_EQ(s.openFailure, TWCC_NODS);
    EXPECT_EQ(s.enableFailure, TWCC_PAPERJAM);
    EXPECT_EQ(s.enableAnswer, EnableAnswer::CheckStatus);
    EXPECT_EQ(s.xferAnswer, XferAnswer::Cancel);
    EXPECT_TRUE(s.feeder);
    EXPECT_TRUE(s.autoFeed);
    EXPECT_EQ(s.xferCount, 3);
    EXPECT_TRUE(s.unknownCount);
}

TEST(ScannerProfile, TransferAndFaultKeys)
{
    Profile p = ParseProfile("buffer_size = 4096\nrows_per_strip = 7\nrow_padding = ODD\nplanar = yes\n"
                             "strip_fault = bytes_per_row_overflow\nstrip_fault_at = 3\ncancel_at_strip = 5\n"
                             "palette_colors = 300\npalette_order = shuffled\ninfo.length = -1\n"
                             "info.samples_per_pixel = 0\ninfo.compression = 0x5\ndib.biClrUsed = 4294967295\n"
                             "DIB.biHeight = -7\nnative_handle = dibsection\nnative_file = C:\\page.bmp\n"
                             "native_block_size = 100\nfile_formats = bmp, tiff jfif\nfile_format = tiff\n"
                             "file_name = C:\\out\\page.tif\nclose_request = after\nfail_after = 2\n"
                             "endxfer_failures = -1\nendxfer_failure = paperjam\ncount_stuck = yes\n"
                             "scan_delay = 250\nscans = 3\nblank_pages = 2, 5 ,10000\n");
    ASSERT_TRUE(p.problems.empty()) << p.problems.front();
    const SourceProfile& s = p.sources.at(0);
    EXPECT_EQ(s.bufferSize, 4096u);
    EXPECT_EQ(s.strips.rowsPerStrip, 7u);
    EXPECT_EQ(s.strips.padding, RowPadding::Odd);
    EXPECT_TRUE(s.strips.planar);
    EXPECT_EQ(s.strips.fault, StripFault::BytesPerRowOverflow);
    EXPECT_EQ(s.strips.faultAt, 3);
    EXPECT_EQ(s.strips.cancelAt, 5);
    EXPECT_EQ(s.paletteColors, 300);
    EXPECT_EQ(s.paletteOrder, PaletteOrder::Shuffled);
    EXPECT_EQ(s.info.length, -1);
    EXPECT_EQ(s.info.samplesPerPixel, 0);
    EXPECT_EQ(s.info.compression, TWCP_GROUP4);
    EXPECT_FALSE(s.info.width.has_value());
    ASSERT_EQ(s.dibHeader.size(), 2u);
    EXPECT_EQ(s.dibHeader[0].offset, 32);
    EXPECT_EQ(static_cast<std::uint32_t>(s.dibHeader[0].value), 0xFFFFFFFFu);
    EXPECT_EQ(s.dibHeader[1].offset, 8);
    EXPECT_EQ(s.dibHeader[1].value, -7);
    EXPECT_EQ(s.nativeHandle, NativeHandle::DibSection);
    EXPECT_EQ(s.nativeFile, "C:\\page.bmp");
    EXPECT_EQ(s.dibBlockSize, 100);
    EXPECT_EQ(s.fileFormats, (std::vector<TW_UINT16>{TWFF_BMP, TWFF_TIFF, TWFF_JFIF}));
    EXPECT_EQ(s.fileFormat, TWFF_TIFF);
    EXPECT_EQ(s.fileName, "C:\\out\\page.tif");
    EXPECT_EQ(s.closeRequest, CloseRequest::After);
    EXPECT_EQ(s.failAfter, 2);
    EXPECT_EQ(s.endXferFailures, -1);
    EXPECT_EQ(s.endXferFailure, TWCC_PAPERJAM);
    EXPECT_TRUE(s.countStuck);
    EXPECT_EQ(s.scanDelay, 250);
    EXPECT_EQ(s.scans, 3);
    EXPECT_EQ(s.blankPages.count(), 3u);
    EXPECT_TRUE(s.blankPages[1] && s.blankPages[4] && s.blankPages[9999]);
    // The older spelling of a close request before the announcement still works.
    EXPECT_EQ(ParseProfile("close_request_first = yes\n").sources[0].closeRequest, CloseRequest::Before);
}

TEST(ScannerProfile, UnusableLinesAreNotedAndSkipped)
{
    struct Case {
        const char* line;
        bool usable;
    };
    const Case cases[] = {
        {"width = 0", false},       {"width = 20001", false},  {"width = 12x", false},
        {"bits = 16", false},       {"bits = 4", true},         {"pixel_type = sepia", false},
        {"xfer_mechs =", false},    {"xfer_mechs = fax", false}, {"xfer_count = 0", false},
        {"xfer_count = -1", true},  {"feeder = maybe", false},  {"colour = red", false},
        {"just words", false},      {"open_failure = 70000", false},
        {"buffer_size = 0", false}, {"row_padding = dword", false}, {"strip_fault = lies", false},
        {"strip_fault_at = 0", false}, {"info.depth = 8", false},  {"info.samples_per_pixel = 40000", false},
        {"info.planar = -1", false}, {"dib.biBitCount = 70000", false}, {"dib.biSize = 4294967296", false},
        {"dib.biSize = 64", true},  {"info.width = -2147483648", true}, {"native_handle = brush", false},
        {"file_formats = gif", false}, {"close_request = later", false}, {"scans = 0", false},
        {"fail_after = -2", false}, {"palette_colors = 65536", false}, {"native_file =", false},
        {"blank_pages = 0", false}, {"blank_pages = 3 x", false}, {"blank_pages = ,", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Profile p = ParseProfile(std::string("\n") + c.line + "\n");
        ASSERT_EQ(p.sources.size(), 1u);
        if (c.usable) {
            EXPECT_TRUE(p.problems.empty());
        } else {
            ASSERT_EQ(p.problems.size(), 1u);
            EXPECT_EQ(p.problems[0], std::string("line 2: ") + c.line);
            EXPECT_EQ(p.sources[0].width, 320);  // the default stays
        }
    }
}

TEST(ScannerProfile, IdentityTextsAreCutToTheirField)
{
    Profile p = ParseProfile("name = " + std::string(40, 'n') + "\nmanufacturer = Acme = Best\n");
    EXPECT_EQ(p.sources[0].name, std::string(33, 'n'));
    EXPECT_EQ(p.sources[0].manufacturer, "Acme = Best");
}

}  // namespace
}  // namespace vs
