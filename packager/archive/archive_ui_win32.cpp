#include <windows.h>

#include "packager/archive/archive_ui.h"

void ArchiveShowMessage(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "quillbox", MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL);
}

ArchiveBusyCursor::ArchiveBusyCursor() {
    m_hPrevious = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
}

ArchiveBusyCursor::~ArchiveBusyCursor() {
    SetCursor(static_cast<HCURSOR>(m_hPrevious));
}
