// Finding and reading the profile named by VSCANNER_PROFILE, and reading whole files.
#include "tools/vscanner/scanner.h"

namespace vs {
namespace {
constexpr DWORD kMaxProfileBytes = 1 << 20;
}  // namespace

bool ReadWholeFile(const char* path, DWORD maxBytes, std::vector<std::uint8_t>& bytes)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, nullptr);
    bool ok = size != INVALID_FILE_SIZE && size <= maxBytes;
    if (ok) {
        bytes.resize(size);
        DWORD got = 0;
        ok = size == 0 || (ReadFile(file, bytes.data(), size, &got, nullptr) && got == size);
    }
    CloseHandle(file);
    return ok;
}

void LoadProfile()
{
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VSCANNER_PROFILE", path, sizeof path);
    std::vector<std::uint8_t> text;
    if (n > 0 && n < sizeof path && !ReadWholeFile(path, kMaxProfileBytes, text)) {
        Log(std::string("profile: cannot read ") + path + ", using the built-in source");
        text.clear();
    }
    profile = ParseProfile(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
    for (const std::string& problem : profile.problems)
        Log("profile: ignored " + problem);
}

}  // namespace vs
