// Address operations and text search. One table runs against our own parser (Linux) and
// against WinINet (Windows, under Wine). A row whose `wine` column is set documents where
// Wine's WinINet answers differently from what the packager relies on: on Windows that
// answer is checked instead, so the table also pins the platform's behaviour.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "packager/address/url_utils.h"
#include "packager/address/web_address.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"
#include "platform/internet.h"

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// Picks the expectation for this platform.
const char* Expect(const char* ours, const char* wine) {
    return kWindows && wine != nullptr ? wine : ours;
}

const std::string kLong300(300, 'a');

struct CrackResult {
    bool ok;
    int scheme;
    const char* host;
    const char* path;
    uint16_t port;
};

struct CrackCase {
    std::string url;
    uint32_t flags;
    CrackResult expected;
    bool platform;     // Wine's WinINet answers differently:
    CrackResult wine;  // this is its answer
};

TEST(Addresses, CrackSplitsSchemeHostPathAndPort) {
    const uint32_t kDecode = platform::kCrackDecode;
    const CrackResult kFail{false, 0, "", "", 0};
    const CrackCase cases[] = {
        {"http://h/d/p.htm", 0, {true, 3, "h", "/d/p.htm", 80}, false, {}},
        {"https://H.example:8443/a?b=1#f", 0, {true, 4, "H.example", "/a?b=1#f", 8443}, false, {}},
        {"http://server:81/dir/page.htm", 0, {true, 3, "server", "/dir/page.htm", 81}, false, {}},
        // Wine gives an empty path here without the decode flag and "/" with it.
        {"http://h", 0, {true, 3, "h", "/", 80}, true, {true, 3, "h", "", 80}},
        {"https://h", kDecode, {true, 4, "h", "/", 443}, false, {}},
        {"HTTP://H/X", 0, {true, 3, "H", "/X", 80}, false, {}},
        {"http://user:pw@h:8080/x", 0, {true, 3, "h", "/x", 8080}, false, {}},
        {"http://[::1]:8080/x", 0, {true, 3, "[::1]", "/x", 8080}, false, {}},
        {"ftp://f/x", 0, {true, 1, "f", "/x", 21}, false, {}},
        {"mailto:a@b", 0, {true, 7, "", "a@b", 0}, false, {}},
        {"javascript:x", 0, {true, 9, "", "x", 0}, false, {}},
        {"http://h/a%20b.htm", 0, {true, 3, "h", "/a%20b.htm", 80}, false, {}},
        {"http://h/a%20b.htm", kDecode, {true, 3, "h", "/a b.htm", 80}, false, {}},
        {"www.example.com/x", 0, kFail, false, {}},
        {"", 0, kFail, false, {}},
        // Over-long hosts and paths do not fit the 260-byte buffers.
        {"http://" + kLong300 + "/x", 0, kFail, false, {}},
        {"http://h/" + kLong300, 0, kFail, false, {}},
        // Ports that are not numbers below 65536 are refused; WinINet keeps the low bits.
        {"http://h:99999/", 0, kFail, true, {true, 3, "h", "/", 34463}},
        {"http://h:abc/", 0, kFail, true, {true, 3, "h", "/", 0}},
        // A web address needs "//" and a host.
        {"http:foo", 0, kFail, true, {true, 3, "", "foo", 0}},
    };
    for (const CrackCase& c : cases) {
        SCOPED_TRACE(c.url.substr(0, 60));
        const CrackResult& want = kWindows && c.platform ? c.wine : c.expected;
        platform::UrlParts parts;
        bool ok = platform::CrackUrl(c.url, c.flags, parts);
        EXPECT_EQ(want.ok, ok);
        if (!ok || !want.ok) {
            continue;
        }
        EXPECT_EQ(want.scheme, parts.nScheme);
        EXPECT_EQ(want.host, parts.strHost);
        EXPECT_EQ(want.path, parts.strPath);
        EXPECT_EQ(want.port, parts.nPort);
    }
}

struct CombineCase {
    std::string base;
    std::string reference;
    const char* expected;
    const char* wine;
};

TEST(Addresses, CombineResolvesAgainstTheBaseAsBrowsersDo) {
    const CombineCase cases[] = {
        {"http://h/dir/page.htm", "a.gif", "http://h/dir/a.gif", nullptr},
        // The last segment names a file, dot or not; only a final "/" makes a folder.
        {"http://h/dir", "a.gif", "http://h/a.gif", nullptr},
        {"http://h/art/42", "1.gif", "http://h/art/1.gif", nullptr},
        {"http://h/art/42/", "1.gif", "http://h/art/42/1.gif", nullptr},
        {"http://h/art/42?from=a/b", "1.gif", "http://h/art/1.gif", nullptr},
        {"http://h", "a.gif", "http://h/a.gif", nullptr},
        {"http://h/dir/page.htm", "HTTP://x/y", "HTTP://x/y", nullptr},
        {"http://h/d/p.htm", "/cgi/x", "http://h/cgi/x", nullptr},
        {"http://h/d/p.htm", "../up.gif", "http://h/up.gif", nullptr},
        {"http://h/d/p.htm", "./x/./y.gif", "http://h/d/x/y.gif", nullptr},
        {"http://h/d/p.htm", "./img/dot.png#last", "http://h/d/img/dot.png#last", nullptr},
        {"http://h/d/p.htm", "//cdn.example/x.js", "http://cdn.example/x.js", nullptr},
        // An absolute reference keeps its own scheme, host and port; "//" takes the page's.
        {"https://h/d/p.htm", "//cdn.example:81/x.gif", "https://cdn.example:81/x.gif", nullptr},
        {"https://h/d/p.htm", "http://cdn.example/x.gif", "http://cdn.example/x.gif", nullptr},
        {"http://h/d/p.htm", "hTTpS://cdn.example/x.gif", "hTTpS://cdn.example/x.gif", nullptr},
        // A query, a fragment or nothing at all stays on the page itself.
        {"http://h/d/p.htm", "?q=1", "http://h/d/p.htm?q=1", nullptr},
        {"http://h/art/42", "?page=2", "http://h/art/42?page=2", nullptr},
        {"http://h/d/p.htm", "#top", "http://h/d/p.htm#top", nullptr},
        {"http://h/d/p.htm", "", "http://h/d/p.htm", nullptr},
        {"http://h/d/p?x=1", "#f", "http://h/d/p?x=1#f", nullptr},
        {"http://h/d/p?x=1#old", "", "http://h/d/p?x=1", nullptr},
        {"http://h/d/", "?q=1", "http://h/d/?q=1", nullptr},
        // Escapes are decoded; what is unsafe before the query is escaped again.
        {"http://h/d/p.htm", "a%20b.gif", "http://h/d/a%20b.gif", nullptr},
        {"http://h/d/p.htm", "a b?x y#z w", "http://h/d/a%20b?x y#z w", nullptr},
        {"http://h/d/p.htm", "a%22b%3C.gif", "http://h/d/a%22b%3C.gif", nullptr},
        {"http://h/d/p.htm", "a%3Fb.gif", "http://h/d/a?b.gif", nullptr},
        {"http://h/d/p.htm", "x%2Fy.gif", "http://h/d/x/y.gif", nullptr},
        {"http://h/d/p.htm", "a%25b.gif", "http://h/d/a%b.gif", nullptr},
        {"http://h/d/p.htm", "a%zzb.gif", "http://h/d/a%zzb.gif", nullptr},
        {"http://h/d/p.htm", "a\\b\\c.gif", "http://h/d/a/b/c.gif", nullptr},
        {"http://h/d/p.htm", "../../../x.gif", "http://h/x.gif", nullptr},
        // %00 is kept: a NUL would cut the address; WinINet cuts it there.
        {"http://h/d/p.htm", "a%00b.gif", "http://h/d/a%00b.gif", "http://h/d/a"},
        // No base: the reference as it is.
        {"", "a.gif", "a.gif", nullptr},
        {"https://s.example:8443/a/b.htm", "c.png", "https://s.example:8443/a/c.png", nullptr},
        {"http://server:81/dir/page.htm", "pics/x.gif", "http://server:81/dir/pics/x.gif", nullptr},
        {"http://h/d/p.htm", "mailto:x@y", "mailto:x@y", nullptr},
        {"http://h/d/p.htm", "ftp://f/x", "ftp://f/x", nullptr},
        {"http://h/d/p.htm", "javascript:go()", "javascript:go()", nullptr},
        // Results that do not fit in 520 bytes fail, and so give the empty address.
        {"http://h/d/p.htm", std::string(600, 'b'), "", nullptr},
        {"http://h/" + std::string(515, 'c') + "/", "x", "", nullptr},
        {"http://h/d/p.htm", std::string(1u << 20, 'a') + "/../x.gif", "", nullptr},
    };
    for (const CombineCase& c : cases) {
        SCOPED_TRACE(c.base.substr(0, 60) + " + " + c.reference.substr(0, 60));
        EXPECT_EQ(Expect(c.expected, c.wine), CombineAddress(c.base, c.reference));
    }
}

TEST(Addresses, FileAddressesBecomeLocalPaths) {
    struct Case {
        const char* address;
        const char* path;
        int scheme;
    };
#ifdef _WIN32
    const Case cases[] = {
        {"file:///C:/site/a%20b.htm", "C:\\site\\a b.htm", 5},
        {"file://localhost/C:/site/a%20b.htm", "C:\\site\\a b.htm", 5},
        // WinINet takes a drive path for a file address.
        {"C:\\plain\\path.htm", "C:\\plain\\path.htm", 5},
    };
#else
    const Case cases[] = {
        {"file:///tmp/site/a%20b.htm", "/tmp/site/a b.htm", 5},
        {"file://localhost/tmp/x.htm", "/tmp/x.htm", 5},
        {"/plain/path.htm", "/plain/path.htm", -1},
    };
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        int scheme = 0;
        EXPECT_EQ(c.path, FileAddressToPath(c.address, scheme));
        EXPECT_EQ(c.scheme, scheme);
    }
#ifdef _WIN32
    EXPECT_EQ("C:\\site\\pic.gif", CombineAddress("file:///C:/site/index.htm", "pic.gif"));
#else
    EXPECT_EQ("/tmp/site/pic.gif", CombineAddress("file:///tmp/site/index.htm", "pic.gif"));
#endif
}

TEST(Addresses, CanonicalizeEscapesUnsafeCharactersAndDotSegments) {
    struct Case {
        const char* in;
        const char* out;
        const char* wine;
    };
    const Case cases[] = {
        {"http://h/a b.htm", "http://h/a%20b.htm", nullptr},
        {"http://h/d/../x.htm", "http://h/x.htm", nullptr},
        {"http://h/d/./x.htm", "http://h/d/x.htm", nullptr},
        {"http://h/x.htm#frag", "http://h/x.htm#frag", nullptr},
        {"http://h/p?q=a%20b", "http://h/p?q=a%20b", nullptr},
        // After "?" WinINet leaves spaces; ours escapes them so the request line stays valid.
        {"http://h/p?q=a b", "http://h/p?q=a%20b", "http://h/p?q=a b"},
        {"http://h/a\"b<c>", "http://h/a%22b%3Cc%3E", nullptr},
        {"http://h/\xe9", "http://h/%E9", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        std::string out;
        ASSERT_TRUE(platform::CanonicalizeUrl(c.in, out));
        EXPECT_EQ(Expect(c.out, c.wine), out);
    }
}

TEST(Addresses, TextSearch) {
    struct PrefixCase {
        const char* text;
        const char* prefix;
        bool ignoreCase;
        bool expected;
    };
    const PrefixCase prefixes[] = {
        {"SRC=", "SRC=", true, false},  // equal is not longer
        {"src=x", "SRC=", true, true},  {"src=x", "SRC=", false, false},
        {"SRC=x", "SRC=", false, true}, {"SR", "SRC=", true, false},
        {"", "", false, false},         {"x", "", false, true},
    };
    for (const PrefixCase& c : prefixes) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.prefix);
        EXPECT_EQ(c.expected, HasPrefix(c.text, c.prefix, c.ignoreCase));
    }

    struct FindCase {
        const char* text;
        const char* needle;
        int start;
        int exact;
        int noCase;
    };
    const FindCase finds[] = {
        {"abcABCabc", "ABC", 0, 3, 0}, {"abcABCabc", "ABC", 1, 3, 3},
        {"abcABCabc", "abc", 4, 6, 6}, {"abcABCabc", "x", 0, -1, -1},
        {"abc", "abcd", 0, -1, -1},    {"abc", "c", 3, -1, -1},
        {"abc", "c", -1, -1, -1},      {"</ScRiPt>", "</SCRIPT>", 0, -1, 0},
    };
    for (const FindCase& c : finds) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.needle + " @" + std::to_string(c.start));
        EXPECT_EQ(c.exact, FindText(c.text, c.needle, c.start));
        EXPECT_EQ(c.noCase, FindTextNoCase(c.text, c.needle, c.start));
    }
    EXPECT_EQ(2, FindChar("ab<cd<", '<', 0));
    EXPECT_EQ(5, FindChar("ab<cd<", '<', 3));
    EXPECT_EQ(-1, FindChar("ab<cd<", '<', 6));
    EXPECT_EQ(-1, FindChar("abc", 'x', 0));

    struct AbsCase {
        const char* text;
        bool expected;
    };
    const AbsCase absolutes[] = {
        {"http://h/x", true}, {"HTTPS://h/x", true}, {"file:", true},
        {"FiLe:///c", true},  {"file", false},       {"ftp://h/x", false},
        {"//h/x", false},     {"http:/x", false},    {"", false},
    };
    for (const AbsCase& c : absolutes) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.expected, IsAbsoluteAddress(c.text));
    }
}

TEST(Addresses, SchemesAreReadAsWritten) {
    const std::pair<const char*, const char*> cases[] = {
        {"HTTP://h/x", "HTTP"},
        {"file:///tmp/x.htm", "file"},
        {"ftp://h/x", "ftp"},
        {"mailto:a@b.example", "mailto"},
        {"svn+ssh://h/x", "svn+ssh"},
        {"C:\\pages\\x.htm", "C"},
        {"localhost:8080/x", ""},  // a host and its port
        {"user:pw@host/x", ""},    // credentials
        {"host/page.htm", ""},
        {"//cdn.example/x", ""},
        {"1http://x", ""},
        {"http", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(c.second, SchemeOf(c.first));
    }
}

// Runs in a fresh current folder of its own, since page names probe the current folder.
class LocalFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        m_previous = fs::current_path();
        m_folder = fs::temp_directory_path() /
                   ("qb_addresses_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        fs::current_path(m_folder);
    }
    void TearDown() override {
        namespace fs = std::filesystem;
        fs::current_path(m_previous);
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(m_folder, ec)) {
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ec);
        }
        fs::remove_all(m_folder, ec);
    }
    std::string Path(const std::string& name) const { return (m_folder / name).string(); }
    size_t EntryCount() const {
        size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
            (void)entry;
            ++n;
        }
        return n;
    }
    std::filesystem::path m_previous;
    std::filesystem::path m_folder;
};

TEST_F(LocalFiles, SiteRootKeepsANonDefaultPort) {
    struct Case {
        std::string address;
        bool ok;
        std::string root;
        std::string path;
    };
    const std::string kLongPath = "/" + std::string(1500, 'p');
    const Case cases[] = {
        {"HTTP://SERVER:81/Dir/Page.HTM", true, "http://server:81", "/dir/page.htm"},
        {"http://server:80/dir/page.htm", true, "http://server", "/dir/page.htm"},
        {"https://Secure.Example/a/b.htm?Q=1", true, "https://secure.example", "/a/b.htm?q=1"},
        {"https://secure.example:443/", true, "https://secure.example", "/"},
        {"https://secure.example:80/", true, "https://secure.example:80", "/"},
        {"www.example.com/page.htm", false, "", ""},
        // Paths as long as a request may carry get their names; longer ones none.
        {"http://h" + kLongPath, true, "http://h", kLongPath},
        {"http://h" + kLongPath + kLongPath, false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address.substr(0, 60));
        std::string root = "unset", path = "unset", name = "unset";
        ASSERT_EQ(c.ok, MakePageNames(c.address, root, path, name));
        if (c.ok) {
            EXPECT_EQ(c.root, root);
            EXPECT_EQ(c.path, path);
        } else {
            EXPECT_EQ("unset", root);  // nothing is set on failure
            EXPECT_EQ("unset", name);
        }
    }
}

TEST_F(LocalFiles, PageNamesComeFromTheGrabsNamerAndLeaveNoProbeFile) {
    std::string root, path, first, second, none;
    CLocalNamer namer;
    ASSERT_TRUE(MakePageNames("http://h/a.htm", root, path, first, &namer));
    ASSERT_TRUE(MakePageNames("http://h/a.htm", root, path, second, &namer));
    EXPECT_EQ("QBT1.htm", first);
    // Both are names of one grab's flat folder: the second page must not overwrite the first.
    EXPECT_EQ("QBT2.htm", second);
    ASSERT_TRUE(MakePageNames("http://h/a.htm", root, path, none));
    EXPECT_EQ("home.htm", none);
    EXPECT_EQ(0u, EntryCount());
}

TEST_F(LocalFiles, SplitLocalPathNeedsAnOpenableNamedFile) {
    const std::string file = Path("page.htm");
    std::ofstream(file) << "<html></html>";
    std::string name = "unset", folder = "unset";
    ASSERT_TRUE(SplitLocalPath(file, name, folder));
    EXPECT_EQ("page.htm", name);
    EXPECT_EQ(m_folder.string() + platform::kPathSeparator, folder);

    EXPECT_FALSE(SplitLocalPath(Path("missing.htm"), name, folder));
    // A folder has no file name after its last separator.
    EXPECT_FALSE(SplitLocalPath(m_folder.string() + platform::kPathSeparator, name, folder));
}

TEST_F(LocalFiles, ClearReadOnlyKeepsTheWriteTime) {
    const std::string file = Path("locked.gif");
    std::ofstream(file) << "GIF89a";
    platform::FileTime before = 0;
    ASSERT_TRUE(platform::SetWriteTime(file, platform::kUnixEpochAsFileTime + 10000000ULL * 3600));
    ASSERT_TRUE(platform::GetWriteTime(file, before));
    ASSERT_TRUE(platform::SetAttributes(file, platform::kAttrReadOnly));
    ASSERT_NE(0u, platform::GetAttributes(file) & platform::kAttrReadOnly);

    EXPECT_TRUE(ClearReadOnly(file));
    EXPECT_EQ(0u, platform::GetAttributes(file) & platform::kAttrReadOnly);
    platform::FileTime after = 0;
    ASSERT_TRUE(platform::GetWriteTime(file, after));
    EXPECT_EQ(before, after);
    EXPECT_TRUE(ClearReadOnly(file));  // already writable: nothing to do
    EXPECT_FALSE(ClearReadOnly(Path("missing.gif")));
}

// The one parsed form of a web address: what a request names, the server's one key and the
// address written back, whatever the address's case, port and fragment.
TEST(WebAddress, ParsedOnceIntoTheFormsEveryLayerUses) {
    struct Case {
        const char* address;
        const char* object;
        const char* key;
        const char* text;
    } cases[] = {
        {"http://Host.Example/a/b.htm?q=1#frag", "/a/b.htm?q=1", "host.example:80",
         "http://Host.Example/a/b.htm?q=1"},
        {"HTTPS://h:443/x", "/x", "h:443", "https://h/x"},
        {"https://h:8443", "/", "h:8443", "https://h:8443/"},
        {"http://h?q", "/?q", "h:80", "http://h/?q"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        CWebAddress parsed;
        ASSERT_TRUE(ParseWebAddress(c.address, parsed));
        EXPECT_EQ(c.object, parsed.Object());
        EXPECT_EQ(c.key, parsed.ServerKey());
        EXPECT_EQ(c.text, parsed.Text());
    }
    CWebAddress unset;
    for (const char* other : {"ftp://h/x", "file:///x", "www.example.com/x", "http:///x"}) {
        EXPECT_FALSE(ParseWebAddress(other, unset)) << other;
    }
    EXPECT_FALSE(unset.IsSet());
}

}  // namespace
