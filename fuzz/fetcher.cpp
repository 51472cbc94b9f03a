// Drives the fetcher's request loop, redirects, authorization and body handling through a
// stand-in internet service whose answers come from the input.
//
// Input: the first line is appended to "http://h" to make the address fetched; the next
// byte holds options (bit 0: the password prompt answers OK; bit 1: downloads in text mode).
// The rest is the answers to successive requests, separated by 0xFF bytes. Each answer is a
// response head ("HTTP/1.0 302 Found\r\nLocation: /x\r\n\r\n") and its body; in the body a
// 0x01 byte ends one read, and a final 0x02 makes the last read fail instead of ending.
// An answer that begins with 'X' is a failed send. Requests past the last answer are refused.
//
// Checked: credentials reach only the server the prompt named; every request line is
// well formed; a fetch leaves no connection open, reports success only with its file in
// place and a cause exactly when it fails.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "packager/fetch/grab_options.h"
#include "packager/fetch/grab_job.h"
#include "packager/fetch/grabber.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "fuzz/fuzz_check.h"

namespace {

struct Script {
    std::vector<std::string> answers;
    size_t next = 0;
    std::string lastPrompted;  // "host:port" the prompt last named, lower case
    bool answerOk = false;
    int messages = 0;
};

Script* g_script = nullptr;

class FuzzRequest : public platform::InternetRequest {
  public:
    bool AddRequestHeaders(const std::string&, uint32_t) override { return true; }

    bool SendRequest() override {
        if (g_script->next >= g_script->answers.size()) {
            m_error.kind = platform::InternetFailure::kRefused;
            return false;
        }
        const std::string& answer = g_script->answers[g_script->next++];
        if (!answer.empty() && answer[0] == 'X') {
            m_error.kind = static_cast<platform::InternetFailure>(
                answer.size() > 1 ? static_cast<unsigned char>(answer[1]) % 6 : 5);
            m_error.detail = answer.substr(answer.size() > 1 ? 2 : 1, 200);
            return false;
        }
        size_t end = answer.find("\r\n\r\n");
        m_head = answer.substr(0, end);
        m_body = end == std::string::npos ? std::string() : answer.substr(end + 4);
        if (!m_body.empty() && m_body.back() == '\x02') {
            m_body.pop_back();
            m_failAtEnd = true;
        }
        // The status line: a version, a blank and three digits.
        size_t blank = m_head.find(' ');
        m_hasStatus = blank != std::string::npos && blank + 4 <= m_head.size();
        for (size_t i = 1; m_hasStatus && i <= 3; ++i) {
            char c = m_head[blank + i];
            m_hasStatus = c >= '0' && c <= '9';
            m_status = m_status * 10 + static_cast<uint32_t>(c - '0');
        }
        m_sent = true;
        return true;
    }

    bool QueryStatusCode(uint32_t& status) override {
        if (!m_sent || !m_hasStatus) {
            return false;
        }
        status = m_status;
        return true;
    }

    bool QueryRawHeaders(std::string& headers) override {
        if (!m_sent) {
            return false;
        }
        headers = m_head;
        return true;
    }

    long ReadFile(void* buffer, size_t size) override {
        if (!m_sent) {
            return -1;
        }
        if (m_pos >= m_body.size()) {
            if (m_failAtEnd) {
                m_error.kind = platform::InternetFailure::kOther;
                m_error.detail = "cut short";
                return -1;
            }
            return 0;
        }
        size_t stop = m_body.find('\x01', m_pos);
        if (stop == std::string::npos) {
            stop = m_body.size();
        }
        size_t n = std::min(size, stop - m_pos);
        std::copy(m_body.begin() + static_cast<long>(m_pos),
                  m_body.begin() + static_cast<long>(m_pos + n), static_cast<char*>(buffer));
        m_pos += n;
        if (m_pos == stop && stop < m_body.size()) {
            ++m_pos;  // the read boundary itself is not data
        }
        return static_cast<long>(n);
    }

    platform::InternetError QueryError() const override { return m_error; }

  private:
    std::string m_head, m_body;
    size_t m_pos = 0;
    bool m_sent = false, m_hasStatus = false, m_failAtEnd = false;
    uint32_t m_status = 0;
    platform::InternetError m_error;
};

class FuzzConnection : public platform::InternetConnection {
  public:
    std::unique_ptr<platform::InternetRequest> OpenRequest(const std::string& verb,
                                                           const std::string& object,
                                                           const std::string&, uint32_t) override {
        Check(verb == "GET");
        // The request line cannot be split or bent by what a server sent.
        Check(!object.empty() && object[0] == '/');
        for (char c : object) {
            Check(static_cast<unsigned char>(c) > 0x20 && c != 0x7F);
        }
        return std::make_unique<FuzzRequest>();
    }
};

class FuzzSession : public platform::InternetSession {
  public:
    std::unique_ptr<platform::InternetConnection> Connect(const std::string& host, uint16_t port,
                                                          const std::string& user,
                                                          const std::string& password,
                                                          bool) override {
        Check(!host.empty());
        for (char c : host) {
            Check(c != '/' && c != '@' && static_cast<unsigned char>(c) > 0x20);
        }
        // A password typed for one server is never sent to another.
        if (!user.empty() || !password.empty()) {
            Check(Lower(host) + ":" + std::to_string(port) == g_script->lastPrompted);
        }
        return std::make_unique<FuzzConnection>();
    }
};

class FuzzService : public platform::InternetService {
  public:
    uint32_t AttemptConnect() override { return 0; }
    std::unique_ptr<platform::InternetSession> OpenSession(
        const std::string&, uint32_t, uint32_t, const platform::InternetTimeouts&) override {
        return std::make_unique<FuzzSession>();
    }
    bool GetUrlCacheEntry(const std::string&, std::string&) override { return false; }
};

class FuzzPrompts : public CFetchPrompts {
  public:
    void ShowFetchFailure(const std::string&, const std::string&, const std::string&) override {
        ++g_script->messages;
    }
    bool AskForCredentials(const std::string& server, std::string& user,
                           std::string& password) override {
        Check(!server.empty());
        if (!g_script->answerOk) {
            return false;
        }
        g_script->lastPrompted = Lower(server);
        user = "u";
        password = "p";
        return true;
    }
};

// A private folder for the run's files; it goes when the fuzzer ends.
char g_folder[] = "/tmp/qbfuzzfetchXXXXXX";

void RemoveWorkFolder() {
    platform::FolderRemove(g_folder);
}

std::string WorkFolder() {
    static bool made = [] {
        Check(mkdtemp(g_folder) != nullptr);
        std::atexit(&RemoveWorkFolder);
        return true;
    }();
    (void)made;
    return g_folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t nl = input.find('\n');
    if (nl == std::string::npos || nl + 1 >= input.size() || nl > 4096) {
        return 0;
    }
    Script script;
    std::string address = "http://h" + input.substr(0, nl);
    unsigned options = static_cast<unsigned char>(input[nl + 1]);
    script.answerOk = (options & 1) != 0;
    std::string rest = input.substr(nl + 2);
    size_t start = 0;
    while (start <= rest.size() && script.answers.size() < 64) {
        size_t end = rest.find('\xFF', start);
        if (end == std::string::npos) {
            end = rest.size();
        }
        script.answers.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    g_script = &script;
    FuzzPrompts prompts;
    CGrabOptions bounds;
    bounds.nMaxPageBytes = bounds.nMaxDownloadBytes = 1 << 20;
    bounds.nMaxRedirects = 8;

    std::string folder = WorkFolder();
    std::string page = platform::JoinPath(folder, "page.htm");
    CGrabber grabber(std::make_unique<FuzzService>(), bounds, &prompts);
    GrabJob job;
    CPageRewriter rewriter;
    std::string text;
    CGrab grab(grabber, job);
    bool ok = grab.FetchPage(rewriter, address, page, text, folder, job);
    Check(!grabber.Connected());
    Check(ok == grabber.Failure().empty());
    Check(!ok || platform::FileExists(page));
    Check(script.messages <= 1);

    // Whatever the page referred to is downloaded from the answers that are left.
    std::vector<std::string> sources;
    for (size_t i = 0; i < grabber.GetReport().Size(); ++i) {
        sources.push_back(grabber.GetReport().At(i).strAddress);
    }
    sources.push_back(address);
    size_t count = 0;
    for (const std::string& source : sources) {
        if (++count > 8) {
            break;
        }
        if (source.compare(0, 7, "http://") != 0 && source.compare(0, 8, "https://") != 0) {
            continue;
        }
        std::string target = platform::JoinPath(folder, "item.bin");
        bool got = grabber.DownloadFile(source, target, false, (options & 2) != 0);
        Check(!grabber.Connected());
        Check(got == grabber.Failure().empty());
        Check(got || !platform::PathExists(target));
        platform::FileRemove(target);
    }
    platform::FileRemove(page);
    g_script = nullptr;
    return 0;
}
