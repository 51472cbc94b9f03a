// The rendered capture against a scripted stand-in for the browser: what a well-behaved
// browser hands over, and that a broken, silent, dying or stubborn one ends the capture
// with a clear error, in bounded time, with no process and no profile left. Linux drives
// fake_browser.py; Windows the stand-in program scripted_browser.exe beside this test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include "packager/render/rendered_capture.h"

namespace {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
bool ProcessRuns(int pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        return false;
    }
    bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return runs;
}

std::vector<std::string> StandIn(const std::string& mode, const std::string& pidFile) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder(self, n);
    folder.erase(folder.find_last_of("\\/") + 1);
    return {folder + "scripted_browser.exe", mode, pidFile};
}

int OwnPid() {
    return static_cast<int>(GetCurrentProcessId());
}

// What a browser that cannot be started is told as.
const char kNotStarted[] = "could not be started";
#else
// Running and not a zombie (a killed helper waits for its new parent to reap it).
bool ProcessRuns(int pid) {
    if (pid <= 0 || kill(pid, 0) != 0) {
        return false;
    }
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

std::vector<std::string> StandIn(const std::string& mode, const std::string& pidFile) {
    return {"/usr/bin/python3", QB_TEST_DIR "/fake_browser.py", mode, pidFile};
}

int OwnPid() {
    return static_cast<int>(getpid());
}

// The program is started (the fork succeeds) and ends at once.
const char kNotStarted[] = "ended before";
#endif

// No process of the stand-in (itself and its helper) runs a moment after the capture.
void ExpectNoneLeft(const std::string& pidFile, const std::string& mode) {
    std::ifstream in(pidFile);
    int browser = 0, helper = 0;
    in >> browser >> helper;
    ASSERT_GT(browser, 0) << mode << ": the stand-in did not start";
    ASSERT_GT(helper, 0) << mode;
    Clock::time_point until = Clock::now() + std::chrono::seconds(2);
    while ((ProcessRuns(browser) || ProcessRuns(helper)) && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(ProcessRuns(browser)) << mode << ": the browser was left running";
    EXPECT_FALSE(ProcessRuns(helper)) << mode << ": the browser's helper was left running";
}

class RenderedCapture : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        m_dir = (std::filesystem::temp_directory_path() /
                 ("qb-render-test-" + std::to_string(OwnPid()) + "-" + std::to_string(++serial)))
                    .string();
        std::filesystem::remove_all(m_dir);
        ASSERT_TRUE(std::filesystem::create_directories(m_dir));
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    CRenderOptions Options(const std::string& mode) {
        CRenderOptions options;
        options.command = StandIn(mode, PidFile());
        options.strProfileFolder = m_dir + "/profile";
        options.nCommandMs = 1500;
        options.nSettleMs = 2000;
        options.nQuietMs = 100;
        return options;
    }
    std::string PidFile() const { return m_dir + "/pids"; }

    std::string m_dir;
};

TEST_F(RenderedCapture, TakesTheDocumentFramesFontsAndStatusAndEndsTheBrowser) {
    CRenderedPage page;
    std::string error;
    ASSERT_TRUE(CaptureRenderedPage("http://127.0.0.1:9/start.htm", Options("ok"), page, error))
        << error;
    EXPECT_EQ(page.page.strAddress, "http://127.0.0.1:9/final.htm");
    EXPECT_NE(page.page.strText.find("<p>built</p>"), std::string::npos);
    ASSERT_EQ(page.frames.size(), 1u);
    EXPECT_EQ(page.frames[0].strAddress, "http://127.0.0.1:9/quillbox-frame-1.htm");
    EXPECT_EQ(page.nStatus, 404u);
    bool font = false;
    for (const CLoadedResource& r : page.loaded) {
        font = font || (r.strType == "Font" && r.strAddress == "http://127.0.0.1:9/used.ttf");
    }
    EXPECT_TRUE(font);
    ExpectNoneLeft(PidFile(), "ok");
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/profile"));
}

TEST_F(RenderedCapture, ABrokenBrowserEndsTheCaptureWithItsCause) {
    struct Case {
        const char* mode;
        const char* error;  // a part of the error
        int boundMs;        // the capture is over within this
    };
    const Case cases[] = {
        {"garbage", "not JSON", 3000},
        {"silent", "did not answer Target.createTarget within 1500 ms", 4000},
        {"die", "the browser ended before the capture was done", 3000},
    };
    for (const Case& c : cases) {
        CRenderedPage page;
        std::string error;
        Clock::time_point start = Clock::now();
        EXPECT_FALSE(CaptureRenderedPage("http://127.0.0.1:9/", Options(c.mode), page, error))
            << c.mode;
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        EXPECT_NE(error.find(c.error), std::string::npos) << c.mode << ": " << error;
        EXPECT_LT(took.count(), c.boundMs) << c.mode;
        EXPECT_TRUE(page.page.strText.empty()) << c.mode;
        ExpectNoneLeft(PidFile(), c.mode);
        EXPECT_FALSE(std::filesystem::exists(m_dir + "/profile")) << c.mode;
        std::filesystem::remove(PidFile());
    }
}

TEST_F(RenderedCapture, ABrowserThatWillNotCloseIsKilled) {
    CRenderedPage page;
    std::string error;
    ASSERT_TRUE(CaptureRenderedPage("http://127.0.0.1:9/", Options("stubborn"), page, error))
        << error;
    ExpectNoneLeft(PidFile(), "stubborn");
}

TEST_F(RenderedCapture, ACancelEndsAWaitAtOnceWithoutAnError) {
    std::atomic<bool> cancel{false};
    CRenderOptions options = Options("silent");
    options.nCommandMs = 20000;
    options.cancelled = [&cancel] { return cancel.load(); };
    std::thread canceller([&cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    CRenderedPage page;
    std::string error = "unset";
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(CaptureRenderedPage("http://127.0.0.1:9/", options, page, error));
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    canceller.join();
    EXPECT_EQ(error, "");
    EXPECT_LT(took.count(), 2000);
    ExpectNoneLeft(PidFile(), "cancelled");
}

TEST_F(RenderedCapture, ABrowserThatCannotBeStartedIsAnError) {
    CRenderOptions options = Options("ok");
    options.command = {m_dir + "/no-such-browser"};
    CRenderedPage page;
    std::string error;
    EXPECT_FALSE(CaptureRenderedPage("http://127.0.0.1:9/", options, page, error));
    EXPECT_NE(error.find(kNotStarted), std::string::npos) << error;
}

#ifdef _WIN32
// The browser's job dies with the packager's handle to it: a packager that is killed
// mid-capture takes the browser and its helpers with it.
TEST_F(RenderedCapture, ABrowserEndsWithAPackagerThatIsKilled) {
    std::vector<std::string> standIn = StandIn("packager", PidFile());
    std::string line = "\"" + standIn[0] + "\" packager \"" + PidFile() + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION packager = {};
    ASSERT_TRUE(CreateProcessA(standIn[0].c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &packager));
    CloseHandle(packager.hThread);
    Clock::time_point until = Clock::now() + std::chrono::seconds(10);
    int browser = 0, helper = 0;
    while (helper == 0 && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream in(PidFile());
        in >> browser >> helper;
    }
    ASSERT_GT(helper, 0) << "the packager did not start the browser";
    EXPECT_TRUE(ProcessRuns(browser));
    TerminateProcess(packager.hProcess, 9);
    WaitForSingleObject(packager.hProcess, 5000);
    CloseHandle(packager.hProcess);
    ExpectNoneLeft(PidFile(), "packager killed");
}
#endif

}  // namespace
