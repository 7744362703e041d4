// The About dialog (resource 1004): closes with Ok, Enter, Esc or its close box.
#pragma once

#include "platform/win32.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
