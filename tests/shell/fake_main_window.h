// A main window without windows: records what the Zip command does to it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "packager/shell/main_window.h"

class FakeMainWindow : public CMainWindow {
  public:
    explicit FakeMainWindow(PackagerState& app) : CMainWindow(app) {}
    ~FakeMainWindow() override {
        if (worker.joinable())
            worker.join();
    }

    // Runs the command and serves the "window thread" until it is over.
    void Zip() {
        OnZip();
        while (IsBusy()) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(queueLock);
                queueSignal.wait_for(lock, std::chrono::milliseconds(20),
                                     [this] { return !queue.empty(); });
                if (!queue.empty()) {
                    job = std::move(queue.front());
                    queue.pop_front();
                }
            }
            if (job) {
                job();
                std::lock_guard<std::mutex> lock(queueLock);
                ++done;
                queueSignal.notify_all();
            }
            if (timerRunning)
                OnTimer(1);
        }
        if (worker.joinable())
            worker.join();
    }

    std::string address, outPath;
    // Plays the Linux command line, which takes every output kind.
    bool everyOutputKind = false;
    std::vector<std::string> messages;
    std::vector<int> focus;
    std::vector<std::string> combo;
    int comboSel = -1;
    int answer = platform::kIdYes;
    bool enabled = true, timerRunning = false;
    int doneDialogs = 0;
    bool enabledDuringDoneDialog = false;
    std::vector<std::string> recorded;
    // The commands other than Zip that ran, in order ("open <address>", "about", ...).
    std::vector<std::string> actions;
    // The extractor template of the window's packing (empty: the installed one).
    std::string templatePath;
    // Sees every progress report before the window does (a test's user presses Cancel).
    std::function<void(const std::string&)> onReport;
    int Report(const std::string& text, int32_t position) override {
        if (onReport)
            onReport(text);
        return CMainWindow::Report(text, position);
    }
    // Called as the window's own packing begins (it asks for the template first).
    std::function<void()> onPackingStarts;

  protected:
    std::string GetAddressText() override { return address; }
    bool AcceptsEveryOutputKind() const override { return everyOutputKind; }
    std::string GetOutputPathText() override { return outPath; }
    int ShowMessageBox(const std::string& text, unsigned style) override {
        messages.push_back(text);
        return (style & platform::kMbButtonMask) == platform::kMbYesNo ? answer : platform::kIdOk;
    }
    void SetFocusTo(int id) override { focus.push_back(id); }
    void EnableMainWindow(bool enable) override { enabled = enable; }
    WindowHandle GetHandle() override { return nullptr; }
    bool WindowExists() override { return true; }
    void StartTimer() override { timerRunning = true; }
    void StopTimer() override { timerRunning = false; }
    void ShowDoneDialog() override {
        ++doneDialogs;
        enabledDuringDoneDialog = enabledDuringDoneDialog || enabled;
    }
    int ComboGetCount() override { return static_cast<int>(combo.size()); }
    int ComboAddString(const std::string& text) override {
        combo.push_back(text);
        return static_cast<int>(combo.size()) - 1;
    }
    void ComboSetCurSel(int index) override { comboSel = index; }
    std::string ComboGetItemText(int index) override {
        return index >= 0 && index < static_cast<int>(combo.size())
                   ? combo[static_cast<size_t>(index)]
                   : std::string();
    }
    void OpenInBrowser(const std::string& address) override {
        actions.push_back("open " + address);
    }
    void ShowBrowseDialog() override { actions.push_back("browse"); }
    void ShowAboutBox() override { actions.push_back("about"); }
    void CloseWindow() override { actions.push_back("close"); }
    void FocusNextControl() override { actions.push_back("next"); }
    void FocusPreviousControl() override { actions.push_back("previous"); }
    void BringToForeground() override {}
    bool StartWorker(std::function<void()> fn) override {
        worker = std::thread(std::move(fn));
        return true;
    }
    void RunOnWindowThread(std::function<void()> fn) override {
        std::unique_lock<std::mutex> lock(queueLock);
        unsigned long ticket = queued++;
        queue.push_back(std::move(fn));
        queueSignal.notify_all();
        queueSignal.wait(lock, [this, ticket] { return done > ticket; });
    }
    std::string ExtractorTemplate() override {
        if (onPackingStarts)
            onPackingStarts();
        return templatePath;
    }
    void RecordHistory(const std::string& address) override { recorded.push_back(address); }

  private:
    std::thread worker;
    std::mutex queueLock;
    std::condition_variable queueSignal;
    std::deque<std::function<void()>> queue;
    unsigned long queued = 0, done = 0;
};
