// Numeric ids of the program's resources and menu commands, shared by the
// resource script and the code.
#pragma once

#define IDI_APP_ICON 101
#define IDM_MAIN_MENU 1000
#define IDM_FILE_EXIT 1002
#define IDM_HELP_ABOUT 1003
#define IDD_ABOUT 1004
