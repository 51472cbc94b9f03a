// The Zip command: from an address and an output path to a finished output, on one worker
// thread. The main window and the command line run the same command; what the user sees of
// it (messages, the overwrite question, progress and Cancel, the end) goes through the
// small front-end interface that each of them implements, and a test fake too.
#pragma once

#include <functional>
#include <string>

#include "packager/fetch/grab_job.h"
#include "packager/fetch/grab_options.h"
#include "packager/output/output.h"

class CGrabber;
class CGrabPlan;

// What the application object holds for the command: the job record, the address of the
// running job and the grabber.
struct PackagerState {
    GrabJob job;
    std::string m_strJobURL;
    CGrabber* pGrabber = nullptr;
};

// The user's side of the command. Progress reports (CGrabProgress::Report) come from the
// worker; answering 0 stops the step that is running.
class CZipFrontEnd : public CGrabProgress {
  public:
    // The output path cannot take the output; cause says why, naming the path.
    virtual void RefuseOutputPath(const std::string& cause) = 0;
    // The address is empty.
    virtual void RefuseAddress() = 0;
    // Whether the output that exists at path may be replaced.
    virtual bool AskOverwrite(const std::string& path) = 0;
    // The command runs from now on: progress is shown, no second command can start.
    virtual void BeginBusy() = 0;
    // Whether the user cancelled; asked by the worker, also while the output is written.
    virtual bool IsCancelled() const = 0;
    // Starts the worker thread running fn; false when it cannot be started.
    virtual bool StartWorker(std::function<void()> fn) = 0;
    // The command is over: success when the output was written and nobody cancelled (the
    // done report follows then). The worker's last call, or the window thread's when no
    // worker could start; the front end returns once the busy state has ended.
    virtual void EndBusy(bool success) = 0;

    // The options of the next grab, built before it starts: by default the settings
    // store's (the registry on Windows), read again for each grab.
    virtual CGrabOptions GrabOptions() { return ReadGrabOptions(); }
    // Whether the output path may name the other outputs (DIR/, NAME.html, NAME.mhtml)
    // besides the executable: the command line. The window keeps the ".EXE" rule.
    virtual bool AcceptsEveryOutputKind() const { return false; }
    // The extractor copied into every executable; empty: the installed one.
    virtual std::string ExtractorTemplate() { return std::string(); }
    // Records the address in the history (tests substitute it).
    virtual void RecordHistory(const std::string& address);
    // The output was written; the capture is still in its work folder at mainPagePath.
    virtual void OutputWritten(const std::string& mainPagePath) { (void)mainPagePath; }
};

class CZipCommand {
  public:
    CZipCommand(PackagerState& app, CZipFrontEnd& frontEnd) : m_app(app), m_frontEnd(frontEnd) {}

    // The command, on the window thread, with the address and the output path as typed:
    // checks both (telling the front end what is wrong), asks before an existing output is
    // replaced, and starts the worker. False when nothing was started.
    bool Start(const std::string& address, const std::string& outputPath);
    // The worker's body: grab, write the output, remove the work folder, record the
    // history, end the busy state.
    void RunWorker();

    // Trims the address; keeps what has a scheme or names a file or folder of this
    // machine; otherwise puts "http://" in front.
    static void NormalizeAddress(std::string& address);
    // The output the command writes at path, as the front end allows.
    OutputKind OutputKindFor(const std::string& path) const;

    // The address (normalised once the worker started) and the output path of the command.
    const std::string& Address() const { return m_strURL; }
    const std::string& OutputPath() const { return m_strOutPath; }
    // The done report's note: where the output went and what could not be fetched.
    const std::string& DoneNote() const { return m_strDoneNote; }

  private:
    // Writes the capture of mainPagePath to the output path; true when it was written.
    bool WriteOutput(const std::string& mainPagePath);

    PackagerState& m_app;
    CZipFrontEnd& m_frontEnd;
    std::string m_strURL;
    std::string m_strOutPath;
    std::string m_strDoneNote;
};

// The done report's note: "Saved as <output>", then how many items could not be fetched,
// the first few by kind, address and cause, and how many more.
std::string DoneNote(const CGrabPlan& report, const std::string& outputPath);

// The worker thread's procedure; the parameter is the command.
unsigned GrabThreadProc(void* pParam);
