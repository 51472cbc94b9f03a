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
    std::unique_ptr<platform::InternetSession> OpenSession(
        const std::string& agent, uint32_t accessType, uint32_t flags,
        const platform::InternetTimeouts& timeouts) override {
        return m_service.OpenSession(agent, accessType, flags, timeouts);
    }
    bool GetUrlCacheEntry(const std::string& key, std::string& localFile) override {
        return m_service.GetUrlCacheEntry(key, localFile);
    }

  private:
    platform::InternetService& m_service;
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
    // The grab's credentials, handed to each transfer as it starts.
    CFetcher::CCredentials credentials;
    CGrabTally tally;
};

// A file as it arrives: a stylesheet into memory, anything else into its file, within its
// own bound and the grab's.
class CFileSink : public CFetchSink {
  public:
    CFileSink(const std::string& destination, bool stylesheet, uint64_t limit, CGrabTally* tally,
              std::string& body)
        : m_destination(destination),
          m_bStylesheet(stylesheet),
          m_nLimit(limit),
          m_pTally(tally),
          m_body(body) {}
    bool Begin(uint32_t status, std::string& failure) override {
        if (!IsSuccess(status)) {
            return false;  // only a 2xx answer is saved; the status says why
        }
        if (!m_bStylesheet) {
            if (!m_file.Open(m_destination)) {
                failure = kNotWritten;
                return false;
            }
        }
        return true;
    }
    bool GoOn() override { return m_pTally == nullptr || !m_pTally->stop; }
    bool Take(const char* data, size_t size, std::string& failure) override {
        m_nTotal += size;
        uint64_t grab = m_pTally == nullptr ? 0 : m_pTally->bytes.fetch_add(size) + size;
        if (m_nTotal > m_nLimit || (m_pTally != nullptr && grab > m_pTally->nMax)) {
            failure = kTooLarge;
            return false;
        }
        if (m_bStylesheet) {
            m_body.append(data, size);
        } else if (!WriteAll(m_file.Handle(), data, size)) {
            failure = kNotWritten;
            return false;
        }
        return true;
    }
    bool Close() { return m_file.Close(); }
    bool Opened() const { return m_file.IsOpen(); }
    uint64_t Total() const { return m_nTotal; }

  private:
    const std::string& m_destination;
    bool m_bStylesheet;
    uint64_t m_nLimit;
    CGrabTally* m_pTally;
    std::string& m_body;
    CNewFile m_file;
    uint64_t m_nTotal = 0;
};

}  // namespace

CFileOutcome FetchFile(CFetcher& fetcher, const std::string& address,
                       const std::string& destination, bool stylesheet, uint64_t limit,
                       CGrabTally* tally) {
    CFileOutcome outcome;
    const bool stopped = tally != nullptr && tally->stop;
    if (stopped) {
        outcome.strFailure = kCancelled;
        return outcome;
    }
    CFileSink sink(destination, stylesheet, limit, tally, outcome.strBody);
    CFetchResult fetched = fetcher.Fetch(address, sink, kChunk, false);
    const bool stop = tally != nullptr && tally->stop;
    if (!fetched.bOpened || (!fetched.bAnswered && fetched.strFailure.empty())) {
        outcome.bRefused = fetched.nStatus == 401 || fetched.nStatus == 407;
        outcome.strFailure = fetched.nStatus == 0 && stop ? kCancelled : fetcher.RequestFailure();
        return outcome;
    }
    outcome.strBase = fetched.strAddress;
    std::string failure = fetched.strFailure;
    if (fetched.bReadBroke) {
        failure = stop ? kCancelled : "the transfer broke off";
    } else if (!fetched.bComplete && failure.empty()) {
        failure = kCancelled;
    }
    const bool opened = sink.Opened();
    if (!sink.Close() && failure.empty()) {
        failure = kNotWritten;
    }
    if (!failure.empty()) {
        // What was abandoned does not count against the grab.
        if (tally != nullptr) {
            tally->bytes.fetch_sub(sink.Total());
        }
        outcome.strBody.clear();
        if (opened) {
            platform::FileRemove(destination);
        }
    } else if (sink.Total() == 0 && opened) {
        platform::FileRemove(destination);  // an empty answer leaves no file
    }
    outcome.strFailure = failure;
    return outcome;
}

namespace {

// Fetches one file with a fetcher of its own; runs on a transfer's thread and touches no plan.
Outcome Transfer(Shared& shared, CFetcher& fetcher, const Task& task) {
    CFileOutcome file = FetchFile(fetcher, task.strAddress, task.strDestination, task.bStylesheet,
                                  task.nLimit, &shared.tally);
    Outcome outcome;
    outcome.nIndex = task.nIndex;
    outcome.strServer = task.strServer;
    outcome.bStylesheet = task.bStylesheet;
    outcome.bRefused = file.bRefused;
    outcome.strFailure = std::move(file.strFailure);
    outcome.strBody = std::move(file.strBody);
    outcome.strBase = std::move(file.strBase);
    return outcome;
}

void TransferLoop(Shared& shared, CFetcher& fetcher) {
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
            fetcher.SetCredentials(shared.credentials);
        }
        Outcome outcome = Transfer(shared, fetcher, task);
        {
            std::lock_guard<std::mutex> lock(shared.lock);
            shared.outcomes.push_back(std::move(outcome));
        }
        shared.done.notify_one();
    }
}

}  // namespace

// One run of the pool over a grab's plan, driven from the grab's thread.
class CPoolRun {
  public:
    CPoolRun(CGrab& grab, const std::string& folder, GrabJob& job, const CGrabOptions& limits)
        : m_grab(grab),
          m_fetcher(grab.Fetcher()),
          m_strFolder(folder),
          m_job(job),
          m_limits(limits) {
        m_limits.nMaxConnections = std::max(1, m_limits.nMaxConnections);
        m_limits.nMaxPerServer = std::max(1, m_limits.nMaxPerServer);
        m_shared.tally.nMax = m_limits.nMaxGrabBytes;
    }
    ~CPoolRun() { End(); }
    CPoolRun(const CPoolRun&) = delete;
    CPoolRun& operator=(const CPoolRun&) = delete;

    // One turn of the files (see CGrabFiles::Next).
    CGrabFiles::Turn Next();

  private:
    void Start();
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

    CGrab& m_grab;
    CFetcher& m_fetcher;  // the grab's own, which may ask for a password
    std::string m_strFolder;
    GrabJob& m_job;
    CGrabOptions m_limits;
    Shared m_shared;
    // The pool's own fetchers, one per transfer thread.
    std::vector<std::unique_ptr<CFetcher>> m_fetchers;
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
    bool m_bStarted = false;
};

void CPoolRun::QueueNew() {
    CGrabPlan& plan = m_grab.Plan();
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
    CGrabPlan& plan = m_grab.Plan();
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
    CGrabPlan& plan = m_grab.Plan();
    bool moved = false;
    while (m_nCursor < plan.Size()) {
        const CGrabEntry& entry = plan.At(m_nCursor);
        bool file = entry.kind != EntryKind::Page && entry.kind != EntryKind::Frame;
        if (file && entry.state == EntryState::Pending && !IsWebAddress(entry.strAddress)) {
            if (!Report(true)) {
                return moved;
            }
            ++m_nDone;
            m_grab.FetchResource(m_nCursor, m_strFolder);
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
    CGrabPlan& plan = m_grab.Plan();
    size_t i = outcome.nIndex;
    if (outcome.bRefused) {
        Refetch(i);
        return;
    }
    if (!outcome.strFailure.empty()) {
        plan.SetFailed(i, outcome.strFailure);
        return;
    }
    m_grab.RewriteStylesheet(i, outcome.strBody, outcome.strBase);
    if (WriteWholeFile(platform::JoinPath(m_strFolder, plan.At(i).strLocalName), outcome.strBody)) {
        plan.SetDone(i);
    } else {
        plan.SetFailed(i, kNotWritten);
    }
}

// A file behind a password: fetched here, where the prompt may be shown, as a
// one-at-a-time grab would; whatever was entered goes to the later transfers.
void CPoolRun::Refetch(size_t index) {
    m_grab.FetchResource(index, m_strFolder);
    ShareCredentials();
}

void CPoolRun::ShareCredentials() {
    std::lock_guard<std::mutex> lock(m_shared.lock);
    m_shared.credentials = m_fetcher.Credentials();
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
            Outcome outcome = Transfer(m_shared, m_fetcher, task);
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
    if (m_fetcher.GetSession() != nullptr) {
        lent = std::make_unique<CLentService>(m_fetcher.GetService());
    }
    // It asks nothing: a file behind a password is fetched again on the grab's thread.
    auto fetcher = std::make_unique<CFetcher>(std::move(lent), m_limits);
    if (platform::InternetSession* session = fetcher->GetSession()) {
        // A stop gives up a wait for the network too, not only the next read.
        const std::atomic<bool>* stop = &m_shared.tally.stop;
        session->SetAbortCheck([stop] { return stop->load(); });
    }
    CFetcher* raw = fetcher.get();
    try {
        m_threads.emplace_back([this, raw] { TransferLoop(m_shared, *raw); });
    } catch (const std::system_error&) {
        return false;
    }
    m_fetchers.push_back(std::move(fetcher));
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

void CPoolRun::Start() {
    // Whatever the pages took counts against the grab's bound.
    uint64_t pages = 0;
    for (const platform::FindData& e :
         platform::ListFolder(platform::JoinPath(m_strFolder, "*.*"))) {
        if (e.name != "." && e.name != "..") {
            pages += static_cast<uint64_t>(std::max<int64_t>(0, e.size));
        }
    }
    m_shared.tally.bytes = pages;
    ShareCredentials();
    m_bStarted = true;
}

CGrabFiles::Turn CPoolRun::Next() {
    if (!m_bStarted) {
        Start();
    }
    QueueNew();
    Collect();
    if (Advance()) {
        QueueNew();
    }
    if (m_nCursor == m_grab.Plan().Size() && m_queue.empty() && m_nActive == 0) {
        // The last file is counted once it is done.
        bool cancelled = m_nTotal > 0 && !Report(true);
        End();
        return cancelled ? CGrabFiles::Turn::Stopped : CGrabFiles::Turn::Done;
    }
    if (!Report(false)) {
        End();
        return CGrabFiles::Turn::Stopped;
    }
    Dispatch();
    std::unique_lock<std::mutex> lock(m_shared.lock);
    m_shared.done.wait_for(lock, kPollInterval, [&] { return !m_shared.outcomes.empty(); });
    return CGrabFiles::Turn::More;
}

// Stops the transfers (a cancel reaches those under way) and waits for their threads.
void CPoolRun::End() {
    m_shared.tally.stop = true;
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
    m_fetchers.clear();
}

CGrabFiles::CGrabFiles(CGrab& grab, const std::string& folder, GrabJob& job,
                       const CGrabOptions& options)
    : m_pRun(std::make_unique<CPoolRun>(grab, folder, job, options)) {}

CGrabFiles::~CGrabFiles() = default;

CGrabFiles::Turn CGrabFiles::Next() {
    return m_pRun->Next();
}
