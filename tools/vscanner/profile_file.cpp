// Finding and reading the profile named by VSCANNER_PROFILE.
#include "tools/vscanner/scanner.h"

namespace vs {
namespace {
constexpr DWORD kMaxProfileBytes = 1 << 20;

bool ReadText(const char* path, std::string& text)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, nullptr);
    bool ok = size != INVALID_FILE_SIZE && size <= kMaxProfileBytes;
    if (ok) {
        text.resize(size);
        DWORD got = 0;
        ok = size == 0 || (ReadFile(file, text.data(), size, &got, nullptr) && got == size);
    }
    CloseHandle(file);
    return ok;
}
}  // namespace

void LoadProfile()
{
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VSCANNER_PROFILE", path, sizeof path);
    std::string text;
    if (n > 0 && n < sizeof path && !ReadText(path, text))
        Log(std::string("profile: cannot read ") + path + ", using the built-in source");
    profile = ParseProfile(text);
    for (const std::string& problem : profile.problems)
        Log("profile: ignored " + problem);
}

}  // namespace vs
