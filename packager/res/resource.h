// Resource identifiers of quillbox.
#pragma once

#define IDI_APP 128

// Progress dialog.
#define IDD_PROGRESS 4014
#define IDC_PROGRESS_BAR 2055
#define IDC_PROGRESS_MESSAGE 2056

// Strings.
#define IDS_FAILED_TO_WRITE 111
#define IDS_BAD_OUTPUT_PATH 114
#define IDS_BAD_ADDRESS 115
