#include "packager/shell/main_window.h"

#include <cstdio>

#include "platform/ui.h"
#include "platform/ui_command.h"

const char* const kStrBadOutputPath =
    "The file path you are saving to is not a valid Quillbox file path.\r\nPlease verify that "
    "the path exists, and the file has an \"EXE\" extension, and try again.";
const char* const kStrBadAddress =
    "The internet address entered is not valid. Please enter a valid internet address, and try "
    "again.";

CMainWindow::CMainWindow(PackagerState& app) : m_app(app), m_zip(app, *this) {}

CMainWindow::~CMainWindow() = default;

void CMainWindow::OnZip() {
    m_zip.Start(GetAddressText(), GetOutputPathText());
}

void CMainWindow::RefuseOutputPath(const std::string& cause) {
    // The box text, then the cause after a blank line, as the fetch messages have it.
    ShowMessageBox(std::string(kStrBadOutputPath) + "\r\n\r\n" + cause,
                   platform::kMbOk | platform::kMbIconWarning);
    SetFocusTo(kIdOutputPathBox);
}

void CMainWindow::RefuseAddress() {
    ShowMessageBox(kStrBadAddress, platform::kMbOk | platform::kMbIconWarning);
    SetFocusTo(kIdAddressBox);
}

bool CMainWindow::AskOverwrite(const std::string& path) {
    char question[1200];
    std::snprintf(question, sizeof(question), "Are you sure you want to overwrite\r\n%s?",
                  path.c_str());
    return ShowMessageBox(question, platform::kMbYesNo | platform::kMbIconQuestion) ==
           platform::kIdYes;
}

bool CMainWindow::OnCommandMessage(int id, unsigned notifyCode, bool fromControl) {
    if (!platform::IsCommandMessage(notifyCode, fromControl))
        return false;
    switch (id) {
        case kIdZipButton:
            OnZip();
            return true;
        case kIdBrowseButton:
            ShowBrowseDialog();
            return true;
        case kIdViewButton:
            OnViewUrl();
            return true;
        case kIdAboutButton:
            ShowAboutBox();
            return true;
        case kIdCloseButton:
            CloseWindow();
            return true;
        case kIdAddressBox:
        case kIdOutputPathBox:
            SetFocusTo(id);
            return true;
        case kIdNextControl:
            FocusNextControl();
            return true;
        case kIdPreviousControl:
            FocusPreviousControl();
            return true;
    }
    return false;
}

void CMainWindow::OnViewUrl() {
    std::string address = GetAddressText();
    if (address.empty()) {
        RefuseAddress();
        return;
    }
    NormalizeAddress(address);
    OpenInBrowser(address);
}

void CMainWindow::OpenInBrowser(const std::string& address) {
    platform::Ui().ShellOpen(address, GetHandle());
}

std::string CMainWindow::ComboGetItemText(int) {
    return std::string();
}

void CMainWindow::BeginBusy() {
    m_progress.Open(GetHandle());
    EnableMainWindow(false);
    StartTimer();
    m_bBusy = true;
}

void CMainWindow::EndBusy(bool success) {
    RunOnWindowThread([this, success] { FinishOnWindowThread(success); });
}

// After a success the main window stays disabled until the done dialog is closed: a
// second Zip must not start under it (the dialog is owned by the window and shown in
// front of it). Otherwise it is enabled first, so that keys typed while the progress
// dialog goes away reach it.
void CMainWindow::FinishOnWindowThread(bool success) {
    if (!success)
        EnableMainWindow(true);
    m_progress.Close();
    StopTimer();
    if (success) {
        ShowDoneDialog();
        OfferAddress(m_zip.Address());
        EnableMainWindow(true);
    }
    BringToForeground();
    SetFocusTo(kIdZipButton);
    m_bBusy = false;
}

// The box shows exactly the address that was zipped, so that the next Zip packs the
// same page: its own entry (letter case matters, as in the history), else a new one.
// The list's prefix search would pick an older, longer address here.
void CMainWindow::OfferAddress(const std::string& address) {
    int n = ComboGetCount();
    int found = -1;
    for (int i = 0; i < n && found < 0; ++i)
        if (ComboGetItemText(i) == address)
            found = i;
    if (found < 0)
        found = ComboAddString(address);
    ComboSetCurSel(found);
}

int CMainWindow::Report(const std::string& text, int32_t position) {
    if (!WindowExists() || IsCancelled())
        return 0;
    return SetProgressData(text, position, 100);
}

void CMainWindow::OnTimer(int timerId) {
    if (timerId == 1)
        m_progress.Deliver();
}
