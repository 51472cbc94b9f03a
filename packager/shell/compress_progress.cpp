#include "packager/shell/compress_progress.h"

CCompressProgress::CCompressProgress(std::function<bool()> cancelRequested)
    : m_dialog(nullptr), m_fnCancelRequested(std::move(cancelRequested)) {
    m_bCreated = m_dialog.Create("Compressing...", true, nullptr) != 0;
}

CCompressProgress::~CCompressProgress() {
    if (m_bCreated)
        m_dialog.DestroyWindow();
}

int CCompressProgress::Report(const std::string& text, int32_t position) {
    if (!m_bCreated || !m_dialog.IsOpen())
        return 0;
    if (text != m_strShown) {
        m_dialog.SetMessage(text);
        m_strShown = text;
    }
    m_dialog.SetPosition(position);
    m_dialog.PumpMessages();
    if (m_fnCancelRequested && m_fnCancelRequested())
        return 0;
    return m_dialog.m_bCancelled || !m_dialog.IsOpen() ? 0 : 1;
}
