// Command line, store directory and the one-byte settings file.
#include "app/acquire.h"
#include "app/shell.h"

#include <cctype>
#include <cstring>

int32_t hostRecordNumber = 0;
char storePath[kStorePathSize] = "";
char* storeNamePart = storePath;
bool storePathTooLong = false;
unsigned char settings[4] = {0, 0, 0, 0};
char appName[kAppNameSize] = "";

namespace {
constexpr char kSettingsName[] = "pagorex.cfg";

int32_t ParseRecordNumber(const char* text)
{
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\v' || *text == '\f')
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    // Wrap like the 32-bit arithmetic hosts have always relied on: no range check.
    uint32_t value = 0;
    while (*text >= '0' && *text <= '9')
        value = value * 10u + static_cast<uint32_t>(*text++ - '0');
    return static_cast<int32_t>(negative ? 0u - value : value);
}

HFILE OpenOrCreateSettings()
{
    const char* path = StoreFile(kSettingsName);
    HFILE file = _lopen(path, OF_READWRITE | OF_SHARE_DENY_NONE);
    if (file == HFILE_ERROR)
        file = _lcreat(path, 0);
    return file;
}
}  // namespace

void ParseCommandLine(const char* text)
{
    if (!text)
        text = "";
    hostRecordNumber = ParseRecordNumber(text);
    storePath[0] = '\0';
    storeNamePart = storePath;
    storePathTooLong = false;

    const char* blank = std::strchr(text, ' ');
    if (!blank)
        return;
    const char* path = blank + 1;
    const char* lastSlash = std::strrchr(path, '\\');
    size_t directoryLength = lastSlash ? static_cast<size_t>(lastSlash - path) + 1 : 0;
    if (directoryLength + kLongestStoreName + 1 > sizeof storePath) {
        // Cutting the path would put the store in some other directory.
        storePathTooLong = true;
        return;
    }
    // The host's own file name is never used: the first store name overwrites it, so
    // only as much of it as fits is kept.
    size_t length = std::strlen(path);
    if (length >= sizeof storePath)
        length = sizeof storePath - 1;
    std::memcpy(storePath, path, length);
    storePath[length] = '\0';
    storeNamePart = storePath + directoryLength;
}

const char* StoreFile(const char* name)
{
    size_t room = static_cast<size_t>(storePath + sizeof storePath - storeNamePart);
    std::strncpy(storeNamePart, name, room - 1);
    storeNamePart[room - 1] = '\0';
    return storePath;
}

void LoadSettings()
{
    if (storePathTooLong)
        return;
    HFILE file = OpenOrCreateSettings();
    if (file == HFILE_ERROR)
        return;
    unsigned char byte = 0;
    if (_lread(file, &byte, 1) == 1)
        stretchToWindow = byte;
    _lclose(file);
}

void SaveSettings()
{
    if (storePathTooLong)
        return;
    HFILE file = OpenOrCreateSettings();
    if (file == HFILE_ERROR)
        return;
    _llseek(file, 0, FILE_BEGIN);
    unsigned char byte = stretchToWindow;
    _lwrite(file, reinterpret_cast<LPCCH>(&byte), 1);
    _lclose(file);
}

void PumpPendingMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            break;
        if (message.message == WM_QUIT) {
            // The main loop must still see it and end the program.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        // An enabled source's events are lost unless they pass the library's hook.
        DispatchAppMessage(message);
    }
}
