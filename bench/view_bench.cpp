// The view of an A4 page at 300 dpi, 24 bits, in the program's own window:
// - scrolling at actual size, 100 steps of the arrow keys (50 down, 50 up again), each drawn
//   before the next, the page stored bottom-up and top-down (drawn from its upright copy,
//   made once), against a minimal window of the bench's own that scrolls the same client
//   area by the same steps under the same Wine (ScrollWindowEx and a blit of the strip it
//   uncovers): SetScrollPos alone costs more than a copy of the pixels;
// - a repaint at Fit Page (the window uncovered) against a memcpy of the window's pixels
//   and against the minimal window's repaint;
// - a zoom step (from 25 to 33 %) against ImageMagick's -scale of the page to that size.
#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/view.h"
#include "bench/bench.h"
#include "bench/host_tools.h"
#include "bench/pages.h"
#include "resources/resource.h"
#include "support/driver.h"

namespace {
constexpr int kClientWidth = 1024, kClientHeight = 768, kStep = 40;
constexpr char kConvert[] = "/usr/bin/convert";

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

void SizeClient(HWND window)
{
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&frame, GetWindowLongA(window, GWL_STYLE), GetMenu(window) != nullptr);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
    UpdateWindow(window);
    Pump();
}

void Steps(HWND window)
{
    for (UINT key : {VK_DOWN, VK_UP})
        for (int step = 0; step < 50; ++step) {
            SendMessageA(window, WM_KEYDOWN, key, 0);
            Pump();
        }
}

// The least a window can do to scroll a page: its scroll bar's position set, what stays on
// the screen moved, and the strip it uncovers copied from the page's rows.
const bench::Bytes* minimalPage = nullptr;
int minimalOffset = 0;

LRESULT CALLBACK MinimalProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN && (wParam == VK_DOWN || wParam == VK_UP)) {
        const int step = wParam == VK_DOWN ? kStep : -kStep;
        minimalOffset += step;
        SetScrollPos(window, SB_VERT, minimalOffset, TRUE);
        ScrollWindowEx(window, 0, -step, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
        UpdateWindow(window);
        return 0;
    }
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        const auto* header = reinterpret_cast<const BITMAPINFO*>(minimalPage->data());
        const int height = header->bmiHeader.biHeight, top = paint.rcPaint.top + minimalOffset;
        const int rows = paint.rcPaint.bottom - paint.rcPaint.top;
        SetDIBitsToDevice(dc, 0, paint.rcPaint.top, kClientWidth, rows, 0, height - top - rows, 0, height,
                          minimalPage->data() + 40, header, DIB_RGB_COLORS);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MinimalWindow(const bench::Bytes& page)
{
    minimalPage = &page;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MinimalProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "PagorexBenchScroll";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "PagorexBenchScroll", "", WS_OVERLAPPEDWINDOW | WS_VSCROLL, 0, 0, 100, 100,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    SetScrollRange(window, SB_VERT, 0, 3508, FALSE);
    ShowWindow(window, SW_SHOWNORMAL);
    SizeClient(window);
    return window;
}

bench::Row ScrollRow(const bench::Bytes& page, bool topDown, HWND minimal)
{
    viewMode = kViewActualSize;
    ShowImage(mainWindow, HandleOf(topDown ? TopDown(page) : page));
    SizeClient(mainWindow);
    const bench::Timing t = bench::BestOf([] { Steps(mainWindow); }, [minimal] { Steps(minimal); });
    return {topDown ? "100 scroll steps, A4 RGB stored top-down" : "100 scroll steps, A4 300 dpi RGB", t.seconds,
            "the same in a minimal window", t.referenceSeconds, 1.5};
}

void Repaint(HWND window)
{
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
}

// A client area's worth of 32-bit rows, as a display takes them.
bench::Bytes ScreenDib()
{
    bench::Bytes dib(40 + size_t(kClientWidth) * kClientHeight * 4, 0x80);
    const int32_t header[] = {40, kClientWidth, kClientHeight};
    std::memcpy(dib.data(), header, sizeof header);
    const uint16_t planesAndBits[] = {1, 32};
    std::memcpy(&dib[12], planesAndBits, sizeof planesAndBits);
    std::memset(&dib[16], 0, 24);
    return dib;
}

// Against a memcpy of the window's pixels, and against the minimal window's repaint of the
// same client area from rows made for the screen: under Wine a paint hands what it drew to
// the display, which no window can avoid.
std::vector<bench::Row> RepaintRows(const bench::Bytes& page, HWND minimal)
{
    viewMode = kViewFitPage;
    ShowImage(mainWindow, HandleOf(page));
    SizeClient(mainWindow);
    std::vector<uint8_t> screen(size_t(kClientWidth) * kClientHeight * 4), copy(screen.size());
    const bench::Timing t = bench::BestOf([] { Repaint(mainWindow); },
                                          [&] { std::memcpy(copy.data(), screen.data(), screen.size()); });
    const bench::Bytes rows = ScreenDib();
    minimalPage = &rows;
    minimalOffset = 0;
    const bench::Timing m = bench::BestOf([] { Repaint(mainWindow); }, [minimal] { Repaint(minimal); });
    return {{"repaint at Fit Page, A4 300 dpi RGB", t.seconds, "memcpy of the window's pixels", t.referenceSeconds, 3.0},
            {"repaint at Fit Page, A4 300 dpi RGB", m.seconds, "a minimal window's repaint", m.referenceSeconds, 1.5}};
}

// From 25 to 33 %: the copy at the new size is made and drawn, as ImageMagick makes it.
std::vector<bench::Row> ZoomRows(const bench::Bytes& page, const std::string& scratch)
{
    if (GetFileAttributesA("Z:\\usr\\bin\\convert") == INVALID_FILE_ATTRIBUTES) {
        bench::Note("view: no ImageMagick at /usr/bin/convert, the zoom row left out");
        return {};
    }
    const bench::Bytes file = bench::BitmapFileOf(page);
    std::ofstream(scratch + "page.bmp", std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    viewMode = kViewZoom;
    zoomPercent = 33;
    UpdateViewScrollBars(mainWindow);
    const ViewGeometry g = CurrentViewGeometry(mainWindow);
    const std::string command = std::string(kConvert) + " '" + driver::UnixPath(scratch + "page.bmp") + "' -scale " +
                                std::to_string(g.width) + "x" + std::to_string(g.height) + "! '" +
                                driver::UnixPath(scratch + "small.bmp") + "'";
    const bench::Timing t = bench::BestOf(
        [] {
            zoomPercent = 25;
            ForgetScaledCopy();
            UpdateViewScrollBars(mainWindow);
            RunCommand(mainWindow, CMD_ZOOM_IN);
            UpdateWindow(mainWindow);
        },
        [&] { bench::TimeNativeCommand(command); });
    return {{"zoom step on A4 300 dpi RGB (25 to 33 %)", t.seconds, "convert -scale to the same size",
             t.referenceSeconds, 0.5}};
}

std::vector<bench::Row> Measure()
{
    std::vector<bench::Row> rows;
    const std::string scratch = driver::MakeTempDirectory("pgx-view") + "\\";
    appInstance = GetModuleHandleA(nullptr);
    ParseCommandLine(("1 " + scratch + "none.db").c_str());
    if (!RegisterMainWindowClass(appInstance) || !CreateMainWindow(SW_SHOWNORMAL)) {
        bench::Note("view: the main window could not be made (no display?)");
        return rows;
    }
    Pump();
    const bench::Bytes page = bench::A4PageDib();
    HWND minimal = MinimalWindow(page);
    for (bool topDown : {false, true})
        rows.push_back(ScrollRow(page, topDown, minimal));
    for (const bench::Row& row : RepaintRows(page, minimal))
        rows.push_back(row);
    DestroyWindow(minimal);
    for (const bench::Row& row : ZoomRows(page, scratch))
        rows.push_back(row);
    RECT client;
    GetClientRect(mainWindow, &client);
    bench::Note("view: a client area of " + std::to_string(client.right) + " x " + std::to_string(client.bottom) +
                " pixels, 40 pixels a scroll step");
    DestroyWindow(mainWindow);
    Pump();
    driver::RemoveDirectoryTree(scratch);
    return rows;
}

const bool registered = bench::Register(Measure, "view");

}  // namespace
