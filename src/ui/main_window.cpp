#include "ui/main_window.h"

#include <mmsystem.h>

#include "gif/gif_animation.h"
#include "imaging/display_palette.h"
#include "resources/resource_ids.h"
#include "ui/about_dialog.h"
#include "ui/frame_scheduler.h"
#include "ui/sound_player.h"

namespace {

const char mainWindowClassName[] = "PavolinMainWin";
const char mainWindowTitle[] = "Vantrel Animation Player";
const DWORD mainWindowStyle = WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_HSCROLL;

const int lineStep = 10;   // canvas pixels per arrow click
const int pageStep = 100;  // canvas pixels per click beside the thumb

// Frame, caption and one-line menu bar around the client area; scroll bars
// are not counted, so a window of this much more than the canvas fits it.
int FrameWidth()
{
    return 2 * GetSystemMetrics(SM_CXFRAME);
}

int FrameHeight()
{
    return 2 * GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) +
           GetSystemMetrics(SM_CYMENU);
}

// WM_SIZE. The space is measured from the outer rectangle rather than taken
// from the message, so that it does not change as the bars come and go.
void UpdateScrollLimits(HWND window)
{
    RECT outer;
    GetWindowRect(window, &outer);
    const int availableWidth = (outer.right - outer.left) - FrameWidth();
    const int availableHeight = (outer.bottom - outer.top) - FrameHeight();
    if (animation.width > availableWidth || animation.height > availableHeight) {
        // Each bar takes room from the other direction, so each limit grows
        // by the thickness of the other bar.
        SetScrollLimit(window, SB_HORZ,
                       animation.width + GetSystemMetrics(SM_CXVSCROLL) - availableWidth);
        SetScrollLimit(window, SB_VERT,
                       animation.height + GetSystemMetrics(SM_CYHSCROLL) - availableHeight);
    } else {
        SetScrollLimit(window, SB_VERT, 0);
        SetScrollLimit(window, SB_HORZ, 0);
    }
    InvalidateRect(window, nullptr, TRUE);
}

int Clamp(int value, int low, int high)
{
    return value < low ? low : value > high ? high : value;
}

// A window larger than the work area of the monitor it opens on would leave
// its caption and frame out of reach: it is made as large as the work area
// allows and moved wholly inside, and the scroll bars reach the rest of the
// canvas. A window that fits keeps the size and place it was given.
void FitWorkArea(HWND window)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
        return;
    }
    const RECT& work = monitor.rcWork;
    RECT outer;
    GetWindowRect(window, &outer);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    const int workWidth = work.right - work.left;
    const int workHeight = work.bottom - work.top;
    if (width <= workWidth && height <= workHeight) {
        return;
    }
    const int fittedWidth = width < workWidth ? width : workWidth;
    const int fittedHeight = height < workHeight ? height : workHeight;
    MoveWindow(window, Clamp(outer.left, work.left, work.right - fittedWidth),
               Clamp(outer.top, work.top, work.bottom - fittedHeight), fittedWidth, fittedHeight,
               FALSE);
}

LRESULT OnCreate(HWND window)
{
    AdvanceFrame(window);
    PlayMidi(window);
    return 0;
}

LRESULT OnDestroy()
{
    CloseMidi();
    StopWave();
    CancelFrameTimer();
    PostQuitMessage(0);
    return 0;
}

LRESULT OnCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_FILE_EXIT:
        // Only ends the loop: the exit sequence after it does the cleaning up.
        PostQuitMessage(0);
        return 0;
    case IDM_HELP_ABOUT:
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUT), window, AboutDialogProc, 0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// A completed song starts again; a stopped, superseded or failed one does
// not, so closing the device at WM_DESTROY cannot restart it.
LRESULT OnMciNotify(HWND window, WPARAM code)
{
    if (code == MCI_NOTIFY_SUCCESSFUL) {
        CloseMidi();
        PlayMidi(window);
    }
    return 0;
}

}  // namespace

ATOM RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_APP_ICON));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDM_MAIN_MENU);
    windowClass.lpszClassName = mainWindowClassName;
    return RegisterClassA(&windowClass);
}

int CreateMainWindow(HINSTANCE instance, int showCommand)
{
    const int width = animation.width + FrameWidth();
    const int height = animation.height + FrameHeight();
    HWND window =
        CreateWindowExA(0, mainWindowClassName, mainWindowTitle, mainWindowStyle, CW_USEDEFAULT,
                        CW_USEDEFAULT, width, height, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 0;
    }
    FitWorkArea(window);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return 1;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_DESTROY:
        return OnDestroy();
    case WM_SIZE:
        UpdateScrollLimits(window);
        return 0;
    case WM_PAINT:
        PaintCanvas(window);
        return 0;
    case WM_COMMAND:
        return OnCommand(window, message, wParam, lParam);
    case WM_TIMER:
        AdvanceFrame(window);
        return 0;
    case WM_HSCROLL:
        HandleScroll(window, SB_HORZ, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_VSCROLL:
        HandleScroll(window, SB_VERT, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_QUERYNEWPALETTE:
        return RealizeForNewPalette(window);
    case WM_PALETTECHANGED:
        RealizeForPaletteChange(window);
        return 0;
    case MM_MCINOTIFY:
        return OnMciNotify(window, wParam);
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void SetScrollLimit(HWND window, int bar, int limit)
{
    if (limit < 0) {
        limit = 0;
    }
    if (GetScrollPos(window, bar) > limit) {
        SetScrollPos(window, bar, limit, FALSE);
    }
    SetScrollRange(window, bar, 0, limit, TRUE);
}

void HandleScroll(HWND window, int bar, int request, int thumbPosition)
{
    int minimum = 0;
    int maximum = 0;
    GetScrollRange(window, bar, &minimum, &maximum);
    const int position = GetScrollPos(window, bar);
    int newPosition;
    switch (request) {
    case SB_LINEUP:
        newPosition = position - lineStep;
        break;
    case SB_LINEDOWN:
        newPosition = position + lineStep;
        break;
    case SB_PAGEUP:
        newPosition = position - pageStep;
        break;
    case SB_PAGEDOWN:
        newPosition = position + pageStep;
        break;
    case SB_THUMBPOSITION:
        newPosition = thumbPosition;
        break;
    case SB_TOP:
        newPosition = minimum;
        break;
    case SB_BOTTOM:
        newPosition = maximum;
        break;
    default:
        // Thumb tracking, end of scrolling and unknown codes: the picture
        // moves only when the thumb is released.
        return;
    }
    // The bar holds the position within its range, so no clamping here.
    SetScrollPos(window, bar, newPosition, TRUE);
    InvalidateRect(window, nullptr, TRUE);
}
