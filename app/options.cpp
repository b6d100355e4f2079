// The options kept for the Windows user: each a DWORD value of the key
// HKEY_CURRENT_USER\Software\Pagorex, read once at start and written whenever a command
// has changed one, so that a run the host ends abruptly keeps them too.
#include "app/acquire.h"
#include "app/page.h"
#include "app/view.h"
#include "twain/twain.h"

#include <iterator>

namespace {
constexpr char kKey[] = "Software\\Pagorex";

struct Option {
    const char* name;
    int (*get)();
    void (*set)(int value);
    int initial;
    int low, high;  // a value outside is damaged
};

template <int* Value>
constexpr Option Plain(const char* name, int initial, int low, int high)
{
    return Option{name, [] { return *Value; }, [](int v) { *Value = v; }, initial, low, high};
}

const Option kOptions[] = {
    {"PixelTypes", [] { return int(pixelTypeMask); }, [](int v) { pixelTypeMask = unsigned(v); }, 0, 0, 15},
    Plain<&hideSourceUI>("HideSourceUI", 0, 0, 1),
    Plain<&transferMode>("TransferMode", kNativeTransfer, 0, 2),
    Plain<&feederMode>("FeederMode", 0, -1, 1),
    Plain<&autoFeed>("AutoFeed", 0, 0, 1),
    Plain<&duplexEnabled>("DuplexScanning", 0, 0, 1),
    {"SuppressErrorDialogs", [] { return suppressErrorDialogs; },
     [](int v) {
         suppressErrorDialogs = v;
         TWAIN_SuppressErrorBoxes(v != 0);
     },
     0, 0, 1},
    {"DisableParent", [] { return int(TWAIN_GetDisableParent()); }, [](int v) { TWAIN_SetDisableParent(v != 0); }, 1,
     0, 1},
    {"MultiTransfer", [] { return int(TWAIN_GetMultiTransfer()); }, [](int v) { TWAIN_SetMultiTransfer(v != 0); }, 0,
     0, 1},
    Plain<&straightenScannedPages>("StraightenScannedPages", 0, 0, 1),
    Plain<&cropScannedPages>("CropScannedPages", 0, 0, 1),
    Plain<&scannedPagesAs>("ScannedPagesAs", kScannedAsColour, 0, 2),
    Plain<&skipBlankPages>("SkipBlankPages", 0, 0, 1),
    Plain<&viewMode>("ViewMode", kViewFitPage, kViewFitPage, kViewZoom),
    Plain<&zoomPercent>("ZoomPercent", 100, 10, 1000),
};

// The values as last read or written.
int remembered[std::size(kOptions)];

void Snapshot()
{
    for (size_t i = 0; i < std::size(kOptions); ++i)
        remembered[i] = kOptions[i].get();
}

int Stored(HKEY key, const Option& option)
{
    DWORD type = 0, value = 0, size = sizeof value;
    if (!key || RegQueryValueExA(key, option.name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                    ERROR_SUCCESS || type != REG_DWORD || size != sizeof value)
        return option.initial;
    int v = int(value);
    return v >= option.low && v <= option.high ? v : option.initial;
}
}  // namespace

void LoadRememberedOptions()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        key = nullptr;
    for (const Option& option : kOptions)
        option.set(Stored(key, option));
    if (key)
        RegCloseKey(key);
    Snapshot();
}

// Only the values that changed are written: another window of the same user (the host
// starts one per record) may have changed others since this one read them.
void RememberOptions()
{
    bool changed = false;
    for (size_t i = 0; i < std::size(kOptions); ++i)
        changed |= remembered[i] != kOptions[i].get();
    HKEY key = nullptr;
    if (!changed || RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
                        ERROR_SUCCESS)
        return;
    for (size_t i = 0; i < std::size(kOptions); ++i) {
        DWORD value = DWORD(kOptions[i].get());
        if (remembered[i] != int(value))
            RegSetValueExA(key, kOptions[i].name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    RegCloseKey(key);
    Snapshot();
}

void ResetRememberedOptions()
{
    for (const Option& option : kOptions)
        option.set(option.initial);
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    Snapshot();
}
