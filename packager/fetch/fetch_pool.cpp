#include "packager/fetch/fetch_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "packager/address/web_address.h"
#include "packager/fetch/grabber.h"
#include "packager/fetch/text_file.h"
#include "packager/address/url_utils.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "platform/ui.h"

namespace {

const char kTooLarge[] = "too large";
const char kCancelled[] = "cancelled";
const char kNotWritten[] = "could not be written to the work folder (is the disk full?)";
const size_t kChunk = 65536;
// How often a wait for transfers asks the progress callback whether to go on.
const std::chrono::milliseconds kPollInterval(100);

bool IsSuccess(uint32_t status) {
    return status >= 200 && status <= 299;
}

// What the per-server bound counts: the server key of an address (the address itself when it
// names no server, so that it is bounded on its own).
std::string ServerOf(const std::string& address) {
    CWebAddress parts;
    return ParseWebAddress(address, parts) ? parts.ServerKey() : address;
}

// The grab's service, lent to the contexts of the transfers (each opens its own session).
class CLentService : public platform::InternetService {
  public:
    explicit CLentService(platform::InternetService& service) : m_service(service) {}
    uint32_t AttemptConnect() override { return m_service.AttemptConnect(); }
    std::unique_ptr<platform::InternetSession> OpenSession(const std::string& agent,
                                                           uint32_t accessType,
                                                           uint32_t flags) override {
        return m_service.OpenSession(agent, accessType, flags);
    }
    bool GetUrlCacheEntry(const std::string& key, std::string& localFile) override {
        return m_service.GetUrlCacheEntry(key, localFile);
    }

  private:
    platform::InternetService& m_service;
};

// While the pool runs only the grab's thread may ask for a password: a transfer on another
// thread that the server refuses is turned down at once, and the grab's thread fetches that
// file again itself, asking once for its server. Everything else passes through.
class CPromptGate : public platform::IUserInterface {
  public:
    void Open(platform::IUserInterface* inner) {
        m_pInner = inner;
        m_owner = std::this_thread::get_id();
    }
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags,
                    void* owner) override {
        return m_pInner.load()->ShowMessage(text, caption, flags, owner);
    }
    void ShowFailure(const std::string& text, const std::string& line, const std::string& caption,
                     unsigned flags, void* owner) override {
        m_pInner.load()->ShowFailure(text, line, caption, flags, owner);
    }
    bool AskAuthorization(const platform::AuthorizationPrompt& prompt, std::string& user,
                          std::string& password, void* owner) override {
        return OnOwner() && m_pInner.load()->AskAuthorization(prompt, user, password, owner);
    }
    bool AskPassword(const platform::PasswordPrompt& prompt, std::string& password,
                     void* owner) override {
        return OnOwner() && m_pInner.load()->AskPassword(prompt, password, owner);
    }
    intptr_t ShellOpen(const std::string& target, void* owner) override {
        return m_pInner.load()->ShellOpen(target, owner);
    }
    bool RunAndWait(const std::string& path) override { return m_pInner.load()->RunAndWait(path); }

  private:
    bool OnOwner() const { return std::this_thread::get_id() == m_owner; }

    std::atomic<platform::IUserInterface*> m_pInner{nullptr};
    std::thread::id m_owner;
};

// One file to fetch: which plan entry, from where, to where.
struct Task {
    size_t nIndex = 0;
    std::string strAddress;
    std::string strDestination;
    std::string strServer;
    bool bStylesheet = false;
    uint64_t nLimit = 0;
};

// What a transfer brings back to the grab's thread.
struct Outcome {
    size_t nIndex = 0;
    bool bStylesheet = false;
    bool bRefused = false;  // the server wants a password: fetched again on the grab's thread
    std::string strServer;
    std::string strFailure;
    std::string strBody;  // a stylesheet's text, read before its turn in the plan
    std::string strBase;  // the address it came from after redirects
};

// What the grab's thread and the transfers share, under the lock.
struct Shared {
    std::mutex lock;
    std::condition_variable work;  // a task is ready, or the pool ends
    std::condition_variable done;  // an outcome is ready
    std::deque<Task> ready;
    std::vector<Outcome> outcomes;
    bool bEnding = false;
    // The grab's credentials and scheme, handed to each transfer as it starts.
    std::string strUser, strPassword, strCredentialsServer;
    CWebAddress page;

    std::atomic<bool> stop{false};
    std::atomic<uint64_t> grabBytes{0};
    uint64_t nMaxGrabBytes = 0;
};

// Fetches one file with a context of its own; runs on a transfer's thread and touches no plan.
Outcome Transfer(Shared& shared, CGrabber& context, const Task& task) {
    Outcome outcome;
    outcome.nIndex = task.nIndex;
    outcome.strServer = task.strServer;
    outcome.bStylesheet = task.bStylesheet;
    if (shared.stop) {
        outcome.strFailure = kCancelled;
        return outcome;
    }
    context.m_nLastStatus = 0;
    std::unique_ptr<platform::InternetRequest> response =
        context.OpenAddress(task.strAddress, false);
    uint32_t status = context.m_nLastStatus;
    if (!response || !IsSuccess(status)) {
        response.reset();
        context.m_pConnection.reset();
        outcome.bRefused = status == 401 || status == 407;
        outcome.strFailure = status == 0 && shared.stop ? kCancelled : context.RequestFailure();
        return outcome;
    }
    outcome.strBase = context.CurrentAddress();
    int file = -1;
    if (!task.bStylesheet) {
        file = platform::FileOpen(task.strDestination,
                                  platform::kOpenCreate | platform::kOpenTruncate |
                                      platform::kOpenWriteOnly | platform::kOpenBinary,
                                  platform::kModeReadWrite);
    }
    std::string failure = !task.bStylesheet && file < 0 ? kNotWritten : "";
    uint64_t total = 0;
    std::vector<char> chunk(kChunk);
    while (failure.empty()) {
        if (shared.stop) {
            failure = kCancelled;
            break;
        }
        long n = response->ReadFile(chunk.data(), chunk.size());
        if (n < 0) {
            failure = shared.stop ? kCancelled : "the transfer broke off";
            break;
        }
        if (n == 0) {
            break;
        }
        total += static_cast<uint64_t>(n);
        uint64_t grab =
            shared.grabBytes.fetch_add(static_cast<uint64_t>(n)) + static_cast<uint64_t>(n);
        if (total > task.nLimit || grab > shared.nMaxGrabBytes) {
            failure = kTooLarge;
            break;
        }
        if (task.bStylesheet) {
            outcome.strBody.append(chunk.data(), static_cast<size_t>(n));
        } else if (!WriteAll(file, chunk.data(), static_cast<size_t>(n))) {
            failure = kNotWritten;
        }
    }
    response.reset();
    context.m_pConnection.reset();
    if (file >= 0 && platform::FileClose(file) != 0 && failure.empty()) {
        failure = kNotWritten;
    }
    if (!failure.empty()) {
        // What was abandoned does not count against the grab.
        shared.grabBytes.fetch_sub(total);
        outcome.strBody.clear();
        if (file >= 0) {
            platform::FileRemove(task.strDestination);
        }
    } else if (total == 0 && file >= 0) {
        platform::FileRemove(task.strDestination);  // an empty answer leaves no file
    }
    outcome.strFailure = failure;
    return outcome;
}

void TransferLoop(Shared& shared, CGrabber& context) {
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(shared.lock);
            shared.work.wait(lock, [&] { return shared.bEnding || !shared.ready.empty(); });
            if (shared.bEnding) {
                return;
            }
            task = std::move(shared.ready.front());
            shared.ready.pop_front();
            context.m_strUser = shared.strUser;
            context.m_strPassword = shared.strPassword;
            context.m_strCredentialsServer = shared.strCredentialsServer;
            context.m_page = shared.page;
        }
        Outcome outcome = Transfer(shared, context, task);
        {
            std::lock_guard<std::mutex> lock(shared.lock);
            shared.outcomes.push_back(std::move(outcome));
        }
        shared.done.notify_one();
    }
}

// One run of the pool over a grab's plan, driven from the grab's thread.
class CPoolRun {
  public:
    CPoolRun(CGrabber& grabber, const std::string& folder, GrabJob& job, const CGrabOptions& limits)
        : m_grabber(grabber), m_strFolder(folder), m_job(job), m_limits(limits) {
        m_limits.nMaxConnections = std::max(1, m_limits.nMaxConnections);
        m_limits.nMaxPerServer = std::max(1, m_limits.nMaxPerServer);
        m_shared.nMaxGrabBytes = m_limits.nMaxGrabBytes;
    }
    ~CPoolRun() { End(); }
    CPoolRun(const CPoolRun&) = delete;
    CPoolRun& operator=(const CPoolRun&) = delete;

    bool Run();

  private:
    void QueueNew();
    void Collect();
    bool Advance();
    void FinishStylesheet(Outcome& outcome);
    void Refetch(size_t index);
    void Dispatch();
    bool StartTransfer();
    bool Report(bool force);
    void ShareCredentials();
    void End();

    CGrabber& m_grabber;
    std::string m_strFolder;
    GrabJob& m_job;
    CGrabOptions m_limits;
    Shared m_shared;
    std::vector<std::unique_ptr<CGrabber>> m_contexts;
    std::vector<std::thread> m_threads;

    std::deque<Task> m_queue;                // known and not handed out yet, in plan order
    std::map<std::string, int> m_perServer;  // transfers under way by server
    int m_nActive = 0;
    std::map<size_t, Outcome> m_sheets;  // stylesheets that arrived before their turn
    size_t m_nQueued = 0;                // plan entries looked at for new tasks
    size_t m_nCursor = 0;                // plan entries finished in plan order
    size_t m_nCounted = 0, m_nTotal = 0, m_nDone = 0;
    std::string m_strReported;
    std::chrono::steady_clock::time_point m_lastReport;
    bool m_bCancelled = false;
};

void CPoolRun::QueueNew() {
    CGrabPlan& plan = m_grabber.m_plan;
    for (; m_nCounted < plan.Size(); ++m_nCounted) {
        EntryKind kind = plan.At(m_nCounted).kind;
        m_nTotal += kind != EntryKind::Page && kind != EntryKind::Frame;
    }
    for (; m_nQueued < plan.Size(); ++m_nQueued) {
        const CGrabEntry& entry = plan.At(m_nQueued);
        if (entry.kind == EntryKind::Page || entry.kind == EntryKind::Frame ||
            entry.state != EntryState::Pending || !IsWebAddress(entry.strAddress)) {
            continue;  // local files are copied in their turn, on this thread
        }
        Task task;
        task.nIndex = m_nQueued;
        task.strAddress = entry.strAddress;
        task.strDestination = platform::JoinPath(m_strFolder, entry.strLocalName);
        task.strServer = ServerOf(entry.strAddress);
        task.bStylesheet = entry.kind == EntryKind::Stylesheet;
        task.nLimit =
            std::min(m_limits.nMaxResourceBytes,
                     task.bStylesheet ? m_limits.nMaxPageBytes : m_limits.nMaxDownloadBytes);
        m_queue.push_back(std::move(task));
    }
}

// Takes the outcomes that arrived: files are recorded at once, stylesheets wait for their
// turn in the plan.
void CPoolRun::Collect() {
    std::vector<Outcome> arrived;
    {
        std::lock_guard<std::mutex> lock(m_shared.lock);
        arrived.swap(m_shared.outcomes);
    }
    CGrabPlan& plan = m_grabber.m_plan;
    for (Outcome& outcome : arrived) {
        --m_perServer[outcome.strServer];
        --m_nActive;
        if (outcome.bStylesheet) {
            m_sheets[outcome.nIndex] = std::move(outcome);
            continue;
        }
        ++m_nDone;
        if (outcome.bRefused) {
            Refetch(outcome.nIndex);
        } else if (outcome.strFailure.empty()) {
            plan.SetDone(outcome.nIndex);
        } else {
            plan.SetFailed(outcome.nIndex, outcome.strFailure);
        }
    }
}

// Walks the plan in order up to the first stylesheet still on its way: stylesheets are read
// (and add what they name to the plan) and local files copied in the order a one-at-a-time
// grab would. True when it moved.
bool CPoolRun::Advance() {
    CGrabPlan& plan = m_grabber.m_plan;
    bool moved = false;
    while (m_nCursor < plan.Size()) {
        const CGrabEntry& entry = plan.At(m_nCursor);
        bool file = entry.kind != EntryKind::Page && entry.kind != EntryKind::Frame;
        if (file && entry.state == EntryState::Pending && !IsWebAddress(entry.strAddress)) {
            if (!Report(true)) {
                return moved;
            }
            ++m_nDone;
            m_grabber.FetchResource(m_nCursor, m_strFolder);
        } else if (file && entry.kind == EntryKind::Stylesheet &&
                   entry.state == EntryState::Pending) {
            auto it = m_sheets.find(m_nCursor);
            if (it == m_sheets.end()) {
                break;
            }
            ++m_nDone;
            FinishStylesheet(it->second);
            m_sheets.erase(it);
        }
        ++m_nCursor;
        moved = true;
    }
    return moved;
}

void CPoolRun::FinishStylesheet(Outcome& outcome) {
    CGrabPlan& plan = m_grabber.m_plan;
    size_t i = outcome.nIndex;
    if (outcome.bRefused) {
        Refetch(i);
        return;
    }
    if (!outcome.strFailure.empty()) {
        plan.SetFailed(i, outcome.strFailure);
        return;
    }
    m_grabber.RewriteStylesheet(i, outcome.strBody, outcome.strBase);
    if (WriteWholeFile(platform::JoinPath(m_strFolder, plan.At(i).strLocalName), outcome.strBody)) {
        plan.SetDone(i);
    } else {
        plan.SetFailed(i, kNotWritten);
    }
}

// A file behind a password: fetched here, where the prompt may be shown, as a
// one-at-a-time grab would; whatever was entered goes to the later transfers.
void CPoolRun::Refetch(size_t index) {
    m_grabber.FetchResource(index, m_strFolder);
    ShareCredentials();
}

void CPoolRun::ShareCredentials() {
    std::lock_guard<std::mutex> lock(m_shared.lock);
    m_shared.strUser = m_grabber.m_strUser;
    m_shared.strPassword = m_grabber.m_strPassword;
    m_shared.strCredentialsServer = m_grabber.m_strCredentialsServer;
    m_shared.page = m_grabber.m_page;
}

// Hands queued files to free transfers, within both bounds; stylesheets first, since what
// they name can only be fetched once they are read.
void CPoolRun::Dispatch() {
    while (m_nActive < m_limits.nMaxConnections && !m_queue.empty()) {
        auto pick = m_queue.end();
        for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
            if (m_perServer[it->strServer] >= m_limits.nMaxPerServer) {
                continue;
            }
            if (it->bStylesheet) {
                pick = it;
                break;
            }
            if (pick == m_queue.end()) {
                pick = it;
            }
        }
        if (pick == m_queue.end()) {
            return;
        }
        if (static_cast<int>(m_threads.size()) <= m_nActive && !StartTransfer()) {
            if (!m_threads.empty()) {
                // The system gives no more threads: the pool stays as large as it is.
                m_limits.nMaxConnections = static_cast<int>(m_threads.size());
                return;
            }
            // Not even one: this thread fetches, one file at a time.
            Task task = std::move(*pick);
            m_queue.erase(pick);
            Outcome outcome = Transfer(m_shared, m_grabber, task);
            ++m_perServer[task.strServer];
            ++m_nActive;
            std::lock_guard<std::mutex> lock(m_shared.lock);
            m_shared.outcomes.push_back(std::move(outcome));
            return;
        }
        ++m_perServer[pick->strServer];
        ++m_nActive;
        {
            std::lock_guard<std::mutex> lock(m_shared.lock);
            m_shared.ready.push_back(std::move(*pick));
        }
        m_queue.erase(pick);
        m_shared.work.notify_one();
    }
}

// One more transfer thread, with a fetch context (and session) of its own; false when the
// system gives no thread.
bool CPoolRun::StartTransfer() {
    std::unique_ptr<platform::InternetService> lent;
    if (m_grabber.GetSession() != nullptr) {
        lent = std::make_unique<CLentService>(m_grabber.GetService());
    }
    auto context = std::make_unique<CGrabber>(std::move(lent), m_limits);
    if (platform::InternetSession* session = context->GetSession()) {
        // A stop gives up a wait for the network too, not only the next read.
        const std::atomic<bool>* stop = &m_shared.stop;
        session->SetAbortCheck([stop] { return stop->load(); });
    }
    CGrabber* raw = context.get();
    try {
        m_threads.emplace_back([this, raw] { TransferLoop(m_shared, *raw); });
    } catch (const std::system_error&) {
        return false;
    }
    m_contexts.push_back(std::move(context));
    return true;
}

// Reports the count of finished files when it changed, and otherwise now and then, so that
// a long wait still learns of a cancel. False when the callback said stop.
bool CPoolRun::Report(bool force) {
    if (m_bCancelled) {
        return false;
    }
    char text[64];
    std::snprintf(text, sizeof text, "Loading images (%d of %d)", static_cast<int>(m_nDone),
                  static_cast<int>(m_nTotal));
    auto now = std::chrono::steady_clock::now();
    if (!force && text == m_strReported && now - m_lastReport < kPollInterval) {
        return true;
    }
    m_strReported = text;
    m_lastReport = now;
    // Never 100: the window's bar shows its position modulo the range, so "n of n" at 100
    // would empty it just as the last file is in.
    int32_t position =
        m_nTotal == 0 ? 0 : static_cast<int32_t>(std::min<size_t>(99, m_nDone * 100 / m_nTotal));
    m_bCancelled = ReportProgress(m_job, text, position) == 0;
    return !m_bCancelled;
}

bool CPoolRun::Run() {
    // Whatever the pages took counts against the grab's bound.
    uint64_t pages = 0;
    for (const platform::FindData& e :
         platform::ListFolder(platform::JoinPath(m_strFolder, "*.*"))) {
        if (e.name != "." && e.name != "..") {
            pages += static_cast<uint64_t>(std::max<int64_t>(0, e.size));
        }
    }
    m_shared.grabBytes = pages;
    ShareCredentials();

    static CPromptGate s_gate;
    platform::IUserInterface* previous = &platform::Ui();
    s_gate.Open(previous);
    platform::SetUserInterface(&s_gate);
    struct Restore {
        platform::IUserInterface* ui;
        ~Restore() { platform::SetUserInterface(ui); }
    } restore{previous};

    bool cancelled = false;
    for (;;) {
        QueueNew();
        Collect();
        if (Advance()) {
            QueueNew();
        }
        if (m_nCursor == m_grabber.m_plan.Size() && m_queue.empty() && m_nActive == 0) {
            // The last file is counted once it is done.
            cancelled = m_nTotal > 0 && !Report(true);
            break;
        }
        if (!Report(false)) {
            cancelled = true;
            break;
        }
        Dispatch();
        std::unique_lock<std::mutex> lock(m_shared.lock);
        m_shared.done.wait_for(lock, kPollInterval, [&] { return !m_shared.outcomes.empty(); });
    }
    End();
    return !cancelled;
}

// Stops the transfers (a cancel reaches those under way) and waits for their threads.
void CPoolRun::End() {
    m_shared.stop = true;
    {
        std::lock_guard<std::mutex> lock(m_shared.lock);
        m_shared.ready.clear();
        m_shared.bEnding = true;
    }
    m_shared.work.notify_all();
    for (std::thread& thread : m_threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    m_threads.clear();
    m_contexts.clear();
}

}  // namespace

bool FetchPlanFiles(CGrabber& grabber, const std::string& folder, GrabJob& job,
                    const CGrabOptions& options) {
    return CPoolRun(grabber, folder, job, options).Run();
}
