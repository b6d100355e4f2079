// Loading, opening, closing and unloading the Source Manager, and the availability
// probe. A 32-bit program loads the manager only from the Windows directory; a 64-bit one
// from the system directory, as 64-bit Windows keeps it there.
#include "twain/session.h"
#ifdef PAGOREX_TEST_SEAMS
#include "twain/test_seam.h"
#endif

#include <cstring>

namespace {
constexpr std::size_t kDirectorySize = 128;
constexpr std::size_t kFileSize = 16;

constexpr ManagerPlace kPlaces32[] = {{ManagerDirectory::Windows, "TWAIN_32.DLL"}};
// The TWAIN 2 manager that 64-bit drivers come with, then the one Wine's 64-bit prefix has.
constexpr ManagerPlace kPlaces64[] = {{ManagerDirectory::System, "TWAINDSM.DLL"},
                                      {ManagerDirectory::System, "TWAIN_32.DLL"}};

#ifdef PAGOREX_TEST_SEAMS
// Tests point the loader at a directory of their own, or at a scripted manager that
// stands in for the DLL across loading and unloading.
DSMENTRYPROC scriptedEntry = nullptr;
bool directoryOverridden = false;
char directoryOverride[MAX_PATH] = "";
#endif

// "" when the directory cannot be read or is too long for the buffer: no manager there.
void ReadDirectory(ManagerDirectory which, char* buffer, std::size_t size)
{
#ifdef PAGOREX_TEST_SEAMS
    if (directoryOverridden) {
        TWAIN_CopyName(buffer, directoryOverride, size);
        return;
    }
#endif
    UINT n = which == ManagerDirectory::Windows ? GetWindowsDirectoryA(buffer, static_cast<UINT>(size))
                                                : GetSystemDirectoryA(buffer, static_cast<UINT>(size));
    if (n == 0 || n >= size)
        buffer[0] = '\0';
}

bool FileExists(const char* path)
{
    OFSTRUCT info{};
    return OpenFile(path, &info, OF_EXIST) != HFILE_ERROR;
}

// Loads the DLL at path when it exports DSM_Entry.
bool LoadManagerAt(const char* path)
{
    if (!FileExists(path))
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
}  // namespace

std::span<const ManagerPlace> TWAIN_ManagerPlaces(bool sixtyFourBit)
{
    if (sixtyFourBit)
        return kPlaces64;
    return kPlaces32;
}

bool TWAIN_ManagerPath(const char* directory, const char* file, char* path, std::size_t size)
{
    const std::size_t dirLength = std::strlen(directory);
    const std::size_t fileLength = std::strlen(file) + 1;
    const bool separator = dirLength > 0 && directory[dirLength - 1] != ':';
    const std::size_t total = dirLength + (separator ? 1 : 0) + fileLength;
    if (total > size)
        return false;
    std::memcpy(path, directory, dirLength);
    std::size_t at = dirLength;
    if (separator)
        path[at++] = '\\';
    std::memcpy(path + at, file, fileLength);
    return true;
}

bool TWAIN_LoadManagerFrom(std::span<const ManagerPlace> places, const char* windowsDirectory,
                           const char* systemDirectory)
{
    for (const ManagerPlace& place : places) {
        const char* directory = place.directory == ManagerDirectory::Windows ? windowsDirectory : systemDirectory;
        char path[kDirectorySize + kFileSize + 1];
        // An empty directory would make a relative name that the search path resolves.
        if (directory[0] != '\0' && TWAIN_ManagerPath(directory, place.file, path, sizeof path) &&
            LoadManagerAt(path))
            return true;
    }
    return false;
}

bool TWAIN_LoadSourceManager()
{
    if (nState >= TWAIN_SM_LOADED)
        return true;
#ifdef PAGOREX_TEST_SEAMS
    if (scriptedEntry) {
        dsmEntry = scriptedEntry;
        dsmAvailability = 1;
        nState = TWAIN_SM_LOADED;
        return true;
    }
#endif
    char windows[kDirectorySize];
    char system[kDirectorySize];
    ReadDirectory(ManagerDirectory::Windows, windows, sizeof windows);
    ReadDirectory(ManagerDirectory::System, system, sizeof system);
    return TWAIN_LoadManagerFrom(TWAIN_ManagerPlaces(sizeof(void*) == 8), windows, system);
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

#ifdef PAGOREX_TEST_SEAMS
void TWAIN_InstallManagerEntryForTest(DSMENTRYPROC entry)
{
    scriptedEntry = entry;
    dsmModule = nullptr;
    dsmEntry = entry;
    nState = entry ? TWAIN_SM_LOADED : TWAIN_PRESESSION;
}

void TWAIN_SetManagerDirectoryForTest(const char* directory)
{
    directoryOverridden = directory != nullptr;
    TWAIN_CopyName(directoryOverride, directory ? directory : "", sizeof directoryOverride);
}
#endif
