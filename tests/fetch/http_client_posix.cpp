// The Linux HTTP/1.0 client against the fixture server: what goes on the wire,
// how bodies are read, and how broken or hostile servers end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fixture_server.h"
#include "platform/posix/http_client.h"
#include "platform/posix/http_response.h"

namespace {

const char kHeaderBlock[] =
    "Accept: */*\r\n"
    "User-Agent: Mozilla/2.0 (compatible; QLBX 1.0; RV; Windows 95)\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n";

class ShortTimeouts {
  public:
    explicit ShortTimeouts(int ioMs) : m_old(qb::GetHttpTimeouts()) {
        qb::SetHttpTimeouts({2000, ioMs});
    }
    ~ShortTimeouts() { qb::SetHttpTimeouts(m_old); }

  private:
    qb::HttpTimeouts m_old;
};

// One server for the suite: starting the interpreter is the slow part.
class HttpClientTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_pServer = new FixtureServer;
        s_bStarted = s_pServer->Start(FixtureSites() + "/plain");
    }
    static void TearDownTestSuite() {
        delete s_pServer;
        s_pServer = nullptr;
    }

    void SetUp() override {
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"}) {
            unsetenv(name);
        }
        ASSERT_TRUE(s_bStarted);
        m_server.ClearRequests();
    }

    bool Get(qb::HttpClientRequest& request, const std::string& object, bool secure = false,
             const std::string& user = "", const std::string& password = "") {
        request.AddHeaders(kHeaderBlock);
        return request.Send("127.0.0.1", static_cast<uint16_t>(m_server.port()), secure, "GET",
                            object, "HTTP/1.0", user, password);
    }

    // The whole body, read in pieces of the given size; -1 reads count as failure.
    static bool ReadAll(qb::HttpClientRequest& request, size_t piece, std::string& body,
                        std::vector<long>* sizes = nullptr) {
        std::vector<char> buffer(piece);
        for (;;) {
            long n = request.Read(buffer.data(), buffer.size());
            if (n < 0) {
                return false;
            }
            if (n == 0) {
                return true;
            }
            if (sizes != nullptr) {
                sizes->push_back(n);
            }
            body.append(buffer.data(), static_cast<size_t>(n));
        }
    }

    static inline FixtureServer* s_pServer = nullptr;
    static inline bool s_bStarted = false;
    FixtureServer& m_server = *s_pServer;
};

TEST_F(HttpClientTest, SendsTheRequestLineHostAndHeaderBlockAsGiven) {
    qb::HttpClientRequest request;
    ASSERT_TRUE(Get(request, "/_/echo?x=1", false, "user", "pa:ss"));
    EXPECT_EQ(200, request.status());
    std::string body;
    ASSERT_TRUE(ReadAll(request, 100, body));
    EXPECT_EQ(
        "GET /_/echo?x=1 HTTP/1.0\r\n"
        "Host: 127.0.0.1:" +
            std::to_string(m_server.port()) +
            "\r\n"
            "Accept: */*\r\n"
            "User-Agent: Mozilla/2.0 (compatible; QLBX 1.0; RV; Windows 95)\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Authorization: Basic dXNlcjpwYTpzcw==\r\n",
        body);
}

TEST_F(HttpClientTest, AddIfNewKeepsTheFirstHeaderOfAName) {
    qb::HttpClientRequest request;
    ASSERT_TRUE(request.AddHeaders("Accept: */*\r\n"));
    ASSERT_TRUE(request.AddHeaders("accept: text/html\r\nX-New: 1\r\n"));
    EXPECT_FALSE(request.AddHeaders("no colon here\r\n"));
    ASSERT_TRUE(request.Send("127.0.0.1", static_cast<uint16_t>(m_server.port()), false, "GET",
                             "/_/echo", "HTTP/1.0", "", ""));
    std::string body;
    ASSERT_TRUE(ReadAll(request, 4096, body));
    EXPECT_NE(std::string::npos, body.find("Accept: */*\r\n"));
    EXPECT_EQ(std::string::npos, body.find("text/html"));
    EXPECT_NE(std::string::npos, body.find("X-New: 1\r\n"));
}

TEST_F(HttpClientTest, ControlCharactersInThePathCannotSplitTheRequest) {
    qb::HttpClientRequest request;
    ASSERT_TRUE(Get(request, "/_/echo?a b\r\nX-Injected: 1"));
    std::string body;
    ASSERT_TRUE(ReadAll(request, 4096, body));
    EXPECT_EQ(0u, body.find("GET /_/echo?a%20b%0D%0AX-Injected:%201 HTTP/1.0\r\n"));
    EXPECT_EQ(std::string::npos, body.find("\r\nX-Injected"));
}

TEST_F(HttpClientTest, BodiesArriveWholeInTheCallersPieceSizes) {
    struct Case {
        const char* object;
        size_t piece;
        size_t expected;
    } cases[] = {
        {"/_/bytes?n=250000", 102400, 250000},  // no length: read to the close
        {"/_/bytes?n=250000", 10024, 250000},
        {"/_/bytes?n=0", 10024, 0},
        {"/_/empty", 102400, 0},  // Content-Length: 0
        {"/index.htm", 7, 0},     // length from the file, checked below
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.object);
        qb::HttpClientRequest request;
        ASSERT_TRUE(Get(request, c.object));
        EXPECT_EQ(200, request.status());
        std::string body;
        std::vector<long> sizes;
        ASSERT_TRUE(ReadAll(request, c.piece, body, &sizes));
        size_t expected = c.expected;
        if (std::string(c.object) == "/index.htm") {
            expected = ReadWhole(FixtureSites() + "/plain/index.htm").size();
            EXPECT_EQ(ReadWhole(FixtureSites() + "/plain/index.htm"), body);
        }
        EXPECT_EQ(expected, body.size());
        // Every piece but the last is full.
        for (size_t i = 0; i + 1 < sizes.size(); ++i) {
            EXPECT_EQ(static_cast<long>(c.piece), sizes[i]);
        }
        for (size_t i = 0;
             i < body.size() && std::string(c.object).find("bytes") != std::string::npos; ++i) {
            if (static_cast<unsigned char>(body[i]) != i % 256) {
                ADD_FAILURE() << "byte " << i;
                break;
            }
        }
    }
}

TEST_F(HttpClientTest, StatusAndRawHeadersOfEveryAnswer) {
    qb::HttpClientRequest request;
    ASSERT_TRUE(Get(request, "/_/redirect?code=302&to=/next&name=location"));
    EXPECT_EQ(302, request.status());
    EXPECT_EQ(0u, request.rawHeaders().find("HTTP/1.0 302 Found\r\n"));
    EXPECT_NE(std::string::npos, request.rawHeaders().find("\r\nlocation: /next\r\n"));
    EXPECT_EQ(request.rawHeaders().size() - 4, request.rawHeaders().rfind("\r\n\r\n"));

    qb::HttpClientRequest bare;
    ASSERT_TRUE(Get(bare, "/_/lf-only"));  // bare LF line ends
    EXPECT_EQ(200, bare.status());
    std::string body;
    ASSERT_TRUE(ReadAll(bare, 100, body));
    EXPECT_EQ("ok", body);
}

TEST_F(HttpClientTest, BrokenServersEndCleanly) {
    ShortTimeouts timeouts(3000);
    struct Case {
        const char* object;
        bool sends;
        const char* body;  // expected body when the send succeeds
    } cases[] = {
        {"/_/garbage", false, ""},
        {"/_/garbage?line=HTTP/1.0%20abc%20OK", false, ""},
        {"/_/endless-headers", false, ""},
        {"/_/long-header", false, ""},
        {"/_/huge-location?size=1000000", false, ""},
        {"/_/close-in-head", false, ""},
        {"/_/early-close", true, "0123456789"},  // promised 1000: what came is kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.object);
        qb::HttpClientRequest request;
        bool sent = Get(request, c.object);
        EXPECT_EQ(c.sends, sent) << request.error();
        if (sent) {
            std::string body;
            EXPECT_TRUE(ReadAll(request, 10024, body));
            EXPECT_EQ(c.body, body);
        }
    }
}

TEST_F(HttpClientTest, EndlessBodyCanBeAbandoned) {
    qb::HttpClientRequest request;
    ASSERT_TRUE(Get(request, "/_/endless-body"));
    std::vector<char> buffer(102400);
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(102400, request.Read(buffer.data(), buffer.size()));
    }
    request.Close();
    EXPECT_EQ(-1, request.Read(buffer.data(), buffer.size()));
}

TEST_F(HttpClientTest, SilentServersTimeOutAndSlowOnesFinish) {
    ShortTimeouts timeouts(700);
    qb::HttpClientRequest hang;
    EXPECT_FALSE(Get(hang, "/_/hang?seconds=5"));

    qb::HttpClientRequest slow;  // a byte every 0.1 s stays within the time-out
    ASSERT_TRUE(Get(slow, "/_/slow?gap=0.1&count=5"));
    std::string body;
    ASSERT_TRUE(ReadAll(slow, 102400, body));
    EXPECT_EQ("sssss", body);

    qb::HttpClientRequest stalled;  // a gap longer than the time-out fails the read
    ASSERT_TRUE(Get(stalled, "/_/slow?gap=1.5&count=2"));
    body.clear();
    EXPECT_FALSE(ReadAll(stalled, 102400, body));
}

TEST_F(HttpClientTest, RefusedConnectionsAndBadHostsFail) {
    qb::HttpClientRequest request;
    FixtureServer gone;
    ASSERT_TRUE(gone.Start(FixtureSites() + "/plain"));
    uint16_t port = static_cast<uint16_t>(gone.port());
    gone.Stop();
    // Give the stopped server a moment to let go of its port.
    bool refused = false;
    for (int i = 0; i < 40 && !refused; ++i) {
        refused = !request.Send("127.0.0.1", port, false, "GET", "/", "HTTP/1.0", "", "");
        if (!refused) {
            request.Close();
            usleep(50000);
        }
    }
    EXPECT_TRUE(refused);
    EXPECT_FALSE(request.Send("bad host\r\n", 80, false, "GET", "/", "HTTP/1.0", "", ""));
    EXPECT_FALSE(request.Send("", 80, false, "GET", "/", "HTTP/1.0", "", ""));
}

TEST(HttpProxyTest, EnvironmentChoosesTheProxy) {
    setenv("http_proxy", "http://proxy.example:3128/", 1);
    setenv("https_proxy", "secure.example", 1);
    setenv("no_proxy", "localhost, .inside.example,exact.example", 1);
    struct Case {
        bool secure;
        const char* host;
        const char* proxy;
    } cases[] = {
        {false, "www.example.com", "proxy.example:3128"},
        {true, "www.example.com", "secure.example:80"},
        {false, "localhost", ""},
        {false, "a.inside.example", ""},
        {false, "inside.example", ""},
        {false, "notinside.example", "proxy.example:3128"},
        {false, "exact.example", ""},
        {false, "sub.exact.example", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.proxy, qb::HttpProxyFor(c.secure, c.host)) << c.host;
    }
    unsetenv("http_proxy");
    unsetenv("https_proxy");
    unsetenv("no_proxy");
    EXPECT_EQ("", qb::HttpProxyFor(false, "www.example.com"));
}

TEST_F(HttpClientTest, PlainRequestsGoThroughTheProxyWithAbsoluteAddresses) {
    setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(m_server.port())).c_str(), 1);
    qb::HttpClientRequest request;
    request.AddHeaders(kHeaderBlock);
    bool sent = request.Send("far.example", 8080, false, "GET", "/index.htm", "HTTP/1.0", "", "");
    unsetenv("http_proxy");
    ASSERT_TRUE(sent) << request.error();
    EXPECT_EQ(200, request.status());
    std::vector<std::string> log = m_server.Requests();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(0u, log[0].find("http://far.example:8080/index.htm auth=- host=far.example:8080"));
}

TEST(HttpCredentialsTest, BasicValues) {
    EXPECT_EQ("Basic dXNlcjpwYTpzcw==", qb::HttpBasicCredentials("user", "pa:ss"));
    EXPECT_EQ("Basic YTpi", qb::HttpBasicCredentials("a", "b"));
    EXPECT_EQ("Basic Og==", qb::HttpBasicCredentials("", ""));
    EXPECT_EQ("Basic YWI6Yw==", qb::HttpBasicCredentials("ab", "c"));
}

TEST(HttpResponseHeadTest, HeadsSplitAnywhereParseTheSame) {
    const std::string response = "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\nX-A: b\r\n\r\nabc";
    for (size_t piece = 1; piece <= response.size(); ++piece) {
        qb::HttpResponseHead head;
        size_t pos = 0;
        while (head.state() == qb::HttpResponseHead::kNeedMore && pos < response.size()) {
            size_t used = 0;
            size_t n = std::min(piece, response.size() - pos);
            head.Feed(response.data() + pos, n, &used);
            pos += used;
        }
        ASSERT_EQ(qb::HttpResponseHead::kDone, head.state()) << piece;
        EXPECT_EQ(404, head.status());
        EXPECT_EQ(3, head.contentLength());
        EXPECT_EQ("abc", response.substr(pos));
        EXPECT_EQ("HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\nX-A: b\r\n\r\n",
                  head.rawHeaders());
    }
}

TEST(HttpResponseHeadTest, MalformedStatusLinesAreRefused) {
    for (const char* line : {"HTTP/1.0 20 OK", "HTTP/1.0 2000 OK", "HTTP/ 200 OK",
                             "http/1.0 200 OK", "HTTP/1.0 099 x", "ICY 200 OK", "HTTP/1.0 2x0"}) {
        qb::HttpResponseHead head;
        std::string text = std::string(line) + "\r\n\r\n";
        EXPECT_EQ(qb::HttpResponseHead::kBad, head.Feed(text.data(), text.size(), nullptr)) << line;
    }
    qb::HttpResponseHead cut;
    cut.Feed("HTTP/1.0 200 OK\r\n", 17, nullptr);
    EXPECT_EQ(qb::HttpResponseHead::kBad, cut.Finish());
}

}  // namespace

namespace {

// Certificates made for the run: one the client trusts for 127.0.0.1, one it
// trusts for another name, and one it has never seen.
class HttpsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = MakeHostScratch("tls");
        s_bMade = MakeTestCertificates(s_dir);
    }
    static void TearDownTestSuite() { RunHost("rm -rf " + s_dir); }

    void SetUp() override {
        ASSERT_TRUE(s_bMade) << "openssl could not make the test certificates";
        unsetenv("https_proxy");
        unsetenv("HTTPS_PROXY");
        setenv("SSL_CERT_FILE", (s_dir + "/trusted.pem").c_str(), 1);
        setenv("SSL_CERT_DIR", (s_dir + "/none").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("SSL_CERT_FILE");
        unsetenv("SSL_CERT_DIR");
    }

    bool Serve(FixtureServer& server, const char* kind) {
        std::string base = s_dir + "/" + kind;
        return server.Start(FixtureSites() + "/plain",
                            {"--cert", base + ".pem", "--key", base + ".key"});
    }

    static inline std::string s_dir;
    static inline bool s_bMade = false;
};

TEST_F(HttpsTest, TrustedCertificateForTheAddressIsAccepted) {
    FixtureServer server;
    ASSERT_TRUE(Serve(server, "good"));
    qb::HttpClientRequest request;
    ASSERT_TRUE(request.Send("127.0.0.1", static_cast<uint16_t>(server.port()), true, "GET",
                             "/index.htm", "HTTP/1.0", "", ""))
        << request.error();
    EXPECT_EQ(200, request.status());
    std::string body(4096, '\0');
    long n = request.Read(&body[0], body.size());
    body.resize(n > 0 ? static_cast<size_t>(n) : 0);
    EXPECT_EQ(ReadWhole(FixtureSites() + "/plain/index.htm"), body);
    EXPECT_EQ(0, request.Read(&body[0], 1));
}

TEST_F(HttpsTest, UntrustedOrMisnamedCertificatesAreRefused) {
    for (const char* kind : {"stranger", "other"}) {
        SCOPED_TRACE(kind);
        FixtureServer server;
        ASSERT_TRUE(Serve(server, kind));
        qb::HttpClientRequest request;
        EXPECT_FALSE(request.Send("127.0.0.1", static_cast<uint16_t>(server.port()), true, "GET",
                                  "/index.htm", "HTTP/1.0", "", ""));
        EXPECT_NE(std::string::npos, request.error().find("certificate")) << request.error();
    }
}

}  // namespace
