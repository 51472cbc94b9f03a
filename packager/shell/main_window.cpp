#include "packager/shell/main_window.h"

#include <cctype>
#include <cstdio>

#include "packager/archive/archive_builder.h"
#include "packager/fetch/grabber.h"
#include "packager/address/url_utils.h"
#include "packager/output/output.h"
#include "packager/shell/compress_progress.h"
#include "packager/shell/history.h"
#include "packager/shell/output_path.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "platform/ui.h"
#include "platform/ui_command.h"

const char* const kStrBadOutputPath =
    "The file path you are saving to is not a valid Quillbox file path.\r\nPlease verify that "
    "the path exists, and the file has an \"EXE\" extension, and try again.";
const char* const kStrBadAddress =
    "The internet address entered is not valid. Please enter a valid internet address, and try "
    "again.";

namespace {

std::string Trim(const std::string& s) {
    return TrimWhite(s);
}

bool CanOpenForReading(const std::string& path) {
    if (platform::FolderExists(path))
        return false;
    int h = platform::FileOpen(path, platform::kOpenReadOnly | platform::kOpenBinary);
    if (h < 0)
        return false;
    platform::FileClose(h);
    return true;
}

}  // namespace

CMainWindow::CMainWindow(PackagerState& app) : m_app(app) {}

CMainWindow::~CMainWindow() = default;

void CMainWindow::InstallProgressCallback() {
    m_app.job.pProgress = &m_progress;
}

// Every way the output path can fail is told, with its cause, before anything is fetched.
// An existing file is only replaced once packaging writes the new executable: the checks
// never truncate it, so a failed grab or a mistyped address never costs the user the old
// file.
void CMainWindow::RefuseOutputPath(const std::string& cause) {
    ShowMessageWithCause(kStrBadOutputPath, cause, platform::kMbOk | platform::kMbIconWarning);
    SetFocusTo(kIdOutputPathBox);
}

void CMainWindow::OnZip() {
    m_strURL = GetAddressText();
    m_strOutPath = GetOutputPathText();

    const OutputKind kind = OutputKindFor(m_strOutPath);
    std::string problem = OutputPathProblem(m_strOutPath, kind);
    if (!problem.empty()) {
        RefuseOutputPath(problem);
        return;
    }
    bool exists = kind == OutputKind::Folder ? platform::FolderExists(m_strOutPath)
                                             : CanOpenForReading(m_strOutPath);
    if (exists) {
        char question[1200];
        std::snprintf(question, sizeof(question), "Are you sure you want to overwrite\r\n%s?",
                      m_strOutPath.c_str());
        if (ShowMessageBox(question, platform::kMbYesNo | platform::kMbIconQuestion) !=
            platform::kIdYes)
            return;
        problem = ExistingOutputProblem(m_strOutPath, kind);
        if (!problem.empty()) {
            RefuseOutputPath(problem);
            return;
        }
    }

    // Tested as typed: an address of blanks passes and becomes "http://".
    if (m_strURL.empty()) {
        ShowMessageBox(kStrBadAddress, platform::kMbOk | platform::kMbIconWarning);
        SetFocusTo(kIdAddressBox);
        return;
    }
    NormalizeAddress(m_strURL);
    BeginBusy();
    m_app.m_strJobURL = m_strURL;
    if (!StartWorker([this] { GrabThreadProc(this); })) {
        // No worker: nothing can end the busy state but us.
        FinishOnWindowThread(false);
    }
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
        ShowMessageBox(kStrBadAddress, platform::kMbOk | platform::kMbIconWarning);
        SetFocusTo(kIdAddressBox);
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

void CMainWindow::NormalizeAddress(std::string& address) {
    address = Trim(address);
    // What has a scheme, or names a file or folder of this machine, stays as typed: the
    // grab then says what it is ("No such file", a folder, a scheme it cannot fetch).
    if (NeedsWebScheme(address))
        address = "http://" + address;
}

void CMainWindow::BeginBusy() {
    if (!m_pProgressDlg) {
        m_pProgressDlg.reset(new CProgressDialog(GetHandle()));
        m_pProgressDlg->Create("", true, GetHandle());
    }
    m_pProgressDlg->Show();
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
    if (m_pProgressDlg) {
        SetProgressData(" ", 0, 100);
        UpdateProgressDialog(" ", 0, 100);
        m_pProgressDlg->ClearCancelled();
        m_pProgressDlg->Hide();
    }
    StopTimer();
    if (success) {
        ShowDoneDialog();
        OfferAddress(m_strURL);
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

bool CMainWindow::IsCancelled() const {
    return m_pProgressDlg && m_pProgressDlg->m_bCancelled;
}

int CMainWindow::SetProgressData(const std::string& text, int32_t position, int32_t range) {
    m_nProgressPos = position;
    m_nProgressRange = range;
    std::lock_guard<std::mutex> lock(m_csProgress);
    m_strProgressText = text;
    return 1;
}

void CMainWindow::UpdateProgressDialog(const std::string& text, int32_t position, int32_t range) {
    if (!m_pProgressDlg || !m_pProgressDlg->IsOpen())
        return;
    // The range travels as 16 bits.
    int32_t r = range & 0xFFFF;
    m_pProgressDlg->SetRange(r);
    m_pProgressDlg->SetPosition(range == 0 ? 0 : position % range);
    m_pProgressDlg->SetMessage(text);
}

void CMainWindow::OnTimer(int timerId) {
    if (timerId != 1 || !m_pProgressDlg || !m_pProgressDlg->IsOpen())
        return;
    std::string text;
    int32_t pos, range;
    {
        std::lock_guard<std::mutex> lock(m_csProgress);
        text = m_strProgressText;
        pos = m_nProgressPos;
        range = m_nProgressRange;
    }
    UpdateProgressDialog(text, pos, range);
}

void CMainWindow::RunWorker() {
    m_app.job.options = GrabOptions();
    std::string error = m_app.pGrabber->Grab(std::string(m_app.m_strJobURL), m_app.job);
    CMainWindow* w = this;
    // The capture report goes to the trace; the done message mentions what is missing.
    const CGrabPlan& report = m_app.pGrabber->GetReport();
    platform::Trace("%s", report.Summary().c_str());
    for (const std::string& line : report.FailureLines())
        platform::Trace("failed: %s", line.c_str());
    w->m_strDoneNote = DoneNote(report, w->m_strOutPath);
    bool ok = false;
    if (!w->IsCancelled()) {
        if (!Trim(error).empty()) {
            w->EndBusy(false);
            return;
        }
        ok = Package(std::string(m_app.job.strMainPage));
        w->RecordHistory(w->m_strURL);
    }
    w->EndBusy(ok && !w->IsCancelled());
}

bool CMainWindow::Package(const std::string& mainPagePath) {
    bool result = PackageFolder(m_strOutPath, mainPagePath);
    size_t cut = mainPagePath.size();
    while (cut > 0 && !IsPathSeparator(mainPagePath[cut - 1]))
        --cut;
    if (cut == 0)
        return false;
    m_app.pGrabber->RemoveFolder(mainPagePath.substr(0, cut - 1));
    return result;
}

bool CMainWindow::PackageFolder(const std::string& outputPath, const std::string& mainPagePath) {
    // The Zip command's Cancel stops the packing as the builder's own Cancel does.
    CCompressProgress progress([this] { return IsCancelled(); });
    COutputContext context;
    context.pProgress = &progress;
    context.strExtractorTemplate = ExtractorTemplate();
    std::unique_ptr<COutput> output = CreateOutput(OutputKindFor(outputPath), context);
    return WriteCapture(*output, outputPath, mainPagePath);
}

OutputKind CMainWindow::OutputKindFor(const std::string& path) const {
    // The window writes executables only, whatever the path says; the command line also
    // takes the other outputs.
    return AcceptsEveryOutputKind() ? OutputKindOf(path) : OutputKind::Executable;
}

std::string CMainWindow::ExtractorTemplate() {
    return FindExtractorTemplate();
}

void CMainWindow::RecordHistory(const std::string& address) {
    ::RecordHistory(address);
}

std::string DoneNote(const CGrabPlan& report, const std::string& outputPath) {
    // The dialog is some 55 characters wide: addresses are cut to fit a line.
    const size_t kLine = 56;
    const size_t kNamed = 3;
    std::string note = platform::ShortenLongRuns("Saved as " + outputPath, kLine) + "\n";
    size_t failed = report.FailedCount();
    if (failed == 0)
        return note;
    note += failed == 1 ? std::string("1 item could not be fetched:")
                        : std::to_string(failed) + " items could not be fetched:";
    size_t named = 0;
    for (size_t i = 0; i < report.Size() && named < kNamed; ++i) {
        const CGrabEntry& e = report.At(i);
        if (e.state != EntryState::Failed && e.strFailure.empty())
            continue;
        note += "\n" + platform::ShortenLongRuns(std::string(EntryKindName(e.kind)) + " " +
                                                     e.strAddress + ": " + e.strFailure,
                                                 kLine);
        ++named;
    }
    if (failed > named)
        note += "\nand " + std::to_string(failed - named) + " more.";
    return note;
}

int MainWindowProgress(CMainWindow* pContext, std::string strText, int32_t nPosition,
                       int32_t nRange) {
    if (!pContext || !pContext->WindowExists() || pContext->IsCancelled())
        return 0;
    return pContext->SetProgressData(strText, nPosition, nRange);
}

unsigned GrabThreadProc(void* pParam) {
    static_cast<CMainWindow*>(pParam)->RunWorker();
    return 0;
}
