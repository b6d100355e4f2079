// Acquisitions against the scripted manager, for the state paths Wine's manager cannot
// produce: the exact road of each operation, what becomes of every handle a native
// transfer hands over, multi-transfer with an image waiting, the parent window, a source
// that refuses even to reset, preparation failures, callbacks and the clipboard.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "dib/dib.h"
#include "dib/dib_file.h"
#include "acquisition_fixture.h"
#include "twain/capability.h"

namespace twtest {
namespace {


class Acquisition : public ScriptedAcquisition {
protected:
    // The session's own calls, without events and status queries.
    static std::vector<Call> SessionCalls()
    {
        std::vector<Call> calls;
        for (const Call& c : CallsWithoutEvents()) {
            if (!(c == kStatus))
                calls.push_back(c);
        }
        return calls;
    }
};

bool SameAsMadeDib(HGLOBAL dib, int width, int height)
{
    HGLOBAL made = MakeDib(width, height);
    bool same = dib && DibWidth(dib) == width && DibHeight(dib) == height && DibBitCount(dib) == 24;
    std::vector<BYTE> a(std::size_t(DibRowBytes(made))), b(a.size());
    for (int y = 0; same && y < height; ++y) {
        DibReadRow(made, y, a.data());
        DibReadRow(dib, y, b.data());
        same = a == b;
    }
    GlobalFree(made);
    return same;
}

// Each acquisition operation, from nothing loaded to nothing loaded again.
struct Operation {
    const char* name;
    TW_UINT16 mechanism;
    std::function<bool()> acquire;  // true when the operation brought its image
    std::vector<Call> transfer;     // the calls of the transfer itself
};

int CountingCallback(int argument)
{
    EXPECT_EQ(TWAIN_GetState(), TWAIN_TRANSFER_READY);
    TW_HANDLE handle = nullptr;
    TWAIN_CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    GlobalFree(handle);
    return argument * 2;
}

std::string TempFile(const char* name)
{
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    return std::string(directory) + name;
}

std::vector<Operation> Operations()
{
    return {
        {"native", TWSX_NATIVE,
         [] {
             HGLOBAL dib = TWAIN_AcquireNative(nullptr, 0);
             const bool ok = SameAsMadeDib(dib, 5, 3);
             TWAIN_FreeDib(dib);
             return ok;
         },
         {kNative, kEndXfer}},
        {"file", TWSX_FILE, [] { return TWAIN_AcquireFileTransfer(nullptr, TWFF_BMP, "scan.bmp"); },
         {kSetupFile, kFile, kEndXfer}},
        {"callback", TWSX_MEMORY, [] { return AcquireCB(nullptr, CountingCallback, 21) == 42; }, {kNative, kEndXfer}},
        {"clipboard", TWSX_MEMORY,
         [] {
             pagemodel::PageSpec page{TWPT_RGB, 24, 3, false, 6, 4};
             ScriptPage(page, 2, pagemodel::Pad::word, true);
             if (!TWAIN_AcquireToClipboard(nullptr, 0) || !OpenClipboard(nullptr))
                 return false;
             HGLOBAL dib = GetClipboardData(CF_DIB);
             const bool ok = dib && DibWidth(dib) == 6 && DibHeight(dib) == 4;
             CloseClipboard();
             return ok;
         },
         {ToSource(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET), ToSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET),
          ToSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET), ToSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET), kEndXfer}},
        {"to_file", TWSX_MEMORY,
         [] {
             pagemodel::PageSpec page{TWPT_GRAY, 8, 1, false, 6, 4};
             ScriptPage(page, 4, pagemodel::Pad::word, false);
             const std::string path = TempFile("pagorex_acquired.bmp");
             DeleteFileA(path.c_str());
             const int written = TWAIN_AcquireToFile(nullptr, path.c_str());
             HGLOBAL back = DibReadFile(path.c_str());
             const bool ok = written == 0 && back && DibWidth(back) == 6 && DibBitCount(back) == 8;
             TWAIN_FreeDib(back);
             DeleteFileA(path.c_str());
             return ok;
         },
         {ToSource(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET), ToSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET),
          ToSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET), kEndXfer}},
    };
}

TEST_F(Acquisition, EachOperationTakesOneImageAndUnloadsAfterwards)
{
    for (const Operation& op : Operations()) {
        SCOPED_TRACE(op.name);
        SetUp();
        EXPECT_TRUE(op.acquire());
        EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
        EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_NONE);
        std::vector<Call> expected = {kOpenDsm, kOpenDs, kCapSet};
        if (op.mechanism == TWSX_MEMORY)
            expected.push_back(kCapSet);  // no compression
        expected.push_back(kEnable);
        expected.insert(expected.end(), op.transfer.begin(), op.transfer.end());
        expected.insert(expected.end(), {kDisable, kCloseDs, kCloseDsm});
        EXPECT_EQ(SessionCalls(), expected);
        const auto sets = Calls(MSG_SET);
        ASSERT_FALSE(sets.empty());
        EXPECT_EQ(sets[0].cap, ICAP_XFERMECH);
        EXPECT_EQ(sets[0].bytes, (Bytes{TWTY_UINT16, 0, std::uint8_t(op.mechanism), 0, 0, 0}));
        EXPECT_EQ(fake.enabledWith.ModalUI, FALSE);
        EXPECT_TRUE(Boxes().empty());
        TearDown();
    }
}

// What a native transfer may hand over instead of a sound DIB.
struct Handover {
    const char* name;
    std::function<TW_HANDLE()> make;
    int depth;  // of the image that comes out; 0: refused
};

HGLOBAL Block(std::size_t size, const std::function<void(BITMAPINFOHEADER&)>& lie)
{
    HGLOBAL dib = MakeDib(5, 3);
    HGLOBAL block = GlobalReAlloc(dib, size, GMEM_MOVEABLE);
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    lie(*header);
    GlobalUnlock(block);
    return block;
}

HBITMAP Section(int bits)
{
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 7, 4, 1, WORD(bits), BI_RGB, 0, 3780, 3780, 0, 0};
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    std::memset(pixels, 0x5A, std::size_t(RowBytes(bits, 7) * 4));
    return bitmap;
}

std::vector<Handover> Handovers()
{
    return {
        {"sound", [] { return TW_HANDLE(MakeDib(5, 3)); }, 24},
        {"rows_cut_off", [] { return TW_HANDLE(Block(40 + 30, [](auto&) {})); }, 0},
        {"colour_count_lie", [] { return TW_HANDLE(Block(40 + 48, [](auto& h) { h.biClrUsed = 0x40000000; })); },
         0},
        {"no_handle", [] { return TW_HANDLE(nullptr); }, 0},
        {"discarded_block", [] { return TW_HANDLE(GlobalAlloc(GMEM_MOVEABLE, 0)); }, 0},
        {"dib_section_24", [] { return TW_HANDLE(Section(24)); }, 24},
        {"dib_section_8", [] { return TW_HANDLE(Section(8)); }, 8},
        {"device_bitmap", [] { return TW_HANDLE(CreateBitmap(9, 2, 1, 1, nullptr)); }, 1},
    };
}

TEST_F(Acquisition, NativeImagesAreCheckedAndFreedWhenTheyLie)
{
    for (const Handover& h : Handovers()) {
        SCOPED_TRACE(h.name);
        SetUp();
        TW_HANDLE handed = nullptr;
        fake.native = [&] { return handed = h.make(); };
        HGLOBAL dib = TWAIN_AcquireNative(nullptr, 0);
        EXPECT_EQ(dib != nullptr, h.depth != 0);
        EXPECT_EQ(TWAIN_GetLastErrorCode(), h.depth ? TWERR_NONE : TWERR_TRANSFER);
        EXPECT_EQ(CountOf(kEndXfer), 1);
        if (dib) {
            EXPECT_TRUE(DibHandleIsSafe(dib));
            EXPECT_EQ(DibBitCount(dib), h.depth);
        }
        // Whatever was handed over is ours: a bitmap is deleted, a lying block freed.
        const bool bitmap = std::string(h.name).find("section") != std::string::npos ||
                            std::string(h.name) == "device_bitmap";
        if (bitmap) {
            EXPECT_EQ(GetObjectType(static_cast<HGDIOBJ>(handed)), 0u);
        } else if (handed && !dib) {
            EXPECT_TRUE(Freed(static_cast<HGLOBAL>(handed)));
        }
        TWAIN_FreeDib(dib);
        EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
        TearDown();
    }
}

// With multi-transfer the session stays where the transfer left it.
TEST_F(Acquisition, NativeFailureAndCancelLeaveTheSessionAsTheSourceSays)
{
    TWAIN_SetMultiTransfer(true);
    fake.nativeRc = TWRC_FAILURE;
    HGLOBAL handedOver = GlobalAlloc(GMEM_MOVEABLE, 64);  // with the failure: the library frees it
    fake.native = [handedOver] { return TW_HANDLE(handedOver); };
    EXPECT_EQ(TWAIN_AcquireNative(nullptr, 0), nullptr);
    EXPECT_EQ(GlobalSize(handedOver), 0u);
    EXPECT_EQ(TWAIN_GetState(), TWAIN_TRANSFER_READY);
    EXPECT_EQ(CountOf(kEndXfer), 0);
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_TRANSFER);

    fake.nativeRc = TWRC_CANCEL;
    fake.native = [] { return TW_HANDLE(nullptr); };
    fake.calls.clear();
    EXPECT_EQ(TWAIN_AcquireNative(nullptr, 0), nullptr);
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_ENABLED);
    EXPECT_EQ(SessionCalls(), (std::vector<Call>{kNative, kEndXfer}));  // at once, in state 6
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_CANCELLED);
}

TEST_F(Acquisition, MultiTransferKeepsTheSourceAndTakesImagesFromTheHook)
{
    TWAIN_SetMultiTransfer(true);
    fake.pending = {1, 0};
    HGLOBAL first = TWAIN_AcquireNative(nullptr, 0);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(TWAIN_GetState(), TWAIN_TRANSFER_READY);
    fake.calls.clear();
    HGLOBAL second = TWAIN_AcquireNative(nullptr, 0);  // pending: transferred at once
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(SessionCalls(), (std::vector<Call>{kNative, kEndXfer}));
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_ENABLED);

    // The application's own loop: the source announces an image, the hook takes it.
    Announce(MSG_XFERREADY);
    MSG message;
    while (!TWAIN_IsImageReady() && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        TWAIN_MessageHook(&message);
    EXPECT_TRUE(TWAIN_IsImageReady());
    // Another announcement before the application took that image: it stays pending
    // rather than replacing the one waiting.
    fake.pending = {0};
    fake.calls.clear();
    Announce(MSG_XFERREADY);
    while (TWAIN_GetState() != TWAIN_TRANSFER_READY && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        TWAIN_MessageHook(&message);
    EXPECT_EQ(CountOf(kNative), 0);
    fake.calls.clear();
    HGLOBAL third = TWAIN_AcquireNative(nullptr, 0);
    EXPECT_TRUE(SameAsMadeDib(third, 5, 3));
    EXPECT_TRUE(SessionCalls().empty());  // it was waiting
    EXPECT_TRUE(TWAIN_IsImageReady());    // the pending one
    HGLOBAL fourth = TWAIN_AcquireNative(nullptr, 0);
    EXPECT_TRUE(SameAsMadeDib(fourth, 5, 3));
    EXPECT_EQ(SessionCalls(), (std::vector<Call>{kNative, kEndXfer}));
    EXPECT_FALSE(TWAIN_IsImageReady());
    for (HGLOBAL dib : {first, second, third, fourth})
        TWAIN_FreeDib(dib);
}

TEST_F(Acquisition, ParentWindowIsDisabledMeanwhileAndGivenBackItsState)
{
    HWND window = CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr, nullptr,
                                  nullptr);
    for (bool enabledBefore : {true, false}) {
        EnableWindow(window, enabledBefore);
        bool enabledDuring = true;
        fake.native = [&] {
            enabledDuring = IsWindowEnabled(window);
            return TW_HANDLE(MakeDib(5, 3));
        };
        fake.events = {MSG_XFERREADY};
        TWAIN_FreeDib(TWAIN_AcquireNative(window, 0));
        EXPECT_FALSE(enabledDuring);
        EXPECT_EQ(bool(IsWindowEnabled(window)), enabledBefore);
        EXPECT_EQ(fake.enabledWith.hParent, window);
    }
    DestroyWindow(window);
}

// A source that refuses MSG_ENDXFER: the session leaves state 7 all the same, without an
// assertion, and the next acquisition works.
TEST_F(Acquisition, FailedEndOfTransferClosesTheSourceAndTheNextAcquisitionWorks)
{
    TWAIN_SetMultiTransfer(true);
    const struct {
        const char* name;
        bool resetFails;
        std::vector<Call> recovery;
    } cases[] = {
        {"reset accepted", false, {kEndXfer, kReset, kDisable, kCloseDs}},
        {"reset refused too", true, {kEndXfer, kReset, kDisable, kCloseDs}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake.endRc = TWRC_FAILURE;
        fake.events = {MSG_XFERREADY};
        if (c.resetFails) {
            Script(true, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, TWRC_FAILURE);
            Script(true, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, TWRC_FAILURE);
        }
        fake.calls.clear();
        HGLOBAL dib = TWAIN_AcquireNative(nullptr, 0);
        EXPECT_NE(dib, nullptr);  // the image itself came whole
        TWAIN_FreeDib(dib);
        EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_OPEN);
        const std::vector<Call> calls = SessionCalls();
        ASSERT_GE(calls.size(), c.recovery.size());
        EXPECT_EQ(std::vector<Call>(calls.end() - std::ptrdiff_t(c.recovery.size()), calls.end()), c.recovery);

        ClearRules();
        fake.endRc = TWRC_SUCCESS;
        fake.events = {MSG_XFERREADY};
        dib = TWAIN_AcquireNative(nullptr, 0);
        EXPECT_TRUE(SameAsMadeDib(dib, 5, 3));
        TWAIN_FreeDib(dib);
        EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_ENABLED);
        TWAIN_CloseSource();
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Acquisition, FileNamesLongerThanTheSourceTakesAreRefused)
{
    const std::string shortName = TempFile("pagorex scan.bmp");
    fake.fileRc = TWRC_XFERDONE;
    EXPECT_TRUE(TWAIN_AcquireFileTransfer(nullptr, TWFF_TIFF, shortName.c_str()));
    ASSERT_EQ(fake.fileSetups.size(), 1u);
    char full[MAX_PATH];
    GetFullPathNameA(shortName.c_str(), sizeof full, full, nullptr);
    EXPECT_STREQ(fake.fileSetups[0].FileName, full);
    EXPECT_EQ(fake.fileSetups[0].Format, TWFF_TIFF);

    // 255 characters go whole; one more is not cut to another file's name.
    std::string edge = "C:\\" + std::string(248, 'd') + ".bmp";
    ASSERT_EQ(edge.size(), 255u);
    fake.calls.clear();
    EXPECT_TRUE(TWAIN_AcquireFileTransfer(nullptr, TWFF_BMP, edge.c_str()));
    EXPECT_EQ(std::string(fake.fileSetups[1].FileName), edge);

    const std::string longName = "C:\\" + std::string(249, 'd') + ".bmp";
    fake.calls.clear();
    EXPECT_FALSE(TWAIN_AcquireFileTransfer(nullptr, TWFF_BMP, longName.c_str()));
    EXPECT_TRUE(fake.calls.empty());
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].rfind("ACQUIRA: The file name is longer than the 255 characters", 0), 0u);
    EXPECT_NE(Boxes()[0].find(longName.substr(0, 200)), std::string::npos);

    fake.fileRc = TWRC_CANCEL;
    EXPECT_FALSE(TWAIN_AcquireFileTransfer(nullptr, TWFF_BMP, shortName.c_str()));
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_CANCELLED);
}

TEST_F(Acquisition, PreparationFailuresAreReportedAndStillUnload)
{
    const struct {
        const char* name;
        std::function<void()> script;
        const char* box;
    } cases[] = {
        {"manager", [] { Script(false, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, TWRC_FAILURE); },
         "Unable to open Source Manager (TWAIN_32.DLL)"},
        {"default source",
         [] {
             fake.managerCondition = TWCC_NODS;
             Script(false, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE);
         },
         "Unable to open default Data Source.\nTWAIN Source Manager operation failed\nRC:   TWRC_FAILURE\n"
         "CC:   TWCC_NODS (No Data Source)"},
        {"mechanism", [] { fake.caps.erase(ICAP_XFERMECH); },
         "Error setting transfer mode\n[no details available]"},
        {"enable",
         [] { Script(true, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_FAILURE); },
         "Failed to enable Data Source.\nDataSource operation failed\nRC:   TWRC_FAILURE\nCC:   TWCC_SUCCESS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.script();
        EXPECT_EQ(TWAIN_AcquireNative(nullptr, 0), nullptr);
        EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
        EXPECT_EQ(Boxes(), std::vector<std::string>{c.box});
        TearDown();
    }
}

TEST_F(Acquisition, CallbacksAreCheckedAndTheBuiltInHandlerComesBack)
{
    EXPECT_EQ(AcquireCB(nullptr, nullptr, 1), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"AcquireCB: Invalid callback address"});
    EXPECT_EQ(CountOf(kOpenDsm), 0);

    EXPECT_EQ(AcquireCB(nullptr, CountingCallback, 5), 10);
    EXPECT_EQ(memXferHandler, TWAIN_MemoryTransfer);
    Script(false, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, TWRC_FAILURE);
    EXPECT_EQ(AcquireCB(nullptr, CountingCallback, 5), 0);  // failed before the callback
    EXPECT_EQ(memXferHandler, TWAIN_MemoryTransfer);
}

TEST_F(Acquisition, ClipboardThatCannotBeOpenedLeavesNothingBehind)
{
    ScriptPage(pagemodel::PageSpec{TWPT_GRAY, 8, 1, false, 4, 2}, 2, pagemodel::Pad::word, true);
    HANDLE opened = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        HWND owner = CreateWindowExA(0, "STATIC", "holder", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        OpenClipboard(owner);
        SetEvent(opened);
        WaitForSingleObject(release, 10000);
        CloseClipboard();
        DestroyWindow(owner);
    });
    WaitForSingleObject(opened, 10000);
    EXPECT_FALSE(TWAIN_AcquireToClipboard(nullptr, 0));
    SetEvent(release);
    holder.join();
    CloseHandle(opened);
    CloseHandle(release);
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
}

TEST_F(Acquisition, WaitingForAnImageBelowStateFourSaysSo)
{
    EXPECT_EQ(TWAIN_WaitForNativeXfer(nullptr), nullptr);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"TWAIN_WaitForNativeXfer called in state < 4."});
    EXPECT_TRUE(fake.calls.empty());
}

}  // namespace
}  // namespace twtest
