// quillbox on Linux: the Zip command without windows. The main thread plays the
// window thread (timer ticks, the finishing step); one worker thread grabs and packs.
#include <getopt.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <thread>
#include <vector>

#include "packager/fetch/grabber.h"
#include "packager/shell/history.h"
#include "packager/shell/main_window.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "platform/settings.h"
#include "platform/trace.h"

namespace {

constexpr const char* kDoneText = "Quillbox Lite is done zipping your web page(s).";
constexpr const char* kNoConnection =
    "Quillbox is unable to establish a connection to the Internet.\r\n"
    "                           "
    "Please make sure you have internet service, and try again.";

void PrintMessage(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    std::fprintf(stderr, "quillbox: %s\n", out.c_str());
}

// The address box: the history in memory, as the window's combo box would hold it.
class CConsoleAddressBox : public IAddressBox {
  public:
    int AddString(const std::string& text) override {
        m_entries.push_back(text);
        return static_cast<int>(m_entries.size()) - 1;
    }
    void SetCurSel(int index) override {
        m_nSel = index >= 0 && index < static_cast<int>(m_entries.size()) ? index : -1;
    }
    void SetText(const std::string& text) override { m_strText = text; }

    std::vector<std::string> m_entries;
    int m_nSel = -1;
    std::string m_strText;
};

bool PrefixNoCase(const std::string& entry, const std::string& text) {
    if (entry.size() < text.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(entry[i])) !=
            std::tolower(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

class CConsoleMainWindow : public CMainWindow {
  public:
    CConsoleMainWindow(PackagerState& app, std::string address, std::string output, bool yes)
        : CMainWindow(app),
          m_address(std::move(address)),
          m_output(std::move(output)),
          m_bYes(yes) {
        LoadHistory(m_box);
    }
    ~CConsoleMainWindow() override {
        if (m_worker.joinable())
            m_worker.join();
    }

    // Serves the window thread until the command is over; true on success.
    bool Run() {
        OnZip();
        auto nextTick = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        while (IsBusy()) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_queueLock);
                m_queueSignal.wait_until(lock, nextTick, [this] { return !m_queue.empty(); });
                if (!m_queue.empty()) {
                    job = std::move(m_queue.front());
                    m_queue.pop_front();
                }
            }
            if (job) {
                job();
                std::lock_guard<std::mutex> lock(m_queueLock);
                ++m_nDone;
                m_queueSignal.notify_all();
            }
            if (m_bTimer && std::chrono::steady_clock::now() >= nextTick) {
                OnTimer(1);
                nextTick += std::chrono::milliseconds(500);
            }
        }
        if (m_worker.joinable())
            m_worker.join();
        return m_bSuccess;
    }

    const CConsoleAddressBox& Box() const { return m_box; }

  protected:
    std::string GetAddressText() override { return m_address; }
    std::string GetOutputPathText() override { return m_output; }
    int ShowMessageBox(const std::string& text, unsigned style) override {
        if ((style & 0xF) != platform::kMbYesNo) {
            PrintMessage(text);
            return platform::kIdOk;
        }
        std::string question = text;
        PrintMessage(question);
        if (m_bYes) {
            std::fprintf(stderr, "quillbox: yes (-y)\n");
            return platform::kIdYes;
        }
        if (!isatty(STDIN_FILENO)) {
            std::fprintf(stderr, "quillbox: no answer on standard input; use -y to overwrite\n");
            return platform::kIdNo;
        }
        std::fprintf(stderr, "[y/N] ");
        std::string line;
        if (!std::getline(std::cin, line))
            return platform::kIdNo;
        return (!line.empty() && (line[0] == 'y' || line[0] == 'Y')) ? platform::kIdYes
                                                                     : platform::kIdNo;
    }
    void SetFocusTo(int) override {}
    void EnableMainWindow(bool) override {}
    WindowHandle GetHandle() override { return nullptr; }
    bool WindowExists() override { return true; }
    void StartTimer() override { m_bTimer = true; }
    void StopTimer() override { m_bTimer = false; }
    void ShowDoneDialog() override {
        m_bSuccess = true;
        std::printf("%s\n", kDoneText);
        std::fflush(stdout);
    }
    int ComboGetCount() override { return static_cast<int>(m_box.m_entries.size()); }
    int ComboFindString(int after, const std::string& text) override {
        int n = static_cast<int>(m_box.m_entries.size());
        for (int k = 1; k <= n; ++k) {
            int i = (after + k) % n;
            if (i < 0)
                i += n;
            if (PrefixNoCase(m_box.m_entries[static_cast<size_t>(i)], text))
                return i;
        }
        return -1;
    }
    int ComboAddString(const std::string& text) override { return m_box.AddString(text); }
    void ComboSetCurSel(int index) override { m_box.SetCurSel(index); }
    void BringToForeground() override {}
    bool StartWorker(std::function<void()> fn) override {
        m_worker = std::thread(std::move(fn));
        return true;
    }
    void RunOnWindowThread(std::function<void()> fn) override {
        std::unique_lock<std::mutex> lock(m_queueLock);
        unsigned long ticket = m_nQueued++;
        m_queue.push_back(std::move(fn));
        m_queueSignal.notify_all();
        m_queueSignal.wait(lock, [this, ticket] { return m_nDone > ticket; });
    }

  private:
    std::string m_address, m_output;
    bool m_bYes;
    bool m_bSuccess = false;
    std::atomic<bool> m_bTimer{false};
    CConsoleAddressBox m_box;
    std::thread m_worker;
    std::mutex m_queueLock;
    std::condition_variable m_queueSignal;
    std::deque<std::function<void()>> m_queue;
    unsigned long m_nQueued = 0, m_nDone = 0;
};

// $HOME/MyZips/QLBX.EXE, the folder created as the Windows program creates "\MyZips".
std::string DefaultOutputPath() {
    const char* home = std::getenv("HOME");
    std::string folder = platform::JoinPath(home && *home ? home : ".", "MyZips");
    platform::FolderCreate(folder);  // an error, for instance because it exists, is ignored
    return platform::JoinPath(folder, "QLBX.EXE");
}

void Usage(FILE* out) {
    std::fprintf(out,
                 "Usage: quillbox [-o OUTPUT] [-y] [-v] [--no-styles] ADDRESS\n"
                 "Grabs the page at ADDRESS (http://, https:// or a local file) with its frames\n"
                 "and pictures into one self-extracting Windows executable.\n"
                 "  -o OUTPUT  the executable to write (default: $HOME/MyZips/QLBX.EXE)\n"
                 "  -y         overwrite an existing OUTPUT without asking\n"
                 "  -v         write the diagnostic trace lines to standard output\n"
                 "  --no-styles  leave stylesheets on the web (the classic output)\n"
                 "Without ADDRESS, lists the address history (* marks the last one used).\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string output;
    bool yes = false, verbose = std::getenv("QB_TRACE") != nullptr;
    int opt;
    bool noStyles = false;
    const struct option longOptions[] = {{"no-styles", no_argument, nullptr, 'S'},
                                         {nullptr, 0, nullptr, 0}};
    while ((opt = getopt_long(argc, argv, "o:yvh", longOptions, nullptr)) != -1) {
        switch (opt) {
            case 'S':
                noStyles = true;
                break;
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
                Usage(stdout);
                return 0;
            default:
                Usage(stderr);
                return 2;
        }
    }
    if (argc - optind > 1) {
        Usage(stderr);
        return 2;
    }
    platform::SetTraceEnabled(verbose);
    platform::SetSettingsKey("Tarnwick", "quillbox");

    if (optind == argc) {
        CConsoleAddressBox box;
        LoadHistory(box);
        for (size_t i = 0; i < box.m_entries.size(); ++i)
            std::printf("%c %s\n", static_cast<int>(i) == box.m_nSel ? '*' : ' ',
                        box.m_entries[i].c_str());
        if (box.m_entries.empty())
            std::printf("(no history yet; try %s)\n", box.m_strText.c_str());
        Usage(stdout);
        return 0;
    }

    std::unique_ptr<platform::InternetService> service = platform::CreateInternetService();
    if (!service || service->AttemptConnect() != 0) {
        PrintMessage(kNoConnection);
        return 1;
    }
    CGrabber grabber(std::move(service));
    grabber.SweepWorkFolders();
    grabber.m_bNoStyles = noStyles;

    PackagerState app;
    app.pGrabber = &grabber;
    if (output.empty())
        output = DefaultOutputPath();
    CConsoleMainWindow window(app, argv[optind], output, yes);
    window.InstallProgressCallback();
    bool ok = window.Run();
    // The capture report: one summary line, then each failure.
    const CGrabPlan& report = grabber.GetReport();
    if (report.Size() > 0) {
        std::fprintf(stderr, "quillbox: %s\n", report.Summary().c_str());
        for (const std::string& line : report.FailureLines())
            std::fprintf(stderr, "quillbox: failed: %s\n", line.c_str());
    }
    if (!ok)
        return 1;
    return report.FailedCount() > 0 ? 3 : 0;
}
