#include <windows.h>

#include "packager/archive/archive_ui.h"

ArchiveBusyCursor::ArchiveBusyCursor() {
    m_hPrevious = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
}

ArchiveBusyCursor::~ArchiveBusyCursor() {
    SetCursor(static_cast<HCURSOR>(m_hPrevious));
}
