// The page rewriter: tags, attributes, the page pass, and a fixture site compared with its
// reviewed rewritten pages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"

namespace {

const char kPage[] = "http://h/d/p.htm";
const char kFolder[] = "W";
const std::string kFooter = kFooterText;

// Everything one pass produced.
struct Pass {
    bool bResult = false;
    std::string strText;
    std::string strAddress;
    CStringList lstResources;
    CStringArray arrNames;
    CStringList lstFrames;
    CStringList lstFramePaths;
};

Pass Rewrite(const std::string& page, const std::string& address = kPage,
             const GrabJob& job = GrabJob()) {
    CPageRewriter::SetNameCounter(0x10);
    Pass p;
    p.strText = page;
    p.strAddress = address;
    p.bResult = CPageRewriter().ProcessPage(p.strAddress, p.strText, kFolder, p.lstFrames,
                                            p.lstFramePaths, p.lstResources, p.arrNames, job);
    return p;
}

std::vector<std::string> V(const CStringList& l) {
    return {l.begin(), l.end()};
}
std::string InFolder(const std::string& name) {
    return platform::JoinPath(kFolder, name);
}

struct TagCase {
    const char* in;
    const char* out;
    std::vector<std::string> resources;  // address, local name, address, local name, ...
    std::vector<std::string> frames;     // address, local name, ...
};

TEST(Rewrite, TagsAndAttributesFollowTheTable) {
    const TagCase cases[] = {
        // Pictures become local names; the separator after a closing quote is written again.
        {"<IMG SRC = 'pics/a.gif' ALT=x>",
         "<IMG SRC=\"QBT10.gif\"  ALT=x>",
         {"http://h/d/pics/a.gif", "QBT10.gif"},
         {}},
        {"<A HREF=#top>", "<A HREF=\"#top\">", {}, {}},
        {"<a href='x.htm'>", "<a href=\"http://h/d/x.htm\">", {}, {}},
        {"<BODY BACKGROUND=bg.jpg onLoad=go()>",
         "<BODY BACKGROUND=\"QBT10.jpg\" >",
         {"http://h/d/bg.jpg", "QBT10.jpg"},
         {}},
        {"<TD BACKGROUND=bg.jpg>", "<TD BACKGROUND=bg.jpg>", {}, {}},
        {"<APPLET CODE=A.class WIDTH=10>",
         "<APPLET CODE=A.class WIDTH=10 CODEBASE=http://h/d/p.htm>",
         {},
         {}},
        {"<applet code=A.class codebase=classes/>",
         "<applet code=A.class codebase=\"http://h/d/classes/\">",
         {},
         {}},
        {"<FORM ACTION=/cgi/x METHOD=post>",
         "<FORM ACTION=\"http://h/cgi/x\" METHOD=post>",
         {},
         {}},
        {"<IMG SRC=a.gif><IMG SRC=a.gif>",
         "<IMG SRC=\"QBT10.gif\"><IMG SRC=\"QBT11.gif\">",
         {"http://h/d/a.gif", "QBT10.gif", "http://h/d/a.gif", "QBT11.gif"},
         {}},
        // A frame referenced again while queued is queued once and carries the first name.
        {"<FRAME SRC=a.htm><FRAME SRC=a.htm><IFRAME SRC=\"b.htm\">",
         "<FRAME SRC=\"QBT10.htm\"><FRAME SRC=\"QBT10.htm\"><IFRAME SRC=\"QBT11.htm\">",
         {},
         {"http://h/d/a.htm", "QBT10.htm", "http://h/d/b.htm", "QBT11.htm"}},
        {"<BASE HREF=http://other/dir/><IMG SRC=a.gif><A HREF=b.htm>",
         "<IMG SRC=\"QBT10.gif\"><A HREF=\"http://other/dir/b.htm\">",
         {"http://other/dir/a.gif", "QBT10.gif"},
         {}},
        // Nothing after "=" matches no rule; an empty quoted value is the page's folder.
        {"<IMG SRC=>", "<IMG SRC=>", {}, {}},
        {"<IMG SRC=''>", "<IMG SRC=\"QBT10\">", {"http://h/d/", "QBT10"}, {}},
        {"<EMBED SRC=s.mid><BGSOUND SRC=\"x.wav\">",
         "<EMBED SRC=\"QBT10.mid\"><BGSOUND SRC=\"QBT11.wav\">",
         {"http://h/d/s.mid", "QBT10.mid", "http://h/d/x.wav", "QBT11.wav"},
         {}},
        {"<INPUT TYPE=image SRC=b.gif>", "<INPUT TYPE=image SRC=\"http://h/d/b.gif\">", {}, {}},
        {"<IMG SRC=a.gif onMouseOver=x() LOWSRC=l.gif DATA=d CODE=c>",
         "<IMG SRC=\"QBT10.gif\"  LOWSRC=l.gif DATA=d CODE=c>",
         {"http://h/d/a.gif", "QBT10.gif"},
         {}},
        {"<img src=\"logo.gif?v=2\"><script src=a.min.js></script><img src=\"a.min.js\">",
         "<img src=\"QBT10.gif\"><img src=\"QBT11.min.js\">",
         {"http://h/d/logo.gif?v=2", "QBT10.gif", "http://h/d/a.min.js", "QBT11.min.js"},
         {}},
        {"<A HREF=\"mailto:x@y\">", "<A HREF=\"mailto:x@y\">", {}, {}},
        {"<A HREF=http://Other/X.htm>", "<A HREF=\"http://Other/X.htm\">", {}, {}},
        // A quote inside a value cannot end the rewritten attribute.
        {"<A HREF='a\"b.htm' onclick=y>", "<A HREF=\"http://h/d/a%22b.htm\"  onclick=y>", {}, {}},
        // Line breaks: LF separates (CR LF comes out as LF), CR stays inside a token.
        {"<IMG\r\nSRC=a.gif>", "<IMG\nSRC=\"QBT10.gif\">", {"http://h/d/a.gif", "QBT10.gif"}, {}},
        {"<IMG  SRC=a.gif\t>", "<IMG  SRC=\"QBT10.gif\">", {"http://h/d/a.gif", "QBT10.gif"}, {}},
        // A tag that starts with white space has no name: only the rules for any tag apply.
        {"< IMG SRC=a.gif HREF=x>",
         "< IMG SRC=\"QBT10.gif\" HREF=\"http://h/d/x\">",
         {"http://h/d/a.gif", "QBT10.gif"},
         {}},
        {"<>", "<>", {}, {}},
        // Spaces around "=" go, also inside quotes.
        {"<P TITLE = 'a = b' CLASS =\tc>", "<P TITLE='a=b'  CLASS=c>", {}, {}},
        // Unbalanced quotes keep the rest of the tag in one token.
        // and the same number of characters comes off both ends of the value.
        {"<A HREF='x.htm TITLE=y>", "<A HREF=\"http://h/d/x.htm%20TITLE=\">", {}, {}},
    };
    for (const TagCase& c : cases) {
        SCOPED_TRACE(c.in);
        Pass p = Rewrite(c.in);
        EXPECT_TRUE(p.bResult);
        EXPECT_EQ(c.out, p.strText);
        std::vector<std::string> resources, frames;
        ASSERT_EQ(p.lstResources.size(), p.arrNames.size());
        for (size_t i = 0; i < p.lstResources.size(); ++i) {
            resources.push_back(p.lstResources[i]);
            resources.push_back(p.arrNames[i]);
        }
        ASSERT_EQ(p.lstFrames.size(), p.lstFramePaths.size());
        for (size_t i = 0; i < p.lstFrames.size(); ++i) {
            frames.push_back(p.lstFrames[i]);
            frames.push_back(p.lstFramePaths[i]);
        }
        std::vector<std::string> wantFrames;
        for (size_t i = 0; i < c.frames.size(); i += 2) {
            wantFrames.push_back(c.frames[i]);
            wantFrames.push_back(InFolder(c.frames[i + 1]));
        }
        EXPECT_EQ(c.resources, resources);
        EXPECT_EQ(wantFrames, frames);
    }
}

struct PageCase {
    std::string in;
    std::string out;
};

TEST(Rewrite, PagePassDropsScriptsAndAddsFooters) {
    const std::string marker = "<!-- PreProcess Done -->";
    const PageCase cases[] = {
        // Processed markers within the first 50 characters leave the page alone.
        {marker + "<IMG SRC=a.gif>", marker + "<IMG SRC=a.gif>"},
        {"<!-- preprocess DONE --><IMG SRC=a.gif>", "<!-- preprocess DONE --><IMG SRC=a.gif>"},
        {"<html><!-- scrapbook option=2 --><IMG SRC=a.gif>",
         "<html><!-- scrapbook option=2 --><IMG SRC=a.gif>"},
        {std::string(26, ' ') + marker + "<I>", std::string(26, ' ') + marker + "<I>"},
        // ... but not one that reaches past them.
        {std::string(29, ' ') + marker + "<A HREF=x>",
         std::string(29, ' ') + marker + "<A HREF=\"http://h/d/x\">"},
        {"", ""},
        {"no tags at all\r\n", "no tags at all\r\n"},
        {"<BODY>a</BODY>b</body>", "<BODY>a" + kFooter + "</BODY>b" + kFooter + "</body>"},
        {"</BODY onload=x()>", kFooter + "</BODY>"},
        {"<FRAMESET><FRAME SRC=f.htm></FRAMESET>",
         "<FRAMESET><FRAME SRC=\"QBT10.htm\"></FRAMESET>"},
        // A comment ends at its "-->" and is written as it is.
        {"<!-- a > b <IMG SRC=x.gif> -->x", "<!-- a > b <IMG SRC=x.gif> -->x"},
        {"<!---->y<!-->z", "<!---->y<!-->z"},
        {"a<script>if (a<b) x();</SCRIPT>b", "ab"},
        {"a<SCRIPT language=js>x<b>y", "ax<b>y"},
        {"a<script>1</script><script>2</script>b<script>3", "ab3"},
        {"<NOSCRIPT>text</NOSCRIPT>", "text"},
        {"<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\">",
         "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\">"},
        {"<html></html>\r\n", "<html></html>\r\n"},
        // Without an end, the rest of the page stays as it is.
        {"x<IMG SRC=a.gif>y<IMG SRC=b.gif", "x<IMG SRC=\"QBT10.gif\">y<IMG SRC=b.gif"},
        {"a<!-- open <IMG SRC=a.gif>", "a<!-- open <IMG SRC=a.gif>"},
        {std::string("a\0<I>\0b", 7), std::string("a\0<I>\0b", 7)},
    };
    for (const PageCase& c : cases) {
        SCOPED_TRACE(c.in.substr(0, 70));
        Pass p = Rewrite(c.in);
        EXPECT_TRUE(p.bResult);
        EXPECT_EQ(c.out, p.strText);
    }
}

// Inputs that would take quadratic time if the pass searched from the start again or erased
// from the front of the page; they must come out right (and the run stay short).
TEST(Rewrite, HostilePagesStayLinear) {
    const std::string huge(10u << 20, 'a');
    Pass p = Rewrite("<IMG SRC=\"" + huge + ".gif\">after");
    // The address does not fit the combining buffer: an empty address with a fresh name.
    EXPECT_EQ("<IMG SRC=\"QBT10\">after", p.strText);
    EXPECT_EQ((std::vector<std::string>{""}), V(p.lstResources));

    p = Rewrite("<A HREF='" + huge + ">tail");
    EXPECT_EQ("<A HREF=\"\">tail", p.strText);

    std::string scripts;
    for (int i = 0; i < 200000; ++i) {
        scripts += "<SCRIPT>";
    }
    p = Rewrite(scripts + "x");
    EXPECT_EQ("x", p.strText);

    const std::string opens(1u << 20, '<');
    p = Rewrite("a<B>" + opens);
    EXPECT_EQ("a<B>" + opens, p.strText);

    std::string comments;
    for (int i = 0; i < 200000; ++i) {
        comments += "<!--";
    }
    p = Rewrite(comments);
    EXPECT_EQ(comments, p.strText);

    std::string tags;
    for (int i = 0; i < 200000; ++i) {
        tags += "<I>\"";
    }
    p = Rewrite(tags);
    EXPECT_EQ(tags, p.strText);
}

TEST(Rewrite, FooterNamesTheMakersPage) {
    EXPECT_EQ(
        "<p><b>This page has been grabbed for free using <a "
        "href=\"http://www.tarnwick.example/quillbox/\" target=\"Quillbox\">Quillbox "
        "Lite</a>!</b></p>\r\n",
        kFooter);
    EXPECT_EQ(117, kFooterStringId);
}

struct Recorder {
    std::vector<int> positions;
    std::vector<std::string> texts;
    int stopAfter = -1;
};

Recorder* g_recorder = nullptr;

int Record(CMainWindow*, std::string text, int32_t position, int32_t range) {
    EXPECT_EQ(100, range);
    g_recorder->positions.push_back(position);
    g_recorder->texts.push_back(text);
    return static_cast<int>(g_recorder->positions.size()) == g_recorder->stopAfter ? 0 : 1;
}

TEST(Rewrite, ProgressRisesToTheEndAndCanStop) {
    Recorder rec;
    g_recorder = &rec;
    GrabJob job;
    job.pfnProgress = &Record;
    const std::string page = "<html><body>one<script>x</script><IMG SRC=a.gif>two</body></html>";
    Pass p = Rewrite(page, kPage, job);
    EXPECT_TRUE(p.bResult);
    ASSERT_EQ(6u, rec.positions.size());  // one report per tag
    for (size_t i = 1; i < rec.positions.size(); ++i) {
        EXPECT_LE(rec.positions[i - 1], rec.positions[i]);
    }
    EXPECT_GE(rec.positions.front(), 0);
    EXPECT_LT(rec.positions.front(), 100);
    EXPECT_EQ(100, rec.positions.back());
    for (const std::string& t : rec.texts) {
        EXPECT_EQ("Processing ... ", t);
    }

    rec = Recorder();
    rec.stopAfter = 3;
    p = Rewrite(page, kPage, job);
    EXPECT_FALSE(p.bResult);
    EXPECT_EQ("<html><body>one", p.strText);
    EXPECT_EQ(3u, rec.positions.size());
    EXPECT_TRUE(p.lstResources.empty());
    g_recorder = nullptr;
}

TEST(Rewrite, QueuedFramesAreRememberedAcrossPages) {
    CPageRewriter::SetNameCounter(0x20);
    CStringList frames, paths, resources;
    CStringArray names;
    CFrameMap queued;
    CPageRewriter rewriter;
    std::string address = "http://h/top.htm";
    std::string text = "<FRAME SRC=left.htm><FRAME SRC=top.htm>";
    rewriter.ProcessPage(address, text, kFolder, frames, paths, resources, names, GrabJob(),
                         &queued);
    EXPECT_EQ((std::vector<std::string>{"http://h/left.htm", "http://h/top.htm"}), V(frames));
    // The driver takes the queue's heads; the page that frames back comes later.
    frames.clear();
    paths.clear();
    address = "http://h/left.htm";
    text = "<FRAME SRC=top.htm><FRAME SRC=left.htm><FRAME SRC=new.htm>";
    rewriter.ProcessPage(address, text, kFolder, frames, paths, resources, names, GrabJob(),
                         &queued);
    EXPECT_EQ("<FRAME SRC=\"QBT21.htm\"><FRAME SRC=\"QBT20.htm\"><FRAME SRC=\"QBT22.htm\">", text);
    EXPECT_EQ((std::vector<std::string>{"http://h/new.htm"}), V(frames));
    EXPECT_EQ((std::vector<std::string>{InFolder("QBT22.htm")}), V(paths));
}

TEST(Rewrite, HelpersOnTheirOwn) {
    struct Strip {
        const char* in;
        const char* out;
    };
    const Strip strips[] = {
        {"'a'", "a"},     {"\"a'", "a"},  {"''", ""},           {"'a", ""},
        {" 'ab' ", "ab"}, {"''a''", "a"}, {"a'", "a'"},         {"'''", ""},
        {"'abc", "ab"},   {"", ""},       {"\t\"x\"\r\n", "x"},
    };
    for (const Strip& s : strips) {
        SCOPED_TRACE(s.in);
        std::string v = s.in;
        CPageRewriter::StripQuotes(v);
        EXPECT_EQ(s.out, v);
    }

    struct Tighten {
        const char* in;
        const char* out;
    };
    const Tighten tightens[] = {
        {"SRC = 'a.gif'", "SRC='a.gif'"}, {"a= =b", "a==b"}, {"x y", "x y"}, {"\r\n=\r\n", "="},
        {"a =\v\fb c", "a=b c"},
    };
    for (const Tighten& t : tightens) {
        SCOPED_TRACE(t.in);
        std::string v = t.in;
        CPageRewriter::TightenEquals(v);
        EXPECT_EQ(t.out, v);
    }

    struct Name {
        uint32_t counter;
        const char* address;
        const char* name;
    };
    const Name names[] = {
        {0x1A, "http://h/logo.gif?v=2", "QBT1A.gif"},
        {0x1A, "http://h/a.min.js", "QBT1A.min.js"},
        {0x1A, "http://h/dir/", "QBT1A"},
        {0x1A, "noslash.gif", "QBT1A"},
        {0xBEEF, "http://h/x", "QBTBEEF"},
        {0x1FFFF, "http://h/x.png", "QBTFFFF.png"},
        {0x10000, "http://h/x.png", "QBT0.png"},
        // The extension cannot carry the file out of the work folder or name a stream.
        {0x1A, "http://h/x.gif\\..\\..\\evil", "QBT1A.gif"},
        {0x1A, "http://h/a.php#x:y", "QBT1A.php"},
        // A local page's pictures and frames keep their extensions on Windows too.
        {0x1A, "C:\\site\\pics\\tile.png", "QBT1A.png"},
        {0x1A, "/site/frames/nav.htm", "QBT1A.htm"},
    };
    for (const Name& n : names) {
        SCOPED_TRACE(n.address);
        CPageRewriter::SetNameCounter(n.counter);
        EXPECT_EQ(n.name, CPageRewriter::MakeLocalName(n.address));
        EXPECT_EQ(n.counter + 1, CPageRewriter::GetNameCounter());
    }
}

TEST(Rewrite, FirstNameOfTheRunComesFromAFreshProbe) {
    namespace fs = std::filesystem;
    const fs::path previous = fs::current_path();
    const fs::path folder = fs::temp_directory_path() / "qb_rewrite_probe";
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::current_path(folder);
    CPageRewriter::SetNameCounter(0);
    const std::string name = CPageRewriter::MakeLocalName("http://h/a.gif");
    const bool empty = fs::is_empty(folder);
    fs::current_path(previous);
    fs::remove_all(folder);
    EXPECT_TRUE(std::regex_match(name, std::regex("QBT[0-9A-F]{1,4}\\.gif"))) << name;
    EXPECT_TRUE(empty);  // the probe file is gone
    EXPECT_EQ(1u, CPageRewriter::GetNameCounter());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Each page of the fixture site, rewritten as if fetched from the given address, must equal
// its reviewed copy; the lists it produced are compared with the reviewed list file.
TEST(Rewrite, FixtureSiteMatchesItsReviewedRewrite) {
    const std::string root = std::string(QB_SOURCE_DIR) + "/tests/fixtures/rewrite/";
    const char* pages[] = {"index.htm", "frames.htm", "nav.htm", "gallery.htm"};
    CPageRewriter::SetNameCounter(0x100);
    CStringList frames, paths, resources;
    CStringArray names;
    CFrameMap queued;
    CPageRewriter rewriter;
    std::ostringstream lists;
    for (const char* page : pages) {
        SCOPED_TRACE(page);
        std::string text = ReadFile(root + "site/" + page);
        ASSERT_FALSE(text.empty());
        std::string address = std::string("http://fixture.example:8080/site/") + page;
        EXPECT_TRUE(rewriter.ProcessPage(address, text, "WORK", frames, paths, resources, names,
                                         GrabJob(), &queued));
        EXPECT_EQ(ReadFile(root + "expected/" + page), text);
        lists << "page " << page << " base " << address << "\n";
    }
    ASSERT_EQ(resources.size(), names.size());
    for (size_t i = 0; i < resources.size(); ++i) {
        lists << "resource " << resources[i] << " " << names[i] << "\n";
    }
    ASSERT_EQ(frames.size(), paths.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        lists << "frame " << frames[i] << " " << paths[i].substr(5) << "\n";
    }
    EXPECT_EQ(ReadFile(root + "expected/lists.txt"), lists.str());
}

}  // namespace
