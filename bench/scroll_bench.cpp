// Scrolling an A4 page at 300 dpi, 24 bits, at actual size in the program's own window:
// 100 steps of the arrow keys (50 down, 50 up again), each drawn before the next, against
// 100 memcpys of the window's screenful of pixels. A step moves what is on the screen and
// draws the strip it uncovers; a page stored top-down is drawn from its upright copy, made
// once. Both pages are measured.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/view.h"
#include "bench/bench.h"
#include "bench/pages.h"
#include "support/driver.h"

namespace {
constexpr int kClientWidth = 1024, kClientHeight = 768;

void Pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

HGLOBAL HandleOf(const bench::Bytes& dib)
{
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, dib.size());
    if (handle) {
        std::memcpy(GlobalLock(handle), dib.data(), dib.size());
        GlobalUnlock(handle);
    }
    return handle;
}

// The same picture with its rows stored top-down.
bench::Bytes TopDown(const bench::Bytes& dib)
{
    bench::Bytes flipped = dib;
    int32_t height = 0;
    std::memcpy(&height, &dib[8], 4);
    const size_t rowBytes = (dib.size() - 40) / size_t(height);
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(&flipped[40 + size_t(y) * rowBytes], &dib[40 + size_t(height - 1 - y) * rowBytes], rowBytes);
    height = -height;
    std::memcpy(&flipped[8], &height, 4);
    return flipped;
}

void Steps(HWND window)
{
    for (UINT key : {VK_DOWN, VK_UP})
        for (int step = 0; step < 50; ++step) {
            SendMessageA(window, WM_KEYDOWN, key, 0);
            Pump();
        }
}

std::vector<bench::Row> Measure()
{
    std::vector<bench::Row> rows;
    const std::string scratch = driver::MakeTempDirectory("pgx-scroll");
    appInstance = GetModuleHandleA(nullptr);
    ParseCommandLine(("1 " + scratch + "\\none.db").c_str());
    if (!RegisterMainWindowClass(appInstance) || !CreateMainWindow(SW_SHOWNORMAL)) {
        bench::Note("scrolling: the main window could not be made (no display?)");
        return rows;
    }
    Pump();
    const bench::Bytes page = bench::A4PageDib();
    std::vector<std::uint8_t> screen(size_t(kClientWidth) * kClientHeight * 4), copy(screen.size());
    for (bool topDown : {false, true}) {
        ShowImage(mainWindow, HandleOf(topDown ? TopDown(page) : page));
        RECT frame = {0, 0, kClientWidth, kClientHeight};
        AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, TRUE);
        SetWindowPos(mainWindow, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER);
        UpdateWindow(mainWindow);
        Pump();
        const bench::Timing t = bench::BestOf([] { Steps(mainWindow); }, [&] {
            for (int i = 0; i < 100; ++i)
                std::memcpy(copy.data(), screen.data(), screen.size());
        });
        bench::Row row;
        row.name = topDown ? "100 scroll steps, A4 RGB stored top-down" : "100 scroll steps, A4 300 dpi RGB";
        row.seconds = t.seconds;
        row.reference = "100 memcpys of a screenful";
        row.referenceSeconds = t.referenceSeconds;
        row.goal = 3.0;
        rows.push_back(row);
    }
    RECT client;
    GetClientRect(mainWindow, &client);
    bench::Note("scrolling: a client area of " + std::to_string(client.right) + " x " + std::to_string(client.bottom) +
                " pixels, 40 pixels a step");
    DestroyWindow(mainWindow);
    Pump();
    driver::RemoveDirectoryTree(scratch);
    return rows;
}

const bool registered = bench::Register(Measure);

}  // namespace
