#pragma once
// The virtual scanner's state and the handlers behind its DS_Entry. One process holds
// at most one open source of this file at a time.

#include <windows.h>

#include <string>
#include <vector>

#include "tools/vscanner/page.h"
#include "tools/vscanner/profile.h"

namespace vs {

// TWAIN states as the source sees them (3: closed).
inline constexpr int kClosed = 3;
inline constexpr int kOpen = 4;
inline constexpr int kEnabled = 5;
inline constexpr int kReady = 6;
inline constexpr int kTransferring = 7;

extern HINSTANCE module;
extern Profile profile;
extern const SourceProfile* source;  // the open source's profile, null when closed
extern int state;
extern TW_IDENTITY self;             // our identity as the manager knows it
extern TW_IDENTITY application;      // the application that opened us
extern TW_UINT16 condition;          // condition code of the last failure
extern int pagesLeft;                // pending transfers
extern int pagesDone;                // pages handed over since the source opened
extern int endXferFailed;            // MSG_ENDXFER answered with a failure so far
extern TW_USERINTERFACE ui;

// Handlers answer a TWRC_ code; Fail records the condition code for DAT_STATUS.
TW_UINT16 Fail(TW_UINT16 conditionCode);
using Handler = TW_UINT16 (*)(pTW_IDENTITY origin, TW_UINT16 msg, void* data);

// profile_file.cpp: reads the file named by VSCANNER_PROFILE (built-in default without).
void LoadProfile();
// The whole file, when it can be read and holds at most maxBytes.
bool ReadWholeFile(const char* path, DWORD maxBytes, std::vector<std::uint8_t>& bytes);

// identity.cpp
TW_UINT16 OnIdentity(pTW_IDENTITY origin, TW_UINT16 msg, void* data);
TW_UINT16 OnStatus(pTW_IDENTITY origin, TW_UINT16 msg, void* data);

// ui.cpp
TW_UINT16 OnUserInterface(pTW_IDENTITY origin, TW_UINT16 msg, void* data);
TW_UINT16 OnEvent(pTW_IDENTITY origin, TW_UINT16 msg, void* data);
void CloseUserInterface();
// Destroys the dialog and the signal window (closing, unloading).
void ReleaseWindows();
// Tells the application through the Source Manager (MSG_XFERREADY, MSG_CLOSEDSREQ),
// after the current call has returned.
void PostSignal(TW_UINT16 msg);
// The last pending image was ended while the source stays enabled: it asks to be closed,
// or announces the next batch, as the profile says.
void BatchEnded();

// image.cpp
// The page the open source produces now (its pixel type as negotiated).
PageFormat CurrentFormat();
// Counts the page just handed over, and logs its number (from 1) and whether it was a
// blank sheet.
void PageHandedOver();
// A transfer the profile makes fail (fail_after, xfer_answer = failure): the condition.
bool TransferRefused(TW_UINT16& conditionCode);
TW_UINT16 OnPendingXfers(pTW_IDENTITY origin, TW_UINT16 msg, void* data);
TW_UINT16 OnImageInfo(pTW_IDENTITY origin, TW_UINT16 msg, void* data);

// native.cpp
TW_UINT16 OnNativeXfer(pTW_IDENTITY origin, TW_UINT16 msg, void* data);

// memory.cpp
void ResetMemoryTransfer();
TW_UINT16 OnSetupMemXfer(pTW_IDENTITY origin, TW_UINT16 msg, void* data);
TW_UINT16 OnImageMemXfer(pTW_IDENTITY origin, TW_UINT16 msg, void* data);
TW_UINT16 OnPalette8(pTW_IDENTITY origin, TW_UINT16 msg, void* data);

// file_xfer.cpp
void ResetFileTransfer();
TW_UINT16 OnSetupFileXfer(pTW_IDENTITY origin, TW_UINT16 msg, void* data);
TW_UINT16 OnImageFileXfer(pTW_IDENTITY origin, TW_UINT16 msg, void* data);

// caps.cpp
void ResetCapabilities(const SourceProfile& p);
TW_UINT16 OnCapability(pTW_IDENTITY origin, TW_UINT16 msg, void* data);
TW_UINT16 CurrentCapability(TW_UINT16 cap);

// log.cpp: one line per triplet in the file named by VSCANNER_LOG.
void Log(const std::string& line);
void AddDetail(const std::string& text);  // appended to the current triplet's line
std::string TakeDetail();
const char* DgName(TW_UINT32 dg);
const char* DatName(TW_UINT16 dat);
const char* MsgName(TW_UINT16 msg);
const char* RcName(TW_UINT16 rc);
const char* CcName(TW_UINT16 cc);
std::string CapName(TW_UINT16 cap);

}  // namespace vs
