#include "packager/shell/progress_mailbox.h"

void CProgressMailbox::Open(WindowHandle owner) {
    if (!m_pDialog) {
        m_pDialog.reset(new CProgressDialog(owner));
        m_pDialog->Create("", true, owner);
    }
    m_pDialog->Show();
}

int CProgressMailbox::Post(const std::string& text, int32_t position, int32_t range) {
    m_nPosition = position;
    m_nRange = range;
    std::lock_guard<std::mutex> lock(m_lock);
    m_strText = text;
    return 1;
}

void CProgressMailbox::Deliver() {
    if (!m_pDialog || !m_pDialog->IsOpen())
        return;
    std::string text;
    int32_t position, range;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        text = m_strText;
        position = m_nPosition;
        range = m_nRange;
    }
    Show(text, position, range);
}

void CProgressMailbox::Show(const std::string& text, int32_t position, int32_t range) {
    if (!m_pDialog || !m_pDialog->IsOpen())
        return;
    m_pDialog->SetRange(range & 0xFFFF);
    m_pDialog->SetPosition(range == 0 ? 0 : position % range);
    m_pDialog->SetMessage(text);
}

void CProgressMailbox::Close() {
    if (!m_pDialog)
        return;
    Post(" ", 0, 100);
    Show(" ", 0, 100);
    m_pDialog->ClearCancelled();
    m_pDialog->Hide();
}

bool CProgressMailbox::IsCancelled() const {
    return m_pDialog && m_pDialog->m_bCancelled;
}
