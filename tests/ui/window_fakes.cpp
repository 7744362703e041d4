#include "window_fakes.h"

#include "app/app.h"
#include "gif/gif_animation.h"
#include "imaging/display_palette.h"
#include "support/call_log.h"
#include "support/fake_import.h"
#include "ui/frame_scheduler.h"
#include "ui/sound_player.h"

RecordedWindowCalls recordedWindow;

HINSTANCE appInstance;
GifAnimation animation;

std::string HandleText(HWND window) {
    return Hex(reinterpret_cast<uintptr_t>(window));
}

void AdvanceFrame(HWND window) {
    RecordCall("AdvanceFrame(" + HandleText(window) + ")");
}

void CancelFrameTimer() {
    RecordCall("CancelFrameTimer");
}

void PlayMidi(HWND window) {
    RecordCall("PlayMidi(" + HandleText(window) + ")");
}

DWORD CloseMidi() {
    RecordCall("CloseMidi");
    return 0;
}

void StopWave() {
    RecordCall("StopWave");
}

// Paints nothing but validates, as the real painting does, so that the
// window does not ask for WM_PAINT again and again.
void PaintCanvas(HWND window) {
    RecordCall("PaintCanvas(" + HandleText(window) + ")");
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
}

LRESULT RealizeForNewPalette(HWND window) {
    RecordCall("RealizeForNewPalette(" + HandleText(window) + ")");
    return fakeMappedEntries;
}

LRESULT RealizeForPaletteChange(HWND window) {
    RecordCall("RealizeForPaletteChange(" + HandleText(window) + ")");
    return 0;
}

namespace {

template <typename Function>
Function RealUser32(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

// The real functions, found by name, since the imports now lead here.
const auto realRegisterClassA = RealUser32<decltype(&RegisterClassA)>("RegisterClassA");
const auto realCreateWindowExA = RealUser32<decltype(&CreateWindowExA)>("CreateWindowExA");
const auto realShowWindow = RealUser32<decltype(&ShowWindow)>("ShowWindow");
const auto realUpdateWindow = RealUser32<decltype(&UpdateWindow)>("UpdateWindow");
const auto realDialogBoxParamA = RealUser32<decltype(&DialogBoxParamA)>("DialogBoxParamA");
const auto realSetScrollPos = RealUser32<decltype(&SetScrollPos)>("SetScrollPos");
const auto realSetScrollRange = RealUser32<decltype(&SetScrollRange)>("SetScrollRange");
const auto realInvalidateRect = RealUser32<decltype(&InvalidateRect)>("InvalidateRect");
const auto realPostQuitMessage = RealUser32<decltype(&PostQuitMessage)>("PostQuitMessage");

std::string BoolText(BOOL value) {
    return value ? "TRUE" : "FALSE";
}

std::string BarText(int bar) {
    return bar == SB_HORZ ? "SB_HORZ" : bar == SB_VERT ? "SB_VERT" : std::to_string(bar);
}

std::string Text(const char* text) {
    if (IS_INTRESOURCE(text)) {
        return "#" + std::to_string(reinterpret_cast<uintptr_t>(text));
    }
    return text;
}

ATOM WINAPI RecordRegisterClassA(const WNDCLASSA* windowClass) {
    RecordCall("RegisterClassA(" + Text(windowClass->lpszClassName) + ")");
    recordedWindow.windowClass = *windowClass;
    recordedWindow.className = Text(windowClass->lpszClassName);
    return realRegisterClassA(windowClass);
}

HWND WINAPI RecordCreateWindowExA(DWORD extendedStyle, const char* className, const char* title,
                                  DWORD style, int x, int y, int width, int height, HWND parent,
                                  HMENU menu, HINSTANCE instance, void* parameter) {
    RecordCall("CreateWindowExA(" + Text(className) + ")");
    recordedWindow.extendedStyle = extendedStyle;
    recordedWindow.createdClass = Text(className);
    recordedWindow.createdTitle = Text(title);
    recordedWindow.style = style;
    recordedWindow.x = x;
    recordedWindow.y = y;
    recordedWindow.width = width;
    recordedWindow.height = height;
    recordedWindow.parent = parent;
    recordedWindow.menu = menu;
    recordedWindow.createdInstance = instance;
    recordedWindow.creationParameter = parameter;
    HWND window = realCreateWindowExA(extendedStyle, className, title, style, x, y, width,
                                      height, parent, menu, instance, parameter);
    recordedWindow.createdWindow = window;
    RecordCall("CreateWindowExA returned " + HandleText(window));
    return window;
}

BOOL WINAPI RecordShowWindow(HWND window, int showCommand) {
    RecordCall("ShowWindow(" + HandleText(window) + ", " + std::to_string(showCommand) + ")");
    return realShowWindow(window, showCommand);
}

BOOL WINAPI RecordUpdateWindow(HWND window) {
    RecordCall("UpdateWindow(" + HandleText(window) + ")");
    return realUpdateWindow(window);
}

INT_PTR WINAPI RecordDialogBoxParamA(HINSTANCE instance, const char* dialogTemplate, HWND owner,
                                     DLGPROC procedure, LPARAM parameter) {
    RecordCall("DialogBoxParamA(" + Text(dialogTemplate) + ", owner " + HandleText(owner) + ")");
    recordedWindow.dialogInstance = instance;
    recordedWindow.dialogTemplate = dialogTemplate;
    recordedWindow.dialogOwner = owner;
    recordedWindow.dialogProcedure = procedure;
    recordedWindow.dialogParameter = parameter;
    const INT_PTR result = realDialogBoxParamA(instance, dialogTemplate, owner, procedure,
                                               parameter);
    RecordCall("DialogBoxParamA returned " + std::to_string(result));
    return result;
}

int WINAPI RecordSetScrollPos(HWND window, int bar, int position, BOOL redraw) {
    RecordCall("SetScrollPos(" + BarText(bar) + ", " + std::to_string(position) + ", " +
               BoolText(redraw) + ")");
    return realSetScrollPos(window, bar, position, redraw);
}

BOOL WINAPI RecordSetScrollRange(HWND window, int bar, int minimum, int maximum, BOOL redraw) {
    RecordCall("SetScrollRange(" + BarText(bar) + ", " + std::to_string(minimum) + ", " +
               std::to_string(maximum) + ", " + BoolText(redraw) + ")");
    return realSetScrollRange(window, bar, minimum, maximum, redraw);
}

BOOL WINAPI RecordInvalidateRect(HWND window, const RECT* rect, BOOL erase) {
    RecordCall(std::string("InvalidateRect(") + (rect == nullptr ? "all" : "part") + ", " +
               BoolText(erase) + ")");
    return realInvalidateRect(window, rect, erase);
}

void WINAPI RecordPostQuitMessage(int exitCode) {
    RecordCall("PostQuitMessage(" + std::to_string(exitCode) + ")");
    realPostQuitMessage(exitCode);
}

}  // namespace

FAKE_IMPORT(RegisterClassA, 4, RecordRegisterClassA);
FAKE_IMPORT(CreateWindowExA, 48, RecordCreateWindowExA);
FAKE_IMPORT(ShowWindow, 8, RecordShowWindow);
FAKE_IMPORT(UpdateWindow, 4, RecordUpdateWindow);
FAKE_IMPORT(DialogBoxParamA, 20, RecordDialogBoxParamA);
FAKE_IMPORT(SetScrollPos, 16, RecordSetScrollPos);
FAKE_IMPORT(SetScrollRange, 20, RecordSetScrollRange);
FAKE_IMPORT(InvalidateRect, 12, RecordInvalidateRect);
FAKE_IMPORT(PostQuitMessage, 4, RecordPostQuitMessage);
