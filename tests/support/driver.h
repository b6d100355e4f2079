#pragma once
// Drives a real program from outside, as a user would: start it, find its main window,
// read title, client size and pixels, send commands, answer message boxes, wait for it.

#include <windows.h>

#include <string>
#include <vector>

namespace driver {

struct Program {
    HANDLE process = nullptr;
    DWORD processId = 0;
    HWND window = nullptr;
};

struct MessageBoxInfo {
    HWND window = nullptr;
    std::string caption;
    std::string text;
};

// The directory of the running test program (build/bin), with a trailing backslash.
std::string BinDirectory();
// A new empty directory under the Windows temp directory.
std::string MakeTempDirectory(const std::string& prefix);
// The path of a Windows path on the system Wine runs on, or "" outside Wine.
std::string UnixPath(const std::string& windowsPath);
void RemoveDirectoryTree(const std::string& path);

// The program keeps its options for the Windows user, whom every program in the prefix
// shares: unless keepOptions, they are forgotten first, so it starts from the initial ones.
bool Start(Program& program, const std::string& exe, const std::string& commandLine, const std::string& workingDirectory,
           bool keepOptions = false);
// Waits for a visible top-level window of the given class that belongs to the program,
// looking every pollMs (the benchmarks look every millisecond).
HWND WaitForWindow(Program& program, const char* className, DWORD timeoutMs = 10000, DWORD pollMs = 20);
// Waits for the program's "TW_App_MainWnd" window and remembers it.
bool WaitForMainWindow(Program& program, DWORD timeoutMs = 10000, DWORD pollMs = 20);

std::string Title(HWND window);
SIZE ClientSize(HWND window);
COLORREF Pixel(HWND window, int x, int y);
// The window paints after it appears and after each command: waits until the pixel has
// the colour (or the time is up) and answers the colour last read.
COLORREF WaitForPixel(HWND window, int x, int y, COLORREF colour, DWORD timeoutMs = 5000, DWORD pollMs = 20);
// The pixel once the program is back at its messages and has painted what it had left
// to paint: for checking that something is not shown.
COLORREF SettledPixel(HWND window, int x, int y, DWORD timeoutMs = 5000);
// Reads a rectangle of the client area (from its top-left corner unless given), row by
// row from the top.
std::vector<COLORREF> Pixels(HWND window, int width, int height, int left = 0, int top = 0);
// The same from a capture of the screen: what the display shows there, after any scaling
// by the system.
std::vector<COLORREF> ScreenPixels(HWND window, int width, int height, int left = 0, int top = 0);

// Sends WM_COMMAND on a helper thread so that a modal box it opens does not block us.
class PendingCommand {
public:
    PendingCommand(HWND window, int command);
    ~PendingCommand();
    PendingCommand(const PendingCommand&) = delete;
    PendingCommand& operator=(const PendingCommand&) = delete;
    // True when the window procedure has returned from the command.
    bool Wait(DWORD timeoutMs);

private:
    HANDLE thread_ = nullptr;
    HWND window_;
    int command_;
    static DWORD WINAPI Run(void* self);
};
// Sends the command and waits until it has been handled; false on timeout.
bool Command(HWND window, int command, DWORD timeoutMs = 20000);
void PostCommand(HWND window, int command);
void Close(HWND window);

// A message box ("#32770") of the program other than `except` (e.g. the file dialog
// that is still closing); empty window on timeout.
MessageBoxInfo WaitForMessageBox(const Program& program, DWORD timeoutMs = 10000, HWND except = nullptr);
// Presses a button of a dialog by its identifier (IDOK, IDYES, IDNO, IDCANCEL...).
bool PressButton(HWND dialog, int buttonId);
std::string DialogItemText(HWND dialog, int itemId);

// Exit code, or -1 when the program did not end in time (it is then left running).
int WaitForExit(Program& program, DWORD timeoutMs = 20000);
void Kill(Program& program);
void Release(Program& program);

// File helpers for checking what the program left behind.
bool FileExists(const std::string& path);
std::vector<unsigned char> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);

}  // namespace driver

namespace driver {
// Answers a common Open or Save As dialog of the program: types the file name and presses
// OK. An empty name presses Cancel instead.
bool AnswerFileDialog(HWND dialog, const std::string& fileName);
}  // namespace driver
