// The fetcher against the fixture web server: where redirects lead, who is asked
// for a password, and what a failed fetch tells the user.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fixture_server.h"
#include "packager/fetch/grab_options.h"
#include "packager/fetch/grab_job.h"
#include "packager/fetch/grabber.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "served_grab_test.h"
#include "test_prompts.h"

namespace {

// A query value as the fixture server reads it back.
std::string Escape(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// True when a connection to the port on 127.0.0.1 is refused.
bool Refuses(int port) {
    std::unique_ptr<platform::InternetService> service = platform::CreateInternetService();
    std::unique_ptr<platform::InternetSession> session =
        service->OpenSession("probe", 0, 0, platform::InternetTimeouts());
    std::unique_ptr<platform::InternetConnection> connection =
        session ? session->Connect("127.0.0.1", static_cast<uint16_t>(port), "", "", false)
                : nullptr;
    std::unique_ptr<platform::InternetRequest> request =
        connection ? connection->OpenRequest("GET", "/", "HTTP/1.0", 0) : nullptr;
    return request && !request->SendRequest() &&
           request->QueryError().kind == platform::InternetFailure::kRefused;
}

// The fetcher inside a grab: redirects, prompts and the causes it reports.
class FetcherTest : public ServedGrabTest {};

TEST_F(FetcherTest, LocationsResolveAsAddressesOnTheServerThatSentThem) {
    const std::string page = "/redirect/dir/page.htm";
    const std::string other = s_pAuth->Base();  // another server, another port
    struct Case {
        const char* code;
        std::string location;
        FixtureServer* final;  // where the page and its picture come from
        std::string path;      // the page's request there
    } cases[] = {
        // A path that merely contains "http" is still a path on the same server.
        {"302", page + "?from=http%3A%2F%2Felsewhere.example%2F", s_pServer,
         page + "?from=http%3A%2F%2Felsewhere.example%2F"},
        {"301", "/redirect/http/../dir/page.htm", s_pServer, page},
        {"303", "dir/page.htm?via=http", s_pServer, page + "?via=http"},
        {"302", "./dir/../dir/page.htm", s_pServer, page},
        // 307 and 308 are followed like 302.
        {"307", page, s_pServer, page},
        {"308", "dir/page.htm", s_pServer, page},
        // A scheme in any case, or "//" for the same scheme: another server.
        {"302", other + page, s_pAuth, page},
        {"307", "HTTP" + other.substr(4) + page + "?q=1", s_pAuth, page + "?q=1"},
        {"308", other.substr(5) + page, s_pAuth, page},
    };
    std::string picture = ReadWhole(FixtureSites() + "/redirect/a.gif");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.code) + " " + c.location);
        s_pServer->ClearRequests();
        s_pAuth->ClearRequests();
        ASSERT_EQ("", Grab(Url("/redirect/go.htm?code=" + std::string(c.code) +
                               "&to=" + Escape(c.location))));
        EXPECT_NE(std::string::npos, Main().find("MOVED-PAGE"));
        EXPECT_TRUE(c.final->Asked(c.path));
        EXPECT_TRUE(c.final->Asked("/redirect/dir/a.gif"));
    }
    EXPECT_TRUE(m_prompts.Messages().empty());
}

// Addresses without an extension are files like any other: their pictures lie beside them.
TEST_F(FetcherTest, APageWithoutExtensionFindsThePicturesBesideIt) {
    std::string siteHost = MakeHostScratch("noext");
    struct Cleanup {
        std::string path;
        ~Cleanup() { RunHost("rm -rf " + path); }
    } cleanup{siteHost};
    std::string art = platform::JoinPath(HostToLocal(siteHost), "art");
    ASSERT_TRUE(platform::FolderCreate(art));
    ASSERT_TRUE(WriteWhole(platform::JoinPath(art, "42"),
                           "<html><body><img src=\"1.gif\"><img src=\"?page=2\"></body></html>"));
    ASSERT_TRUE(WriteWhole(platform::JoinPath(art, "1.gif"), "PICTURE-ONE"));
    FixtureServer server;
    ASSERT_TRUE(server.Start(siteHost));
    ASSERT_EQ("", Grab(server.Base() + "/art/42"));
    EXPECT_TRUE(server.Asked("/art/1.gif"));
    EXPECT_TRUE(server.Asked("/art/42?page=2"));
    EXPECT_FALSE(server.Asked("/art/42/1.gif"));
    bool found = false;
    for (const platform::FindData& e :
         platform::ListFolder(platform::JoinPath(platform::FolderOf(m_job.strMainPage), "*.*"))) {
        found = found || ReadWhole(platform::JoinPath(platform::FolderOf(m_job.strMainPage),
                                                      e.name)) == "PICTURE-ONE";
    }
    EXPECT_TRUE(found);
}

// A server that answers 401 for a picture is named in the prompt, and what the user types
// goes to that server only.
TEST_F(FetcherTest, ThePasswordPromptNamesTheServerThatAsks) {
    ASSERT_EQ("", Grab(Url("/plain/index.htm")));
    std::string folder = platform::FolderOf(m_job.strMainPage);
    m_prompts.AnswerCredentials(true, "u", "p");
    // The next grab of the job, with the two pictures in its plan.
    CGrab grab(*m_grabber, m_job);
    std::string lock = grab.Plan().Add(s_pAuth->Base() + "/secure/lock.gif", EntryKind::Picture);
    grab.Plan().Add(Url("/images/1.gif"), EntryKind::Picture);
    ASSERT_TRUE(grab.LoadEntries(folder, m_job));
    ASSERT_EQ(1u, m_prompts.m_lstServers.size());
    EXPECT_EQ("127.0.0.1:" + std::to_string(s_pAuth->port()), m_prompts.m_lstServers[0]);
    EXPECT_EQ(ReadWhole(FixtureSites() + "/secure/lock.gif"),
              ReadWhole(platform::JoinPath(folder, lock)));
    for (const std::string& line : s_pServer->Requests()) {
        EXPECT_NE(std::string::npos, line.find("auth=-")) << line;
    }
}

TEST_F(FetcherTest, RedirectsWithoutAUsableLocationFail) {
    struct Case {
        std::string path;
        std::string cause;
    } cases[] = {
        {"/_/redirect?code=307&name=X-Elsewhere&to=/plain/index.htm",
         "The server answered 307 Temporary Redirect without a usable Location."},
        {"/_/redirect?code=308&to=",
         "The server answered 308 Permanent Redirect without a "
         "usable Location."},
        {"/_/redirect?code=302&to=ftp://127.0.0.1/x",
         "The server redirected to ftp://127.0.0.1/x, which cannot be fetched."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        m_prompts.ClearMessages();
        EXPECT_EQ("Unable to load " + Url(c.path), Grab(Url(c.path)));
        EXPECT_EQ(c.cause, m_grabber->Failure());
        ASSERT_EQ(1u, m_prompts.Messages().size());
        EXPECT_NE(std::string::npos, m_prompts.Messages()[0].find("\r\n\r\n" + c.cause));
        EXPECT_FALSE(s_pServer->Asked("/plain/index.htm"));
    }
}

// Every failure keeps its message and names the cause on a line of its own; the address is
// the one given, with its scheme and port.
TEST_F(FetcherTest, FailuresSayWhatWentWrong) {
    FixtureServer gone;
    ASSERT_TRUE(gone.Start(FixtureSites()));
    std::string refused = gone.Base();
    int refusedPort = gone.port();
    gone.Stop();
    // The stopped server lets go of its port a moment later.
    for (int i = 0; i < 100 && !Refuses(refusedPort); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    std::string scratch = HostToLocal(MakeHostScratch("missing"));
    std::string missing = platform::JoinPath(scratch, "missing.htm");
    std::string tooLong = Url("/" + std::string(2100, 'a'));
    const std::string kConnect = "There was a problem connecting to ";
    const std::string kUnable = "Unable to load ";
    struct Case {
        std::string address;  // as the Zip command hands it on
        std::string head;     // the message up to its blank line
        std::string cause;
    } cases[] = {
        {Url("/_/status?code=404&body=gone"), kConnect + Url("/_/status?code=404&body=gone") + ".",
         "The server answered 404 Not Found."},
        {refused + "/page.htm", kConnect + refused + "/page.htm.",
         "Connection refused by 127.0.0.1:" + std::to_string(refusedPort) + "."},
        {"http://ftp://127.0.0.1/x", kUnable + "ftp://127.0.0.1/x",
         "The scheme ftp: is not supported; only http://, https:// and file: addresses can "
         "be fetched."},
        {"gopher://127.0.0.1/x", kUnable + "gopher://127.0.0.1/x",
         "The scheme gopher: is not supported; only http://, https:// and file: addresses "
         "can be fetched."},
        {missing, kUnable + missing, "No such file: " + missing + "."},
        {"http://" + missing, kUnable + missing, "No such file: " + missing + "."},
        {"http://" + scratch, kUnable + scratch, scratch + " is a folder, not a file."},
        {tooLong, kUnable + tooLong, "The address is longer than 2083 characters."},
        {Url("/_/endless-body"), kConnect + Url("/_/endless-body") + ".",
         "The page is larger than 1 MiB."},
    };
    m_job.options.nMaxPageBytes = m_job.options.nMaxDownloadBytes = 1 << 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address.substr(0, 80));
        m_prompts.ClearMessages();
        EXPECT_NE("", Grab(c.address));
        EXPECT_EQ(c.cause, m_grabber->Failure());
        ASSERT_EQ(1u, m_prompts.Messages().size());
        const std::string& text = m_prompts.Messages()[0];
        EXPECT_EQ(0u, text.find(c.head)) << text;
        size_t blank = text.rfind("\r\n\r\n");
        ASSERT_NE(std::string::npos, blank);
        EXPECT_EQ(c.cause, text.substr(blank + 4));
    }
    platform::FolderRemove(scratch);
}

TEST_F(FetcherTest, DownloadsKeepTheirCauseSilently) {
    std::string scratch = HostToLocal(MakeHostScratch("cause"));
    std::string target = platform::JoinPath(scratch, "out.bin");
    EXPECT_FALSE(m_grabber->DownloadFile(Url("/_/status?code=404&body=x"), target, false, false));
    EXPECT_EQ("The server answered 404 Not Found.", m_grabber->Failure());
    EXPECT_TRUE(m_grabber->DownloadFile(Url("/_/status?code=500&body=oops"), target, false, false));
    EXPECT_EQ("", m_grabber->Failure());
    EXPECT_EQ(500u, m_grabber->LastStatus());
    EXPECT_TRUE(m_prompts.Messages().empty());
    platform::FileRemove(target);
    platform::FolderRemove(scratch);
}

#ifndef _WIN32
// Native only: Wine's WinINet trusts its own store, which the test cannot extend.
TEST_F(FetcherTest, AnUntrustedCertificateIsNamedWithTheLibrarysReason) {
    std::string dir = MakeHostScratch("causetls");
    struct Cleanup {
        std::string path;
        ~Cleanup() {
            RunHost("rm -rf " + path);
            unsetenv("SSL_CERT_FILE");
            unsetenv("SSL_CERT_DIR");
        }
    } cleanup{dir};
    ASSERT_TRUE(MakeTestCertificates(dir));
    setenv("SSL_CERT_FILE", (dir + "/trusted.pem").c_str(), 1);
    setenv("SSL_CERT_DIR", (dir + "/none").c_str(), 1);
    FixtureServer stranger;
    ASSERT_TRUE(stranger.Start(FixtureSites(),
                               {"--cert", dir + "/stranger.pem", "--key", dir + "/stranger.key"}));
    std::string address = stranger.Base() + "/plain/index.htm";
    EXPECT_EQ("Unable to load " + address, Grab(address));
    const std::string kCause = "The server's certificate is not trusted: ";
    EXPECT_EQ(0u, m_grabber->Failure().find(kCause));
    EXPECT_GT(m_grabber->Failure().size(), kCause.size() + 2);  // the library's words
    ASSERT_EQ(1u, m_prompts.Messages().size());
    EXPECT_EQ(0u, m_prompts.Messages()[0].find("There was a problem connecting to " + address));
}
#endif

}  // namespace
