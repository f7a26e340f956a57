// Resource ids of KOV.rc, shared by the resource script and the C++ code.
// Ids of one resource type never collide; equal numbers across types (string
// 103 and dialog 103, menu and accelerators 109) are the intended pairs.
#ifndef KOV_SHELL_RESOURCE_H
#define KOV_SHELL_RESOURCE_H

// Strings
#define IDS_APP_TITLE 103
#define IDS_WINDOWCLASS 109
// How a measured file ended: %1 is a media time, %2 a byte offset.
#define IDS_DAMAGED_FILE_CAPTION 120
#define IDS_DAMAGED_FILE 121
#define IDS_DAMAGED_BEYOND_CHART 122
// %1 is how much of the video the chart shows.
#define IDS_LONG_VIDEO_CAPTION 123
#define IDS_LONG_VIDEO 124

// Menu and accelerator table of the main window
#define IDR_MAINMENU 109

// Menu commands
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_LOADFILE 32771

// Dialogs
#define IDD_ABOUTBOX 103
#define IDD_WAIT 132

// Icons and bitmaps
#define IDI_MAIN 107
#define IDI_SMALL 108
#define IDB_ABOUTLOGO 131

// Controls
#define IDC_ABOUTICON 2
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
