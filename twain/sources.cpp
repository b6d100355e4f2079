// Choosing, opening, closing and listing data sources through the Source Manager.
#include "twain/session.h"

#include <cstdio>

TW_UINT16 enumMessage = MSG_GETFIRST;
TW_IDENTITY chosenSource;

namespace {
constexpr int kMessageSize = 256;
constexpr DWORD kDirectorySize = 260;
// A manager that never ends its list must not hang the program.
constexpr int kMaxListedSources = 1000;

TW_IDENTITY defaultSourceRequest;  // data of MSG_OPENDS for the default source
char messageBuffer[kMessageSize];

bool SameName(const char* a, const char* b)
{
    return lstrcmpiA(a, b) == 0;
}

void ReportWithName(const char* format, const char* name)
{
    std::snprintf(messageBuffer, sizeof messageBuffer, format, name);
    TWAIN_ReportLastError(messageBuffer);
}

// Lists the sources into found until one is named name; false when none is.
bool FindSource(const char* name, TW_IDENTITY& found)
{
    TW_UINT16 msg = MSG_GETFIRST;
    for (int listed = 0; listed < kMaxListedSources; ++listed) {
        found = TW_IDENTITY{};
        if (!TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, msg, &found))
            return false;
        found.ProductName[sizeof found.ProductName - 1] = '\0';
        if (SameName(found.ProductName, name))
            return true;
        msg = MSG_GETNEXT;
    }
    return false;
}

void OpenNamedSource(const char* name, HWND window)
{
    if (!TWAIN_OpenSourceManager(window)) {
        TWAIN_ReportLastError("Unable to open TWAIN Source Manager");
        return;
    }
    TW_IDENTITY found;
    if (!FindSource(name, found))
        ReportWithName("No such TWAIN device: %s", name);
    else if (!TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &found))
        ReportWithName("Unable to open: %s", name);
}
}  // namespace

bool TWAIN_SelectImageSource(HWND window)
{
    const int entryState = nState;
    bool selected = false;
    if (entryState < TWAIN_SM_OPEN && !TWAIN_OpenSourceManager(window)) {
        TWAIN_ErrorBox("Unable to open Source Manager (TWAIN_32.DLL)");
    } else {
        TW_IDENTITY choice{};
        selected = TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &choice);
        // Some managers do not keep the choice as their default: the next Acquire opens it.
        if (selected) {
            choice.ProductName[sizeof choice.ProductName - 1] = '\0';
            chosenSource = choice;
        }
    }
    if (entryState < TWAIN_SM_OPEN)
        TWAIN_CloseSourceManager(window);
    if (entryState < TWAIN_SM_LOADED)
        TWAIN_UnloadSourceManager();
    return selected;
}

bool TWAIN_OpenDefaultSource(HWND window)
{
    if (nState < TWAIN_SOURCE_OPEN) {
        if (nState < TWAIN_SM_OPEN && !TWAIN_OpenSourceManager(window))
            return false;
        // Only the last way's failure is the open's: an earlier one that a later way made
        // good must not be reported as the acquisition's error.
        const int code = errorCode;
        const TW_UINT16 result = errorResult, condition = errorCondition;
        auto open = [&](TW_IDENTITY& identity) {
            errorCode = code;
            errorResult = result;
            errorCondition = condition;
            if (TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity))
                TWAIN_ASSERT(nState == TWAIN_SOURCE_OPEN);
            return nState == TWAIN_SOURCE_OPEN;
        };
        // The chosen source, under the identity the manager lists for it. One that is
        // listed but will not open (switched off, busy) fails the open: a page from
        // another scanner is not what the user asked for. Only a source that is gone
        // gives way to the default.
        TW_IDENTITY listed;
        if (chosenSource.ProductName[0] != '\0' && FindSource(chosenSource.ProductName, listed))
            return open(listed);
        // The standard way to the default; some managers pass the empty identity on to a
        // source that accepts only its own, so the default's identity is asked for next.
        defaultSourceRequest = TW_IDENTITY{};
        if (open(defaultSourceRequest))
            return true;
        TW_IDENTITY defaultSource{};
        if (TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &defaultSource))
            open(defaultSource);
    }
    return nState == TWAIN_SOURCE_OPEN;
}

bool TWAIN_OpenSourceByName(const char* productName, HWND window)
{
    const char* name = productName ? productName : "";
    if (nState >= TWAIN_SOURCE_OPEN && !SameName(sourceIdentity.ProductName, name))
        TWAIN_CloseSource();
    if (nState < TWAIN_SOURCE_OPEN) {
        // Some drivers change the process's current directory while they open.
        char directory[kDirectorySize];
        const DWORD length = GetCurrentDirectoryA(kDirectorySize, directory);
        const bool saved = length > 0 && length < kDirectorySize;
        if (name[0] == '\0')
            TWAIN_OpenDefaultSource(window);
        else
            OpenNamedSource(name, window);
        if (saved)
            SetCurrentDirectoryA(directory);
    }
    return nState >= TWAIN_SOURCE_OPEN;
}

bool TWAIN_CloseSource()
{
    lastResult = TWRC_SUCCESS;
    TWAIN_BreakModalLoop();
    TWAIN_DisableSource();
    if (nState == TWAIN_SOURCE_OPEN) {
        if (TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &sourceIdentity))
            TWAIN_ASSERT(nState == TWAIN_SM_OPEN);
    }
    return nState <= TWAIN_SM_OPEN;
}

bool TWAIN_GetDefaultSourceName(char* name)
{
    TWAIN_CopyName(name, "", kSourceNameSize);
    if (!TWAIN_OpenSourceManager(nullptr))
        return false;
    TW_IDENTITY found{};
    if (!TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &found))
        return false;
    TWAIN_CopyName(name, found.ProductName, kSourceNameSize);
    return true;
}

bool TWAIN_BeginSourceList()
{
    if (!TWAIN_OpenSourceManager(nullptr)) {
        TWAIN_ReportLastError("Unable to open TWAIN Source Manager");
        return false;
    }
    enumMessage = MSG_GETFIRST;
    return true;
}

bool TWAIN_NextSourceName(char* name)
{
    TWAIN_CopyName(name, "", kSourceNameSize);
    TW_IDENTITY found{};
    if (!TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, enumMessage, &found)) {
        enumMessage = MSG_GETFIRST;
        return false;
    }
    enumMessage = MSG_GETNEXT;
    TWAIN_CopyName(name, found.ProductName, kSourceNameSize);
    return true;
}

const char* TWAIN_SourceName()
{
    return sourceIdentity.ProductName;
}

void TWAIN_GetSourceName(char* name)
{
    TWAIN_CopyName(name, sourceIdentity.ProductName, kSourceNameSize);
}

int TWAIN_GetSourceIdentity(TW_IDENTITY* buffer)
{
    if (buffer)
        *buffer = sourceIdentity;
    return static_cast<int>(sizeof(TW_IDENTITY));
}
