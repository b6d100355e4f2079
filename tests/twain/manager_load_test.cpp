// Finding and loading the Source Manager, and the availability probe with its cache.
#include <gtest/gtest.h>

#include <string>

#include "scripted_dsm.h"
#include "support/driver.h"
#include "twain/test_seam.h"

namespace twtest {
namespace {

TEST(ManagerPath, SeparatorOnlyWhenTheDirectoryNeedsOne)
{
    struct Case {
        const char* directory;
        const char* path;
    };
    const Case cases[] = {
        {"C:\\windows", "C:\\windows\\TWAIN_32.DLL"},
        {"C:", "C:TWAIN_32.DLL"},
        {"D:\\WINNT", "D:\\WINNT\\TWAIN_32.DLL"},
        {"", "TWAIN_32.DLL"},
    };
    for (const Case& c : cases) {
        char path[160];
        ASSERT_TRUE(TWAIN_ManagerPath(c.directory, "TWAIN_32.DLL", path, sizeof path));
        EXPECT_STREQ(path, c.path);
    }
    char small[23];
    EXPECT_FALSE(TWAIN_ManagerPath("C:\\windows", "TWAIN_32.DLL", small, sizeof small));  // needs 24 with its zero
}

constexpr TW_UINT16 kStandInAnswer = 0x5047;

// A Windows and a system directory of their own for the loader, filled per case with the
// stand-in manager under the names a manager may have.
class ManagerLoading : public ::testing::Test {
protected:
    void SetUp() override
    {
        TWAIN_ResetSessionForTest();
        windows = driver::MakeTempDirectory("pgx_windows_");
        system = driver::MakeTempDirectory("pgx_system_");
    }

    void TearDown() override
    {
        TWAIN_ResetSessionForTest();
        driver::RemoveDirectoryTree(windows);
        driver::RemoveDirectoryTree(system);
    }

    void Put(const std::string& directory, const char* file)
    {
        ASSERT_TRUE(CopyFileA((driver::BinDirectory() + "stand_in_manager.dll").c_str(), (directory + "\\" + file).c_str(),
                              FALSE));
    }

    // What the loaded manager's DSM_Entry answers; 0 when none was loaded.
    TW_UINT16 LoadAndAsk(bool sixtyFourBit, const std::string& windowsDir, const std::string& systemDir)
    {
        if (!TWAIN_LoadManagerFrom(TWAIN_ManagerPlaces(sixtyFourBit), windowsDir.c_str(), systemDir.c_str()))
            return 0;
        EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_LOADED);
        TW_IDENTITY nobody{};
        TW_UINT16 answer = dsmEntry(&nobody, nullptr, DG_CONTROL, DAT_NULL, MSG_NULL, nullptr);
        EXPECT_TRUE(TWAIN_UnloadSourceManager());
        EXPECT_EQ(dsmEntry, nullptr);
        return answer ? answer : 1;
    }

    std::string windows, system;
};

// Each width looks only where a program of that width must: 32 bits in the Windows
// directory, 64 bits in the system directory, the TWAIN 2 manager first. (Wine answers a
// file named TWAIN_32.DLL with its built-in manager: only TWAINDSM.DLL shows the stand-in.)
TEST_F(ManagerLoading, EachWidthLoadsFromItsOwnPlacesInOrder)
{
    struct Case {
        bool sixtyFourBit;
        const char* windowsFiles[2];
        const char* systemFiles[2];
        bool loaded;
        bool standIn;  // the loaded manager is TWAINDSM.DLL
    };
    const Case cases[] = {
        {false, {"TWAIN_32.DLL"}, {}, true, false},
        {false, {}, {"TWAIN_32.DLL", "TWAINDSM.DLL"}, false, false},
        {false, {"TWAINDSM.DLL"}, {}, false, false},
        {true, {}, {"TWAINDSM.DLL", "TWAIN_32.DLL"}, true, true},
        {true, {}, {"TWAIN_32.DLL"}, true, false},
        {true, {}, {"TWAINDSM.DLL"}, true, true},
        {true, {"TWAIN_32.DLL", "TWAINDSM.DLL"}, {}, false, false},
        {true, {}, {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.sixtyFourBit ? "64" : "32") << "-bit, case " << (&c - cases));
        TearDown();
        SetUp();
        for (const char* f : c.windowsFiles)
            if (f)
                Put(windows, f);
        for (const char* f : c.systemFiles)
            if (f)
                Put(system, f);
        const TW_UINT16 answer = LoadAndAsk(c.sixtyFourBit, windows, system);
        EXPECT_EQ(answer != 0, c.loaded);
        if (c.loaded) {
            EXPECT_EQ(answer == kStandInAnswer, c.standIn);
        }
        EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
    }
}

// A directory that could not be read would make a bare file name that the search path
// resolves (the current directory first): nothing is loaded then.
TEST_F(ManagerLoading, UnreadableDirectoriesMeanNoManager)
{
    Put(windows, "TWAIN_32.DLL");
    Put(windows, "TWAINDSM.DLL");
    char before[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    ASSERT_TRUE(SetCurrentDirectoryA(windows.c_str()));
    const TW_UINT16 answer32 = LoadAndAsk(false, "", "");
    const TW_UINT16 answer64 = LoadAndAsk(true, "", "");
    TWAIN_SetManagerDirectoryForTest("");
    const bool loaded = TWAIN_LoadSourceManager();
    SetCurrentDirectoryA(before);
    EXPECT_EQ(answer32, 0);
    EXPECT_EQ(answer64, 0);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
}

// The program's own loader follows its width's places (both directories given as one).
TEST_F(ManagerLoading, ProgramLoadsItsWidthsManager)
{
    Put(windows, sizeof(void*) == 8 ? "TWAINDSM.DLL" : "TWAIN_32.DLL");
    TWAIN_SetManagerDirectoryForTest(windows.c_str());
    EXPECT_TRUE(TWAIN_LoadSourceManager());
    EXPECT_NE(dsmModule, nullptr);
    EXPECT_TRUE(TWAIN_LoadSourceManager());  // already loaded
    EXPECT_TRUE(TWAIN_UnloadSourceManager());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
}

TEST_F(ManagerLoading, ProbeOfMissingManagerIsCached)
{
    TWAIN_SetManagerDirectoryForTest(system.c_str());
    EXPECT_FALSE(TWAIN_IsAvailable());
    Put(system, "TWAIN_32.DLL");  // the file appears: the answer stays
    Put(system, "TWAINDSM.DLL");
    EXPECT_FALSE(TWAIN_IsAvailable());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
}

TEST_F(ManagerLoading, ProbeOfPresentManagerLeavesItUnloaded)
{
    Put(system, "TWAIN_32.DLL");
    Put(system, "TWAINDSM.DLL");
    TWAIN_SetManagerDirectoryForTest(system.c_str());
    EXPECT_TRUE(TWAIN_IsAvailable());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
    EXPECT_EQ(dsmEntry, nullptr);
    TWAIN_SetManagerDirectoryForTest(windows.c_str());  // the file goes: the answer stays
    EXPECT_TRUE(TWAIN_IsAvailable());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
}

TEST_F(ManagerLoading, LoadedManagerIsAvailableWithoutProbing)
{
    InstallFake();
    TWAIN_SetManagerDirectoryForTest(windows.c_str());
    EXPECT_TRUE(TWAIN_IsAvailable());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_LOADED);
    EXPECT_EQ(dsmAvailability, 0);
}

TEST(AppIdentity, DefaultsAndRegisteredTextsCutToFit)
{
    TWAIN_ResetSessionForTest();
    EXPECT_EQ(appIdentity.Id, 0u);
    EXPECT_EQ(appIdentity.Version.MajorNum, 1);
    EXPECT_EQ(appIdentity.Version.MinorNum, 0);
    EXPECT_EQ(appIdentity.Version.Language, TWLG_USA);
    EXPECT_EQ(appIdentity.Version.Country, TWCY_USA);
    EXPECT_STREQ(appIdentity.Version.Info, "1.0");
    EXPECT_EQ(appIdentity.ProtocolMajor, 1);
    EXPECT_EQ(appIdentity.ProtocolMinor, 8);
    EXPECT_EQ(appIdentity.SupportedGroups, 3u);
    EXPECT_STREQ(appIdentity.Manufacturer, "Vocalix Development");
    EXPECT_STREQ(appIdentity.ProductFamily, "Imager");
    EXPECT_STREQ(appIdentity.ProductName, "Vocalix");

    const std::string longText(50, 'L');
    appIdentity.Id = 9;
    appIdentity.ProtocolMinor = 3;
    TWAIN_RegisterApp(2, 5, 7, 9, "2.5 beta", longText.c_str(), "Family", "Product");
    EXPECT_EQ(appIdentity.Id, 0u);
    EXPECT_EQ(appIdentity.Version.MajorNum, 2);
    EXPECT_EQ(appIdentity.Version.Country, 9);
    EXPECT_STREQ(appIdentity.Version.Info, "2.5 beta");
    EXPECT_EQ(std::string(appIdentity.Manufacturer), std::string(33, 'L'));
    EXPECT_EQ(appIdentity.ProtocolMinor, 8);
    EXPECT_EQ(appIdentity.SupportedGroups, 3u);
    TWAIN_ResetSessionForTest();
}

TEST(LibraryNames, VersionAndBuild)
{
    EXPECT_EQ(TWAIN_LibraryVersion(), 260);
    EXPECT_STREQ(TWAIN_BuildName(), "Release");
    char small[4];
    TWAIN_GetBuildName(small, sizeof small);
    EXPECT_STREQ(small, "Rel");
}

}  // namespace
}  // namespace twtest
