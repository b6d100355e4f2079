// Loading, opening, closing and unloading the Source Manager, and the availability
// probe. The manager is only ever loaded from the Windows directory.
#include "twain/session.h"
#include "twain/test_seam.h"

#include <cstring>

namespace {
constexpr std::size_t kDirectorySize = 128;
constexpr char kManagerFile[] = "TWAIN_32.DLL";

// Tests point the loader at a directory of their own, or at a scripted manager that
// stands in for the DLL across loading and unloading; never in production.
DSMENTRYPROC scriptedEntry = nullptr;
bool directoryOverridden = false;
char windowsDirectoryOverride[MAX_PATH] = "";

void WindowsDirectory(char* buffer, std::size_t size)
{
    if (directoryOverridden) {
        TWAIN_CopyName(buffer, windowsDirectoryOverride, size);
        return;
    }
    UINT n = GetWindowsDirectoryA(buffer, static_cast<UINT>(size));
    if (n == 0 || n >= size)
        buffer[0] = '\0';  // no directory, or one too long for the buffer: no manager
}

bool FileExists(const char* path)
{
    OFSTRUCT info{};
    return OpenFile(path, &info, OF_EXIST) != HFILE_ERROR;
}
}  // namespace

bool TWAIN_ManagerPath(const char* windowsDirectory, char* path, std::size_t size)
{
    const std::size_t dirLength = std::strlen(windowsDirectory);
    const bool separator = dirLength > 0 && windowsDirectory[dirLength - 1] != ':';
    const std::size_t total = dirLength + (separator ? 1 : 0) + sizeof kManagerFile;
    if (total > size)
        return false;
    std::memcpy(path, windowsDirectory, dirLength);
    std::size_t at = dirLength;
    if (separator)
        path[at++] = '\\';
    std::memcpy(path + at, kManagerFile, sizeof kManagerFile);
    return true;
}

bool TWAIN_LoadSourceManager()
{
    if (nState >= TWAIN_SM_LOADED)
        return true;
    if (scriptedEntry) {
        dsmEntry = scriptedEntry;
        dsmAvailability = 1;
        nState = TWAIN_SM_LOADED;
        return true;
    }
    char directory[kDirectorySize];
    char path[kDirectorySize + sizeof kManagerFile + 1];
    WindowsDirectory(directory, sizeof directory);
    // An empty directory would make a relative name that the search path resolves.
    if (directory[0] == '\0' || !TWAIN_ManagerPath(directory, path, sizeof path) || !FileExists(path))
        return false;
    HMODULE module = LoadLibraryA(path);
    if (!module)
        return false;
    auto entry = reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(module, "DSM_Entry")));
    if (!entry) {
        FreeLibrary(module);
        return false;
    }
    dsmModule = module;
    dsmEntry = entry;
    dsmAvailability = 1;
    nState = TWAIN_SM_LOADED;
    return true;
}

bool TWAIN_IsAvailable()
{
    if (dsmEntry)
        return true;
    if (dsmAvailability == 0) {
        if (TWAIN_LoadSourceManager()) {
            dsmAvailability = 1;
            TWAIN_UnloadSourceManager();
        } else {
            dsmAvailability = -1;
        }
    }
    return dsmAvailability > 0;
}

bool TWAIN_OpenSourceManager(HWND window)
{
    parentWindow = TWAIN_ResolveParentWindow(window);
    if (nState < TWAIN_SM_OPEN && TWAIN_LoadSourceManager()) {
        if (TWAIN_CallSourceManager(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parentWindow))
            TWAIN_ASSERT(nState == TWAIN_SM_OPEN);
    }
    return nState >= TWAIN_SM_OPEN;
}

bool TWAIN_CloseSourceManager(HWND window)
{
    TWAIN_FlushMessages();
    parentWindow = TWAIN_ResolveParentWindow(window);
    lastResult = TWRC_SUCCESS;
    TWAIN_CloseSource();
    if (nState <= TWAIN_SM_OPEN) {
        if (TWAIN_CallSourceManager(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parentWindow))
            TWAIN_ASSERT(nState == TWAIN_SM_LOADED);
    }
    return nState <= TWAIN_SM_LOADED;
}

bool TWAIN_UnloadSourceManager()
{
    TWAIN_CloseSourceManager(nullptr);
    if (proxyWindow) {
        DestroyWindow(proxyWindow);
        proxyWindow = nullptr;
    }
    if (nState == TWAIN_SM_LOADED) {
        if (dsmModule)
            FreeLibrary(dsmModule);
        dsmModule = nullptr;
        dsmEntry = nullptr;
        nState = TWAIN_PRESESSION;
    }
    return nState == TWAIN_PRESESSION;
}

// ---------------------------------------------------------------------------
// Test seam: never called by the program itself.

void TWAIN_InstallManagerEntryForTest(DSMENTRYPROC entry)
{
    scriptedEntry = entry;
    dsmModule = nullptr;
    dsmEntry = entry;
    nState = entry ? TWAIN_SM_LOADED : TWAIN_PRESESSION;
}

void TWAIN_SetWindowsDirectoryForTest(const char* directory)
{
    directoryOverridden = directory != nullptr;
    TWAIN_CopyName(windowsDirectoryOverride, directory ? directory : "", sizeof windowsDirectoryOverride);
}
