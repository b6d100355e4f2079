// The scanner's capability answers, as the profile sets them, read and set through
// Wine's Source Manager.
#include <cstring>
#include <vector>

#include "wine_session.h"

namespace twtest {
namespace {

class CapsThroughWine : public WineSession {
protected:
    void OpenWith(const std::string& keys)
    {
        UseProfile("[source]\nname = Alpha\n" + keys);
        ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
    }

    // MSG_GET, MSG_GETCURRENT or MSG_GETDEFAULT: container type, item type and items
    // (the current one first for an enumeration is not implied: items in list order).
    struct Answer {
        bool ok = false;
        TW_UINT16 conType = 0;
        TW_UINT16 itemType = 0;
        std::vector<long> items;
        long current = -1;
    };

    static Answer Get(TW_UINT16 id, TW_UINT16 msg = MSG_GET)
    {
        Answer answer;
        TW_CAPABILITY cap{id, TWON_DONTCARE16, nullptr};
        answer.ok = TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, msg, &cap);
        if (!answer.ok || !cap.hContainer)
            return answer;
        answer.conType = cap.ConType;
        const auto* bytes = static_cast<const unsigned char*>(GlobalLock(cap.hContainer));
        if (cap.ConType == TWON_ONEVALUE) {
            const auto* one = reinterpret_cast<const TW_ONEVALUE*>(bytes);
            answer.itemType = one->ItemType;
            answer.current = static_cast<TW_INT32>(one->Item);
            answer.items = {answer.current};
        } else if (cap.ConType == TWON_ENUMERATION) {
            const auto* e = reinterpret_cast<const TW_ENUMERATION*>(bytes);
            answer.itemType = e->ItemType;
            for (TW_UINT32 i = 0; i < e->NumItems; ++i) {
                TW_UINT16 v;
                std::memcpy(&v, e->ItemList + 2 * i, 2);
                answer.items.push_back(v);
            }
            answer.current = e->CurrentIndex < e->NumItems ? answer.items[e->CurrentIndex] : -1;
        }
        GlobalUnlock(cap.hContainer);
        GlobalFree(cap.hContainer);
        return answer;
    }

    static bool SetOne(TW_UINT16 id, TW_UINT16 itemType, TW_UINT32 value)
    {
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE));
        auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(h));
        one->ItemType = itemType;
        one->Item = value;
        GlobalUnlock(h);
        TW_CAPABILITY cap{id, TWON_ONEVALUE, h};
        const bool ok = TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
        GlobalFree(h);
        return ok;
    }
};

TEST_F(CapsThroughWine, ListsComeAsEnumerationsFromTheProfile)
{
    OpenWith("pixel_types = bw rgb\npixel_type = rgb\nxfer_mechs = native memory\ncompressions = none group4\n");
    struct Case {
        TW_UINT16 cap;
        std::vector<long> items;
        long current;
    };
    const Case cases[] = {
        {ICAP_PIXELTYPE, {TWPT_BW, TWPT_RGB}, TWPT_RGB},
        {ICAP_XFERMECH, {TWSX_NATIVE, TWSX_MEMORY}, TWSX_NATIVE},
        {ICAP_COMPRESSION, {TWCP_NONE, TWCP_GROUP4}, TWCP_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cap);
        Answer a = Get(c.cap);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(a.conType, TWON_ENUMERATION);
        EXPECT_EQ(a.itemType, TWTY_UINT16);
        EXPECT_EQ(a.items, c.items);
        EXPECT_EQ(a.current, c.current);
        Answer current = Get(c.cap, MSG_GETCURRENT);
        EXPECT_EQ(current.conType, TWON_ONEVALUE);
        EXPECT_EQ(current.current, c.current);
    }
}

TEST_F(CapsThroughWine, FlagsAndCountsComeAsOneValues)
{
    OpenWith("feeder = yes\nfeeder_enabled = yes\nautofeed = no\nduplex = 1pass\nduplex_enabled = yes\n"
             "xfer_count = 5\n");
    struct Case {
        TW_UINT16 cap;
        TW_UINT16 itemType;
        long value;
    };
    const Case cases[] = {
        {CAP_FEEDERENABLED, TWTY_BOOL, 1}, {CAP_AUTOFEED, TWTY_BOOL, 0},  {CAP_DUPLEX, TWTY_UINT16, TWDX_1PASSDUPLEX},
        {CAP_DUPLEXENABLED, TWTY_BOOL, 1}, {CAP_XFERCOUNT, TWTY_INT16, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cap);
        Answer a = Get(c.cap);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(a.conType, TWON_ONEVALUE);
        EXPECT_EQ(a.itemType, c.itemType);
        EXPECT_EQ(a.current, c.value);
    }
}

TEST_F(CapsThroughWine, SettingFollowsWhatTheScannerOffers)
{
    OpenWith("feeder = no\nduplex = none\n");
    struct Case {
        TW_UINT16 cap;
        TW_UINT16 itemType;
        TW_UINT32 value;
        bool accepted;
        TW_UINT16 condition;
    };
    const Case cases[] = {
        {ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY, true, TWCC_SUCCESS},
        {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY, true, TWCC_SUCCESS},
        {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_CMYK, false, TWCC_BADVALUE},
        {CAP_FEEDERENABLED, TWTY_BOOL, TRUE, false, TWCC_BADVALUE},
        {CAP_FEEDERENABLED, TWTY_BOOL, FALSE, true, TWCC_SUCCESS},
        {CAP_AUTOFEED, TWTY_BOOL, TRUE, false, TWCC_BADVALUE},
        {CAP_DUPLEX, TWTY_UINT16, TWDX_1PASSDUPLEX, false, TWCC_CAPBADOPERATION},
        {CAP_DUPLEXENABLED, TWTY_BOOL, TRUE, false, TWCC_BADVALUE},
        {CAP_XFERCOUNT, TWTY_INT16, 0xFFFFFFFF, true, TWCC_SUCCESS},
        {ICAP_BRIGHTNESS, TWTY_FIX32, 0, false, TWCC_CAPUNSUPPORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cap);
        EXPECT_EQ(SetOne(c.cap, c.itemType, c.value), c.accepted);
        EXPECT_EQ(TWAIN_GetConditionCode(), c.condition);
        if (c.accepted && c.cap != CAP_XFERCOUNT) {
            EXPECT_EQ(Get(c.cap, MSG_GETCURRENT).current, static_cast<long>(c.value));
        }
    }
}

TEST_F(CapsThroughWine, PixelTypeSetDecidesTheTransferredPage)
{
    UseProfile("[source]\nname = Alpha\nwidth = 16\nheight = 8\n");
    TWAIN_SetHideUI(true);
    ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
    ASSERT_TRUE(SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW));
    ASSERT_TRUE(TWAIN_EnableSource(nullptr));
    ASSERT_TRUE(Pump([] { return TWAIN_GetState() == TWAIN_TRANSFER_READY; }));
    TW_IMAGEINFO info{};
    ASSERT_TRUE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(info.ImageWidth, 16);
    EXPECT_EQ(info.BitsPerPixel, 1);
    EXPECT_EQ(info.PixelType, TWPT_BW);
    TW_HANDLE handle = nullptr;
    ASSERT_TRUE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle));
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(handle));
    EXPECT_EQ(header->biBitCount, 1);
    EXPECT_EQ(header->biClrUsed, 2u);
    GlobalUnlock(handle);
    GlobalFree(handle);
}

}  // namespace
}  // namespace twtest
