// Finding and loading the Source Manager, and the availability probe with its cache.
#include <gtest/gtest.h>

#include <string>

#include "scripted_dsm.h"
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
        ASSERT_TRUE(TWAIN_ManagerPath(c.directory, path, sizeof path));
        EXPECT_STREQ(path, c.path);
    }
    char small[20];
    EXPECT_FALSE(TWAIN_ManagerPath("C:\\windows", small, sizeof small));  // 24 characters do not fit
}

// Directories of their own for the loader: one empty, one with a copy of the manager.
// (Wine answers any file named TWAIN_32.DLL with its built-in manager, so a copy without
// DSM_Entry cannot be told apart here.)
class ManagerLoading : public ::testing::Test {
protected:
    static std::string MakeDirectory(const char* name)
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        std::string dir = std::string(temp) + "pgx_twain_" + std::to_string(GetCurrentProcessId()) + "_" + name;
        CreateDirectoryA(dir.c_str(), nullptr);
        return dir;
    }

    void SetUp() override
    {
        TWAIN_ResetSessionForTest();
        empty = MakeDirectory("empty");
        real = MakeDirectory("real");
        char windows[MAX_PATH];
        GetWindowsDirectoryA(windows, sizeof windows);
        ASSERT_TRUE(CopyFileA((std::string(windows) + "\\twain_32.dll").c_str(), (real + "\\TWAIN_32.DLL").c_str(),
                              FALSE));
    }

    void TearDown() override
    {
        TWAIN_ResetSessionForTest();
        for (const std::string& dir : {empty, real}) {
            DeleteFileA((dir + "\\TWAIN_32.DLL").c_str());
            RemoveDirectoryA(dir.c_str());
        }
    }

    std::string empty, real;
};

TEST_F(ManagerLoading, LoadsOnlyFromTheGivenDirectory)
{
    TWAIN_SetWindowsDirectoryForTest(empty.c_str());
    EXPECT_FALSE(TWAIN_LoadSourceManager());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);

    TWAIN_SetWindowsDirectoryForTest(real.c_str());
    EXPECT_TRUE(TWAIN_LoadSourceManager());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_LOADED);
    EXPECT_NE(dsmModule, nullptr);
    EXPECT_NE(dsmEntry, nullptr);
    EXPECT_TRUE(TWAIN_LoadSourceManager());  // already loaded
    EXPECT_TRUE(TWAIN_UnloadSourceManager());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
    EXPECT_EQ(dsmEntry, nullptr);
}

// Without a Windows directory the bare file name would be looked up along the search
// path (the current directory first): the manager is not loaded at all then.
TEST_F(ManagerLoading, NoWindowsDirectoryMeansNoManager)
{
    char before[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    ASSERT_TRUE(SetCurrentDirectoryA(real.c_str()));
    TWAIN_SetWindowsDirectoryForTest("");
    const bool loaded = TWAIN_LoadSourceManager();
    SetCurrentDirectoryA(before);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
}

TEST_F(ManagerLoading, ProbeOfMissingManagerIsCached)
{
    TWAIN_SetWindowsDirectoryForTest(empty.c_str());
    EXPECT_FALSE(TWAIN_IsAvailable());
    TWAIN_SetWindowsDirectoryForTest(real.c_str());  // the file appears: the answer stays
    EXPECT_FALSE(TWAIN_IsAvailable());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
}

TEST_F(ManagerLoading, ProbeOfPresentManagerLeavesItUnloaded)
{
    TWAIN_SetWindowsDirectoryForTest(real.c_str());
    EXPECT_TRUE(TWAIN_IsAvailable());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
    EXPECT_EQ(dsmEntry, nullptr);
    TWAIN_SetWindowsDirectoryForTest(empty.c_str());  // the file goes: the answer stays
    EXPECT_TRUE(TWAIN_IsAvailable());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
}

TEST_F(ManagerLoading, LoadedManagerIsAvailableWithoutProbing)
{
    InstallFake();
    TWAIN_SetWindowsDirectoryForTest(empty.c_str());
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
