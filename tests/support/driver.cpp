#include "support/driver.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace driver {
namespace {

struct FindState {
    DWORD processId;
    const char* className;
    HWND except;
    HWND found;
};

BOOL CALLBACK FindWindowOfProcess(HWND window, LPARAM param)
{
    auto* state = reinterpret_cast<FindState*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (owner == state->processId && window != state->except && lstrcmpiA(name, state->className) == 0 &&
        IsWindowVisible(window)) {
        state->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindProcessWindow(DWORD processId, const char* className, HWND except = nullptr)
{
    FindState state{processId, className, except, nullptr};
    EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

// Sizes and pixels as the display has them, not as a program unaware of its scale sees them.
void ReadInDisplayPixels()
{
    FARPROC aware = GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDPIAware");
    if (aware)
        reinterpret_cast<BOOL(WINAPI*)()>(reinterpret_cast<void*>(aware))();
}

// One copy of the area, read here: a GetPixel of a window of another program asks the
// display for each pixel.
std::vector<COLORREF> PixelsOf(HDC dc, int width, int height, int left, int top)
{
    HDC copy = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ previous = SelectObject(copy, bitmap);
    BitBlt(copy, 0, 0, width, height, dc, left, top, SRCCOPY);
    std::vector<COLORREF> result;
    result.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            result.push_back(GetPixel(copy, x, y));
    SelectObject(copy, previous);
    DeleteDC(copy);
    DeleteObject(bitmap);
    return result;
}

bool Exited(const Program& program)
{
    return program.process && WaitForSingleObject(program.process, 0) == WAIT_OBJECT_0;
}
}  // namespace

std::string BinDirectory()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path);
    return text.substr(0, text.find_last_of('\\') + 1);
}

std::string MakeTempDirectory(const std::string& prefix)
{
    char base[MAX_PATH] = "";
    GetTempPathA(sizeof base, base);
    for (unsigned attempt = 0;; ++attempt) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%s%s-%lu-%u", base, prefix.c_str(), GetCurrentProcessId(), attempt);
        if (CreateDirectoryA(name, nullptr))
            return name;
    }
}

void RemoveDirectoryTree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string full = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryTree(full);
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

namespace {
// Every option at its initial value but the view: the tests read a page pixel for pixel
// from the window's corner, where Actual Size draws it.
void StartWithInitialOptionsAtActualSize()
{
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Pagorex");
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Pagorex", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    const DWORD actualSize = 2;
    RegSetValueExA(key, "ViewMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&actualSize), sizeof actualSize);
    RegCloseKey(key);
}
}  // namespace

bool Start(Program& program, const std::string& exe, const std::string& commandLine, const std::string& workingDirectory,
           bool keepOptions)
{
    ReadInDisplayPixels();
    if (!keepOptions)
        StartWithInitialOptionsAtActualSize();
    std::string line = "\"" + exe + "\" " + commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // Wine once refused a start right after the last run ended: it is tried again until it
    // is accepted, for up to 2 s; a later try hides nothing of the program.
    const char* directory = workingDirectory.empty() ? nullptr : workingDirectory.c_str();
    for (DWORD start = GetTickCount(); !CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                                       directory, &startup, &info);
         Sleep(50)) {
        std::fprintf(stderr, "CreateProcess %s failed, error %lu\n", exe.c_str(), GetLastError());
        if (GetTickCount() - start > 2000)
            return false;
    }
    CloseHandle(info.hThread);
    program.process = info.hProcess;
    program.processId = info.dwProcessId;
    program.window = nullptr;
    return true;
}

HWND WaitForWindow(Program& program, const char* className, DWORD timeoutMs, DWORD pollMs)
{
    DWORD start = GetTickCount();
    do {
        if (HWND window = FindProcessWindow(program.processId, className))
            return window;
        if (Exited(program))
            return nullptr;
        Sleep(pollMs);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

bool WaitForMainWindow(Program& program, DWORD timeoutMs, DWORD pollMs)
{
    program.window = WaitForWindow(program, "TW_App_MainWnd", timeoutMs, pollMs);
    return program.window != nullptr;
}

std::string Title(HWND window)
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

SIZE ClientSize(HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    return SIZE{client.right - client.left, client.bottom - client.top};
}

COLORREF Pixel(HWND window, int x, int y)
{
    HDC dc = GetDC(window);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

COLORREF WaitForPixel(HWND window, int x, int y, COLORREF colour, DWORD timeoutMs, DWORD pollMs)
{
    DWORD start = GetTickCount();
    COLORREF seen = Pixel(window, x, y);
    while (seen != colour && GetTickCount() - start < timeoutMs) {
        Sleep(pollMs);
        seen = Pixel(window, x, y);
    }
    return seen;
}

COLORREF SettledPixel(HWND window, int x, int y, DWORD timeoutMs)
{
    // The program has come back to taking messages, and what it left to paint is painted
    // now, on its own thread, before this returns.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored);
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    return Pixel(window, x, y);
}

std::vector<COLORREF> Pixels(HWND window, int width, int height, int left, int top)
{
    // Wine hands a paint to the display only when the program next waits with no events of
    // the display to handle; a title changed with the page brings such events, and what
    // was painted then stays unshown until the program takes another message. One sent
    // here is that message.
    DWORD_PTR ignored = 0;
    for (int i = 0; i < 3; ++i, Sleep(60))
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored);
    HDC dc = GetDC(window);
    std::vector<COLORREF> result = PixelsOf(dc, width, height, left, top);
    ReleaseDC(window, dc);
    return result;
}

std::vector<COLORREF> ScreenPixels(HWND window, int width, int height, int left, int top)
{
    POINT origin = {left, top};
    ClientToScreen(window, &origin);
    HDC screen = GetDC(nullptr);
    std::vector<COLORREF> result = PixelsOf(screen, width, height, origin.x, origin.y);
    ReleaseDC(nullptr, screen);
    return result;
}

PendingCommand::PendingCommand(HWND window, int command) : window_(window), command_(command)
{
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

PendingCommand::~PendingCommand()
{
    if (thread_) {
        WaitForSingleObject(thread_, 30000);
        CloseHandle(thread_);
    }
}

DWORD WINAPI PendingCommand::Run(void* self)
{
    auto* pending = static_cast<PendingCommand*>(self);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(pending->window_, WM_COMMAND, static_cast<WPARAM>(pending->command_), 0, SMTO_NORMAL,
                        120000, &result);
    return 0;
}

bool PendingCommand::Wait(DWORD timeoutMs)
{
    return thread_ && WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0;
}

bool Command(HWND window, int command, DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_COMMAND, static_cast<WPARAM>(command), 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

void PostCommand(HWND window, int command)
{
    PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(command), 0);
}

void Close(HWND window)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
}

MessageBoxInfo WaitForMessageBox(const Program& program, DWORD timeoutMs, HWND except)
{
    MessageBoxInfo info;
    DWORD start = GetTickCount();
    do {
        if (HWND box = FindProcessWindow(program.processId, "#32770", except)) {
            info.window = box;
            info.caption = Title(box);
            // A message box shows its text in the static control 0xFFFF.
            info.text = DialogItemText(box, 0xFFFF);
            return info;
        }
        if (Exited(program))
            break;
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return info;
}

bool PressButton(HWND dialog, int buttonId)
{
    HWND button = GetDlgItem(dialog, buttonId);
    if (!button)
        return false;
    PostMessageA(button, BM_CLICK, 0, 0);
    return true;
}

std::string DialogItemText(HWND dialog, int itemId)
{
    HWND item = GetDlgItem(dialog, itemId);
    if (!item)
        return {};
    return Title(item);
}

int WaitForExit(Program& program, DWORD timeoutMs)
{
    if (!program.process || WaitForSingleObject(program.process, timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(program.process, &code);
    return static_cast<int>(code);
}

void Kill(Program& program)
{
    if (program.process && !Exited(program)) {
        TerminateProcess(program.process, 99);
        WaitForSingleObject(program.process, 10000);
    }
}

void Release(Program& program)
{
    Kill(program);
    if (program.process)
        CloseHandle(program.process);
    program = Program{};
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<unsigned char> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace driver

namespace driver {
bool AnswerFileDialog(HWND dialog, const std::string& fileName)
{
    if (fileName.empty())
        return PressButton(dialog, IDCANCEL);
    // The file name box is the combo box cmb13 (its edit inside) or, in older layouts, edt1.
    HWND box = GetDlgItem(dialog, 0x47C);
    if (box) {
        if (HWND edit = FindWindowExA(box, nullptr, "Edit", nullptr))
            box = edit;
    } else {
        box = GetDlgItem(dialog, 0x480);
    }
    if (!box)
        return false;
    SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(fileName.c_str()));
    return PressButton(dialog, IDOK);
}

std::string UnixPath(const std::string& windowsPath)
{
    using ToUnix = char*(CDECL*)(const WCHAR*);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        return "";
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH);
    char* unix = toUnix(wide);
    if (!unix)
        return "";
    std::string path = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return path;
}

}  // namespace driver
