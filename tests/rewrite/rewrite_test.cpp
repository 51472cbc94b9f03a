// The page rewriter: tags, attributes, the page pass, and a fixture site compared with its
// reviewed rewritten pages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "packager/fetch/grab_job.h"
#include "packager/fetch/grab_plan.h"
#include "packager/rewrite/css_rewriter.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"

namespace {

const char kPage[] = "http://h/d/p.htm";
const std::string kFooter = kFooterText;

// Everything one pass produced.
struct Pass {
    bool bResult = false;
    std::string strText;
    std::string strAddress;
    CReferenceList found;
    CGrabPlan plan;
};

Pass Rewrite(const std::string& page, const std::string& address = kPage,
             const GrabJob& job = GrabJob(), const CRewriteOptions& options = CRewriteOptions()) {
    Pass p;
    p.plan.Namer() = CLocalNamer(0x10);
    p.strText = page;
    p.strAddress = address;
    CJobProgress progress(job);
    CPassNames names(p.plan);
    p.bResult =
        CPageRewriter().ProcessPage(p.strAddress, p.strText, names, p.found, progress, options);
    p.plan.Append(p.found, 0);
    return p;
}

std::vector<std::string> Addresses(const CReferenceList& found) {
    std::vector<std::string> out;
    for (const CFoundReference& r : found) {
        out.push_back(r.strAddress);
    }
    return out;
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
        // One address, one name, however it is written and wherever it occurs.
        {"<IMG SRC=a.gif><IMG SRC=a.gif><BODY BACKGROUND=./a.gif#x>",
         "<IMG SRC=\"QBT10.gif\"><IMG SRC=\"QBT10.gif\"><BODY BACKGROUND=\"QBT10.gif\">",
         {"http://h/d/a.gif", "QBT10.gif", "http://h/d/a.gif", "QBT10.gif", "http://h/d/a.gif",
          "QBT10.gif"},
         {}},
        {"<FRAME SRC=a.htm><FRAME SRC=a.htm><IFRAME SRC=\"b.htm\">",
         "<FRAME SRC=\"QBT10.htm\"><FRAME SRC=\"QBT10.htm\"><IFRAME SRC=\"QBT11.htm\">",
         {},
         {"http://h/d/a.htm", "QBT10.htm", "http://h/d/a.htm", "QBT10.htm", "http://h/d/b.htm",
          "QBT11.htm"}},
        {"<BASE HREF=http://other/dir/><IMG SRC=a.gif><A HREF=b.htm>",
         "<IMG SRC=\"QBT10.gif\"><A HREF=\"http://other/dir/b.htm\">",
         {"http://other/dir/a.gif", "QBT10.gif"},
         {}},
        // Nothing after "=" matches no rule; an empty quoted value is the page's folder.
        {"<IMG SRC=>", "<IMG SRC=>", {}, {}},
        // An empty reference is the page itself, as a browser reads it.
        {"<IMG SRC=''>", "<IMG SRC=\"QBT10.htm\">", {"http://h/d/p.htm", "QBT10.htm"}, {}},
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
        for (const CFoundReference& r : p.found) {
            std::vector<std::string>& list = r.kind == EntryKind::Frame ? frames : resources;
            list.push_back(r.strAddress);
            list.push_back(r.strLocalName);
        }
        EXPECT_EQ(c.resources, resources);
        EXPECT_EQ(c.frames, frames);
    }
}

// The CSS pass over a stylesheet read from http://h/css/s.css, names from 0x10.
struct CssCase {
    const char* in;
    const char* out;
    std::vector<std::string> found;  // kind letter + address: p picture, s stylesheet, f font
};

std::string KindLetter(EntryKind kind) {
    return kind == EntryKind::Stylesheet ? "s" : kind == EntryKind::Font ? "f" : "p";
}

TEST(Rewrite, CssPassFindsEveryReferenceAndNothingElse) {
    const CssCase cases[] = {
        {"a{background:url(bg.png)}", "a{background:url(QBT10.png)}", {"p http://h/css/bg.png"}},
        {"a{background:URL( 'x y.png' )}",
         "a{background:url(QBT10.png)}",
         {"p http://h/css/x%20y.png"}},
        {"a{b:url(\"../i/a.gif\")}", "a{b:url(QBT10.gif)}", {"p http://h/i/a.gif"}},
        {"a{b:Url(\t/r.gif\n)}", "a{b:url(QBT10.gif)}", {"p http://h/r.gif"}},
        // Escapes are resolved before the address is read.
        {"a{b:url(a\\(1\\).gif)}", "a{b:url(QBT10.gif)}", {"p http://h/css/a(1).gif"}},
        {"a{b:url('\\61 .gif')}", "a{b:url(QBT10.gif)}", {"p http://h/css/a.gif"}},
        // One address, one name; a fragment stays on the reference.
        {"a{b:url(i.svg#x)}c{d:url(i.svg)}",
         "a{b:url(QBT10.svg#x)}c{d:url(QBT10.svg)}",
         {"p http://h/css/i.svg", "p http://h/css/i.svg"}},
        // Comments and strings hold no references; other functions are not url().
        {"/* url(a.png) */a{content:\"url(b.png)\";x:myurl(c.png)}",
         "/* url(a.png) */a{content:\"url(b.png)\";x:myurl(c.png)}",
         {}},
        {"a{b:url(data:image/png;base64,AAA=)}c{d:url(#f)}",
         "a{b:url(data:image/png;base64,AAA=)}c{d:url(#f)}",
         {}},
        {"@import \"b.css\";@import url(c.css) screen;@IMPORT 'd.css' print;",
         "@import \"QBT10.css\";@import url(QBT11.css) screen;@IMPORT \"QBT12.css\" print;",
         {"s http://h/css/b.css", "s http://h/css/c.css", "s http://h/css/d.css"}},
        // A string after the import's statement is only a string.
        {"@import \"b.css\";a{content:\"c.css\"}",
         "@import \"QBT10.css\";a{content:\"c.css\"}",
         {"s http://h/css/b.css"}},
        {"@font-face{src:url(f.woff2) format('woff2'),url(f.svg#g)}a{b:url(f.ttf)}",
         "@font-face{src:url(QBT10.woff2) format('woff2'),url(QBT11.svg#g)}a{b:url(QBT12.ttf)}",
         {"f http://h/css/f.woff2", "f http://h/css/f.svg", "f http://h/css/f.ttf"}},
        {"a{b:url(http://other.example/p.png)}",
         "a{b:url(QBT10.png)}",
         {"p http://other.example/p.png"}},
        // Broken input is copied as it stands.
        {"a{b:url(x.png", "a{b:url(x.png", {}},
        {"a{b:url(x y.png)}", "a{b:url(x y.png)}", {}},
        {"a{b:url('x.png)}", "a{b:url('x.png)}", {}},
        {"a{b:url(x\"y)}", "a{b:url(x\"y)}", {}},
        {"/* open comment url(a.png)", "/* open comment url(a.png)", {}},
        {"a{content:'open\nb{c:url(q.png)}",
         "a{content:'open\nb{c:url(QBT10.png)}",
         {"p http://h/css/q.png"}},
        {"", "", {}},
        {"url()", "url()", {}},
    };
    for (const CssCase& c : cases) {
        SCOPED_TRACE(c.in);
        CGrabPlan plan;
        plan.Namer() = CLocalNamer(0x10);
        CReferenceList found;
        CPassNames names(plan);
        CCssContext context{"http://h/css/s.css", names, found};
        EXPECT_EQ(c.out, RewriteCss(c.in, context));
        std::vector<std::string> got;
        for (const CFoundReference& r : found) {
            got.push_back(KindLetter(r.kind) + " " + r.strAddress);
        }
        EXPECT_EQ(c.found, got);
    }

    // Beyond the import depth, and for names refused, references point at the web; a local
    // page's stay as written.
    CGrabPlan full(0);
    CPassNames none(full);
    CReferenceList found;
    CCssContext web{"http://h/css/s.css", none, found, false, true};
    EXPECT_EQ("@import \"http://h/css/b.css\";a{b:url(\"http://h/x%20y.png\")}",
              RewriteCss("@import 'b.css';a{b:url('/x y.png')}", web));
    CCssContext local{"file:///home/u/site/s.css", none, found, true, false};
    EXPECT_EQ("@import 'b.css';a{b:url(x.png)}",
              RewriteCss("@import 'b.css';a{b:url(x.png)}", local));
    EXPECT_TRUE(found.empty());
    EXPECT_TRUE(full.TooManyFiles());
}

TEST(Rewrite, SrcsetAndRelValuesAreReadLikeABrowserReadsThem) {
    struct Srcset {
        const char* value;
        std::vector<std::string> candidates;  // url "|" descriptors
    };
    const Srcset sets[] = {
        {"a.jpg 1x, b.jpg 2x", {"a.jpg|1x", "b.jpg|2x"}},
        {" a.jpg  480w ,b.jpg 800w", {"a.jpg|480w", "b.jpg|800w"}},
        {"a.jpg,b.jpg", {"a.jpg,b.jpg|"}},  // no white space: one address
        {"a.jpg, b.jpg,", {"a.jpg|", "b.jpg|"}},
        {"a,b.jpg 1x", {"a,b.jpg|1x"}},  // a comma inside an address is part of it
        {"data:image/gif;base64,R0lG 1x, c.png 2x", {"data:image/gif;base64,R0lG|1x", "c.png|2x"}},
        {"a.jpg (x, y) 1x, b.jpg", {"a.jpg|(x, y) 1x", "b.jpg|"}},
        {",,, ,", {}},
        {"", {}},
    };
    for (const Srcset& s : sets) {
        SCOPED_TRACE(s.value);
        std::vector<std::string> got;
        for (const auto& c : CPageRewriter::ParseSrcset(s.value)) {
            got.push_back(c.strUrl + "|" + c.strDescriptors);
        }
        EXPECT_EQ(s.candidates, got);
    }
    struct Rel {
        const char* rel;
        bool stylesheet;
        bool icon;
    };
    const Rel rels[] = {
        {"stylesheet", true, false},           {"StyleSheet", true, false},
        {"alternate stylesheet", true, false}, {" preload  stylesheet ", true, false},
        {"stylesheets", false, false},         {"shortcut icon", false, true},
        {"apple-touch-icon", false, true},     {"ICON", false, true},
        {"canonical", false, false},           {"", false, false},
    };
    for (const Rel& r : rels) {
        SCOPED_TRACE(r.rel);
        EXPECT_EQ(r.stylesheet, CPageRewriter::RelHasToken(r.rel, "stylesheet"));
        EXPECT_EQ(r.icon, CPageRewriter::RelHasToken(r.rel, "icon", true));
    }
}

TEST(Rewrite, StylesIconsSrcsetAndLazyPicturesAreCapturedUnlessStylesAreOff) {
    struct Case {
        const char* in;
        const char* out;      // styles kept
        const char* classic;  // styles off
    };
    const Case cases[] = {
        // rel before or after href, any case.
        {"<link rel=stylesheet href=s.css>", "<link rel=stylesheet href=\"QBT10.css\">",
         "<link rel=stylesheet href=\"http://h/d/s.css\">"},
        {"<LINK HREF='s.php' REL='Alternate StyleSheet'>",
         "<LINK HREF=\"QBT10.css\"  REL='Alternate StyleSheet'>",
         "<LINK HREF=\"http://h/d/s.php\"  REL='Alternate StyleSheet'>"},
        {"<link rel=\"shortcut icon\" href=/favicon.ico>",
         "<link rel=\"shortcut icon\"  href=\"QBT10.ico\">",
         "<link rel=\"shortcut icon\"  href=\"http://h/favicon.ico\">"},
        {"<link rel=canonical href=x.htm>", "<link rel=canonical href=\"http://h/d/x.htm\">",
         "<link rel=canonical href=\"http://h/d/x.htm\">"},
        {"<img src=a.jpg srcset=\"a.jpg 1x, b.jpg 2x\">",
         "<img src=\"QBT10.jpg\" srcset=\"QBT10.jpg 1x, QBT11.jpg 2x\">",
         "<img src=\"QBT10.jpg\" srcset=\"a.jpg 1x, b.jpg 2x\">"},
        {"<picture><source srcset='w.webp 480w' type=image/webp></picture>",
         "<picture><source srcset=\"QBT10.webp 480w\"  type=image/webp></picture>",
         "<picture><source srcset='w.webp 480w'  type=image/webp></picture>"},
        {"<video poster=p.jpg src=v.mp4>", "<video poster=\"QBT10.jpg\" src=\"QBT11.mp4\">",
         "<video poster=p.jpg src=\"QBT10.mp4\">"},
        // A lazy picture takes the place of its placeholder; a real src stays in charge.
        {"<img src=\"data:image/gif;base64,R0lG\" data-src=l.jpg data-srcset=\"l2.jpg 2x\">",
         "<img   src=\"QBT10.jpg\" srcset=\"QBT11.jpg 2x\">",
         // the classic rewriter took a data: address for a file to fetch
         "<img src=\"QBT10\"  data-src=l.jpg data-srcset=\"l2.jpg 2x\">"},
        {"<img src='data:image/gif;base64,R0lG' alt=x>",
         "<img src='data:image/gif;base64,R0lG'  alt=x>", "<img src=\"QBT10\"  alt=x>"},
        {"<img data-src=l.jpg alt=x>", "<img src=\"QBT10.jpg\" alt=x>",
         "<img data-src=l.jpg alt=x>"},
        {"<img src=r.jpg data-src=l.jpg>", "<img src=\"QBT10.jpg\" data-src=l.jpg>",
         "<img src=\"QBT10.jpg\" data-src=l.jpg>"},
        {"<div style=\"background:url('bg.png')\">", "<div style=\"background:url(QBT10.png)\">",
         "<div style=\"background:url('bg.png')\">"},
        {"<p style='font-family:\"A B\";background:url(a b.png)'>",
         "<p style='font-family:\"A B\";background:url(a b.png)'>",
         "<p style='font-family:\"A B\";background:url(a b.png)'>"},
        {"<p style='a:\"q\";b:url(\"x y.png\")'>", "<p style='a:\"q\";b:url(QBT10.png)'>",
         "<p style='a:\"q\";b:url(\"x y.png\")'>"},
        {"<style>a>b{background:url(bg.png)}</style><img src=bg.png>",
         "<style>a>b{background:url(QBT10.png)}</style><img src=\"QBT10.png\">",
         "<style>a>b{background:url(bg.png)}</style><img src=\"QBT10.png\">"},
        {"<STYLE>@import 'm.css';</STYLE >", "<STYLE>@import \"QBT10.css\";</STYLE>",
         "<STYLE>@import 'm.css';</STYLE>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(c.out, Rewrite(c.in).strText);
        CRewriteOptions classic;
        classic.bKeepStyles = false;
        EXPECT_EQ(c.classic, Rewrite(c.in, kPage, GrabJob(), classic).strText);
    }
}

// A local page: pictures, frames and styles resolve beside it; links, forms and CODEBASE
// keep the page's own text, so no path of this machine is written into it.
TEST(Rewrite, LocalPageKeepsItsLinksAsWritten) {
    CRewriteOptions local;
    local.bLinksAsWritten = true;
    Pass p = Rewrite(
        "<a href=next.htm>n</a><form action=\"cgi/go\"><img src=pics/a.gif>"
        "<a href=#top><applet code=A.class></applet><frame src=f.htm>"
        "<a href=\"http://web.example/x.htm\"><div style=\"background:url(b.png)\">",
#ifdef _WIN32
        "file:///C:/site/page.htm",
#else
        "file:///home/user/site/page.htm",
#endif
        GrabJob(), local);
    EXPECT_EQ(
        "<a href=\"next.htm\">n</a><form action=\"cgi/go\"><img src=\"QBT10.gif\">"
        "<a href=\"#top\"><applet code=A.class CODEBASE=></applet><frame src=\"QBT11.htm\">"
        "<a href=\"http://web.example/x.htm\"><div style=\"background:url(QBT12.png)\">",
        p.strText);
#ifdef _WIN32
    const std::string site = "C:\\site\\";
    const std::string pics = site + "pics\\";
#else
    const std::string site = "/home/user/site/";
    const std::string pics = site + "pics/";
#endif
    EXPECT_EQ((std::vector<std::string>{pics + "a.gif", site + "f.htm", site + "b.png"}),
              Addresses(p.found));
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
    EXPECT_EQ((std::vector<std::string>{""}), Addresses(p.found));

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

// Records every report; stops at the stopAfter-th.
struct Recording : CGrabProgress {
    explicit Recording(Recorder& recorder) : rec(recorder) {}
    int Report(const std::string& text, int32_t position) override {
        rec.positions.push_back(position);
        rec.texts.push_back(text);
        return static_cast<int>(rec.positions.size()) == rec.stopAfter ? 0 : 1;
    }
    Recorder& rec;
};

TEST(Rewrite, ProgressRisesToTheEndAndCanStop) {
    Recorder rec;
    Recording recording(rec);
    GrabJob job;
    job.pProgress = &recording;
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
    EXPECT_TRUE(p.found.empty());
}

TEST(Rewrite, FramesAreNamedOnceAcrossPages) {
    CGrabPlan plan;
    plan.Namer() = CLocalNamer(0x20);
    CReferenceList found;
    GrabJob job;
    CJobProgress progress(job);
    CPageRewriter rewriter;
    std::string address = "http://h/top.htm";
    std::string text = "<FRAME SRC=left.htm><FRAME SRC=top.htm>";
    // Each pass names what it finds; the plan then takes it, as a grab does.
    auto pass = [&] {
        CPassNames names(plan);
        rewriter.ProcessPage(address, text, names, found, progress);
        plan.Append(found, 0);
    };
    pass();
    EXPECT_EQ("<FRAME SRC=\"QBT20.htm\"><FRAME SRC=\"QBT21.htm\">", text);
    address = "http://h/left.htm";
    text = "<FRAME SRC=top.htm><FRAME SRC=left.htm><FRAME SRC=new.htm>";
    pass();
    EXPECT_EQ("<FRAME SRC=\"QBT21.htm\"><FRAME SRC=\"QBT20.htm\"><FRAME SRC=\"QBT22.htm\">", text);
    ASSERT_EQ(3u, plan.Size());
    EXPECT_EQ("http://h/new.htm", plan.At(2).strAddress);
    EXPECT_EQ(EntryKind::Frame, plan.At(2).kind);
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
        CLocalNamer namer(n.counter);
        EXPECT_EQ(n.name, namer.Make(n.address));
        EXPECT_EQ(n.counter + 1, namer.Next());
    }
}

// A grab numbers its own names: no file is made to find one, no number comes twice, and a
// name claimed by the main page is passed over.
TEST(Rewrite, NamesOfAGrabNeverRepeatAndMakeNoFile) {
    namespace fs = std::filesystem;
    const fs::path previous = fs::current_path();
    const fs::path folder = fs::temp_directory_path() / "qb_rewrite_names";
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::current_path(folder);
    CLocalNamer namer(0xFFFE);
    namer.Claim("QBT1.htm");
    std::vector<std::string> made;
    for (int i = 0; i < 0xFFFF; ++i) {
        made.push_back(namer.Make("http://h/a.gif"));
    }
    const bool empty = fs::is_empty(folder);
    fs::current_path(previous);
    fs::remove_all(folder);
    EXPECT_TRUE(empty);
    EXPECT_EQ("QBTFFFE.gif", made[0]);
    EXPECT_EQ("QBT0.gif", made[2]);
    EXPECT_EQ("QBT2.gif", made[3]);  // QBT1 belongs to the page
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made.end(), std::adjacent_find(made.begin(), made.end()));
    // Every number is taken: the address itself, made safe, is the name.
    EXPECT_EQ("http___h_a.gif", namer.Make("http://h/a.gif"));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Each page of the fixture site, rewritten as if fetched from the given address, must equal
// its reviewed copy; the plan it made is compared with the reviewed list file. Without
// styles, the stylesheet stays on the web.
TEST(Rewrite, FixtureSiteMatchesItsReviewedRewrite) {
    const std::string root = std::string(QB_SOURCE_DIR) + "/tests/fixtures/rewrite/";
    const char* pages[] = {"index.htm", "frames.htm", "nav.htm", "gallery.htm"};
    for (bool styles : {true, false}) {
        SCOPED_TRACE(styles ? "styles kept" : "no styles");
        CGrabPlan plan;
        plan.Namer() = CLocalNamer(0x100);
        CReferenceList found;
        GrabJob job;
        CJobProgress progress(job);
        CRewriteOptions options;
        options.bKeepStyles = styles;
        CPageRewriter rewriter;
        std::ostringstream lists;
        for (const char* page : pages) {
            SCOPED_TRACE(page);
            std::string text = ReadFile(root + "site/" + page);
            ASSERT_FALSE(text.empty());
            std::string address = std::string("http://fixture.example:8080/site/") + page;
            CPassNames names(plan);
            EXPECT_TRUE(rewriter.ProcessPage(address, text, names, found, progress, options));
            plan.Append(found, 0);
            if (styles) {
                EXPECT_EQ(ReadFile(root + "expected/" + page), text);
            } else if (std::string(page) == "index.htm") {
                EXPECT_NE(std::string::npos,
                          text.find("<link rel=\"stylesheet\"  "
                                    "href=\"http://fixture.example:8080/site/style/main.css\">"));
            }
            lists << "page " << page << " base " << address << "\n";
        }
        for (size_t i = 0; i < plan.Size(); ++i) {
            lists << EntryKindName(plan.At(i).kind) << " " << plan.At(i).strAddress << " "
                  << plan.At(i).strLocalName << "\n";
        }
        if (styles) {
            EXPECT_EQ(ReadFile(root + "expected/lists.txt"), lists.str());
        }
    }
}

}  // namespace
