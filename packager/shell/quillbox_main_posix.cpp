// quillbox on Linux: the Zip command on the terminal. The main thread feeds the progress
// line and ends the command; one worker thread grabs and packs.
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>
#include <vector>

#include "packager/archive/archive_builder.h"
#include "packager/fetch/grabber.h"
#include "packager/output/output.h"
#include "packager/render/rendered_page_source.h"
#include "packager/shell/history.h"
#include "packager/shell/progress_mailbox.h"
#include "packager/shell/ui_prompts.h"
#include "packager/shell/zip_command.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "platform/settings.h"
#include "platform/terminal_text.h"
#include "platform/trace.h"
#include "platform/ui.h"
#include "qb_version.h"

namespace {

// Exit status, as --help and the manual page list them.
constexpr int kExitDone = 0;        // the executable was written, with everything in it
constexpr int kExitFailed = 1;      // failed; no executable was written
constexpr int kExitUsage = 2;       // bad command line
constexpr int kExitIncomplete = 3;  // written, but some items could not be fetched

// The status of a Zip command: whether the executable was written, and how many of the
// page's items it lacks because they could not be fetched.
int ZipExitStatus(bool written, size_t missingItems) {
    if (!written)
        return kExitFailed;
    return missingItems > 0 ? kExitIncomplete : kExitDone;
}

// The done dialog's words, naming what was written.
constexpr const char* kDoneText = "Quillbox Lite is done zipping your web page(s)";
constexpr const char* kNoConnection =
    "Quillbox is unable to establish a connection to the Internet.\r\n"
    "                           "
    "Please make sure you have internet service, and try again.";

// One line of the program's own on stderr; whatever the text holds stays on that line.
void PrintMessage(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
            continue;
        }
        out += text[i];
    }
    std::fprintf(stderr, "quillbox: %s\n", platform::EscapeControls(out, false).c_str());
}

// The terminal, watched: whether a failure or message has been told to the user, so that a
// run that fails never ends without a word.
class CWatchedTerminal : public platform::IUserInterface {
  public:
    explicit CWatchedTerminal(platform::IUserInterface& inner) : m_inner(inner) {}
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags,
                    void* owner) override {
        m_bTold = true;
        return m_inner.ShowMessage(text, caption, flags, owner);
    }
    void ShowFailure(const std::string& text, const std::string& line, const std::string& caption,
                     unsigned flags, void* owner) override {
        m_bTold = true;
        m_inner.ShowFailure(text, line, caption, flags, owner);
    }
    bool AskAuthorization(const platform::AuthorizationPrompt& prompt, std::string& user,
                          std::string& password, void* owner) override {
        return m_inner.AskAuthorization(prompt, user, password, owner);
    }
    bool AskPassword(const platform::PasswordPrompt& prompt, std::string& password,
                     void* owner) override {
        return m_inner.AskPassword(prompt, password, owner);
    }
    intptr_t ShellOpen(const std::string& target, void* owner) override {
        return m_inner.ShellOpen(target, owner);
    }
    bool RunAndWait(const std::string& path) override { return m_inner.RunAndWait(path); }

    std::atomic<bool> m_bTold{false};

  private:
    platform::IUserInterface& m_inner;
};

// The address box: the history in memory, for the listing.
class CConsoleAddressBox : public IAddressBox {
  public:
    int AddString(const std::string& text) override {
        m_entries.push_back(text);
        return static_cast<int>(m_entries.size()) - 1;
    }
    void SetCurSel(int index) override {
        m_nSel = index >= 0 && index < static_cast<int>(m_entries.size()) ? index : -1;
    }
    void SetText(const std::string&) override {}

    std::vector<std::string> m_entries;
    int m_nSel = -1;
};

// The Zip command on the terminal: its messages are lines on stderr, the overwrite question
// is asked on stdin (or answered by -y), the progress is the terminal's progress line, fed
// every 500 ms by the main thread while the worker grabs and packs, and Ctrl-C cancels.
class CTerminalZip : public CZipFrontEnd {
  public:
    CTerminalZip(PackagerState& app, bool yes, const CGrabOptions& options)
        : m_app(app), m_bYes(yes), m_options(options), m_zip(app, *this) {}
    ~CTerminalZip() override {
        if (m_worker.joinable())
            m_worker.join();
    }

    // Runs the command to its end; true when the output was written.
    bool Run(const std::string& address, const std::string& output) {
        if (!m_zip.Start(address, output))
            return false;
        auto nextTick = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        std::unique_lock<std::mutex> lock(m_endLock);
        while (!m_bEnded) {
            if (!m_endSignal.wait_until(lock, nextTick, [this] { return m_bEnded; })) {
                lock.unlock();
                m_progress.Deliver();
                lock.lock();
                nextTick += std::chrono::milliseconds(500);
            }
        }
        lock.unlock();
        if (m_worker.joinable())
            m_worker.join();
        m_progress.Close();
        if (m_bSuccess) {
            std::string line = std::string(kDoneText) + " into " + m_zip.OutputPath() + ".";
            std::printf("%s\n", isatty(STDOUT_FILENO) ? platform::EscapeControls(line).c_str()
                                                      : line.c_str());
            std::fflush(stdout);
        }
        return m_bSuccess;
    }

    // Whether the command told the user anything (a refused path, the overwrite).
    bool Told() const { return m_bTold; }

    // --verify: the copy is checked once it is written, while its files are still there.
    CRenderedPageSource* m_pCheckWith = nullptr;
    bool m_bChecked = false;
    COfflineCheck m_check;
    std::string m_strCheckProblem;

  protected:
    void RefuseOutputPath(const std::string& cause) override {
        m_bTold = true;
        PrintMessage(cause);
    }
    void RefuseAddress() override {
        m_bTold = true;
        PrintMessage("The ADDRESS is empty.");
    }
    bool AskOverwrite(const std::string& path) override {
        m_bTold = true;
        if (m_bYes)
            return true;
        if (!isatty(STDIN_FILENO)) {
            // Nobody to ask: nothing is overwritten, and the user learns how to allow it.
            PrintMessage(path + " already exists; give -y to overwrite it.");
            return false;
        }
        std::fprintf(stderr, "quillbox: overwrite %s? [y/N] ",
                     platform::EscapeControls(path, false).c_str());
        std::fflush(stderr);
        std::string line;
        if (!std::getline(std::cin, line))
            return false;
        return !line.empty() && (line[0] == 'y' || line[0] == 'Y');
    }
    void BeginBusy() override { m_progress.Open(nullptr); }
    int Report(const std::string& text, int32_t position) override {
        return IsCancelled() ? 0 : m_progress.Post(text, position, 100);
    }
    bool IsCancelled() const override { return m_progress.IsCancelled(); }
    bool StartWorker(std::function<void()> fn) override {
        m_worker = std::thread(std::move(fn));
        return true;
    }
    void EndBusy(bool success) override {
        std::lock_guard<std::mutex> lock(m_endLock);
        m_bSuccess = success;
        m_bEnded = true;
        m_endSignal.notify_all();
    }
    // The settings store's, with what the command line said over them.
    CGrabOptions GrabOptions() override { return m_options; }
    bool AcceptsEveryOutputKind() const override { return true; }
    void OutputWritten(const std::string& mainPagePath) override {
        if (m_pCheckWith != nullptr)
            m_bChecked = m_pCheckWith->CheckCopy(m_app.m_strJobURL, mainPagePath, m_app.job,
                                                 m_check, m_strCheckProblem);
    }

  private:
    PackagerState& m_app;
    bool m_bYes;
    CGrabOptions m_options;
    CZipCommand m_zip;
    CProgressMailbox m_progress;
    std::atomic<bool> m_bTold{false};
    bool m_bSuccess = false;
    bool m_bEnded = false;
    std::thread m_worker;
    std::mutex m_endLock;
    std::condition_variable m_endSignal;
};

bool MakeFolders(const std::string& folder) {
    if (platform::FolderExists(folder))
        return true;
    std::string parent = platform::FolderOf(folder);
    if (!parent.empty() && parent != folder && !MakeFolders(parent))
        return false;
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// Why no new file can be made in `folder`, which is made first (with its parents) when
// it is missing: the system's reason, or "" when files can be made there.
std::string FolderProblem(const std::string& folder) {
    if (!MakeFolders(folder))
        return std::strerror(errno);
    std::string probe = platform::JoinPath(folder, ".quillbox-XXXXXX");
    int fd = mkstemp(&probe[0]);
    if (fd < 0)
        return std::strerror(errno);
    close(fd);
    unlink(probe.c_str());
    return std::string();
}

// $HOME/MyZips/QLBX.EXE, the folder made as the Windows program makes "\MyZips". Empty,
// after a message that says why, when the home folder cannot take it.
std::string DefaultOutputPath() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        PrintMessage("No home folder is set (HOME is empty); give the output path with -o.");
        return std::string();
    }
    std::string folder = platform::JoinPath(home, "MyZips");
    std::string problem = FolderProblem(folder);
    if (!problem.empty()) {
        PrintMessage("The folder " + folder + " cannot be written: " + problem +
                     ". Give the output path with -o.");
        return std::string();
    }
    return platform::JoinPath(folder, "QLBX.EXE");
}

// The history is kept in the settings folder; a run that cannot write there still
// packs the page, but says that the address will not be remembered.
void CheckSettingsFolder() {
    std::string folder = platform::FolderOf(platform::SettingsLocation());
    if (folder.empty()) {
        PrintMessage("No home folder is set (HOME is empty). The address will not be remembered.");
        return;
    }
    std::string problem = FolderProblem(folder);
    if (!problem.empty())
        PrintMessage("The settings folder " + folder + " cannot be written: " + problem +
                     ". The address will not be remembered.");
}

constexpr const char* kUsageLine = "Usage: quillbox [-o OUTPUT] [-y] [-v] [--no-styles] ADDRESS\n";

void Usage() {
    std::printf(
        "%s"
        "       quillbox            lists the address history\n"
        "Grabs the page at ADDRESS (http://, https:// or a local file) with its frames\n"
        "and pictures into one self-extracting Windows executable.\n"
        "  -o OUTPUT      what to write (default: $HOME/MyZips/QLBX.EXE), chosen by its name:\n"
        "                 NAME.exe the executable; DIR/ a folder of the page's files;\n"
        "                 NAME.html one HTML file with everything inside it (for mail);\n"
        "                 NAME.mhtml a web archive that Chromium-family browsers open\n"
        "  -y             overwrite an existing OUTPUT without asking\n"
        "  -v             write the diagnostic trace lines to standard output (also QB_TRACE)\n"
        "      --no-styles  leave stylesheets on the web (the classic output)\n"
        "      --render   capture the page as an installed Chromium shows it, after its\n"
        "                 scripts ran (QB_BROWSER names the browser; setting Render=1)\n"
        "      --verify   --render, then show the copy offline beside the live page and\n"
        "                 say how close it is (exit 3 below 97 %%)\n"
        "  -h, --help     show this help and exit\n"
        "      --version  show the version and exit\n"
        "Without ADDRESS, lists the address history (* marks the last one used).\n"
        "Exit status: 0 done; 1 failed, nothing written; 2 bad command line;\n"
        "3 written, but some items could not be fetched (they are listed on standard error).\n",
        kUsageLine);
}

int BadCommandLine(const std::string& problem) {
    PrintMessage(problem);
    std::fprintf(stderr, "%sTry 'quillbox --help' for more.\n", kUsageLine);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    enum { kOptVersion = 1000, kOptNoStyles, kOptRender, kOptVerify };
    static const option kLongOptions[] = {{"help", no_argument, nullptr, 'h'},
                                          {"version", no_argument, nullptr, kOptVersion},
                                          {"no-styles", no_argument, nullptr, kOptNoStyles},
                                          {"render", no_argument, nullptr, kOptRender},
                                          {"verify", no_argument, nullptr, kOptVerify},
                                          {nullptr, 0, nullptr, 0}};
    std::string output;
    bool yes = false, verbose = std::getenv("QB_TRACE") != nullptr, noStyles = false;
    bool render = false, verify = false;
    opterr = 0;  // the messages below name the option the way it was typed
    int opt;
    while ((opt = getopt_long(argc, argv, ":o:yvh", kLongOptions, nullptr)) != -1) {
        switch (opt) {
            case 'o':
                output = optarg;
                break;
            case 'y':
                yes = true;
                break;
            case 'v':
                verbose = true;
                break;
            case 'h':
                Usage();
                return kExitDone;
            case kOptNoStyles:
                noStyles = true;
                break;
            case kOptRender:
                render = true;
                break;
            case kOptVerify:
                render = verify = true;
                break;
            case kOptVersion:
                std::printf("quillbox %s\n", QB_VERSION);
                return kExitDone;
            case ':':
                return BadCommandLine(std::string("option ") + argv[optind - 1] +
                                      " needs a value.");
            default: {
                // A long option as typed ("--help=1"), else the short one.
                std::string typed = argv[optind - 1];
                if (typed.compare(0, 2, "--") == 0) {
                    size_t equals = typed.find('=');
                    if (equals != std::string::npos && optopt != 0)
                        return BadCommandLine("option " + typed.substr(0, equals) +
                                              " takes no value.");
                    return BadCommandLine("unknown option " + typed + ".");
                }
                return BadCommandLine(
                    "unknown option " +
                    (optopt ? std::string("-") + static_cast<char>(optopt) : typed) + ".");
            }
        }
    }
    if (argc - optind > 1)
        return BadCommandLine("one ADDRESS only; there are " + std::to_string(argc - optind) + ".");
    platform::SetTraceEnabled(verbose);
    platform::SetSettingsKey("Tarnwick", "quillbox");

    if (optind == argc) {
        CConsoleAddressBox box;
        LoadHistory(box);
        if (box.m_entries.empty())
            return BadCommandLine("no ADDRESS given, and the address history is empty.");
        for (size_t i = 0; i < box.m_entries.size(); ++i)
            std::printf("%c %s\n", static_cast<int>(i) == box.m_nSel ? '*' : ' ',
                        platform::EscapeControls(box.m_entries[i]).c_str());
        std::printf("%s", kUsageLine);
        return kExitDone;
    }

    if (output.empty()) {
        output = DefaultOutputPath();
        if (output.empty())
            return kExitFailed;
    }
    // Everything that would fail the packing is said before anything is fetched.
    std::string extractor = FindExtractorTemplate();
    if (OutputKindOf(output) == OutputKind::Executable && !platform::FileExists(extractor)) {
        PrintMessage("The extractor " + extractor +
                     " is missing; every executable begins with it. Reinstall quillbox.");
        return kExitFailed;
    }
    CheckSettingsFolder();

    std::unique_ptr<platform::InternetService> service = platform::CreateInternetService();
    if (!service || service->AttemptConnect() != 0) {
        PrintMessage(kNoConnection);
        return kExitFailed;
    }
    // The settings, then --no-styles and --render over them.
    CGrabOptions options = ReadGrabOptions();
    options.bKeepStyles = options.bKeepStyles && !noStyles;
    options.bRender = options.bRender || render;
    CUiFetchPrompts prompts;
    CGrabber grabber(std::move(service), options, &prompts);
    grabber.SweepWorkFolders();
    // The rendered capture: without a browser to drive nothing is grabbed.
    std::string renderProblem;
    std::unique_ptr<CRenderedPageSource> rendered = MakeRenderedPageSource(options, renderProblem);
    if (!renderProblem.empty()) {
        PrintMessage(renderProblem);
        return kExitFailed;
    }

    CWatchedTerminal terminal(platform::Ui());
    platform::SetUserInterface(&terminal);
    PackagerState app;
    app.pGrabber = &grabber;
    app.job.pPageSource = rendered.get();
    bool written;
    bool told;
    bool checked = false;
    COfflineCheck check;
    std::string checkProblem;
    {
        CTerminalZip zip(app, yes, options);
        zip.m_pCheckWith = verify ? rendered.get() : nullptr;
        written = zip.Run(argv[optind], output);
        told = terminal.m_bTold || zip.Told();
        checked = zip.m_bChecked;
        check = zip.m_check;
        checkProblem = zip.m_strCheckProblem;
    }
    platform::SetUserInterface(nullptr);
    const CGrabPlan& report = grabber.GetReport();
    if (written) {
        // The capture report: one summary line, then each item that could not be fetched.
        std::fprintf(stderr, "quillbox: %s\n",
                     platform::EscapeControls(report.Summary(), false).c_str());
        for (const std::string& line : report.FailureLines())
            std::fprintf(stderr, "quillbox: failed: %s\n",
                         platform::EscapeControls(line, false).c_str());
    } else if (ProgressDialogInterrupted()) {
        PrintMessage("Cancelled; nothing was written.");
    } else if (!told) {
        // A failure nobody has told yet (the work folder could not be made, say): the
        // report knows its cause.
        std::vector<std::string> failures = report.FailureLines();
        PrintMessage(failures.empty()
                         ? std::string("Nothing was written.")
                         : std::string("cannot zip ") + argv[optind] + ": " + failures.front());
    }
    int status = ZipExitStatus(written, report.FailedCount());
    if (verify && written) {
        if (checked) {
            std::fprintf(stderr, "quillbox: %s\n", SimilarityLine(check.dSimilarity).c_str());
            for (const std::string& tried : check.tried)
                std::fprintf(stderr, "quillbox: the offline copy still asked for %s\n",
                             platform::EscapeControls(tried).c_str());
        } else if (!checkProblem.empty()) {
            PrintMessage("The offline copy could not be checked: " + checkProblem + ".");
        }
        if (!checked || check.dSimilarity < kFaithfulCopy)
            status = kExitIncomplete;
    }
    return status;
}
