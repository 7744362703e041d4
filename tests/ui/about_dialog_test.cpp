// The About dialog built from its template and run modally, closed each of
// the ways a person closes it, and what it shows.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dialog_watch.h"
#include "resources/about_texts.h"
#include "resources/resource_ids.h"
#include "ui/about_dialog.h"

namespace {

INT_PTR RunAbout() {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), nullptr,
                           AboutDialogProc, 0);
}

enum class CloseBy { OkButton, EnterKey, EscapeKey, CloseBox };

const char* const closeNames[] = {"OkButton", "EnterKey", "EscapeKey", "CloseBox"};

// Filled while the dialog is open.
struct Seen {
    HWND okButton;
    HWND firstTabStop;
    bool foreground;  // the dialog stayed the foreground window while looked at
    HWND focus;
    std::vector<INT_PTR> otherCommandResults;
    bool openAfterOtherCommands;
};

CloseBy closeBy;
Seen seen;

// A key goes where the focus is. With the dialog in the background there
// is no focus, and the key is given to the dialog itself, so the dialog
// manager still sees it.
HWND KeyTarget(HWND dialog) {
    HWND focus = GetFocus();
    return focus != nullptr && (focus == dialog || IsChild(dialog, focus)) ? focus : dialog;
}

void Close(HWND dialog) {
    switch (closeBy) {
    case CloseBy::OkButton:
        PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        break;
    case CloseBy::EnterKey:
        PostMessageA(KeyTarget(dialog), WM_KEYDOWN, VK_RETURN, 0);
        break;
    case CloseBy::EscapeKey:
        PostMessageA(KeyTarget(dialog), WM_KEYDOWN, VK_ESCAPE, 0);
        break;
    case CloseBy::CloseBox:
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
}

void InspectAndClose(HWND dialog) {
    // Only the foreground thread has a focus window; another program's
    // window coming up at the same time takes it away, so the focus is
    // compared only while the dialog is in front.
    seen.okButton = GetDlgItem(dialog, IDOK);
    seen.firstTabStop = GetNextDlgTabItem(dialog, nullptr, FALSE);
    seen.foreground = GetForegroundWindow() == dialog;
    seen.focus = GetFocus();
    seen.foreground = seen.foreground && GetForegroundWindow() == dialog;
    for (WPARAM id : {0u, 3u, 1002u, 1003u, 0xFFFFu}) {
        seen.otherCommandResults.push_back(AboutDialogProc(dialog, WM_COMMAND, id, 0));
    }
    seen.openAfterOtherCommands = IsWindow(dialog) && IsWindowVisible(dialog);
    Close(dialog);
}

class AboutDialogClosing : public testing::TestWithParam<CloseBy> {};

TEST_P(AboutDialogClosing, EndsWithOne) {
    closeBy = GetParam();
    seen = Seen{};
    ASSERT_TRUE(StartDialogWatch(InspectAndClose));
    const INT_PTR result = RunAbout();
    HWND dialog = StopDialogWatch();
    ASSERT_NE(nullptr, dialog) << "the dialog never appeared; DialogBoxParamA gave " << result;
    EXPECT_FALSE(DialogWatchAbandoned()) << "the dialog did not close";
    EXPECT_EQ(1, result);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(seen.okButton, seen.firstTabStop) << "Ok is not the first tab stop";
    if (seen.foreground) {
        EXPECT_EQ(seen.okButton, seen.focus) << "focus is not on the Ok button";
    }
    EXPECT_EQ(std::vector<INT_PTR>(5, FALSE), seen.otherCommandResults);
    EXPECT_TRUE(seen.openAfterOtherCommands) << "a command other than Ok or Cancel closed it";
}

INSTANTIATE_TEST_SUITE_P(EveryWay, AboutDialogClosing,
                         testing::Values(CloseBy::OkButton, CloseBy::EnterKey,
                                         CloseBy::EscapeKey, CloseBy::CloseBox),
                         [](const testing::TestParamInfo<CloseBy>& info) {
                             return std::string(closeNames[static_cast<int>(info.param)]);
                         });

TEST(AboutDialogProc, LeavesEverythingElseToDialogManager) {
    for (UINT message : {UINT(WM_PAINT), UINT(WM_CLOSE), UINT(WM_KEYDOWN), UINT(WM_TIMER),
                         UINT(WM_SYSCOMMAND)}) {
        EXPECT_EQ(FALSE, AboutDialogProc(nullptr, message, IDOK, 0)) << "message " << message;
    }
    EXPECT_EQ(TRUE, AboutDialogProc(nullptr, WM_INITDIALOG, 0, 0));
}

// What the open dialog shows, control by control, in template order.
struct Shown {
    const char* className;
    const char* text;
    bool oneLine;  // a single line that must fit its box
};

const Shown shownControls[] = {
    {"Button", "Ok", false},
    {"Static", "AppIcon", false},
    {"Button", "Lumeroot", false},
    {"Static", "Version 1.0, Release B", false},
    {"Static", ABOUT_RIGHTS_TEXT, true},
    {"Static", ABOUT_TOWN_TEXT, true},
    {"Button", "", false},
    {"Static", "World Wide Web:", false},
    {"Static", ABOUT_WEB_TEXT, true},
    {"Static", "Sales Inquiry E-Mail:", false},
    {"Static", ABOUT_SALES_TEXT, true},
    {"Static", "Tech. Support E-Mail:", false},
    {"Static", ABOUT_SUPPORT_TEXT, true},
    {"Button", "", false},
    {"Static", ABOUT_NOTICE_TEXT, false},
};

const int noticeIndex = 14;

struct Layout {
    int controls;
    std::string mismatches;
    std::string overflows;
    HICON icon;
    std::string title;
    POINT centre;
};

Layout layout;

// Width and height that `text` takes in `control`'s font, wrapped at
// `wrapWidth` when that is not 0.
SIZE TextExtent(HWND control, const std::string& text, int wrapWidth) {
    HDC dc = GetDC(control);
    HGDIOBJ previous =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT box = {0, 0, wrapWidth, 0};
    const UINT wrap = wrapWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE;
    DrawTextA(dc, text.c_str(), -1, &box, DT_CALCRECT | DT_EXPANDTABS | wrap);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return SIZE{box.right - box.left, box.bottom - box.top};
}

void CheckFits(HWND control, int index, const std::string& text, bool wraps) {
    RECT client;
    GetClientRect(control, &client);
    const SIZE needed = TextExtent(control, text, wraps ? client.right : 0);
    if (needed.cx > client.right || needed.cy > client.bottom) {
        layout.overflows += "control " + std::to_string(index + 1) + " needs " +
                            std::to_string(needed.cx) + "x" + std::to_string(needed.cy) +
                            ", has " + std::to_string(client.right) + "x" +
                            std::to_string(client.bottom) + "; ";
    }
}

void ReadLayoutAndClose(HWND dialog) {
    char text[256] = {};
    GetWindowTextA(dialog, text, sizeof text);
    layout.title = text;
    RECT frame;
    GetWindowRect(dialog, &frame);
    layout.centre = POINT{(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2};
    int index = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT), ++index) {
        char className[32] = {};
        GetClassNameA(child, className, sizeof className);
        GetWindowTextA(child, text, sizeof text);
        if (index >= 15) {
            continue;
        }
        const Shown& want = shownControls[index];
        if (lstrcmpiA(className, want.className) != 0 || want.text != std::string(text)) {
            layout.mismatches += "control " + std::to_string(index + 1) + ": " + className +
                                 " \"" + text + "\"; ";
        }
        if (want.oneLine || index == noticeIndex) {
            CheckFits(child, index, text, index == noticeIndex);
        }
        if (index == 1) {
            layout.icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        }
    }
    layout.controls = index;
    EndDialog(dialog, 1);
}

class AboutDialogLayout : public testing::Test {
protected:
    static void SetUpTestSuite() {
        layout = Layout{};
        if (StartDialogWatch(ReadLayoutAndClose)) {
            RunAbout();
            opened = StopDialogWatch() != nullptr;
        }
    }

    void SetUp() override {
        ASSERT_TRUE(opened) << "the dialog never appeared";
    }

    static bool opened;
};

bool AboutDialogLayout::opened;

TEST_F(AboutDialogLayout, FifteenControlsInTemplateOrderWithTheirTexts) {
    EXPECT_EQ("About Lumeroot", layout.title);
    EXPECT_EQ(15, layout.controls);
    EXPECT_EQ("", layout.mismatches);
}

TEST_F(AboutDialogLayout, MakersLinesAndNoticeFitTheirBoxes) {
    EXPECT_EQ("", layout.overflows);
}

// Two sentences with two blanks after the first full stop.
TEST_F(AboutDialogLayout, NoticeIsTwoSentences) {
    const std::string notice = ABOUT_NOTICE_TEXT;
    const size_t stop = notice.find(".  ");
    ASSERT_NE(std::string::npos, stop) << notice;
    EXPECT_EQ(2, std::count(notice.begin(), notice.end(), '.')) << notice;
    EXPECT_EQ('.', notice.back()) << notice;
    EXPECT_NE(' ', notice[stop + 3]) << "more than two blanks: " << notice;
}

TEST_F(AboutDialogLayout, IconControlShowsNothing) {
    EXPECT_EQ(nullptr, layout.icon) << "no icon is named AppIcon, so none may show";
}

TEST_F(AboutDialogLayout, CentredInWorkArea) {
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((work.left + work.right) / 2, layout.centre.x, 2);
    EXPECT_NEAR((work.top + work.bottom) / 2, layout.centre.y, 2);
}

}  // namespace
