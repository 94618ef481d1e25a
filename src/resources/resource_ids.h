#pragma once
// Resource and command identifiers, shared by the resource script and the code.
// Plain defines because the resource compiler reads this file too.

#define IDS_APP_TITLE 1
#define IDS_WINDOW_CLASS 2

#define IDR_MAIN_MENU 2
#define IDD_ABOUTBOX 103
#define IDR_ACCELERATORS 104
#define IDI_SMALL 106
#define IDD_LOGIN 108

#define IDC_LOGIN_MAIL 1000
#define IDC_LOGIN_PASSWORD 1001

#define IDM_EXIT 40001
#define IDM_ABOUT 40002
#define IDM_SAVE_LOGIN 40003
#define IDM_UPLOAD 40004
