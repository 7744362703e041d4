// What the main window's test links in place of the rest of the program.
// The frame scheduler, sound playback and display palette are replaced by
// stand-ins, and the window-manager calls the window makes by recorders that
// pass each call on to the real function. Every call lands in one call log
// (support/call_log.h), so a test sees what ran and in what order:
//   "AdvanceFrame(0x1234)", "SetScrollPos(SB_HORZ, 25, FALSE)",
//   "SetScrollRange(SB_VERT, 0, 17, TRUE)", "InvalidateRect(all, TRUE)", ...
// The real calls are made, so the window really registers, opens and
// scrolls.
#pragma once

#include <string>

#include <windows.h>

// What the stand-in of RealizeForNewPalette returns.
const LRESULT fakeMappedEntries = 42;

// Arguments of the last RegisterClassA, CreateWindowExA and DialogBoxParamA
// calls, copied before they were passed on.
struct RecordedWindowCalls {
    WNDCLASSA windowClass;
    std::string className;  // of the registered class
    DWORD extendedStyle;
    std::string createdClass;
    std::string createdTitle;
    DWORD style;
    int x, y, width, height;
    HWND parent;
    HMENU menu;
    HINSTANCE createdInstance;
    void* creationParameter;
    HWND createdWindow;  // what CreateWindowExA returned
    HINSTANCE dialogInstance;
    const char* dialogTemplate;
    HWND dialogOwner;
    DLGPROC dialogProcedure;
    LPARAM dialogParameter;
};

extern RecordedWindowCalls recordedWindow;

// A window handle as the call log writes it.
std::string HandleText(HWND window);
