#include "ui/about_dialog.h"

namespace {

// Esc and the close box arrive as IDCANCEL, Enter as IDOK (Ok is the default
// button); all of them close the box the same way.
INT_PTR OnCommand(HWND dialog, WORD id)
{
    if (id != IDOK && id != IDCANCEL) {
        return FALSE;
    }
    EndDialog(dialog, 1);
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam));
    default:
        return FALSE;
    }
}
