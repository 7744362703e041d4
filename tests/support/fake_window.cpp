#include "support/fake_window.h"

#include <string>

#include "support/call_log.h"
#include "support/fake_import.h"

FakeWindowManager fakeWindow;

namespace {

std::string BoolText(BOOL value) { return value ? "TRUE" : "FALSE"; }

std::string RectText(const RECT* rect)
{
    if (!rect)
        return "null";
    return "{" + std::to_string(rect->left) + ", " + std::to_string(rect->top) + ", " +
           std::to_string(rect->right) + ", " + std::to_string(rect->bottom) + "}";
}

std::string BarName(int bar)
{
    if (bar == SB_HORZ)
        return "SB_HORZ";
    if (bar == SB_VERT)
        return "SB_VERT";
    return std::to_string(bar);
}

BOOL WINAPI FakePostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    RecordCall("PostMessageA(" + Hex(window) + ", " + Hex(message) + ", " + Hex(wParam) + ", " +
               Hex(static_cast<uintptr_t>(lParam)) + ")");
    return TRUE;
}

BOOL WINAPI FakeInvalidateRect(HWND window, const RECT* rect, BOOL erase)
{
    RecordCall("InvalidateRect(" + Hex(window) + ", " + RectText(rect) + ", " + BoolText(erase) +
               ")");
    return TRUE;
}

int WINAPI FakeGetScrollPos(HWND window, int bar)
{
    RecordCall("GetScrollPos(" + Hex(window) + ", " + BarName(bar) + ")");
    if (bar == SB_HORZ || bar == SB_VERT)
        return fakeWindow.scrollPosition[bar];
    return 0;
}

}  // namespace

FAKE_IMPORT(PostMessageA, 16, FakePostMessageA);
FAKE_IMPORT(InvalidateRect, 12, FakeInvalidateRect);
FAKE_IMPORT(GetScrollPos, 8, FakeGetScrollPos);

void ResetFakeWindow() { fakeWindow = FakeWindowManager{{0, 0}}; }
