#pragma once
// The library's process-wide session data and its internal steps, shared by the files
// of twain/. Not for the application: it uses twain/twain.h.

#include "twain/strip_bytes.h"
#include "twain/twain.h"

#include <span>

// Session and Source Manager
extern int nState;
extern TW_IDENTITY appIdentity;
extern TW_IDENTITY sourceIdentity;
extern HMODULE dsmModule;
extern DSMENTRYPROC dsmEntry;
extern int dsmAvailability;  // 0 not probed, 1 available, -1 not available
extern TW_UINT16 lastResult;
extern int callDepth;
extern HWND parentWindow;
extern int stripCount;
extern TW_UINT16 enumMessage;  // MSG_GETFIRST or MSG_GETNEXT for the next listed name
// The source chosen in Select Source, opened in place of the default for as long as the
// program runs and the manager lists it (one listed that will not open fails the open);
// its ProductName is empty while none was chosen.
extern TW_IDENTITY chosenSource;

// Events and enabling
extern TW_USERINTERFACE userInterface;
extern bool breakLoop;
extern bool closeRequested;
extern HWND proxyWindow;
extern HINSTANCE instanceHandle;
extern bool hideUI;
extern bool disableParent;
extern bool multiTransfer;

// Transfers
extern TW_PENDINGXFERS pendingXfers;
extern HGLOBAL hDib;
extern TW_UINT16 fileFormat;
extern char filePath[260];
extern bool fileXferDone;
extern TW_MEMXFERHANDLER memXferHandler;
extern int callbackArg;
extern int callbackResult;
extern bool incompatibilityReported;
// Consecutive transfers that brought no image (cancels not counted).
extern int failedTransfers;

// Errors
extern int errorCode;
extern TW_UINT16 errorResult;
extern TW_UINT16 errorCondition;

// Where a Source Manager may lie: a file in the Windows or the system directory.
enum class ManagerDirectory { Windows, System };
struct ManagerPlace {
    ManagerDirectory directory;
    const char* file;
};
// The places a program of that width looks, in order: TWAIN_32.DLL in the Windows
// directory for 32 bits; TWAINDSM.DLL, then TWAIN_32.DLL, in the system directory for 64.
std::span<const ManagerPlace> TWAIN_ManagerPlaces(bool sixtyFourBit);
// Builds "<directory>\<file>" into path (size characters): no separator after an empty
// directory or one ending in ':'. False when it does not fit.
bool TWAIN_ManagerPath(const char* directory, const char* file, char* path, std::size_t size);
// Loads the first of places that holds a DLL with DSM_Entry (state 2). A directory given
// as "" could not be read: nothing is looked for there.
bool TWAIN_LoadManagerFrom(std::span<const ManagerPlace> places, const char* windowsDirectory,
                           const char* systemDirectory);

// Memory-transfer steps. A strip is stored only after it was clamped to the image and
// checked against the buffer the library handed over (mx.Memory, set by the library).
bool TWAIN_CreateTransferDib(const TW_IMAGEINFO& info);
// Clamps, checks and stores one strip into the locked DIB (dibSize: its block's size)
// and counts its pixels (lastStrip: the source answered TWRC_XFERDONE); false when it
// was rejected. Reports a strip that does not fit.
bool TWAIN_StoreStrip(std::uint8_t* dib, std::size_t dibSize, TW_IMAGEMEMXFER& mx, const TW_IMAGEINFO& info,
                      const strips::ImagePlan& plan, strips::Progress& progress, bool lastStrip, strips::Next* next);
void TWAIN_ReportMemoryIncompatibility(const char* reason, const TW_IMAGEMEMXFER& mx, const TW_IMAGEINFO& info,
                                       int plane);
// What a transfer mechanism brought: set by each of them for TWAIN_DoOneTransfer.
enum class TransferOutcome { image, cancelled, failed, notTried };
extern TransferOutcome transferOutcome;
// Set when ending a transfer failed and the session was walked down instead.
extern bool endRecovered;
// The support address the incompatibility report asks users to write to.
inline constexpr char kSupportAddress[] = "support@pagorex.example";

// Texts of the tables (never null; values outside a table get a readable text).
const char* TWAIN_ErrorText(int code);
const char* TWAIN_ResultText(TW_UINT16 result);
const char* TWAIN_ConditionText(TW_UINT16 condition);

// Assertions on states the session's own transitions guarantee. A failed one is shown
// ("Assertion failed: <expr>, file acquira, line <n>") and the session is walked down
// to a state every source accepts (source closed), instead of ending the program:
// an image already received stays with the caller. Answers whether it held.
bool TWAIN_AssertionFailed(const char* expression, int line);
#define TWAIN_ASSERT(expr) ((expr) ? true : TWAIN_AssertionFailed(#expr, __LINE__))

// Copies a string of a TWAIN structure into a caller's buffer, always terminated.
void TWAIN_CopyName(char* to, const char* from, std::size_t size);
