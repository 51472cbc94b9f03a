// Resource ids of spillet.
#pragma once

#define IDD_PROGRESS 102
#define IDI_SPILLET 128
#define IDB_SPLASH 1002
#define IDD_PASSWORD 4039

#define IDC_PROGRESS_TEXT 1000
#define IDC_PROGRESS_BAR 1001
#define IDC_PASSWORD_EDIT 1039
#define IDC_STATIC_TEXT -1
