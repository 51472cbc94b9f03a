// Resource identifiers of quillbox.
#pragma once

#define IDI_APP 128
#define IDC_HAND_CURSOR 148

// Bitmaps (256 colours with their palettes).
#define IDB_BANNER 138
#define IDB_ABOUT 141
#define IDB_BACKGROUND 144
#define IDB_ZIP 151
#define IDB_ABOUT_BUTTON 158
#define IDB_BROWSE 159
#define IDB_CLOSE 160
#define IDB_VIEW 162

// Accelerators of the main window.
#define IDR_MAIN_ACCEL 156

// Main window commands and controls.
#define IDC_ADDRESS 1000
#define IDC_ZIP 1001
#define IDC_OUTPUT_PATH 1002
#define IDC_BROWSE 1003
#define IDC_VIEW 1005
#define IDC_ABOUT 141
#define IDC_CLOSE 145
#define ID_NEXT_CONTROL 32772
#define ID_PREV_CONTROL 32773

// About box.
#define IDD_ABOUT 100
#define IDC_ABOUT_FRAME 1037
#define IDC_HOME_LINK 2001
#define IDC_ORDER_LINK 1039
#define IDC_ABOUT_DIB 164

// Done dialog.
#define IDD_DONE 132
#define IDC_DONE_ORDER 1009
#define IDC_DONE_NOTE 1011

// Authorization dialog.
#define IDD_AUTH 165
#define IDC_AUTH_USER 1038
#define IDC_AUTH_PASSWORD 1039

// Progress dialog.
#define IDD_PROGRESS 4014
#define IDC_PROGRESS_BAR 2055
#define IDC_PROGRESS_MESSAGE 2056

// Strings.
#define IDS_DEFAULT_EXT 102
#define IDS_DEFAULT_FILE 103
#define IDS_FILTER 104
#define IDS_HOME_PAGE 105
#define IDS_FAILED_TO_WRITE 111
#define IDS_BAD_OUTPUT_PATH 114
#define IDS_BAD_ADDRESS 115
#define IDS_FOOTER 117
#define IDS_ORDER_PAGE 118
#define IDS_BROWSE_TITLE 124
#define IDS_RENDER_MENU 125
#define IDS_CONNECT_PROBLEM 5017

// The main window's system menu: capture pages as the browser shows them (the setting
// Render). System menu ids keep their low four bits clear.
#define IDM_RENDER 0x0110
