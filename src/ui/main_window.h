// The main window: class "PavolinMainWin", sized to show the canvas exactly,
// with scroll bars when it is smaller, the menu, and the window procedure
// where timer, MCI, palette and paint messages meet. The window handle is
// kept nowhere: handlers receive it as the procedure's first argument.
#pragma once

#include "platform/win32.h"

// The program's instance, set by WinMain before the window class is
// registered; the About dialog and the icon are loaded from it.
extern HINSTANCE appInstance;

// Registers the window class with `instance`, icon 101 and menu 1000 of
// appInstance. Returns the class atom, 0 on failure.
ATOM RegisterMainWindowClass(HINSTANCE instance);

// Creates the window with a client area of the logical screen's size (its
// WM_CREATE shows frame 0 and starts the music), then shows it with
// `showCommand` and paints it. Returns 1, or 0 when creation failed.
int CreateMainWindow(HINSTANCE instance, int showCommand);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sets bar SB_HORZ or SB_VERT to the range 0..limit (negative limits become
// 0, which hides the bar), first pulling a position beyond the limit back to
// it.
void SetScrollLimit(HWND window, int bar, int limit);

// Moves bar SB_HORZ or SB_VERT for a scroll request (the SB_* code):
// lines of 10 and pages of 100 canvas pixels, the thumb position, top,
// bottom; then repaints the whole client area. Thumb tracking, end-scroll
// and unknown codes change nothing and repaint nothing.
void HandleScroll(HWND window, int bar, int request, int thumbPosition);
