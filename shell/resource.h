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
// The Save As dialogs of File > Export CSV... and File > Save Chart As...;
// a filter's parts are separated, and ended, by '|'.
#define IDS_EXPORT_CSV_TITLE 125
#define IDS_CSV_FILTER 126
#define IDS_SAVE_CHART_TITLE 127
#define IDS_PNG_FILTER 128
// %1 is the path that could not be written.
#define IDS_SAVE_FAILED_CAPTION 129
#define IDS_SAVE_FAILED 130
// A chart without a window, and why: damage before the first window is
// complete (%1 the last video time read, %2 the byte offset), or no damage.
#define IDS_DAMAGED_BEFORE_VIDEO 133
#define IDS_DAMAGED_BEFORE_WINDOW 134
#define IDS_EMPTY_CHART_CAPTION 135
#define IDS_NO_VIDEO_PACKETS 136
#define IDS_VIDEO_STARTS_LATE 137
#define IDS_VIDEO_TOO_SHORT 138
#define IDS_EXPORT_FRAMES_TITLE 139
// The Open dialog's title for File > Compare With...
#define IDS_COMPARE_TITLE 140

// Menu and accelerator table of the main window
#define IDR_MAINMENU 109

// Menu commands
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_LOADFILE 32771
#define IDM_EXPORTCSV 32772
#define IDM_SAVECHART 32773
#define IDM_STATISTICS 32774
#define IDM_KEYFRAMES 32775
#define IDM_EXPORTFRAMES 32776
// View: the time zoom, the plots of frames and GOPs, the moving average
#define IDM_ZOOMIN 32777
#define IDM_ZOOMOUT 32778
#define IDM_PANRIGHT 32779
#define IDM_PANLEFT 32780
#define IDM_NEXTPAGE 32781
#define IDM_PREVIOUSPAGE 32782
#define IDM_WHOLEFILE 32783
#define IDM_FRAMES 32784
#define IDM_GOPS 32785
#define IDM_MOVINGAVERAGE_OFF 32786
#define IDM_MOVINGAVERAGE_2S 32787
#define IDM_MOVINGAVERAGE_5S 32788
#define IDM_MOVINGAVERAGE_10S 32789
#define IDM_MOVINGAVERAGE_30S 32790
// Ctrl+M: the next span of the moving average, after 30 s Off again
#define IDM_MOVINGAVERAGE_NEXT 32791
// File: a second file's video beside the charted one
#define IDM_COMPAREWITH 32792
#define IDM_CLOSECOMPARISON 32793
// View: the file's other streams as curves
#define IDM_STREAMS 32794

// Dialogs
#define IDD_ABOUTBOX 103
#define IDD_WAIT 132
#define IDD_STATISTICS 133
#define IDD_EXPORT_CHOICE 134
#define IDD_STREAMS 135

// Icons and bitmaps
#define IDI_MAIN 107
#define IDI_SMALL 108
#define IDB_ABOUTLOGO 131

// Controls
#define IDC_ABOUTICON 2
#define IDC_STATISTICS_TEXT 1000
#define IDC_EXPORT_CHARTED 1001
#define IDC_EXPORT_COMPARED 1002
#define IDC_STREAM_LIST 1003
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
