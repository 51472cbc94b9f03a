// Pages and their files across servers and schemes: references resolve against the page's
// final address (after redirects, scheme included), an absolute reference keeps its own
// scheme, host and port in any letter case, and a file that could not be fetched is pointed
// back at the web in the saved page and stylesheet.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "fixture_server.h"
#include "packager/fetch/grabber.h"
#include "packager/address/url_utils.h"
#include "platform/files.h"
#include "saved_files.h"
#include "served_grab_test.h"

namespace {

// The local references of a text: the values of its src=, background= and href= attributes
// and of its url()s that are not absolute addresses, in order.
std::vector<std::string> References(const std::string& text) {
    std::vector<std::string> refs;
    std::regex ref("(?:(?:src|background|href)=\"([^\"]*)\")|(?:url\\(([^)]*)\\))",
                   std::regex::icase);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), ref);
         it != std::sregex_iterator(); ++it) {
        std::string value = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
        if (value.find("://") == std::string::npos) {
            refs.push_back(value);
        }
    }
    return refs;
}

// A site written for the test (its pages name the ports of the servers that serve it).
class SchemesTest : public ServedGrabTest {
  protected:
    void SetUp() override {
        ServedGrabTest::SetUp();
        m_strSite = MakeHostScratch("schemes");
    }
    void TearDown() override {
        ServedGrabTest::TearDown();
        RunHost("rm -rf " + m_strSite);
    }
    void Write(const std::string& name, const std::string& content) {
        ASSERT_TRUE(WriteWhole(HostToLocal(m_strSite + "/" + name), content));
    }
    // The saved file a reference of the main page or of a saved stylesheet names.
    std::string Saved(const std::string& name) const {
        return ReadWhole(platform::JoinPath(platform::FolderOf(m_job.strMainPage), name));
    }
    // The local name the plan gave an address.
    std::string LocalName(const std::string& address) const {
        size_t i = m_grabber->GetReport().Find(address);
        return i == std::string::npos ? "(not in the plan)"
                                      : m_grabber->GetReport().At(i).strLocalName;
    }

    std::string m_strSite;
};

// Two plain servers: the page on one names pictures and a stylesheet on the other in every
// form a page may write them. Runs against WinINet too.
TEST_F(SchemesTest, AbsoluteAndProtocolRelativeReferencesKeepTheirOwnServer) {
    FixtureServer page, other;
    ASSERT_TRUE(page.Start(m_strSite));
    ASSERT_TRUE(other.Start(m_strSite));
    const std::string kOther = "127.0.0.1:" + std::to_string(other.port());
    Write("a.gif", "PICTURE-A");
    Write("b.gif", "PICTURE-B");
    Write("c.gif", "PICTURE-C");
    Write("tile.gif", "PICTURE-TILE");
    Write("s.css", ".t { background: url(tile.gif) }\n");
    Write("index.htm", "<html><head><link rel=\"stylesheet\" href=\"HTTP://" + kOther +
                           "/s.css\"></head><body><img src=\"Http://" + kOther +
                           "/a.gif\"><img src=\"//" + kOther + "/b.gif\"><img src=\"http://" +
                           kOther + "/c.gif\"></body></html>");

    ASSERT_EQ("", Grab(page.Base() + "/index.htm"));
    EXPECT_EQ("captured 1 page, 0 frames, 4 pictures, 1 stylesheet, 0 fonts; 0 failed",
              m_grabber->GetReport().Summary());
    for (const char* path : {"/s.css", "/a.gif", "/b.gif", "/c.gif", "/tile.gif"}) {
        EXPECT_TRUE(other.Asked(path)) << path;
        EXPECT_FALSE(page.Asked(path)) << path;
    }
    std::vector<std::string> refs = References(Main());
    ASSERT_EQ(4u, refs.size());
    EXPECT_EQ("PICTURE-A", Saved(refs[1]));
    EXPECT_EQ("PICTURE-B", Saved(refs[2]));
    EXPECT_EQ("PICTURE-C", Saved(refs[3]));
    std::vector<std::string> inSheet = References(Saved(refs[0]));
    ASSERT_EQ(1u, inSheet.size());
    EXPECT_EQ("PICTURE-TILE", Saved(inSheet[0]));
}

// What could not be fetched points back at its absolute address, in the page (as a picture,
// a background, a srcset candidate, a frame and in a style) and in a stylesheet; what was
// fetched keeps its local name, and the report still lists every failure with its name.
TEST_F(SchemesTest, AFailedReferencePointsBackAtItsAbsoluteAddress) {
    FixtureServer server;
    ASSERT_TRUE(server.Start(m_strSite));
    const std::string base = server.Base() + "/";
    ASSERT_TRUE(platform::FolderCreate(HostToLocal(m_strSite + "/d")));
    Write("d/ok.gif", "PICTURE-OK");
    Write("d/s.css",
          "@import \"gone.css\";\n.a { background: url(ok.gif) }\n"
          ".b { background: url(\"../nothere.gif\") }\n");
    Write("d/index.htm",
          "<html><head><link rel=\"stylesheet\" href=\"s.css\"></head>"
          "<body background=\"gone-bg.gif\"><img src=\"ok.gif\"><img src=\"missing.gif\">"
          "<img srcset=\"ok.gif 1x, missing-2x.gif 2x\">"
          "<p style=\"background: url(missing.gif)\"></p>"
          "<iframe src=\"gone.htm\"></iframe></body></html>");

    ASSERT_EQ("", Grab(base + "d/index.htm"));
    const CGrabPlan& report = m_grabber->GetReport();
    EXPECT_EQ("captured 1 page, 0 frames, 1 picture, 1 stylesheet, 0 fonts; 6 failed",
              report.Summary());
    std::string ok = LocalName(base + "d/ok.gif");
    std::string sheet = LocalName(base + "d/s.css");
    std::string main = Main();
    EXPECT_NE(std::string::npos, main.find("href=\"" + sheet + "\"")) << main;
    EXPECT_NE(std::string::npos, main.find("background=\"" + base + "d/gone-bg.gif\"")) << main;
    EXPECT_NE(std::string::npos,
              main.find("<img src=\"" + ok + "\"><img src=\"" + base + "d/missing.gif\">"))
        << main;
    EXPECT_NE(std::string::npos,
              main.find("srcset=\"" + ok + " 1x, " + base + "d/missing-2x.gif 2x\""))
        << main;
    EXPECT_NE(std::string::npos, main.find("url(\"" + base + "d/missing.gif\")")) << main;
    EXPECT_NE(std::string::npos, main.find("<iframe src=\"" + base + "d/gone.htm\">")) << main;
    EXPECT_EQ("PICTURE-OK", Saved(ok));

    std::string css = Saved(sheet);
    EXPECT_NE(std::string::npos, css.find("@import \"" + base + "d/gone.css\"")) << css;
    EXPECT_NE(std::string::npos, css.find("url(" + ok + ")")) << css;
    EXPECT_NE(std::string::npos, css.find("url(\"" + base + "nothere.gif\")")) << css;

    // Nothing points at a name that is not in the work folder.
    Files files = ReadFolder(platform::FolderOf(m_job.strMainPage));
    EXPECT_EQ(3u, files.size());
    for (const std::string& text : {main, css}) {
        for (const std::string& ref : References(text)) {
            EXPECT_TRUE(files.count(ref)) << ref;
        }
    }
    // The report still names each failure with the local name it was given.
    std::vector<std::string> lines = report.FailureLines();
    ASSERT_EQ(6u, lines.size());
    EXPECT_EQ(
        "picture " + base + "d/missing.gif (" + LocalName(base + "d/missing.gif") + "): HTTP 404",
        lines[1]);
}

// The file: address of a host path, as a user would write it (escaped when asked).
std::string FileAddress(const std::string& hostPath, const std::string& authority = "") {
#ifdef _WIN32
    return "file://" + authority + "/Z:" + hostPath;
#else
    return "file://" + authority + hostPath;
#endif
}

// What the address box hands on for a typed address ("http://" only where it completes a
// web address), and what the grab makes of it: the page, or the message that says why not,
// naming the address as it was typed.
TEST_F(SchemesTest, TypedAddressesAreReadAsABrowserReadsThem) {
    ASSERT_TRUE(platform::FolderCreate(HostToLocal(m_strSite + "/my pages")));
    const std::string kCafe = "caf\xc3\xa9.htm";
    Write("page.htm", "<html><head><title>LOCAL-PAGE</title></head><body>p</body></html>");
    Write("my pages/" + kCafe, "<html><head><title>CAFE-PAGE</title></head></html>");
    const std::string kServed = "127.0.0.1:" + std::to_string(s_pServer->port());
    const std::string site = HostToLocal(m_strSite);
    const std::string missing = platform::JoinPath(site, "missing.htm");
    const std::string kNotSupported =
        ": is not supported; only http://, https:// and file: addresses can be fetched.";
    struct Case {
        std::string typed;
        bool web;           // the box puts "http://" in front
        std::string title;  // of the saved page, or empty when the grab fails ...
        std::string cause;  // ... with this cause after "Unable to load <typed>"
    } cases[] = {
        {FileAddress(m_strSite + "/page.htm"), false, "LOCAL-PAGE", ""},
        {FileAddress(m_strSite + "/page.htm", "localhost"), false, "LOCAL-PAGE", ""},
        {FileAddress(m_strSite + "/my%20pages/caf%C3%A9.htm"), false, "CAFE-PAGE", ""},
        {FileAddress(m_strSite + "/my pages/" + kCafe), false, "CAFE-PAGE", ""},
        {"FILE:" + FileAddress(m_strSite + "/page.htm").substr(5), false, "LOCAL-PAGE", ""},
        {platform::JoinPath(platform::JoinPath(site, "my pages"), kCafe), false, "CAFE-PAGE", ""},
        {"HTTP://" + kServed + "/plain/index.htm", false, "Plain", ""},
        {"hTtP://" + kServed + "/plain/index.htm", false, "Plain", ""},
        {kServed + "/plain/index.htm", true, "Plain", ""},
        {"nothere.html", false, "", "No such file: nothere.html."},
        {missing, false, "", "No such file: " + missing + "."},
        {FileAddress(m_strSite + "/missing.htm"), false, "", "No such file: " + missing + "."},
        {site, false, "", site + " is a folder, not a file."},
        {"ftp://127.0.0.1/x", false, "", "The scheme ftp" + kNotSupported},
        {"FTP://127.0.0.1/x", false, "", "The scheme FTP" + kNotSupported},
        {"mailto:a@example.com", false, "", "The scheme mailto" + kNotSupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(c.web, NeedsWebScheme(c.typed));
        std::string address = c.web ? "http://" + c.typed : c.typed;
        m_prompts.ClearMessages();
        m_job.strMainPage.clear();
        std::string error = Grab(address);
        if (!c.title.empty()) {
            ASSERT_EQ("", error);
            EXPECT_NE(std::string::npos, Main().find("<title>" + c.title + "</title>"));
            EXPECT_TRUE(m_prompts.Messages().empty());
        } else {
            EXPECT_EQ("Unable to load " + c.typed, error);
            ASSERT_EQ(1u, m_prompts.Messages().size());
            EXPECT_EQ("Unable to load " + c.typed + "\r\n\r\n" + c.cause, m_prompts.Messages()[0]);
        }
    }
}

#ifndef _WIN32
// An http server and an https one (a certificate made for the run, trusted through
// SSL_CERT_FILE) that serve the same sites. Native only: Wine's WinINet trusts its own store,
// which the test cannot extend.
class SecureSchemesTest : public SchemesTest {
  protected:
    void SetUp() override {
        SchemesTest::SetUp();
        m_strCerts = MakeHostScratch("schemestls");
        ASSERT_TRUE(MakeTestCertificates(m_strCerts));
        setenv("SSL_CERT_FILE", (m_strCerts + "/trusted.pem").c_str(), 1);
        setenv("SSL_CERT_DIR", (m_strCerts + "/none").c_str(), 1);
        ASSERT_TRUE(m_plain.Start(m_strSite));
        ASSERT_TRUE(m_secure.Start(
            m_strSite, {"--cert", m_strCerts + "/good.pem", "--key", m_strCerts + "/good.key"}));
        ASSERT_EQ(0u, m_secure.Base().find("https://"));
    }
    void TearDown() override {
        m_plain.Stop();
        m_secure.Stop();
        unsetenv("SSL_CERT_FILE");
        unsetenv("SSL_CERT_DIR");
        RunHost("rm -rf " + m_strCerts);
        SchemesTest::TearDown();
    }
    std::string Host(const FixtureServer& server) const {
        return "127.0.0.1:" + std::to_string(server.port());
    }

    std::string m_strCerts;
    FixtureServer m_plain, m_secure;
};

TEST_F(SecureSchemesTest, PicturesAndStylesheetsCrossBetweenHttpAndHttps) {
    Write("p.gif", "PICTURE-PLAIN");
    Write("s.gif", "PICTURE-SECURE");
    Write("r.gif", "PICTURE-RELATIVE");
    Write("tile.gif", "PICTURE-TILE");
    Write("s.css", ".t { background: url(tile.gif) }\n");
    // An http page with an https picture and stylesheet (the stylesheet's picture comes from
    // where the stylesheet came from), and an https page with an http picture, a
    // protocol-relative one and a relative one.
    Write("plain.htm", "<html><head><link rel=\"stylesheet\" href=\"HTTPS://" + Host(m_secure) +
                           "/s.css\"></head><body><img src=\"https://" + Host(m_secure) +
                           "/s.gif\"></body></html>");
    Write("secure.htm", "<html><body><img src=\"http://" + Host(m_plain) +
                            "/p.gif\"><img src=\"//" + Host(m_secure) +
                            "/s.gif\"><img src=\"r.gif\"></body></html>");
    struct Case {
        std::string address;
        std::vector<std::string> pictures;  // the main page's references, saved, in order
        std::vector<std::string> plainPaths, securePaths;
    } cases[] = {
        {m_plain.Base() + "/plain.htm",
         {"", "PICTURE-SECURE"},
         {"/plain.htm"},
         {"/s.css", "/s.gif", "/tile.gif"}},
        {m_secure.Base() + "/secure.htm",
         {"PICTURE-PLAIN", "PICTURE-SECURE", "PICTURE-RELATIVE"},
         {"/p.gif"},
         {"/secure.htm", "/s.gif", "/r.gif"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        m_plain.ClearRequests();
        m_secure.ClearRequests();
        ASSERT_EQ("", Grab(c.address));
        EXPECT_EQ(0u, m_grabber->GetReport().FailedCount());
        std::vector<std::string> refs = References(Main());
        ASSERT_EQ(c.pictures.size(), refs.size());
        for (size_t i = 0; i < refs.size(); ++i) {
            if (!c.pictures[i].empty()) {
                EXPECT_EQ(c.pictures[i], Saved(refs[i])) << refs[i];
            } else {
                std::vector<std::string> inSheet = References(Saved(refs[i]));
                ASSERT_EQ(1u, inSheet.size());
                EXPECT_EQ("PICTURE-TILE", Saved(inSheet[0]));
            }
        }
        EXPECT_EQ(c.plainPaths.size(), m_plain.Requests().size());
        for (const std::string& path : c.plainPaths) {
            EXPECT_TRUE(m_plain.Asked(path)) << path;
        }
        EXPECT_EQ(c.securePaths.size(), m_secure.Requests().size());
        for (const std::string& path : c.securePaths) {
            EXPECT_TRUE(m_secure.Asked(path)) << path;
        }
    }
}

// Most sites answer http with a redirect to https: the page's relative pictures, its
// stylesheet (and the picture it names) and its frame (and the frame's picture) all come
// from the https server, with the frame (whose own address is https) or without one.
TEST_F(SecureSchemesTest, AnHttpAddressMovedToHttpsKeepsEverythingThePageNeeds) {
    RunHost("cp -r " + FixtureSites() + "/moved " + m_strSite + "/");
    const std::vector<std::string> kWithFrame = {
        "/moved/index.htm", "/moved/style.css",  "/moved/frame.htm", "/moved/img/a.gif",
        "/moved/img/b.gif", "/moved/img/bg.gif", "/moved/img/c.gif", "/moved/img/tile.gif"};
    struct Case {
        const char* code;
        const char* page;
        const char* summary;
        std::vector<std::string> paths;  // asked of the https server
    } cases[] = {
        {"301", "index.htm",
         "captured 1 page, 1 frame, 5 pictures, 1 stylesheet, 0 fonts; 0 failed", kWithFrame},
        {"302", "index.htm",
         "captured 1 page, 1 frame, 5 pictures, 1 stylesheet, 0 fonts; 0 failed", kWithFrame},
        {"301",
         "alone.htm",
         "captured 1 page, 0 frames, 2 pictures, 1 stylesheet, 0 fonts; 0 failed",
         {"/moved/alone.htm", "/moved/style.css", "/moved/img/a.gif", "/moved/img/tile.gif"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.code) + " " + c.page);
        m_plain.ClearRequests();
        m_secure.ClearRequests();
        ASSERT_EQ("", Grab(m_plain.Base() + "/moved/go.htm?code=" + c.code +
                           "&to=" + m_secure.Base() + "/moved/" + c.page));
        const CGrabPlan& report = m_grabber->GetReport();
        EXPECT_EQ(c.summary, report.Summary());
        ASSERT_EQ(1u, m_plain.Requests().size());
        EXPECT_EQ(c.paths.size(), m_secure.Requests().size());
        for (const std::string& path : c.paths) {
            EXPECT_TRUE(m_secure.Asked(path)) << path;
        }
        // Every entry's file holds what the https server has under its address.
        Files files = ReadFolder(platform::FolderOf(m_job.strMainPage));
        EXPECT_EQ(report.Size(), files.size());
        for (size_t i = 1; i < report.Size(); ++i) {
            const CGrabEntry& e = report.At(i);
            EXPECT_EQ(0u, e.strAddress.find(m_secure.Base() + "/moved/")) << e.strAddress;
            ASSERT_TRUE(files.count(e.strLocalName)) << e.strAddress;
            if (e.kind == EntryKind::Picture) {
                std::string path = e.strAddress.substr(m_secure.Base().size());
                EXPECT_EQ(ReadWhole(FixtureSites() + path), files[e.strLocalName]);
            }
            for (const std::string& ref : References(files[e.strLocalName])) {
                EXPECT_TRUE(files.count(ref)) << e.strAddress << " names " << ref;
            }
        }
        for (const std::string& ref : References(Main())) {
            EXPECT_TRUE(files.count(ref)) << ref;
        }
    }
}
#endif

}  // namespace
