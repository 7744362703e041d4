// The main window: class "PavolinMainWin", sized to show the canvas exactly,
// with scroll bars when it is smaller, the menu, and the window procedure
// where timer, MCI, palette and paint messages meet.
#pragma once

#include "platform/win32.h"

// Registers the window class. Returns the class atom, 0 on failure.
ATOM RegisterMainWindowClass(HINSTANCE instance);

// Creates the window with a client area of the logical screen's size, then
// shows and paints it. Returns 1, or 0 when creation failed.
int CreateMainWindow(HINSTANCE instance, int showCommand);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sets a bar's range to 0..limit (negative limits become 0), first pulling a
// position beyond the limit back to it.
void SetScrollLimit(HWND window, int bar, int limit);

// Moves a bar for a scroll request: lines of 10, pages of 100, thumb
// position, top, bottom; thumb tracking and end-scroll change nothing.
void HandleScroll(HWND window, int bar, int request, int thumbPosition);
