// Resource ids of the Windows program: dialogs, controls, the icon, images, strings and the
// system-menu command. Included by KestrelSync.rc and by the C++ code that uses them.
#pragma once

// Dialogs.
#define IDD_ABOUTBOX 100
#define IDD_VENTO_DIALOG 102
#define IDD_CONFIG_DIALOG 130

// Icon and images.
#define IDR_MAINFRAME 128
#define IDB_STATUS_IMAGES 129 // the list's status images, 16x16 each: 0 information, 1 error
#define IDB_BANNER 138

// Strings.
#define IDS_ABOUTBOX 101
#define IDS_SOCKET_INIT_FAILED 103

// System-menu command that opens the About dialog.
#define IDM_ABOUTBOX 0x0010

// Controls of the main dialog.
#define IDC_PROGRESS_TOTAL 1000
#define IDC_PROGRESS_FILE 1001
#define IDC_BUTTON_START 1002
#define IDC_BUTTON_STOP 1003
#define IDC_BUTTON_CONFIG 1004
#define IDC_LIST_STATUS 1005
#define IDC_STATIC_STEP 1006
#define IDC_STATIC_TOTAL 1007
#define IDC_STATIC_FILENAME 1008

// Controls of the settings dialog.
#define IDC_EDIT_SERVER_IP 1009
#define IDC_EDIT_SERVER_PORT 1010
#define IDC_EDIT_BASE_URL 1011
#define IDC_EDIT_LIST_FILE 1012
#define IDC_EDIT_LINK_APPEND 1013
#define IDC_EDIT_LOCAL_DIR 1014

// Controls of the About dialog.
#define IDC_STATIC_ABOUT2 1015

// Labels that are never addressed.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
