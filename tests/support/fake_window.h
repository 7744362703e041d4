// Link-time fakes of the window-manager calls the playback makes:
// PostMessageA, InvalidateRect and GetScrollPos record each call; the scroll
// positions are set here.
#pragma once

#include <windows.h>

struct FakeWindowManager {
    int scrollPosition[2];  // by bar: SB_HORZ (0), SB_VERT (1)
};

extern FakeWindowManager fakeWindow;

// Both scroll positions 0.
void ResetFakeWindow();
