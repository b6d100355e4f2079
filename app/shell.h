#pragma once
// Program-wide state and operations of the application shell. One main window, one
// host record, one thread.

#include <windows.h>

#include <cstdint>

constexpr int kStorePathSize = 264;
constexpr int kLongestStoreName = 11;  // "pagorex.idx" and its siblings
constexpr int kAppNameSize = 32;
constexpr int kMessageTextSize = 256;

extern int32_t hostRecordNumber;
extern char storePath[kStorePathSize];
extern char* storeNamePart;
// The command-line path does not leave room for a store file name; nothing may be
// opened through storePath then.
extern bool storePathTooLong;
// Byte 0: stretchToWindow (saved). Byte 1: forceCompaction (never saved).
extern unsigned char settings[4];
inline unsigned char& stretchToWindow = settings[0];
inline unsigned char& forceCompaction = settings[1];
extern char appName[kAppNameSize];
extern char messageText[kMessageTextSize];
extern HINSTANCE appInstance;
extern HWND mainWindow;
// Set once Exit/Save, Exit/Abort or the window's destruction has begun ending the run:
// from then on no command runs. A command still queued (a second Exit/Save, a Save Image
// clicked right after) would find the image already released and mark the record deleted.
extern bool mainWindowEnding;
// How the host asked for the main window to be shown (a wait for the store during its
// creation shows it early).
extern int mainWindowShowCommand;

void ParseCommandLine(const char* text);
void LoadSettings();
void SaveSettings();
void PumpPendingMessages();
// Writes name at storeNamePart and answers the full path (storePath).
const char* StoreFile(const char* name);

// Program entry steps after the command line: answers the exit code.
int RunProgram(HINSTANCE instance, HINSTANCE previous, const char* commandLine, int showCommand);
bool RegisterMainWindowClass(HINSTANCE instance);
int CreateMainWindow(int showCommand);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The command table and the menu-state rules; answer whether the command was known.
bool RunCommand(HWND window, int command);
// Ends the run: nothing more is dispatched to the window's commands, then it is destroyed.
void EndMainWindow(HWND window);
void ApplyMenuRules(HMENU menu);
// A message box owned by the main window with appName as caption.
int ShellMessage(const char* text, UINT style);
// The same with a string resource, loaded into messageText.
void ShowStringMessage(int stringId, UINT style);
