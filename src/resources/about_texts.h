// The maker's lines of the About dialog, shared by the resource script (the
// version resource takes the product name and the rights line from here too)
// and the tests that check what the dialog shows. Each fits its control on one
// line; the notice wraps within its box.
#pragma once

#define ABOUT_PRODUCT_TEXT "Lumeroot"
#define ABOUT_RIGHTS_TEXT "(C) 1997 Orrinvale Soft"
#define ABOUT_TOWN_TEXT "Orrinvale, Oregon"
#define ABOUT_WEB_TEXT "www.example.com"
#define ABOUT_SALES_TEXT "sales@example.com"
#define ABOUT_SUPPORT_TEXT "support@example.com"
#define ABOUT_NOTICE_TEXT                                                  \
    "This player may be copied and given away freely with the animation " \
    "it carries.  It comes with no warranty of any kind."
