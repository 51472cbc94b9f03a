// The platform's HTTP transport (libcurl on Linux, WinINet on Windows) against the fixture
// server, through the internet interface: what goes on the wire, how bodies are read and
// decoded, how connections are kept, and how broken, slow or hostile servers end.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fixture_server.h"
#include "packager/fetch/grab_job.h"
#include "packager/fetch/grabber.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "test_prompts.h"

namespace {

const char kHeaderBlock[] =
    "Accept: */*\r\n"
    "User-Agent: Mozilla/2.0 (compatible; QLBX 1.0; RV; Windows 95)\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n";

[[maybe_unused]] void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void UnsetEnv(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

// Shortened bounds: connecting, then silence and the whole request as given.
platform::InternetTimeouts Shortened(int readMs, int requestMs = 300000) {
    return {2000, readMs, requestMs};
}

using Clock = std::chrono::steady_clock;

long Millis(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// One answer, read whole.
struct Fetched {
    bool sent = false;
    uint32_t status = 0;
    std::string head;
    std::string body;
    bool whole = false;  // read to its end without a failed read
    std::string reason;
    std::vector<long> pieces;
};

// A session over the platform's service, as the grabber opens it.
class Transport {
  public:
    explicit Transport(const platform::InternetTimeouts& timeouts = platform::InternetTimeouts())
        : m_pService(platform::CreateInternetService()) {
        m_pSession = m_pService->OpenSession(
            "Quillbox!", platform::kInternetOpenTypePreconfig,
            platform::kFlagExistingConnect | platform::kFlagNoAutoRedirect, timeouts);
    }
    platform::InternetSession* session() const { return m_pSession.get(); }

    std::unique_ptr<platform::InternetRequest> Send(const std::string& host, int port,
                                                    const std::string& object, bool secure,
                                                    bool& sent, const std::string& headers,
                                                    const std::string& user = "",
                                                    const std::string& password = "") {
        sent = false;
        m_pConnection =
            m_pSession->Connect(host, static_cast<uint16_t>(port), user, password, secure);
        if (!m_pConnection) {
            return nullptr;
        }
        auto request = m_pConnection->OpenRequest(
            "GET", object, "HTTP/1.0", 0x22200000u | (secure ? platform::kFlagSecure : 0u));
        if (!request) {
            return nullptr;
        }
        if (!headers.empty() && !request->AddRequestHeaders(headers, platform::kHeaderAddIfNew)) {
            return request;
        }
        sent = request->SendRequest();
        return request;
    }

    Fetched Get(int port, const std::string& object, size_t piece = 10024, bool secure = false,
                const std::string& user = "", const std::string& password = "") {
        Fetched f;
        auto request =
            Send("127.0.0.1", port, object, secure, f.sent, kHeaderBlock, user, password);
        if (!request) {
            return f;
        }
        if (!f.sent) {
            f.reason = request->FailureReason();
            return f;
        }
        request->QueryStatusCode(f.status);
        request->QueryRawHeaders(f.head);
        std::vector<char> buffer(piece);
        for (;;) {
            long n = request->ReadFile(buffer.data(), buffer.size());
            if (n < 0) {
                f.reason = request->FailureReason();
                break;
            }
            if (n == 0) {
                f.whole = true;
                break;
            }
            f.pieces.push_back(n);
            f.body.append(buffer.data(), static_cast<size_t>(n));
        }
        request.reset();
        m_pConnection.reset();
        return f;
    }

  private:
    std::unique_ptr<platform::InternetService> m_pService;
    std::unique_ptr<platform::InternetSession> m_pSession;
    std::unique_ptr<platform::InternetConnection> m_pConnection;
};

std::string Pattern(size_t n) {
    std::string out(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<char>(i % 256);
    }
    return out;
}

// One server for the suite: starting the interpreter is the slow part.
class TransportTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_pServer = new FixtureServer;
        s_bStarted = s_pServer->Start(FixtureSites());
    }
    static void TearDownTestSuite() {
        delete s_pServer;
        s_pServer = nullptr;
    }

    void SetUp() override {
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"}) {
            UnsetEnv(name);
        }
        ASSERT_TRUE(s_bStarted);
        m_server.ClearRequests();
    }

    Fetched Get(const std::string& object, size_t piece = 10024) {
        return m_transport.Get(m_server.port(), object, piece);
    }

    static inline FixtureServer* s_pServer = nullptr;
    static inline bool s_bStarted = false;
    FixtureServer& m_server = *s_pServer;
    Transport m_transport;
};

// The header lines of a logged request head, without the request line.
[[maybe_unused]] std::vector<std::string> HeaderLines(const std::string& head) {
    std::vector<std::string> lines;
    size_t start = head.find("\r\n");
    while (start != std::string::npos && start + 2 < head.size()) {
        size_t end = head.find("\r\n", start + 2);
        lines.push_back(head.substr(start + 2, end - start - 2));
        start = end;
    }
    return lines;
}

TEST_F(TransportTest, TheFetcherSendsItsHeaderBlock) {
    // Through the fetcher itself, so that a change of its block or its flags shows here.
    CGrabber grabber(platform::CreateInternetService());
    std::string scratch = MakeHostScratch("pin");
    std::string file = platform::JoinPath(HostToLocal(scratch), "page.htm");
    ASSERT_TRUE(grabber.DownloadFile(m_server.Base() + "/plain/index.htm", file, false, false));
    std::vector<std::string> heads = m_server.RequestHeads();
    ASSERT_EQ(1u, heads.size());
    std::string host = "Host: 127.0.0.1:" + std::to_string(m_server.port());
#ifdef _WIN32
    // WinINet: HTTP/1.1, the block, the host, and the service's own keep-alive.
    EXPECT_EQ(
        "GET /plain/index.htm HTTP/1.1\r\n"
        "Accept: */*\r\n"
        "User-Agent: Mozilla/2.0 (compatible; QLBX 1.0; RV; Windows 95)\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n" +
            host +
            "\r\n"
            "Connection: Keep-Alive\r\n",
        heads[0]);
#else
    // libcurl: HTTP/1.1, the host, the codings it decodes, then the block as given.
    std::vector<std::string> lines = HeaderLines(heads[0]);
    EXPECT_EQ(0u, heads[0].find("GET /plain/index.htm HTTP/1.1\r\n"));
    ASSERT_EQ(5u, lines.size()) << heads[0];
    EXPECT_EQ(host, lines[0]);
    EXPECT_EQ(0u, lines[1].find("Accept-Encoding: ")) << lines[1];
    EXPECT_NE(std::string::npos, lines[1].find("gzip"));
    EXPECT_NE(std::string::npos, lines[1].find("deflate"));
    EXPECT_EQ("Accept: */*", lines[2]);
    EXPECT_EQ("User-Agent: Mozilla/2.0 (compatible; QLBX 1.0; RV; Windows 95)", lines[3]);
    EXPECT_EQ("Content-Type: application/x-www-form-urlencoded", lines[4]);
#endif
    RunHost("rm -rf " + scratch);
}

#ifndef _WIN32
// WinINet refuses a header it already has, sends credentials only when challenged, and is
// given paths that the address operations escaped; these are the Linux transport's own.
TEST_F(TransportTest, CredentialsAndAddIfNewHeaders) {
    Transport t;
    bool sent = false;
    auto request = t.Send("127.0.0.1", m_server.port(), "/_/echo", false, sent,
                          "Accept: */*\r\naccept: text/html\r\nX-New: 1\r\n", "user", "pa:ss");
    ASSERT_TRUE(sent);
    EXPECT_FALSE(request->AddRequestHeaders("no colon here\r\n", platform::kHeaderAddIfNew));
    request.reset();
    std::vector<std::string> heads = m_server.RequestHeads();
    ASSERT_EQ(1u, heads.size());
    EXPECT_NE(std::string::npos, heads[0].find("\r\nAccept: */*\r\n"));
    EXPECT_EQ(std::string::npos, heads[0].find("text/html"));
    EXPECT_NE(std::string::npos, heads[0].find("\r\nX-New: 1\r\n"));
    EXPECT_NE(std::string::npos, heads[0].find("\r\nAuthorization: Basic dXNlcjpwYTpzcw==\r\n"));
}

TEST_F(TransportTest, ControlCharactersInThePathCannotSplitTheRequest) {
    Fetched f = Get("/_/echo?a b\r\nX-Injected: 1");
    ASSERT_TRUE(f.sent);
    std::vector<std::string> heads = m_server.RequestHeads();
    ASSERT_EQ(1u, heads.size());
    EXPECT_EQ(0u, heads[0].find("GET /_/echo?a%20b%0D%0AX-Injected:%201 HTTP/1."));
    EXPECT_EQ(std::string::npos, heads[0].find("\r\nX-Injected"));
}

#endif  // !_WIN32

TEST_F(TransportTest, BodiesArriveWholeAndDecodedInTheCallersPieceSizes) {
    std::string page = ReadWhole(FixtureSites() + "/plain/index.htm");
    struct Case {
        std::string object;
        size_t piece;
        std::string expected;
    } cases[] = {
        {"/_/bytes?n=250000", 102400, Pattern(250000)},  // no length: read to the close
        {"/_/bytes?n=250000", 10024, Pattern(250000)},
        {"/_/bytes?n=0", 10024, ""},
        {"/_/empty", 102400, ""},  // Content-Length: 0
        {"/plain/index.htm", 7, page},
        {"/_/chunked?n=5000", 1000, Pattern(5000)},  // chunk lines and trailer removed
        {"/plain/index.htm?chunked=1", 10024, page},
        {"/plain/index.htm?gzip=1", 10024, page},  // decoded when the transport asked for it
        {"/plain/index.htm?gzip=1&chunked=1", 3, page},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.object);
        Fetched f = Get(c.object, c.piece);
        ASSERT_TRUE(f.sent) << f.reason;
        EXPECT_EQ(200u, f.status);
        EXPECT_TRUE(f.whole) << f.reason;
        EXPECT_TRUE(f.body == c.expected) << f.body.size() << " bytes";
        // Every piece but the last is full.
        for (size_t i = 0; i + 1 < f.pieces.size(); ++i) {
            EXPECT_EQ(static_cast<long>(c.piece), f.pieces[i]);
        }
    }
}

TEST_F(TransportTest, StatusAndRawHeadersOfEveryAnswer) {
    Fetched moved = Get("/_/redirect?code=302&to=/next&name=location");
    ASSERT_TRUE(moved.sent);
    EXPECT_EQ(302u, moved.status);  // not followed
    EXPECT_EQ(0u, moved.head.find("HTTP/1.1 302 Found\r\n"));
    EXPECT_NE(std::string::npos, moved.head.find("\r\nlocation: /next\r\n"));
    EXPECT_EQ(moved.head.size() - 4, moved.head.rfind("\r\n\r\n"));
    EXPECT_EQ("moved", moved.body);

    Fetched bare = Get("/_/lf-only");  // bare LF line ends
    ASSERT_TRUE(bare.sent);
    EXPECT_EQ(200u, bare.status);
    EXPECT_EQ("ok", bare.body);
    EXPECT_EQ(0u, bare.head.find("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n"));

    Fetched error = Get("/_/status?code=500&body=broken");
    EXPECT_EQ(500u, error.status);
    EXPECT_EQ("broken", error.body);
}

#ifndef _WIN32
// WinINet takes some of these as a body without a head (the grab tests cover what it does).
TEST_F(TransportTest, BrokenHeadsFailTheSend) {
    Transport t(Shortened(3000));
    for (const char* object :
         {"/_/garbage", "/_/garbage?line=HTTP/1.0%20abc%20OK", "/_/endless-headers",
          "/_/long-header", "/_/huge-location?size=1000000", "/_/close-in-head"}) {
        SCOPED_TRACE(object);
        Fetched f = t.Get(m_server.port(), object);
        EXPECT_FALSE(f.sent);
    }
}

#endif  // !_WIN32

TEST_F(TransportTest, BodiesCutShortFailTheRead) {
    std::string page = ReadWhole(FixtureSites() + "/plain/index.htm");
    struct Case {
        const char* object;
        std::string arrived;  // what comes before the failure
    } cases[] = {
        {"/_/early-close", "0123456789"},  // closed before its Content-Length
        {"/plain/index.htm?cut=5", page.substr(0, 5)},
#ifndef _WIN32
        // No last chunk: WinINet takes the close for the end, as it cannot be told apart.
        {"/_/chunked?n=5000&cut=1", Pattern(5000)},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.object);
        Fetched f = Get(c.object, 100);
        ASSERT_TRUE(f.sent);
        EXPECT_FALSE(f.whole);
        EXPECT_EQ(c.arrived, f.body);
#ifndef _WIN32
        EXPECT_EQ(platform::kReasonCutShort, f.reason);
#endif
    }
}

TEST_F(TransportTest, EndlessBodyCanBeAbandoned) {
    Transport t;
    bool sent = false;
    auto request = t.Send("127.0.0.1", m_server.port(), "/_/endless-body", false, sent, "");
    ASSERT_TRUE(sent);
    std::vector<char> buffer(102400);
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(102400, request->ReadFile(buffer.data(), buffer.size()));
    }
    request.reset();  // closes the connection in the middle of the body
    EXPECT_EQ(ReadWhole(FixtureSites() + "/plain/index.htm"), Get("/plain/index.htm").body);
}

TEST_F(TransportTest, SilentServersTimeOutAndSlowOnesFinish) {
    Transport t(Shortened(700));
    Clock::time_point start = Clock::now();
    Fetched hang = t.Get(m_server.port(), "/_/hang?seconds=5");
    EXPECT_FALSE(hang.sent);
    EXPECT_LT(Millis(start), 4000);

    Fetched slow = t.Get(m_server.port(),
                         "/_/slow?gap=0.1&count=5");  // a byte every 0.1 s is within the time-out
    EXPECT_TRUE(slow.whole) << slow.reason;
    EXPECT_EQ("sssss", slow.body);

    Fetched stalled =
        t.Get(m_server.port(), "/_/slow?gap=1.5&count=2");  // a longer gap fails the read
    ASSERT_TRUE(stalled.sent);
    EXPECT_FALSE(stalled.whole);
#ifndef _WIN32
    EXPECT_EQ(platform::kReasonTimedOut, hang.reason);
    EXPECT_EQ(platform::kReasonTimedOut, stalled.reason);
#endif
}

TEST_F(TransportTest, EveryRequestHasAnOverallDeadline) {
    Transport t(Shortened(5000, 1500));
    Clock::time_point start = Clock::now();
    Fetched drip = t.Get(m_server.port(), "/_/drip?gap=0.2&count=40");
    EXPECT_TRUE(drip.sent);
    EXPECT_FALSE(drip.whole);
    EXPECT_LT(drip.body.size(), 40u);
    EXPECT_LT(Millis(start), 4000);
#ifndef _WIN32
    EXPECT_EQ(platform::kReasonTimedOut, drip.reason);
#endif
}

TEST_F(TransportTest, CancelEndsATransferWithinASecond) {
    Transport t;
    std::atomic<bool> cancelled{false};
    t.session()->SetAbortCheck([&cancelled] { return cancelled.load(); });
    std::atomic<long long> raisedAt{0};
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        raisedAt = Clock::now().time_since_epoch().count();
        cancelled = true;
    });
    // A byte every 5 s: only the cancel can end it early.
    Fetched drip = t.Get(m_server.port(), "/_/drip?gap=5&count=10");
    long long endedAt = Clock::now().time_since_epoch().count();
    raiser.join();
    EXPECT_TRUE(drip.sent);
    EXPECT_FALSE(drip.whole);
    EXPECT_EQ(platform::kReasonCancelled, drip.reason);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(
                  Clock::duration(endedAt - raisedAt.load()))
                  .count(),
              1000);
    // The session serves later requests once the check lets go.
    cancelled = false;
    EXPECT_TRUE(t.Get(m_server.port(), "/plain/index.htm").whole);
}

#ifndef _WIN32
TEST_F(TransportTest, BytesInFlightGrowWhileAReadWaitsAndGoWhenTheRequestEnds) {
    // A byte every 0.1 s into one page-sized read: the read waits for the end of the body,
    // while what arrived is counted (looked at where a wait asks whether to stop).
    Transport t;
    uint64_t before = platform::BytesInFlight();
    std::vector<uint64_t> seen;
    t.session()->SetAbortCheck([&] {
        seen.push_back(platform::BytesInFlight() - before);
        return false;
    });
    Fetched drip = t.Get(m_server.port(), "/_/drip?gap=0.1&count=20", 102400);
    ASSERT_TRUE(drip.whole) << drip.reason;
    ASSERT_EQ(std::vector<long>{20}, drip.pieces);  // one read brought the whole body
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](uint64_t n) { return n > 0 && n < 20; }))
        << "no count between the first byte and the last";
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(before, platform::BytesInFlight());  // the ended request took its bytes back

    // A request cut in the middle of its body takes its bytes back too.
    bool sent = false;
    auto request =
        t.Send("127.0.0.1", m_server.port(), "/_/bytes?n=300000", false, sent, kHeaderBlock);
    ASSERT_TRUE(sent);
    std::vector<char> buffer(1000);
    ASSERT_EQ(1000, request->ReadFile(buffer.data(), buffer.size()));
    EXPECT_LE(before + 1000, platform::BytesInFlight());
    request.reset();
    EXPECT_EQ(before, platform::BytesInFlight());
}
#endif

// A job whose callback says stop once the flag is up, as the window's does after Cancel.
struct CancelFlag : CGrabProgress {
    std::atomic<bool> up{false};
    int Report(const std::string&, int32_t) override { return up ? 0 : 1; }
};

TEST_F(TransportTest, CancelOfTheJobStopsAPageAndADownloadMidTransfer) {
    TestPrompts prompts;
    CGrabber grabber(platform::CreateInternetService(), CGrabOptions(), &prompts);
    CancelFlag flag;
    GrabJob job;
    job.pProgress = &flag;
    std::string scratch = MakeHostScratch("cancel");
    std::string folder = HostToLocal(scratch);
    std::string local = platform::JoinPath(folder, "page.htm");
    std::string picture = platform::JoinPath(folder, "a.gif");
    // A byte every 5 s: only the cancel ends these early.
    std::string drip = m_server.Base() + "/_/drip?gap=5&count=10";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "page" : "download");
        flag.up = false;
        std::atomic<long long> raisedAt{0};
        std::thread raiser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            raisedAt = Clock::now().time_since_epoch().count();
            flag.up = true;
        });
        bool ok;
        if (round == 0) {
            CPageRewriter rewriter;
            std::string text;
            CGrab grab(grabber, job);
            ok = grab.FetchPage(rewriter, drip, local, text, folder, job);
        } else {
            // After the page, the grab's downloads heed the same job.
            ok = grabber.DownloadFile(drip, picture, false, false);
        }
        long long endedAt = Clock::now().time_since_epoch().count();
        raiser.join();
        EXPECT_FALSE(ok);
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(
                      Clock::duration(endedAt - raisedAt.load()))
                      .count(),
                  1000);
    }
    EXPECT_FALSE(platform::PathExists(picture));
    EXPECT_TRUE(prompts.Messages().empty());  // a cancel is no connection problem
    RunHost("rm -rf " + scratch);
}

TEST_F(TransportTest, ConnectionsAreKeptAndReusedPerServer) {
    // A new connection object per request, as the fetcher makes them: one connection anyway.
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(Get("/plain/index.htm?n=" + std::to_string(i)).whole);
    }
    ASSERT_TRUE(Get("/_/chunked?n=3000").body.size() == 3000);
    EXPECT_EQ(6u, m_server.Requests().size());
    EXPECT_EQ(1, m_server.Connections());
}

TEST(TransportReuseTest, AConnectionTheServerDroppedIsRetriedOnANewOne) {
    FixtureServer server;  // every connection's second request goes unanswered
    ASSERT_TRUE(server.Start(FixtureSites(), {"--drop-after", "1"}));
    Transport t;
    std::string page = ReadWhole(FixtureSites() + "/plain/index.htm");
    for (int i = 0; i < 3; ++i) {
        Fetched f = t.Get(server.port(), "/plain/index.htm?n=" + std::to_string(i));
        EXPECT_TRUE(f.whole) << i << " " << f.reason;
        EXPECT_EQ(page, f.body);
    }
    // Each request after the first was tried on the kept connection, then on a new one.
    EXPECT_EQ(5u, server.Requests().size());
    EXPECT_EQ(3, server.Connections());
}

TEST_F(TransportTest, RefusedConnectionsAndBadHostsFail) {
    FixtureServer gone;
    ASSERT_TRUE(gone.Start(FixtureSites()));
    int port = gone.port();
    gone.Stop();
    // Give the stopped server a moment to let go of its port.
    bool refused = false;
    for (int i = 0; i < 40 && !refused; ++i) {
        refused = !m_transport.Get(port, "/").sent;
        if (!refused) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    EXPECT_TRUE(refused);
    Transport t;
    bool sent = true;
    t.Send("bad host\r\n", 80, "/", false, sent, "");
    EXPECT_FALSE(sent);
    EXPECT_EQ(nullptr, t.session()->Connect("", 80, "", "", false));
}

#ifndef _WIN32

TEST_F(TransportTest, ProxiesComeFromTheEnvironment) {
    SetEnv("http_proxy", "http://127.0.0.1:" + std::to_string(m_server.port()));
    Fetched far = m_transport.Get(m_server.port(), "/plain/index.htm");  // 127.0.0.1 goes through
    SetEnv("no_proxy", "localhost,127.0.0.1");
    Fetched near = m_transport.Get(m_server.port(), "/plain/index.htm?near");
    UnsetEnv("http_proxy");
    UnsetEnv("no_proxy");
    ASSERT_TRUE(far.whole) << far.reason;
    ASSERT_TRUE(near.whole) << near.reason;
    std::vector<std::string> log = m_server.Requests();
    ASSERT_EQ(2u, log.size());
    std::string host = "127.0.0.1:" + std::to_string(m_server.port());
    EXPECT_EQ(0u, log[0].find("http://" + host + "/plain/index.htm auth=- host=" + host)) << log[0];
    EXPECT_EQ(0u, log[1].find("/plain/index.htm?near auth=- host=" + host)) << log[1];
}

// Certificates made for the run: one trusted for 127.0.0.1, one trusted for another name,
// and one never seen.
class HttpsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = MakeHostScratch("tls");
        s_bMade = MakeTestCertificates(s_dir);
    }
    static void TearDownTestSuite() { RunHost("rm -rf " + s_dir); }

    void SetUp() override {
        ASSERT_TRUE(s_bMade) << "openssl could not make the test certificates";
        UnsetEnv("https_proxy");
        UnsetEnv("HTTPS_PROXY");
        SetEnv("SSL_CERT_FILE", s_dir + "/trusted.pem");
        SetEnv("SSL_CERT_DIR", s_dir + "/none");
    }
    void TearDown() override {
        UnsetEnv("SSL_CERT_FILE");
        UnsetEnv("SSL_CERT_DIR");
    }

    bool Serve(FixtureServer& server, const char* kind) {
        std::string base = s_dir + "/" + kind;
        return server.Start(FixtureSites() + "/plain",
                            {"--cert", base + ".pem", "--key", base + ".key"});
    }

    static inline std::string s_dir;
    static inline bool s_bMade = false;
};

TEST_F(HttpsTest, TrustedCertificateForTheAddressIsAcceptedAndItsConnectionKept) {
    FixtureServer server;
    ASSERT_TRUE(Serve(server, "good"));
    Transport t;
    for (int i = 0; i < 3; ++i) {
        Fetched f = t.Get(server.port(), "/index.htm", 4096, true);
        ASSERT_TRUE(f.whole) << f.reason;
        EXPECT_EQ(200u, f.status);
        EXPECT_EQ(ReadWhole(FixtureSites() + "/plain/index.htm"), f.body);
    }
    EXPECT_EQ(1, server.Connections());
}

TEST_F(HttpsTest, UntrustedOrMisnamedCertificatesAreRefused) {
    for (const char* kind : {"stranger", "other"}) {
        SCOPED_TRACE(kind);
        FixtureServer server;
        ASSERT_TRUE(Serve(server, kind));
        Transport t;
        Fetched f = t.Get(server.port(), "/index.htm", 4096, true);
        EXPECT_FALSE(f.sent);
        EXPECT_NE(std::string::npos, f.reason.find("certificate")) << f.reason;
        EXPECT_TRUE(server.Requests().empty());
    }
}

#endif  // !_WIN32

}  // namespace
