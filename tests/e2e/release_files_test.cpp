// Each program's version resource and manifest, read back from the built files as
// Explorer and Windows read them.
#include "e2e.h"
#include "pagorex_version.h"

#include <windows.h>

namespace {
std::string VersionText(std::vector<char>& info, const std::string& name)
{
    char* text = nullptr;
    UINT size = 0;
    std::string path = "\\StringFileInfo\\040904B0\\" + name;
    return VerQueryValueA(info.data(), path.c_str(), (void**)&text, &size) ? text : "";
}

// The manifest's dpiAwareness as Windows reads it when it starts the program: "" where
// the manifest does not parse or lacks it.
std::wstring DpiAwareness(const std::string& exe)
{
    using Query = BOOL(WINAPI*)(DWORD, HANDLE, const wchar_t*, const wchar_t*, wchar_t*, SIZE_T, SIZE_T*);
    auto query = (Query)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryActCtxSettingsW");
    ACTCTXA request = {sizeof request, ACTCTX_FLAG_RESOURCE_NAME_VALID, exe.c_str(), 0, 0, nullptr,
                       MAKEINTRESOURCEA(1), nullptr, nullptr};
    HANDLE context = CreateActCtxA(&request);
    wchar_t value[128] = L"";
    if (context != INVALID_HANDLE_VALUE) {
        const wchar_t* space = L"http://schemas.microsoft.com/SMI/2016/WindowsSettings";
        query(0, context, space, L"dpiAwareness", value, 128, nullptr);
        ReleaseActCtx(context);
    }
    return value;
}

TEST(ReleaseFiles, EachProgramNamesTheVersionAndScalesItselfPerMonitor)
{
    const WORD numbers[] = {PAGOREX_VERSION_NUMBERS};
    for (const std::string name : {"pagorex.exe", "pagorex-store.exe"}) {
        SCOPED_TRACE(name);
        std::string exe = driver::BinDirectory() + name;
        std::vector<char> info(GetFileVersionInfoSizeA(exe.c_str(), nullptr));
        ASSERT_FALSE(info.empty()) << "no version resource";
        ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, DWORD(info.size()), info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT size = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void**)&fixed, &size));
        EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(numbers[1], numbers[0]));
        EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(numbers[3], numbers[2]));
        for (const char* field : {"FileVersion", "ProductVersion"})
            EXPECT_EQ(VersionText(info, field), PAGOREX_VERSION) << field;
        EXPECT_EQ(VersionText(info, "ProductName"), "Pagorex");
        EXPECT_EQ(VersionText(info, "OriginalFilename"), name);
        EXPECT_EQ(DpiAwareness(exe), L"PerMonitorV2, PerMonitor");
    }
}
}  // namespace
