#include "dialog_watch.h"

namespace {

struct DialogWatch {
    UINT_PTR timer;
    void (*onOpen)(HWND dialog);
    DWORD startTicks;
    DWORD limitMs;
    HWND seen;
    bool abandoned;
};

DialogWatch watch;

BOOL CALLBACK TakeIfDialog(HWND window, LPARAM found) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "#32770") != 0) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void CALLBACK WatchTick(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = FindThreadDialog();
    if (dialog == nullptr) {
        return;
    }
    if (watch.seen == nullptr) {
        watch.seen = dialog;
        watch.onOpen(dialog);
        return;
    }
    if (GetTickCount() - watch.startTicks > watch.limitMs) {
        watch.abandoned = true;
        EndDialog(dialog, abandonedDialogResult);
    }
}

}  // namespace

HWND FindThreadDialog() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), TakeIfDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool StartDialogWatch(void (*onOpen)(HWND dialog), DWORD limitMs) {
    watch = DialogWatch{};
    watch.onOpen = onOpen;
    watch.limitMs = limitMs;
    watch.startTicks = GetTickCount();
    watch.timer = SetTimer(nullptr, 0, 10, WatchTick);
    return watch.timer != 0;
}

HWND StopDialogWatch() {
    KillTimer(nullptr, watch.timer);
    watch.timer = 0;
    return watch.seen;
}

bool DialogWatchAbandoned() {
    return watch.abandoned;
}
