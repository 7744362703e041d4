// The main window as the platform really runs it: a visible window of the
// program's class, with its real scroll bars, menu and dialog resources
// (linked into this test). The other modules are stand-ins, and the window
// manager calls the window makes are recorded on their way to the system
// (window_fakes.h), so each test checks both what a person would see and
// what the window asked for, in order.

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/win32.h"

#include <mmsystem.h>

#include "dialog_watch.h"
#include "gif/gif_animation.h"
#include "resources/resource_ids.h"
#include "support/call_log.h"
#include "ui/about_dialog.h"
#include "ui/main_window.h"
#include "window_fakes.h"

namespace {

using Calls = std::vector<std::string>;

const int canvasWidth = 300;
const int canvasHeight = 200;

struct Range {
    int minimum;
    int maximum;
};

Range ScrollRange(HWND window, int bar) {
    Range range = {-1, -1};
    GetScrollRange(window, bar, &range.minimum, &range.maximum);
    return range;
}

SIZE ClientSize(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    return SIZE{client.right - client.left, client.bottom - client.top};
}

SIZE OuterSize(HWND window) {
    RECT outer;
    GetWindowRect(window, &outer);
    return SIZE{outer.right - outer.left, outer.bottom - outer.top};
}

bool BarShown(HWND window, int bar) {
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    return (style & (bar == SB_HORZ ? WS_HSCROLL : WS_VSCROLL)) != 0;
}

// The extra height and width of a window over its canvas: frame, caption
// and one menu line.
int FrameWidth() {
    return 2 * GetSystemMetrics(SM_CXFRAME);
}

int FrameHeight() {
    return 2 * GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) +
           GetSystemMetrics(SM_CYMENU);
}

void Resize(HWND window, int width, int height) {
    SetWindowPos(window, nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Dispatches what is queued, leaving WM_QUIT in place for the test to see.
// Bounded, so a window that keeps asking for paint fails instead of hanging.
void PumpMessages() {
    MSG message;
    for (int handled = 0; handled < 10000; ++handled) {
        if (!PeekMessageA(&message, nullptr, 0, WM_QUIT - 1, PM_REMOVE) &&
            !PeekMessageA(&message, nullptr, WM_QUIT + 1, 0xFFFFFFFF, PM_REMOVE)) {
            return;
        }
        DispatchMessageA(&message);
    }
    ADD_FAILURE() << "the message queue never ran dry";
}

// Takes a pending WM_QUIT off the queue; returns whether there was one.
bool TakeQuit(WPARAM* exitCode) {
    MSG message;
    if (!PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        return false;
    }
    *exitCode = message.wParam;
    return true;
}

// The first `count` lines of `calls` (all of them when there are fewer).
Calls FirstOf(const Calls& calls, size_t count) {
    return Calls(calls.begin(), calls.begin() + std::min(count, calls.size()));
}

std::string ScrollRangeCall(int bar, int maximum) {
    return std::string("SetScrollRange(") + (bar == SB_HORZ ? "SB_HORZ" : "SB_VERT") + ", 0, " +
           std::to_string(maximum) + ", TRUE)";
}

std::string ScrollPosCall(int bar, int position, bool redraw) {
    return std::string("SetScrollPos(") + (bar == SB_HORZ ? "SB_HORZ" : "SB_VERT") + ", " +
           std::to_string(position) + (redraw ? ", TRUE)" : ", FALSE)");
}

const char wholeClientRepaint[] = "InvalidateRect(all, TRUE)";

class MainWindow : public testing::Test {
protected:
    static void SetUpTestSuite() {
        appInstance = GetModuleHandleA(nullptr);
        ClearRecordedCalls();
        classAtom = RegisterMainWindowClass(appInstance);
        registeredClass = recordedWindow.windowClass;
    }

    void SetUp() override {
        ASSERT_NE(0, classAtom) << "the window class did not register";
        animation.width = canvasWidth;
        animation.height = canvasHeight;
        ClearRecordedCalls();
        recordedWindow.createdWindow = nullptr;
        ASSERT_EQ(1, CreateMainWindow(appInstance, SW_SHOWNOACTIVATE));
        creationCalls = RecordedCalls();
        window = recordedWindow.createdWindow;
        ASSERT_TRUE(IsWindow(window));
        PumpMessages();
        createdSize = OuterSize(window);
        ClearRecordedCalls();
    }

    void TearDown() override {
        if (window != nullptr && IsWindow(window)) {
            DestroyWindow(window);
        }
        WPARAM ignored;
        while (TakeQuit(&ignored)) {
        }
    }

    // Makes the window smaller than the canvas by dx, dy, from its created
    // size, and dispatches what that causes.
    void ShrinkBy(int dx, int dy) {
        Resize(window, createdSize.cx - dx, createdSize.cy - dy);
        PumpMessages();
    }

    // The scroll-bar calls recorded since the log was last cleared.
    static Calls ScrollCalls() {
        return RecordedCallsOf({"SetScrollPos", "SetScrollRange"});
    }

    std::string Handle() const {
        return HandleText(window);
    }

    static ATOM classAtom;
    static WNDCLASSA registeredClass;

    HWND window = nullptr;
    SIZE createdSize = {};
    Calls creationCalls;
};

ATOM MainWindow::classAtom;
WNDCLASSA MainWindow::registeredClass;

TEST_F(MainWindow, RegistersClassWithIconCursorBrushAndMenu) {
    EXPECT_EQ(0u, registeredClass.style) << "no CS_HREDRAW or CS_VREDRAW";
    EXPECT_EQ(&MainWindowProc, registeredClass.lpfnWndProc);
    EXPECT_EQ(0, registeredClass.cbClsExtra);
    EXPECT_EQ(0, registeredClass.cbWndExtra);
    EXPECT_EQ(appInstance, registeredClass.hInstance);
    EXPECT_EQ(LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_APP_ICON)), registeredClass.hIcon);
    EXPECT_NE(nullptr, registeredClass.hIcon) << "icon 101 not loaded";
    EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), registeredClass.hCursor);
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), registeredClass.hbrBackground);
    EXPECT_EQ(MAKEINTRESOURCEA(IDM_MAIN_MENU), registeredClass.lpszMenuName);
    EXPECT_STREQ("PavolinMainWin", registeredClass.lpszClassName);
}

TEST_F(MainWindow, CreatesWindowOfTheProgramsStyleAndSize) {
    EXPECT_EQ(0u, recordedWindow.extendedStyle);
    EXPECT_EQ("PavolinMainWin", recordedWindow.createdClass);
    EXPECT_EQ("Vantrel Animation Player", recordedWindow.createdTitle);
    EXPECT_EQ(0x00FF0000u, recordedWindow.style);
    EXPECT_EQ(static_cast<int>(CW_USEDEFAULT), recordedWindow.x);
    EXPECT_EQ(static_cast<int>(CW_USEDEFAULT), recordedWindow.y);
    EXPECT_EQ(canvasWidth + FrameWidth(), recordedWindow.width);
    EXPECT_EQ(canvasHeight + FrameHeight(), recordedWindow.height);
    EXPECT_EQ(nullptr, recordedWindow.parent);
    EXPECT_EQ(nullptr, recordedWindow.menu) << "the class menu is to be used";
    EXPECT_EQ(appInstance, recordedWindow.createdInstance);
    EXPECT_EQ(nullptr, recordedWindow.creationParameter);
    EXPECT_EQ(recordedWindow.width, createdSize.cx);
    EXPECT_EQ(recordedWindow.height, createdSize.cy);
}

// WM_CREATE shows frame 0 and starts the song before CreateWindowExA
// returns; then the window is shown as asked and painted at once.
TEST_F(MainWindow, CreationStepsToFirstFrameStartsSongThenShowsAndPaints) {
    const Calls expected = {
        "CreateWindowExA(PavolinMainWin)",
        "AdvanceFrame(" + Handle() + ")",
        "PlayMidi(" + Handle() + ")",
        "CreateWindowExA returned " + Handle(),
        "ShowWindow(" + Handle() + ", " + std::to_string(SW_SHOWNOACTIVATE) + ")",
        "UpdateWindow(" + Handle() + ")",
        "PaintCanvas(" + Handle() + ")",
    };
    const Calls chosen = CallsOf(creationCalls, {"CreateWindowExA", "AdvanceFrame", "PlayMidi",
                                                 "ShowWindow", "UpdateWindow", "PaintCanvas"});
    EXPECT_TRUE(CallsMatch(FirstOf(chosen, expected.size()), expected));
}

// An animation larger than the screen opens in a window that lies wholly in
// the work area, with both bars reaching the canvas's far corner.
TEST_F(MainWindow, LargerThanTheWorkAreaFitsInsideWithBars) {
    DestroyWindow(window);
    RECT work;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    animation.width = (work.right - work.left) + 500;
    animation.height = (work.bottom - work.top) + 300;
    ASSERT_EQ(1, CreateMainWindow(appInstance, SW_SHOWNOACTIVATE));
    window = recordedWindow.createdWindow;
    PumpMessages();
    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_GE(outer.left, work.left);
    EXPECT_GE(outer.top, work.top);
    EXPECT_LE(outer.right, work.right);
    EXPECT_LE(outer.bottom, work.bottom);
    EXPECT_TRUE(BarShown(window, SB_HORZ));
    EXPECT_TRUE(BarShown(window, SB_VERT));
    const SIZE client = ClientSize(window);
    EXPECT_EQ(animation.width - client.cx, ScrollRange(window, SB_HORZ).maximum);
    EXPECT_EQ(animation.height - client.cy, ScrollRange(window, SB_VERT).maximum);
}

TEST_F(MainWindow, FailedCreationReturnsZeroAndShowsNothing) {
    DestroyWindow(window);
    ASSERT_TRUE(UnregisterClassA("PavolinMainWin", appInstance));
    ClearRecordedCalls();
    EXPECT_EQ(0, CreateMainWindow(appInstance, SW_SHOWNOACTIVATE));
    EXPECT_TRUE(RecordedCallsOf({"ShowWindow", "UpdateWindow", "AdvanceFrame"}).empty());
    classAtom = RegisterMainWindowClass(appInstance);
    ASSERT_NE(0, classAtom);
}

TEST_F(MainWindow, ClientAreaIsTheLogicalScreenAndNoBarShows) {
    const SIZE client = ClientSize(window);
    EXPECT_EQ(canvasWidth, client.cx);
    EXPECT_EQ(canvasHeight, client.cy);
    EXPECT_FALSE(BarShown(window, SB_HORZ));
    EXPECT_FALSE(BarShown(window, SB_VERT));
    EXPECT_EQ(0, ScrollRange(window, SB_HORZ).maximum);
    EXPECT_EQ(0, ScrollRange(window, SB_VERT).maximum);
}

TEST_F(MainWindow, TitleIconAndMenuAsRegistered) {
    char text[64] = {};
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ("Vantrel Animation Player", text);
    GetClassNameA(window, text, sizeof text);
    EXPECT_STREQ("PavolinMainWin", text);
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_APP_ICON))),
              GetClassLongPtrA(window, GCLP_HICON));

    HMENU menu = GetMenu(window);
    ASSERT_NE(nullptr, menu) << "class menu 1000 not attached";
    ASSERT_EQ(2, GetMenuItemCount(menu));
    const struct {
        const char* popup;
        const char* item;
        UINT id;
    } popups[] = {{"&File", "E&xit", IDM_FILE_EXIT}, {"&Help", "&About", IDM_HELP_ABOUT}};
    for (int i = 0; i < 2; ++i) {
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(popups[i].popup, text);
        HMENU popup = GetSubMenu(menu, i);
        ASSERT_NE(nullptr, popup) << popups[i].popup << " is no popup";
        EXPECT_EQ(1, GetMenuItemCount(popup)) << popups[i].popup;
        GetMenuStringA(popup, 0, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(popups[i].item, text);
        EXPECT_EQ(popups[i].id, GetMenuItemID(popup, 0));
    }
}

// The handler measures the window itself rather than trusting the message:
// a WM_SIZE carrying a zero size at the created size still fits.
TEST_F(MainWindow, SizeAtCreatedSizeHidesBothBarsVerticalFirst) {
    EXPECT_EQ(0, SendMessageA(window, WM_SIZE, SIZE_RESTORED, 0));
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {ScrollRangeCall(SB_VERT, 0),
                                             ScrollRangeCall(SB_HORZ, 0), wholeClientRepaint}));
}

TEST_F(MainWindow, NarrowedByOnePixelShowsBothBars) {
    const int barWidth = GetSystemMetrics(SM_CXVSCROLL);
    const int barHeight = GetSystemMetrics(SM_CYHSCROLL);
    ShrinkBy(1, 0);
    EXPECT_EQ(1 + barWidth, ScrollRange(window, SB_HORZ).maximum);
    EXPECT_EQ(barHeight, ScrollRange(window, SB_VERT).maximum);
    EXPECT_EQ(0, ScrollRange(window, SB_HORZ).minimum);
    EXPECT_EQ(0, ScrollRange(window, SB_VERT).minimum);
    EXPECT_TRUE(BarShown(window, SB_HORZ));
    EXPECT_TRUE(BarShown(window, SB_VERT));
    // At the limits the canvas's far edges meet the client area's.
    const SIZE client = ClientSize(window);
    EXPECT_EQ(canvasWidth - 1 - barWidth, client.cx);
    EXPECT_EQ(canvasHeight - barHeight, client.cy);
}

// With both bars already shown no bar comes or goes, so the handler runs
// once, not again from inside itself for the client area the bars changed.
TEST_F(MainWindow, SizeTooSmallSetsHorizontalLimitThenVertical) {
    ShrinkBy(1, 0);
    ClearRecordedCalls();
    EXPECT_EQ(0, SendMessageA(window, WM_SIZE, SIZE_RESTORED, 0));
    EXPECT_TRUE(CallsMatch(RecordedCalls(),
                           {ScrollRangeCall(SB_HORZ, 1 + GetSystemMetrics(SM_CXVSCROLL)),
                            ScrollRangeCall(SB_VERT, GetSystemMetrics(SM_CYHSCROLL)),
                            wholeClientRepaint}));
}

// Hiding the vertical bar widens the client area, and the WM_SIZE that
// causes runs the handler again from inside the first SetScrollRange; the
// first two calls are the outer handler's own.
TEST_F(MainWindow, EnlargingPullsPositionsBackThenHidesBars) {
    ShrinkBy(150, 120);
    SetScrollPos(window, SB_HORZ, 60, TRUE);
    SetScrollPos(window, SB_VERT, 30, TRUE);
    ASSERT_EQ(60, GetScrollPos(window, SB_HORZ));
    ASSERT_EQ(30, GetScrollPos(window, SB_VERT));
    ClearRecordedCalls();
    Resize(window, createdSize.cx + 40, createdSize.cy + 30);
    PumpMessages();
    EXPECT_TRUE(CallsMatch(FirstOf(ScrollCalls(), 2),
                           {ScrollPosCall(SB_VERT, 0, false), ScrollRangeCall(SB_VERT, 0)}));
    EXPECT_EQ(1u, RecordedCallsOf({"SetScrollPos(SB_HORZ, 0, FALSE)"}).size());
    EXPECT_FALSE(BarShown(window, SB_HORZ));
    EXPECT_FALSE(BarShown(window, SB_VERT));
    EXPECT_EQ(0, GetScrollPos(window, SB_HORZ));
    EXPECT_EQ(0, GetScrollPos(window, SB_VERT));
}

TEST_F(MainWindow, SizeChangeRepaintsWholeClientAreaWithErasing) {
    ShrinkBy(0, 30);
    EXPECT_NE(0u, RecordedCallsOf({wholeClientRepaint}).size());
    EXPECT_NE(0u, RecordedCallsOf({"PaintCanvas"}).size()) << "the repaint never happened";
    RECT update;
    EXPECT_FALSE(GetUpdateRect(window, &update, FALSE));
}

TEST_F(MainWindow, TooShortOnlyStillSetsBothBars) {
    ShrinkBy(0, 30);
    EXPECT_EQ(GetSystemMetrics(SM_CXVSCROLL), ScrollRange(window, SB_HORZ).maximum);
    EXPECT_EQ(30 + GetSystemMetrics(SM_CYHSCROLL), ScrollRange(window, SB_VERT).maximum);
}

// Scroll position 40 on a bar whose limit shrinks to 25: the position is
// pulled back, without redrawing, before the range is narrowed.
TEST_F(MainWindow, ShrinkingLimitPullsPositionBackFirst) {
    const int barWidth = GetSystemMetrics(SM_CXVSCROLL);
    ShrinkBy(40 - barWidth, 0);
    ASSERT_EQ(40, ScrollRange(window, SB_HORZ).maximum);
    SetScrollPos(window, SB_HORZ, 40, TRUE);
    ClearRecordedCalls();
    ShrinkBy(25 - barWidth, 0);
    EXPECT_TRUE(CallsMatch(FirstOf(ScrollCalls(), 2),
                           {ScrollPosCall(SB_HORZ, 25, false), ScrollRangeCall(SB_HORZ, 25)}));
    EXPECT_EQ(25, ScrollRange(window, SB_HORZ).maximum);
    EXPECT_EQ(25, GetScrollPos(window, SB_HORZ));
}

TEST_F(MainWindow, WiderButTooShortHidesOnlyHorizontalBar) {
    ShrinkBy(-50, 30);
    EXPECT_EQ(0, ScrollRange(window, SB_HORZ).maximum) << "negative limit not made 0";
    EXPECT_FALSE(BarShown(window, SB_HORZ));
    EXPECT_EQ(30 + GetSystemMetrics(SM_CYHSCROLL), ScrollRange(window, SB_VERT).maximum);
    EXPECT_TRUE(BarShown(window, SB_VERT));
}

TEST_F(MainWindow, NegativeLimitBecomesZero) {
    SetScrollLimit(window, SB_HORZ, -7);
    EXPECT_TRUE(CallsMatch(ScrollCalls(), {ScrollRangeCall(SB_HORZ, 0)}));
}

struct ScrollCase {
    int start;
    WORD request;
    WORD thumb;
    int expected;
};

// Each bar has limit 250 here; the bar itself holds positions in range.
const ScrollCase scrollCases[] = {
    {50, SB_LINEDOWN, 0, 60},         {50, SB_LINEUP, 0, 40},
    {5, SB_LINEUP, 0, 0},             {245, SB_LINEDOWN, 0, 250},
    {50, SB_PAGEDOWN, 0, 150},        {150, SB_PAGEUP, 0, 50},
    {30, SB_PAGEUP, 0, 0},            {200, SB_PAGEDOWN, 0, 250},
    {50, SB_THUMBPOSITION, 123, 123}, {50, SB_THUMBPOSITION, 400, 250},
    {50, SB_TOP, 0, 0},               {50, SB_BOTTOM, 0, 250},
    {50, SB_THUMBTRACK, 123, 50},     {50, SB_ENDSCROLL, 0, 50},
    {50, 9, 0, 50},                   {50, 0xFFFF, 7, 50},
};

TEST_F(MainWindow, ScrollMessagesMoveEachBar) {
    animation.width = 700;
    animation.height = 600;
    const int width = 700 - 250 + GetSystemMetrics(SM_CXVSCROLL);
    const int height = 600 - 250 + GetSystemMetrics(SM_CYHSCROLL);
    Resize(window, width + FrameWidth(), height + FrameHeight());
    PumpMessages();
    ASSERT_EQ(250, ScrollRange(window, SB_HORZ).maximum);
    ASSERT_EQ(250, ScrollRange(window, SB_VERT).maximum);

    for (int bar : {SB_HORZ, SB_VERT}) {
        const UINT message = bar == SB_HORZ ? WM_HSCROLL : WM_VSCROLL;
        for (const ScrollCase& c : scrollCases) {
            SetScrollPos(window, bar, c.start, FALSE);
            SetScrollPos(window, 1 - bar, 77, FALSE);
            EXPECT_EQ(0, SendMessageA(window, message, MAKEWPARAM(c.request, c.thumb), 0));
            EXPECT_EQ(c.expected, GetScrollPos(window, bar))
                << "bar " << bar << ", request " << c.request << " from " << c.start
                << ", thumb " << c.thumb;
            EXPECT_EQ(77, GetScrollPos(window, 1 - bar)) << "the other bar moved";
        }
    }
}

TEST_F(MainWindow, ScrollRequestSetsPositionThenRepaintsWholeClientArea) {
    ShrinkBy(150, 120);
    SetScrollPos(window, SB_VERT, 20, TRUE);
    PumpMessages();
    ValidateRect(window, nullptr);
    ClearRecordedCalls();
    EXPECT_EQ(0, SendMessageA(window, WM_VSCROLL, SB_LINEDOWN, 0));
    EXPECT_TRUE(CallsMatch(ScrollCalls(), {ScrollPosCall(SB_VERT, 30, true)}));
    EXPECT_EQ(1u, RecordedCallsOf({wholeClientRepaint}).size());
    RECT update = {};
    ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
    RECT client;
    GetClientRect(window, &client);
    EXPECT_TRUE(EqualRect(&client, &update))
        << "update " << update.left << "," << update.top << "-" << update.right << ","
        << update.bottom << " against client " << client.right << "x" << client.bottom;
}

TEST_F(MainWindow, TrackingAndEndScrollNeitherMoveNorRepaint) {
    ShrinkBy(150, 120);
    SetScrollPos(window, SB_HORZ, 20, TRUE);
    PumpMessages();
    ValidateRect(window, nullptr);
    ClearRecordedCalls();
    for (WORD request : {WORD(SB_THUMBTRACK), WORD(SB_ENDSCROLL), WORD(8 + 5)}) {
        EXPECT_EQ(0, SendMessageA(window, WM_HSCROLL, MAKEWPARAM(request, 90), 0));
        RECT update;
        EXPECT_FALSE(GetUpdateRect(window, &update, FALSE)) << "request " << request;
        EXPECT_EQ(20, GetScrollPos(window, SB_HORZ)) << "request " << request;
    }
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {}));
}

TEST_F(MainWindow, TimerStepsOneFrame) {
    EXPECT_EQ(0, SendMessageA(window, WM_TIMER, 7, 0));
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {"AdvanceFrame(" + Handle() + ")"}));
}

TEST_F(MainWindow, SongStartsAgainOnlyAfterSuccessfulEnd) {
    for (WPARAM code : {MCI_NOTIFY_SUPERSEDED, MCI_NOTIFY_ABORTED, MCI_NOTIFY_FAILURE}) {
        EXPECT_EQ(0, SendMessageA(window, MM_MCINOTIFY, code, 3));
        EXPECT_TRUE(CallsMatch(RecordedCalls(), {})) << "notification code " << code;
    }
    EXPECT_EQ(0, SendMessageA(window, MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 3));
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {"CloseMidi", "PlayMidi(" + Handle() + ")"}));
}

TEST_F(MainWindow, PaletteMessagesGoToDisplayPalette) {
    EXPECT_EQ(fakeMappedEntries, SendMessageA(window, WM_QUERYNEWPALETTE, 0, 0));
    EXPECT_EQ(0, SendMessageA(window, WM_PALETTECHANGED, 0, 0));
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {"RealizeForNewPalette(" + Handle() + ")",
                                             "RealizeForPaletteChange(" + Handle() + ")"}));
}

// Keys and clicks in the client area are left to the default handling.
TEST_F(MainWindow, KeysAndClicksDoNothingOfTheirOwn) {
    SendMessageA(window, WM_KEYDOWN, VK_DOWN, 0);
    SendMessageA(window, WM_CHAR, 'x', 0);
    SendMessageA(window, WM_LBUTTONDOWN, 0, MAKELPARAM(10, 10));
    SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    SendMessageA(window, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0);
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {}));
    EXPECT_EQ(0, GetScrollPos(window, SB_VERT));
}

TEST_F(MainWindow, ExitOnlyPostsQuitWithZero) {
    EXPECT_EQ(0, SendMessageA(window, WM_COMMAND, IDM_FILE_EXIT, 0));
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {"PostQuitMessage(0)"}));
    WPARAM exitCode = 99;
    ASSERT_TRUE(TakeQuit(&exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(IsWindow(window)) << "Exit must leave the window to the exit sequence";
}

TEST_F(MainWindow, OtherCommandsChangeNothing) {
    for (WPARAM id : {0u, 1u, 1001u, 1004u, 1005u, 0x10000u + 1001u}) {
        EXPECT_EQ(0, SendMessageA(window, WM_COMMAND, id, 0)) << "id " << id;
    }
    WPARAM exitCode;
    EXPECT_FALSE(TakeQuit(&exitCode));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {}));
}

// The close box, the system menu's Close and Alt+F4 all arrive as SC_CLOSE.
TEST_F(MainWindow, CloseBoxStopsSoundAndTimerThenQuits) {
    SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(CallsMatch(RecordedCallsOf({"CloseMidi", "StopWave", "CancelFrameTimer",
                                            "PostQuitMessage", "PlayMidi", "AdvanceFrame"}),
                           {"CloseMidi", "StopWave", "CancelFrameTimer", "PostQuitMessage(0)"}));
    WPARAM exitCode = 99;
    ASSERT_TRUE(TakeQuit(&exitCode));
    EXPECT_EQ(0u, exitCode);
}

// Seen from inside the About dialog's modal loop.
struct AboutSeen {
    HWND mainWindow;
    HWND owner;
    bool ownerDisabled;
};

AboutSeen aboutSeen;

// Posts a frame tick and a song end to the main window, as the timer and the
// sequencer would, and only then Ok: the dialog's loop dispatches them in
// order, so both reach the window while the dialog is still open.
void TickAndCloseAbout(HWND dialog) {
    aboutSeen.owner = GetWindow(dialog, GW_OWNER);
    aboutSeen.ownerDisabled = !IsWindowEnabled(aboutSeen.mainWindow);
    RecordCall("dialog open");
    PostMessageA(aboutSeen.mainWindow, WM_TIMER, 1, 0);
    PostMessageA(aboutSeen.mainWindow, MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 1);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

TEST_F(MainWindow, AboutRunsModalDialogWhileAnimationAndSongGoOn) {
    aboutSeen = AboutSeen{window, nullptr, false};
    ASSERT_TRUE(StartDialogWatch(TickAndCloseAbout));
    const LRESULT result = SendMessageA(window, WM_COMMAND, IDM_HELP_ABOUT, 0);
    HWND dialog = StopDialogWatch();

    EXPECT_EQ(0, result);
    ASSERT_NE(nullptr, dialog) << "no About dialog appeared";
    EXPECT_FALSE(DialogWatchAbandoned()) << "Ok did not close the dialog";
    EXPECT_EQ(appInstance, recordedWindow.dialogInstance);
    EXPECT_EQ(MAKEINTRESOURCEA(IDD_ABOUT), recordedWindow.dialogTemplate);
    EXPECT_EQ(window, recordedWindow.dialogOwner);
    EXPECT_EQ(&AboutDialogProc, recordedWindow.dialogProcedure);
    EXPECT_EQ(0, recordedWindow.dialogParameter);
    EXPECT_EQ(window, aboutSeen.owner);
    EXPECT_TRUE(aboutSeen.ownerDisabled) << "the dialog was not modal";
    EXPECT_TRUE(CallsMatch(
        RecordedCallsOf({"DialogBoxParamA", "dialog open", "AdvanceFrame", "CloseMidi",
                         "PlayMidi"}),
        {"DialogBoxParamA(#1004, owner " + Handle() + ")", "dialog open",
         "AdvanceFrame(" + Handle() + ")", "CloseMidi", "PlayMidi(" + Handle() + ")",
         "DialogBoxParamA returned 1"}));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(IsWindowEnabled(window));
    WPARAM exitCode;
    EXPECT_FALSE(TakeQuit(&exitCode)) << "closing About must not end the program";
}

}  // namespace
