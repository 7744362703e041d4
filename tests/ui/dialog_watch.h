// Drives a modal dialog of this thread from inside its own message loop, so
// a test can look at the open dialog and close it. A thread timer does the
// work; it also ends a dialog left open too long, so a test whose closing
// step fails ends with a wrong result instead of hanging.
#pragma once

#include <windows.h>

// What EndDialog is given for a dialog the watch had to close itself.
const INT_PTR abandonedDialogResult = 0x7E57;

// The first dialog window (class "#32770") of this thread, or null.
HWND FindThreadDialog();

// Starts watching: every 10 ms the timer looks for a dialog of this thread
// and, the first time it finds one, calls `onOpen` with it. When a dialog is
// still open `limitMs` after the start, it is ended with
// abandonedDialogResult. Call before the modal call, StopDialogWatch after.
// Returns false when the timer could not be set: run no modal call then.
bool StartDialogWatch(void (*onOpen)(HWND dialog), DWORD limitMs = 3000);

// Kills the timer. Returns the dialog that was seen, or null.
HWND StopDialogWatch();

// Whether the watch had to end a dialog itself.
bool DialogWatchAbandoned();
