#pragma once
// The acquisition library: one TWAIN session per process, driven from the
// application's GUI thread. Operations answer true when the session reached the state
// they aim at; failures are recorded (TWAIN_GetLastErrorCode) and reported in the
// library's message boxes (base/error_box.h).
//
// Invariants: nState is moved only by the library's calls themselves: loading, opening
// and closing the manager and the source (source_manager.cpp, session.cpp) and the state
// rules applied to every answer of a source (session.cpp), never by the operations on
// top. A transfer starts only in state 6 and always ends with MSG_ENDXFER or MSG_RESET;
// an image leaves the library only once it was checked against its own block; the
// library frees every handle a source hands over unless it hands it on to the caller,
// who then owns it.

#include <windows.h>

#include <cstddef>

#include "base/error_box.h"
#include "twain/twain_defs.h"

// ---------------------------------------------------------------------------
// Session states (nState), compared by order: below TWAIN_SOURCE_OPEN no source is open.
inline constexpr int TWAIN_PRESESSION = 1;      // TWAIN_32.DLL not loaded
inline constexpr int TWAIN_SM_LOADED = 2;       // manager loaded, DSM_Entry known
inline constexpr int TWAIN_SM_OPEN = 3;         // manager opened with a parent window
inline constexpr int TWAIN_SOURCE_OPEN = 4;     // a source is open
inline constexpr int TWAIN_SOURCE_ENABLED = 5;  // the source is enabled and may post events
inline constexpr int TWAIN_TRANSFER_READY = 6;  // the source announced MSG_XFERREADY
inline constexpr int TWAIN_TRANSFERRING = 7;    // a transfer started, MSG_ENDXFER pending

// ---------------------------------------------------------------------------
// Library error codes (TWAIN_GetLastErrorCode), 0 to 19.
inline constexpr int TWERR_NONE = 0;
inline constexpr int TWERR_CAP_GET = 2;
inline constexpr int TWERR_CAP_SET = 3;
inline constexpr int TWERR_DSM_OPERATION = 4;
inline constexpr int TWERR_DS_OPERATION = 5;
inline constexpr int TWERR_TRANSFER = 6;
inline constexpr int TWERR_OPEN_DSM = 8;
inline constexpr int TWERR_OPEN_DEFAULT_DS = 9;
inline constexpr int TWERR_NOT_STATE_4 = 10;
inline constexpr int TWERR_NULL_CONTAINER = 11;
inline constexpr int TWERR_BAD_CONTAINER = 12;
inline constexpr int TWERR_BAD_CONTAINER_TYPE = 13;
inline constexpr int TWERR_BAD_ITEM_TYPE = 14;
inline constexpr int TWERR_EMPTY_CONTAINER = 15;
inline constexpr int TWERR_NO_COMMON_VALUES = 16;
inline constexpr int TWERR_BAD_WINDOW = 17;
inline constexpr int TWERR_PROXY_WINDOW = 18;
inline constexpr int TWERR_CANCELLED = 19;

// ---------------------------------------------------------------------------
// Session and Source Manager
void TWAIN_RegisterApp(int major, int minor, int language, int country, const char* versionInfo,
                       const char* manufacturer, const char* productFamily, const char* productName);
bool TWAIN_IsAvailable();
bool TWAIN_LoadSourceManager();
bool TWAIN_OpenSourceManager(HWND window);
bool TWAIN_CloseSourceManager(HWND window);
bool TWAIN_UnloadSourceManager();
int TWAIN_GetState();
bool TWAIN_CallSourceManager(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
bool TWAIN_CallSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
// The TWRC_ code of the last DSM_Entry call, sign-extended.
int TWAIN_GetResultCode();
int TWAIN_LibraryVersion();
const char* TWAIN_BuildName();
// Copies the build name into buffer (cut to size, always terminated).
void TWAIN_GetBuildName(char* buffer, std::size_t size);

// ---------------------------------------------------------------------------
// Data sources. Name buffers hold 34 characters (a TW_STR32).
inline constexpr int kSourceNameSize = 34;
bool TWAIN_SelectImageSource(HWND window);
bool TWAIN_OpenDefaultSource(HWND window);
bool TWAIN_OpenSourceByName(const char* productName, HWND window);
bool TWAIN_CloseSource();
bool TWAIN_GetDefaultSourceName(char* name);
bool TWAIN_BeginSourceList();
bool TWAIN_NextSourceName(char* name);
const char* TWAIN_SourceName();
void TWAIN_GetSourceName(char* name);
// Copies the open source's identity when buffer is given; answers sizeof(TW_IDENTITY).
int TWAIN_GetSourceIdentity(TW_IDENTITY* buffer);

// ---------------------------------------------------------------------------
// Windows, events and enabling
void TWAIN_SetInstance(HINSTANCE instance);
HWND TWAIN_ResolveParentWindow(HWND window);
HWND TWAIN_CreateProxyWindow();
void TWAIN_FlushMessages();
void TWAIN_BreakModalLoop();
// True when the message belonged to the source: do not translate or dispatch it.
bool TWAIN_MessageHook(MSG* message);
bool TWAIN_EnableSource(HWND window);
bool TWAIN_DisableSource();
bool TWAIN_UserClosedSource();
void TWAIN_SetHideUI(bool hide);
bool TWAIN_GetHideUI();
void TWAIN_SetDisableParent(bool disable);
bool TWAIN_GetDisableParent();
void TWAIN_SetMultiTransfer(bool multi);
bool TWAIN_GetMultiTransfer();
// Ending and discarding transfers.
bool TWAIN_EndTransfer();
bool TWAIN_ResetPendingTransfers();

// ---------------------------------------------------------------------------
// Acquiring one image. window: the caller's window (an invalid one is reported and the
// hidden proxy window stands in). mask: one bit per TWPT_ pixel type the source may
// use (bit n for TWPT_ n), 0 for no restriction. A returned DIB handle belongs to the
// caller, who frees it with TWAIN_FreeDib or hands it to the clipboard; null (or false)
// means no image came, and TWAIN_UserClosedSource and TWAIN_GetLastErrorCode say why.
HGLOBAL TWAIN_AcquireNative(HWND window, unsigned mask);
HGLOBAL TWAIN_AcquireMemory(HWND window);
// True when the source wrote the file (format: a TWFF_ code).
bool TWAIN_AcquireFileTransfer(HWND window, int format, const char* fileName);
// A memory transfer performed by callback(argument) in state 6, which answers its result.
using TW_MEMXFERHANDLER = int (*)(int argument);
int AcquireCB(HWND window, TW_MEMXFERHANDLER callback, int argument);
bool TWAIN_AcquireToClipboard(HWND window, unsigned mask);
// DibWriteFile's result (its -1, a cancelled Save As dialog, as -10); -1 when no image came.
int TWAIN_AcquireToFile(HWND window, const char* fileName);
void TWAIN_FreeDib(HGLOBAL dib);
// Hands the DIB to the clipboard, which owns it from then on; false leaves it the caller's.
bool TWAIN_DibToClipboard(HGLOBAL dib);

// The steps the acquisitions are made of.
bool TWAIN_PrepareAcquire(HWND window, int mechanism, unsigned mask);
void TWAIN_FinishAcquire();
void TWAIN_EnableAndWait(HWND window);
void TWAIN_ModalEventLoop();
// The DIB of the last transfer, handed over (and forgotten), or null.
HGLOBAL TWAIN_WaitForNativeXfer(HWND window);
// An image is waiting: a DIB not yet taken, or the source holds one (state 6 or more).
bool TWAIN_IsImageReady();

// Transfers, in state 6: one image by the negotiated mechanism, then ended.
void TWAIN_DoOneTransfer();
void TWAIN_NativeTransfer();
void TWAIN_FileTransfer();
// The built-in memory-transfer handler (argument ignored): 1 when the whole image came.
int TWAIN_MemoryTransfer(int argument);
// Puts text on the clipboard with CR-LF line ends, beside what is there already.
void TWAIN_TextToClipboard(const char* text);

// ---------------------------------------------------------------------------
// Errors (TWAIN_ErrorBox and TWAIN_SuppressErrorBoxes come from error_box.h)
void TWAIN_RecordError(int code);
void TWAIN_ClearError();
int TWAIN_GetLastErrorCode();
TW_UINT16 TWAIN_GetConditionCode();
void TWAIN_ReportLastError(const char* text);
