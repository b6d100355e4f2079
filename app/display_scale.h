#pragma once
// The program scales itself for the display (its manifest says so, per monitor): the page
// at actual size stays one image pixel per screen pixel at any scale, while what is given
// in pixels of a 96-dpi display (the first window's size) and the frame around the page
// grow with the scale of the display the window is on.

#include <windows.h>

constexpr UINT kUnscaledDpi = 96;
// WM_DPICHANGED: the window was moved to a display of another scale (Windows 8.1 on); the
// headers name it only for newer versions than the program is built for.
constexpr UINT kDpiChangedMessage = 0x02E0;

// Before the first window: the awareness the manifest asks for, where the system did not
// take it from there.
void TakeDisplayScaleFromManifest();
// The dots per inch of the display the window is on; with no window, of the screen the
// program starts on.
UINT WindowDpi(HWND window);
int ScaleForDpi(int pixelsAt96, UINT dpi);
// Resizes the window, keeping its place, so that its client area (inside any scroll
// bars) is width x height display pixels.
void SizeClientArea(HWND window, int width, int height);
// WM_DPICHANGED: the window takes the rectangle Windows suggests for the new display.
void FollowDpiChange(HWND window, const RECT& suggested);
