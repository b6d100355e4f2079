#pragma once
// The library's process-wide session data and its internal steps, shared by the files
// of twain/. Not for the application: it uses twain/twain.h.

#include "twain/twain.h"

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

// Errors
extern int errorCode;
extern TW_UINT16 errorResult;
extern TW_UINT16 errorCondition;

// Builds "<windowsDirectory>\TWAIN_32.DLL" into path (size characters): no separator
// after an empty directory or one ending in ':'. False when it does not fit.
bool TWAIN_ManagerPath(const char* windowsDirectory, char* path, std::size_t size);

// What MSG_XFERREADY leads to once the session is in state 6 (the transfer step).
void TWAIN_OnTransferReady();

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
