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
// Where a case puts the stand-in manager: under either name, in either directory.
enum Files { Win32Dll = 1, WinDsm = 2, Sys32Dll = 4, SysDsm = 8, AllFiles = 15 };

// A Windows and a system directory of their own for the loader.
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

    void Put(int files)
    {
        const std::string standIn = driver::BinDirectory() + "stand_in_manager.dll";
        const std::pair<Files, std::string> places[] = {{Win32Dll, windows + "\\TWAIN_32.DLL"},
                                                        {WinDsm, windows + "\\TWAINDSM.DLL"},
                                                        {Sys32Dll, system + "\\TWAIN_32.DLL"},
                                                        {SysDsm, system + "\\TWAINDSM.DLL"}};
        for (const auto& [file, path] : places) {
            if (files & file) {
                ASSERT_TRUE(CopyFileA(standIn.c_str(), path.c_str(), FALSE)) << path;
            }
        }
    }

    // 0 when nothing was loaded, else what the loaded manager's DSM_Entry answers (at least 1).
    TW_UINT16 LoadAndAsk(bool sixtyFourBit, const std::string& windowsDir, const std::string& systemDir)
    {
        if (!TWAIN_LoadManagerFrom(TWAIN_ManagerPlaces(sixtyFourBit), windowsDir.c_str(), systemDir.c_str()))
            return 0;
        TW_IDENTITY nobody{};
        TW_UINT16 answer = dsmEntry(&nobody, nullptr, DG_CONTROL, DAT_NULL, MSG_NULL, nullptr);
        EXPECT_TRUE(TWAIN_UnloadSourceManager());
        return answer ? answer : 1;
    }

    std::string windows, system;
};

// Each width looks only where a program of that width must: 32 bits in the Windows
// directory, 64 bits in the system directory, the TWAIN 2 manager first. Wine answers a
// file named TWAIN_32.DLL with its built-in manager: only TWAINDSM.DLL shows the stand-in.
// Unreadable directories ("") would make a bare name that the search path resolves from
// the current directory: nothing is loaded then.
TEST_F(ManagerLoading, EachWidthLoadsFromItsOwnPlacesInOrder)
{
    enum Loaded { None, Builtin, StandIn };
    const struct Case {
        bool sixtyFourBit;
        int files;
        Loaded loaded;
        bool unreadable = false;
    } cases[] = {
        {false, Win32Dll, Builtin},       {false, Sys32Dll | SysDsm | WinDsm, None},
        {true, SysDsm | Sys32Dll, StandIn}, {true, Sys32Dll, Builtin},
        {true, Win32Dll | WinDsm, None},  {true, 0, None},
        {false, AllFiles, None, true},    {true, AllFiles, None, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.sixtyFourBit ? "64" : "32") << "-bit, case " << (&c - cases));
        TearDown();
        SetUp();
        Put(c.files);
        char before[MAX_PATH];
        GetCurrentDirectoryA(sizeof before, before);
        SetCurrentDirectoryA(c.unreadable ? system.c_str() : before);
        const TW_UINT16 answer = c.unreadable ? LoadAndAsk(c.sixtyFourBit, "", "")
                                              : LoadAndAsk(c.sixtyFourBit, windows, system);
        SetCurrentDirectoryA(before);
        EXPECT_EQ(answer == 0 ? None : answer == kStandInAnswer ? StandIn : Builtin, c.loaded);
        EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
    }
}

// The program's own loader follows its width's places (both directories given as one).
TEST_F(ManagerLoading, ProgramLoadsItsWidthsManager)
{
    Put(sizeof(void*) == 8 ? WinDsm : Win32Dll);
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
    Put(AllFiles);  // the file appears: the answer stays
    EXPECT_FALSE(TWAIN_IsAvailable());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
}

TEST_F(ManagerLoading, ProbeOfPresentManagerLeavesItUnloaded)
{
    Put(AllFiles);
    TWAIN_SetManagerDirectoryForTest(system.c_str());
    EXPECT_TRUE(TWAIN_IsAvailable());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
    EXPECT_EQ(dsmEntry, nullptr);
    TWAIN_SetManagerDirectoryForTest("");  // the file goes: the answer stays
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
