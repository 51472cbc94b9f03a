#include "packager/shell/zip_command.h"

#include <memory>

#include "packager/fetch/grabber.h"
#include "packager/address/url_utils.h"
#include "packager/output/output.h"
#include "packager/shell/compress_progress.h"
#include "packager/shell/history.h"
#include "packager/shell/output_path.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "platform/ui.h"

namespace {

bool CanOpenForReading(const std::string& path) {
    if (platform::FolderExists(path))
        return false;
    int h = platform::FileOpen(path, platform::kOpenReadOnly | platform::kOpenBinary);
    if (h < 0)
        return false;
    platform::FileClose(h);
    return true;
}

// The one place that speaks the grab's own interface: it runs the grab of an address into a
// work folder, reporting to progress, and keeps what the command needs of it afterwards.
class CZipGrab {
  public:
    explicit CZipGrab(PackagerState& app) : m_app(app) {}

    // The grab with these options; false when the main page could not be saved.
    bool Run(const std::string& address, const CGrabOptions& options, CGrabProgress& progress) {
        GrabJob& job = m_app.job;
        job.options = options;
        job.pProgress = &progress;
        std::string error = m_app.pGrabber->Grab(address, job);
        return TrimWhite(error).empty();
    }
    // What was captured and what failed, and why.
    const CGrabPlan& Report() const { return m_app.pGrabber->GetReport(); }
    // The saved main page in its work folder.
    std::string MainPage() const { return m_app.job.strMainPage; }
    // Removes the work folder of the main page.
    void RemoveWorkFolder(const std::string& folder) { m_app.pGrabber->RemoveFolder(folder); }

  private:
    PackagerState& m_app;
};

}  // namespace

void CZipFrontEnd::RecordHistory(const std::string& address) {
    ::RecordHistory(address);
}

// Every way the output path can fail is told, with its cause, before anything is fetched.
// An existing file is only replaced once the new output is written: the checks never
// truncate it, so a failed grab or a mistyped address never costs the user the old file.
bool CZipCommand::Start(const std::string& address, const std::string& outputPath) {
    m_strURL = address;
    m_strOutPath = outputPath;

    const OutputKind kind = OutputKindFor(m_strOutPath);
    std::string problem = OutputPathProblem(m_strOutPath, kind);
    if (!problem.empty()) {
        m_frontEnd.RefuseOutputPath(problem);
        return false;
    }
    bool exists = kind == OutputKind::Folder ? platform::FolderExists(m_strOutPath)
                                             : CanOpenForReading(m_strOutPath);
    if (exists) {
        if (!m_frontEnd.AskOverwrite(m_strOutPath))
            return false;
        problem = ExistingOutputProblem(m_strOutPath, kind);
        if (!problem.empty()) {
            m_frontEnd.RefuseOutputPath(problem);
            return false;
        }
    }

    // Tested as typed: an address of blanks passes and becomes "http://".
    if (m_strURL.empty()) {
        m_frontEnd.RefuseAddress();
        return false;
    }
    NormalizeAddress(m_strURL);
    m_frontEnd.BeginBusy();
    m_app.m_strJobURL = m_strURL;
    if (!m_frontEnd.StartWorker([this] { GrabThreadProc(this); })) {
        // No worker: nothing can end the busy state but us.
        m_frontEnd.EndBusy(false);
    }
    return true;
}

void CZipCommand::NormalizeAddress(std::string& address) {
    address = TrimWhite(address);
    // What has a scheme, or names a file or folder of this machine, stays as typed: the
    // grab then says what it is ("No such file", a folder, a scheme it cannot fetch).
    if (NeedsWebScheme(address))
        address = "http://" + address;
}

OutputKind CZipCommand::OutputKindFor(const std::string& path) const {
    // The window writes executables only, whatever the path says; the command line also
    // takes the other outputs.
    return m_frontEnd.AcceptsEveryOutputKind() ? OutputKindOf(path) : OutputKind::Executable;
}

void CZipCommand::RunWorker() {
    CZipGrab grab(m_app);
    bool grabbed = grab.Run(m_app.m_strJobURL, m_frontEnd.GrabOptions(), m_frontEnd);
    // The capture report goes to the trace; the done note mentions what is missing.
    const CGrabPlan& report = grab.Report();
    platform::Trace("%s", report.Summary().c_str());
    for (const std::string& line : report.FailureLines())
        platform::Trace("failed: %s", line.c_str());
    m_strDoneNote = ::DoneNote(report, m_strOutPath);
    bool ok = false;
    if (!m_frontEnd.IsCancelled()) {
        if (!grabbed) {
            m_frontEnd.EndBusy(false);
            return;
        }
        std::string mainPage = grab.MainPage();
        ok = WriteOutput(mainPage);
        // The work folder goes whatever became of the output; a page outside any folder
        // is no capture.
        std::string folder = platform::FolderOf(mainPage);
        if (!folder.empty())
            grab.RemoveWorkFolder(folder);
        else
            ok = false;
        m_frontEnd.RecordHistory(m_strURL);
    }
    m_frontEnd.EndBusy(ok && !m_frontEnd.IsCancelled());
}

bool CZipCommand::WriteOutput(const std::string& mainPagePath) {
    // The command's Cancel stops the packing as the compression dialog's own Cancel does.
    CCompressProgress progress([this] { return m_frontEnd.IsCancelled(); });
    COutputContext context;
    context.pProgress = &progress;
    context.strExtractorTemplate = m_frontEnd.ExtractorTemplate();
    std::unique_ptr<COutput> output = CreateOutput(OutputKindFor(m_strOutPath), context);
    bool written = WriteCapture(*output, m_strOutPath, mainPagePath);
    if (written)
        m_frontEnd.OutputWritten(mainPagePath);
    return written;
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

unsigned GrabThreadProc(void* pParam) {
    static_cast<CZipCommand*>(pParam)->RunWorker();
    return 0;
}
