// The About dialog (resource 1004), run modally by the main window: closes
// with result 1 on Ok, Enter, Esc or its close box.
#pragma once

#include "platform/win32.h"

// WM_INITDIALOG returns TRUE so the focus goes to the Ok button; WM_COMMAND
// with IDOK or IDCANCEL ends the dialog with 1 and returns TRUE; every other
// message returns FALSE for the dialog manager's default handling.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
