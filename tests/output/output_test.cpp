// The outputs of a capture: what each one writes from a small work folder, that an
// unfinished one leaves nothing and keeps the old output, and that the executable is the
// one the archive builder always wrote.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "packager/archive/archive_builder.h"
#include "packager/fetch/grab_job.h"
#include "packager/output/executable_output.h"
#include "packager/output/output.h"
#include "packager/output/output_files.h"
#include "packager/output/page_file_output.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "platform/ui.h"
#include "tests/fixtures/support/packager_test_support.h"

#ifndef _WIN32
#include <sys/mount.h>
#endif

namespace {

using platform::JoinPath;
using qbtest::Names;
using qbtest::ReadAll;
using qbtest::RecordingUi;
using qbtest::RemoveTree;
using qbtest::WriteAll;

// The bytes of a base64 text (the encoder's alphabet, padding at the end).
std::string FromBase64(const std::string& text) {
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v = c >= 'A' && c <= 'Z'   ? c - 'A'
                : c >= 'a' && c <= 'z' ? c - 'a' + 26
                : c >= '0' && c <= '9' ? c - '0' + 52
                : c == '+'             ? 62
                : c == '/'             ? 63
                                       : -1;
        if (v < 0)
            continue;
        bits = bits << 6 | static_cast<uint32_t>(v);
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// Every data: address in a text, as (media type, decoded bytes), in order.
std::vector<std::pair<std::string, std::string>> DataAddresses(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> found;
    for (size_t at = text.find("data:"); at != std::string::npos; at = text.find("data:", at + 5)) {
        std::string address = text.substr(at, text.find_first_of("\"') \r\n>", at) - at);
        size_t semi = address.find(";base64,");
        found.emplace_back(
            address.substr(5, semi == std::string::npos ? 0 : semi - 5),
            semi == std::string::npos ? address : FromBase64(address.substr(semi + 8)));
    }
    return found;
}

class OutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetTraceEnabled(false);
        platform::SetUserInterface(&ui);
        root = qbtest::MakeTempFolder("qbo");
        ASSERT_FALSE(root.empty());
        work = JoinPath(root, "work");
        ASSERT_TRUE(platform::FolderCreate(work));
        templ = JoinPath(root, "template.exe");
        WriteAll(templ, std::string(2048, 'T').replace(124, 4, 4, '\0'));
    }
    void TearDown() override {
        platform::SetUserInterface(nullptr);
        RemoveTree(root);
    }

    // A capture as a grab leaves it: the page, a picture, a stylesheet that imports
    // another and shows a picture, a frame with a picture of its own, the folder's lock.
    void MakeCapture() {
        WriteAll(JoinPath(work, "QBT1.htm"),
                 "<html><head><link rel=\"stylesheet\" href=\"QBT3.css\"></head><body>"
                 "<img src=\"QBT2.gif\" alt=x><iframe src=\"QBT5.htm\"></iframe>"
                 "<a href=\"http://example.test/next.htm\">next</a>"
                 "<img src=\"http://example.test/left-on-the-web.png\"><img src=QBT9.png><div "
                 "style=\"background:url(QBT2.gif)\"></div>" +
                     std::string(kFooterText) + "</body></html>");
        WriteAll(JoinPath(work, "QBT2.gif"), std::string("GIF89a\x01\0\x01\0", 10));
        WriteAll(JoinPath(work, "QBT3.css"),
                 "@import \"QBT4.css\";\nbody { background: url(QBT6.png) }\n");
        WriteAll(JoinPath(work, "QBT4.css"), "@import url(QBT3.css);\np { color: red }\n");
        WriteAll(JoinPath(work, "QBT5.htm"),
                 "<html><body><img src=QBT6.png>" + std::string(kFooterText) + "</body></html>");
        WriteAll(JoinPath(work, "QBT6.png"), "\x89PNG\r\n\x1a\n picture");
        WriteAll(JoinPath(work, platform::kFolderLockName), "");
    }

    bool Write(OutputKind kind, const std::string& out, CGrabProgress* progress = nullptr,
               const std::string& mainPage = "QBT1.htm") {
        COutputContext context;
        context.pProgress = progress;
        context.strExtractorTemplate = templ;
        std::unique_ptr<COutput> output = CreateOutput(kind, context);
        return WriteCapture(*output, out, JoinPath(work, mainPage));
    }

    // An executable from an earlier zip at out.exe, to be kept or replaced.
    std::string OldExecutable() {
        std::string out = JoinPath(root, "out.exe");
        WriteAll(out, "MZ an earlier zip " + std::string(5000, 'o'));
        return out;
    }

    RecordingUi ui;
    std::string root, work, templ;
};

TEST(OutputKindTest, TheNameChoosesTheKind) {
    struct Case {
        const char* path;
        OutputKind kind;
    } cases[] = {
        {"page.exe", OutputKind::Executable},
        {"PAGE.EXE", OutputKind::Executable},
        {"page", OutputKind::Executable},
        {"dir/page.zip", OutputKind::Executable},
        {"out/", OutputKind::Folder},
        {"/tmp/a.html/", OutputKind::Folder},
        {"page.html", OutputKind::SingleHtml},
        {"Page.HTM", OutputKind::SingleHtml},
        {"page.mhtml", OutputKind::WebArchive},
        {"page.MHT", OutputKind::WebArchive},
        {"page.html.exe", OutputKind::Executable},
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<int>(c.kind), static_cast<int>(OutputKindOf(c.path))) << c.path;
}

TEST(OutputKindTest, OnlyBareFileNamesAreSafe) {
    for (const char* bad : {"", ".", "..", "../evil", "a/b", "a\\b", "c:evil", "tab\there"})
        EXPECT_FALSE(IsSafeCaptureName(bad)) << bad;
    EXPECT_FALSE(IsSafeCaptureName(std::string(256, 'a')));
    for (const char* good : {"QBT1.gif", "index.htm", "..hidden", "a b.png"})
        EXPECT_TRUE(IsSafeCaptureName(good)) << good;
    EXPECT_TRUE(IsSafeCaptureName(std::string(255, 'a')));
}

// The executable output is the builder's executable, byte for byte: the capture's files in
// listing order, without the folder's lock, the main page marked.
TEST_F(OutputTest, TheExecutableIsTheArchiveBuildersOwn) {
    MakeCapture();
    std::string before = JoinPath(root, "before.exe"), after = JoinPath(root, "after.exe");
    {
        ArchiveBuilder builder;
        builder.m_strTemplatePath = templ;
        builder.m_outputPath = before;
        builder.m_strTempFolder = work;
        for (const platform::FindData& f : platform::ListFolder(JoinPath(work, "*"))) {
            if (f.name != "." && f.name != ".." && f.name != platform::kFolderLockName)
                builder.AddFile(JoinPath(work, f.name), f.name == "QBT1.htm");
        }
        ASSERT_TRUE(builder.Compress());
    }
    ASSERT_TRUE(Write(OutputKind::Executable, after));
    EXPECT_TRUE(ui.messages.empty());
    std::string a = ReadAll(before), b = ReadAll(after);
    EXPECT_GT(a.size(), 2048u);
    EXPECT_TRUE(a == b) << a.size() << " and " << b.size() << " bytes";
}

TEST_F(OutputTest, ACompleteExecutableReplacesTheOldOneAndNothingIsLeftBehind) {
    std::string out = OldExecutable();
    WriteAll(JoinPath(work, "index.htm"), "new page");
    // The lock of a work folder in use is no part of the page.
    WriteAll(JoinPath(work, platform::kFolderLockName), "");
    ASSERT_TRUE(Write(OutputKind::Executable, out, nullptr, "index.htm"));
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
    std::string exe = ReadAll(out);
    EXPECT_EQ("MSCF", exe.substr(2048, 4));
    EXPECT_NE(std::string::npos, exe.find("index.htm"));
    EXPECT_EQ(std::string::npos, exe.find(platform::kFolderLockName));
    EXPECT_EQ((std::vector<std::string>{"out.exe", "template.exe", "work"}), Names(root));
    EXPECT_EQ((std::vector<std::string>{"index.htm", platform::kFolderLockName}), Names(work));
}

TEST_F(OutputTest, AMissingTemplateIsReportedTwice) {
    WriteAll(JoinPath(work, "index.htm"), "x");
    platform::FileRemove(templ);
    std::string out = JoinPath(root, "out.exe");
    ASSERT_FALSE(Write(OutputKind::Executable, out, nullptr, "index.htm"));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].rfind("Could not create self-extracting exe header, err=", 0), 0u);
    EXPECT_NE(ui.messages[0].find("pszFile=" + out), std::string::npos);
    EXPECT_EQ(ui.messages[1], "Failed to write the file.");
}

TEST_F(OutputTest, NothingToListFailsAndLeavesTheExecutableAlone) {
    std::string out = OldExecutable();
    std::string before = ReadAll(out);
    COutputContext context;
    context.strExtractorTemplate = templ;
    std::unique_ptr<COutput> output = CreateOutput(OutputKind::Executable, context);
    ASSERT_FALSE(WriteCapture(*output, out, JoinPath(JoinPath(root, "missing"), "index.htm")));
    EXPECT_EQ(std::vector<std::string>{"Failed to write the file."}, ui.messages);
    EXPECT_EQ(before, ReadAll(out));
    EXPECT_EQ((std::vector<std::string>{"out.exe", "template.exe", "work"}), Names(root));
}

// Only the executable has a limit, the cabinet's; a grab for it plans no more files.
TEST(OutputKindTest, OnlyTheExecutableLimitsTheFiles) {
    EXPECT_EQ(size_t{kCabMaxFolders},
              CreateOutput(OutputKind::Executable, COutputContext())->MaxFiles());
    for (OutputKind kind : {OutputKind::Folder, OutputKind::SingleHtml, OutputKind::WebArchive})
        EXPECT_EQ(static_cast<size_t>(-1), CreateOutput(kind, COutputContext())->MaxFiles());
}

TEST_F(OutputTest, TheFolderHoldsTheCaptureAsItWasWithoutTheLock) {
    MakeCapture();
    std::string out = JoinPath(root, "page");
    ASSERT_TRUE(Write(OutputKind::Folder, out + "/"));
    std::vector<std::string> names = Names(out);
    EXPECT_EQ((std::vector<std::string>{"QBT1.htm", "QBT2.gif", "QBT3.css", "QBT4.css", "QBT5.htm",
                                        "QBT6.png"}),
              names);
    for (const std::string& name : names)
        EXPECT_EQ(ReadAll(JoinPath(work, name)), ReadAll(JoinPath(out, name))) << name;
    platform::FileTime original = 0, copied = 1;
    ASSERT_TRUE(platform::GetWriteTime(JoinPath(work, "QBT2.gif"), original));
    ASSERT_TRUE(platform::GetWriteTime(JoinPath(out, "QBT2.gif"), copied));
    EXPECT_EQ(original, copied);
    EXPECT_EQ((std::vector<std::string>{"page", "template.exe", "work"}), Names(root));
}

// Names that are no bare file name never reach the disk, and a name the disk refuses
// leaves nothing behind: the rest of the capture still goes in.
TEST_F(OutputTest, HostileNamesStayOutOfTheFolder) {
    MakeCapture();
    std::string out = JoinPath(root, "page");
    std::unique_ptr<COutput> output = CreateOutput(OutputKind::Folder, COutputContext());
    ASSERT_TRUE(output->Begin(out + "/"));
    std::string source = JoinPath(work, "QBT2.gif");
    for (std::string bad : {std::string("../escaped.gif"), std::string(".."),
                            std::string("sub/dir.gif"), std::string(300, 'L')})
        EXPECT_FALSE(output->AddFile(bad, source)) << bad.size();
    // A name of the most a file system takes, below a folder path long enough that the
    // whole path is too long for the system: refused, and nothing is left after an abort.
    // (As deep as the system lets folders go.)
    std::string deep = root;
    for (;;) {
        std::string next = JoinPath(deep, std::string(200, 'd'));
        if (next.size() > 4000 || !platform::FolderCreate(next))
            break;
        deep = next;
    }
    ASSERT_NE(root, deep);
    std::unique_ptr<COutput> far = CreateOutput(OutputKind::Folder, COutputContext());
    if (far->Begin(JoinPath(deep, "out/"))) {
        EXPECT_FALSE(far->AddFile(std::string(255, 'n'), source));
    }
    far->Abort();
    EXPECT_EQ((std::vector<std::string>{}), Names(deep));

    EXPECT_TRUE(output->AddFile("QBT1.htm", JoinPath(work, "QBT1.htm")));
    EXPECT_FALSE(output->AddFile("QBT1.htm", source));  // a second file of that name
    EXPECT_TRUE(output->MarkMainPage("QBT1.htm"));
    ASSERT_TRUE(output->Finish());
    EXPECT_EQ(std::vector<std::string>{"QBT1.htm"}, Names(out));
    EXPECT_EQ(ReadAll(JoinPath(work, "QBT1.htm")), ReadAll(JoinPath(out, "QBT1.htm")));
    EXPECT_FALSE(platform::PathExists(JoinPath(root, "escaped.gif")));
    EXPECT_FALSE(platform::PathExists(JoinPath(work, "escaped.gif")));
}

// Abort, before or after files went in, leaves nothing new and the earlier output whole;
// Finish then replaces it.
TEST_F(OutputTest, AnUnfinishedOutputKeepsTheOldOne) {
    MakeCapture();
    struct Case {
        OutputKind kind;
        const char* name;
    } cases[] = {{OutputKind::Executable, "out.exe"},
                 {OutputKind::Folder, "out/"},
                 {OutputKind::SingleHtml, "out.html"},
                 {OutputKind::WebArchive, "out.mhtml"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = JoinPath(root, c.name);
        std::string oldFile = c.kind == OutputKind::Folder ? JoinPath(out, "old.htm") : out;
        if (c.kind == OutputKind::Folder) {
            ASSERT_TRUE(platform::FolderCreate(out));
        }
        WriteAll(oldFile, "the earlier output");
        std::vector<std::string> rootBefore = Names(root);
        for (int files : {0, 3}) {
            COutputContext context;
            context.strExtractorTemplate = templ;
            std::unique_ptr<COutput> output = CreateOutput(c.kind, context);
            ASSERT_TRUE(output->Begin(out));
            std::vector<std::string> names = Names(work);
            for (int i = 0; i < files; ++i)
                output->AddFile(names[static_cast<size_t>(i)],
                                JoinPath(work, names[static_cast<size_t>(i)]));
            output->Abort();
            EXPECT_EQ("the earlier output", ReadAll(oldFile));
            EXPECT_EQ(rootBefore, Names(root));
        }
        // Going away unfinished is an abort too.
        {
            std::unique_ptr<COutput> output = CreateOutput(c.kind, COutputContext());
            ASSERT_TRUE(output->Begin(out));
            output->AddFile("QBT1.htm", JoinPath(work, "QBT1.htm"));
        }
        EXPECT_EQ(rootBefore, Names(root));
        ASSERT_TRUE(Write(c.kind, out));
        EXPECT_NE("the earlier output", ReadAll(oldFile));
        EXPECT_EQ(rootBefore, Names(root));
    }
    EXPECT_TRUE(ui.messages.empty());
}

// The old output folder held something the earlier output did not put there: it is
// kept, renamed beside the new one, rather than removed with the files.
TEST_F(OutputTest, AReplacedFolderKeepsWhatElseWasInIt) {
    MakeCapture();
    std::string out = JoinPath(root, "out");
    ASSERT_TRUE(platform::FolderCreate(out));
    ASSERT_TRUE(platform::FolderCreate(JoinPath(out, "mine")));
    WriteAll(JoinPath(JoinPath(out, "mine"), "keep.txt"), "keep");
    ASSERT_TRUE(Write(OutputKind::Folder, out + "/"));
    EXPECT_EQ((std::vector<std::string>{"out", "out.qbold1", "template.exe", "work"}), Names(root));
    EXPECT_EQ("keep",
              ReadAll(JoinPath(JoinPath(JoinPath(root, "out.qbold1"), "mine"), "keep.txt")));
}

TEST_F(OutputTest, TheSingleFileCarriesEverythingItShows) {
    MakeCapture();
    std::string out = JoinPath(root, "page.html");
    ASSERT_TRUE(Write(OutputKind::SingleHtml, out));
    std::string html = ReadAll(out);
    // No captured file is named any more: each one is inside, as a data: address; the
    // one that could not be fetched is an empty one, as missing as in the folder.
    EXPECT_EQ(std::string::npos, html.find("QBT")) << html;
    EXPECT_NE(std::string::npos, html.find("<img src=\"data:,\">")) << html;
    // Each tag keeps its place and its other attributes (the pass may space them anew).
    size_t link = html.find("href=\"data:text/css;base64,"), img = html.find("alt=x>"),
           frame = html.find("<iframe src=\"data:text/html;base64,"),
           next = html.find("</iframe><a href=\"http://example.test/next.htm\">");
    EXPECT_TRUE(0 < link && link < img && img < frame && frame < next && next != std::string::npos)
        << html;
    // Links and what stayed on the web are as the first pass wrote them.
    EXPECT_NE(std::string::npos, html.find("href=\"http://example.test/next.htm\""));
    EXPECT_NE(std::string::npos, html.find("src=\"http://example.test/left-on-the-web.png\""));
    // One footer per page: the main page's, and the frame's inside its address.
    std::string footer = kFooterText;
    EXPECT_EQ(html.find(footer), html.rfind(footer));

    std::map<std::string, std::vector<std::string>> byType;
    std::function<void(const std::string&)> collect = [&](const std::string& text) {
        for (const auto& data : DataAddresses(text)) {
            byType[data.first].push_back(data.second);
            if (data.first == "text/css" || data.first == "text/html")
                collect(data.second);
        }
    };
    collect(html);
    // The page's picture twice (img and style attribute); the other picture from the
    // stylesheet and from the frame.
    EXPECT_EQ((std::vector<std::string>(2, ReadAll(JoinPath(work, "QBT2.gif")))),
              byType["image/gif"]);
    EXPECT_EQ((std::vector<std::string>(2, ReadAll(JoinPath(work, "QBT6.png")))),
              byType["image/png"]);
    // The stylesheet and the one it imports; the import back to the first is an empty
    // stylesheet, as browsers end such a cycle.
    ASSERT_EQ(2u, byType["text/css"].size()) << html;
    const std::string& css = byType["text/css"][0];
    EXPECT_NE(std::string::npos, css.find("body { background: url(data:image/png;base64,"));
    EXPECT_EQ(0u, css.find("@import \"data:text/css;base64,")) << css;
    EXPECT_EQ(0u, byType["text/css"][1].find("@import url(data:text/css,);"))
        << byType["text/css"][1];
    ASSERT_EQ(1u, byType["text/html"].size());
    EXPECT_EQ(0u, byType["text/html"][0].find("<html><body><img src=\"data:image/png;base64,"))
        << byType["text/html"][0];
    EXPECT_EQ(5u, DataAddresses(html).size()) << "picture twice, stylesheet, frame, missing one";
}

TEST_F(OutputTest, TheWebArchiveHasOnePartPerFileMainPageFirst) {
    MakeCapture();
    std::string out = JoinPath(root, "page.mhtml");
    ASSERT_TRUE(Write(OutputKind::WebArchive, out));
    std::string mhtml = ReadAll(out);
    size_t boundaryAt = mhtml.find("boundary=\"");
    ASSERT_NE(std::string::npos, boundaryAt);
    std::string boundary =
        "--" + mhtml.substr(boundaryAt + 10, mhtml.find('"', boundaryAt + 10) - boundaryAt - 10);
    EXPECT_NE(std::string::npos, mhtml.find("Content-Type: multipart/related;"));
    std::vector<std::string> locations, types;
    for (size_t at = mhtml.find(boundary + "\r\n"); at != std::string::npos;
         at = mhtml.find(boundary + "\r\n", at + 1)) {
        size_t bodyAt = mhtml.find("\r\n\r\n", at) + 4;
        std::string head = mhtml.substr(at, bodyAt - at);
        size_t loc = head.find("Content-Location: ") + 18;
        locations.push_back(head.substr(loc, head.find("\r\n", loc) - loc));
        size_t type = head.find("Content-Type: ") + 14;
        types.push_back(head.substr(type, head.find("\r\n", type) - type));
        std::string name = locations.back().substr(locations.back().rfind('/') + 1);
        std::string body = mhtml.substr(bodyAt, mhtml.find(boundary, bodyAt) - bodyAt);
        EXPECT_EQ(ReadAll(JoinPath(work, name)), FromBase64(body)) << name;
        EXPECT_EQ(std::string(CWebArchiveOutput::kBase) + name, locations.back());
    }
    EXPECT_EQ((std::vector<std::string>{"text/html", "image/gif", "text/css", "text/css",
                                        "text/html", "image/png"}),
              types);
    EXPECT_NE(std::string::npos, mhtml.find(boundary + "--\r\n"));
}

// The executable reports its compression through the progress interface; an answer 0
// stops it with the old executable kept, and a stop asked for is no failure to tell.
TEST_F(OutputTest, TheExecutableReportsAndStopsWhenTold) {
    MakeCapture();
    struct Watcher : CGrabProgress {
        int Report(const std::string& text, int32_t position) override {
            texts.push_back(text);
            last = position;
            return texts.size() >= 3 ? 0 : 1;
        }
        std::vector<std::string> texts;
        int32_t last = -1;
    } watcher;
    std::string out = JoinPath(root, "out.exe");
    WriteAll(out, "the earlier output");
    EXPECT_FALSE(Write(OutputKind::Executable, out, &watcher));
    ASSERT_GE(watcher.texts.size(), 3u);
    EXPECT_EQ("Compressing \"QBT1.htm\"", watcher.texts[0]);
    EXPECT_EQ("the earlier output", ReadAll(out));
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
    EXPECT_EQ((std::vector<std::string>{"out.exe", "template.exe", "work"}), Names(root));
}

#ifndef _WIN32
// One file more than a cabinet can count (every file is a folder of its own, and
// folder indices stop below the continuation marks): the user is told so and
// the old executable stays. (Some 65,000 files: too slow for Wine's file layer.)
TEST_F(OutputTest, TooManyFilesAreReportedAndNothingIsWritten) {
    const unsigned files = kCabMaxFolders + 1;
    for (unsigned i = 0; i < files; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%05u.gif", i);
        std::FILE* f = std::fopen(JoinPath(work, name).c_str(), "wb");
        ASSERT_NE(nullptr, f);
        std::fclose(f);
    }
    std::string out = OldExecutable();
    std::string before = ReadAll(out);
    EXPECT_FALSE(Write(OutputKind::Executable, out, nullptr, "00000.gif"));
    EXPECT_EQ(
        (std::vector<std::string>{"Too many files for one archive.", "Failed to write the file."}),
        ui.messages);
    EXPECT_EQ(before, ReadAll(out));
    EXPECT_EQ((std::vector<std::string>{"out.exe", "template.exe", "work"}), Names(root));
    EXPECT_EQ(0u, qbtest::CountStartingWith(work, "cax"));
}

// Cancel while the writer takes the second file: a cancel is no failure, so nothing is
// shown; the unfinished executable and the writer's temporary files go, the old
// executable stays. The stop comes from the progress the builder reports to, at a moment
// the test names rather than one a timer hopes to hit.
TEST_F(OutputTest, CancelShowsNothingAndLeavesNothingBehind) {
    WriteAll(JoinPath(work, "1.htm"), "first");
    WriteAll(JoinPath(work, "2.htm"), "second");
    WriteAll(JoinPath(work, "3.htm"), "third");
    std::string out = OldExecutable();
    std::string before = ReadAll(out);
    struct StopAtTheSecondFile : CGrabProgress {
        int Report(const std::string& text, int32_t) override {
            texts.push_back(text);
            return text == "Compressing \"2.htm\"" ? 0 : 1;
        }
        std::vector<std::string> texts;
    } progress;
    EXPECT_FALSE(Write(OutputKind::Executable, out, &progress, "1.htm"));
    // The third file was never started.
    for (const std::string& text : progress.texts)
        EXPECT_EQ(std::string::npos, text.find("3.htm")) << text;
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
    EXPECT_EQ(before, ReadAll(out));
    EXPECT_EQ((std::vector<std::string>{"out.exe", "template.exe", "work"}), Names(root));
    EXPECT_EQ((std::vector<std::string>{"1.htm", "2.htm", "3.htm"}), Names(work));
}

// A disk that fills while the executable is written: the old one stays whole and
// no partial file remains. Needs a small file system of its own (root in CI).
TEST_F(OutputTest, AFullDiskKeepsTheOldExecutable) {
    std::string disk = JoinPath(root, "disk");
    ASSERT_TRUE(platform::FolderCreate(disk));
    if (mount("quillbox-test", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
        int err = errno;
        platform::FolderRemove(disk);
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(err);
    }
    std::string out = JoinPath(disk, "out.exe");
    WriteAll(out, "MZ an earlier zip " + std::string(20000, 'o'));
    std::string before = ReadAll(out);
    // Noise does not compress: the new executable needs far more than is free.
    std::string noise(200000, '\0');
    uint32_t x = 2463534242u;
    for (char& ch : noise) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        ch = static_cast<char>(x);
    }
    WriteAll(JoinPath(work, "index.htm"), noise);
    bool result = Write(OutputKind::Executable, out, nullptr, "index.htm");
    std::vector<std::string> left = Names(disk);
    std::string after = ReadAll(out);
    umount(disk.c_str());
    EXPECT_FALSE(result);
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ("Failed to write the file.", ui.messages.back());
    EXPECT_EQ(before, after);
    EXPECT_EQ(std::vector<std::string>{"out.exe"}, left);
    EXPECT_EQ(0u, qbtest::CountStartingWith(work, "cax"));
}
#endif

}  // namespace
