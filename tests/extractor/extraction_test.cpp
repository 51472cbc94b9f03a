// The extractor driver against a scripted user: what lands on disk, what is asked and shown,
// what is opened, for good and bad self-extracting files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "extractor/extraction.h"
#include "fake_host.h"
#include "sfx_fixture.h"

namespace fs = std::filesystem;
using sfxtest::Bytes;
using sfxtest::Entry;

namespace {

const char kFailure[] = "Failed to extract file: ";

class Extraction : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '-');
        root = sfxtest::FreshFolder(name);
        out = (root / "out").string();
        sfx = (root / "page.exe").string();
        host.tempFolder =
            (root / "temp").string() + static_cast<char>(fs::path::preferred_separator);
        fs::create_directories(host.tempFolder);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Writes the executable and runs the program on it as "prog sfx out".
    void Run(const Bytes& file) {
        sfxtest::WriteFile(sfx, file);
        host.commandLine = "\"" + sfx + "\" \"" + sfx + "\" \"" + out + "\"";
        EXPECT_EQ(spillet::RunExtractor(host), 0);
        EXPECT_EQ(host.OpenFiles(), 0) << "a file handle was left open";
    }
    void RunCabinet(const std::vector<Entry>& entries, const Bytes& reserve = {}) {
        Run(sfxtest::MakeSfx(sfxtest::MakeHead(), sfxtest::MakeCabinet(entries, reserve)));
    }
    // The path the driver uses for a name in the destination.
    std::string At(std::string name) const {
        std::replace(name.begin(), name.end(), '/', '\\');
        return FakeHost::Native(out + "\\" + name);
    }
    std::string Content(const std::string& name) const { return sfxtest::ReadText(At(name)); }
    bool Has(const std::string& name) const { return fs::exists(At(name)); }
    // Everything below the sandbox, relative, sorted.
    std::vector<std::string> Tree() const {
        std::vector<std::string> all;
        for (auto& e : fs::recursive_directory_iterator(root)) {
            all.push_back(fs::relative(e.path(), root).generic_string());
        }
        std::sort(all.begin(), all.end());
        return all;
    }

    FakeHost host;
    fs::path root;
    std::string out, sfx;
};

TEST_F(Extraction, UnpacksFilesFoldersTimesAttributesAndOpensTheMarkedPage) {
    std::string big(70000, '\0');
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 251);
    }
    Entry page{"index.htm", "<html>page</html>", 0x40 | 0x21};
    Entry picture{"images/a.gif", big, 0x20};
    Entry hidden{"sub\\deep\\b.txt", "bee", 0x80 | 0x06};
    hidden.date = (2001 - 1980) << 9 | 2 << 5 | 3;
    hidden.time = 23 << 11 | 59 << 5 | 29;
    Entry empty{"empty.txt", "", 0x01};
    RunCabinet({page, picture, hidden, empty});

    EXPECT_EQ(Content("index.htm"), page.content);
    EXPECT_EQ(Content("images/a.gif"), big);
    EXPECT_EQ(Content("sub/deep/b.txt"), "bee");
    EXPECT_TRUE(Has("empty.txt"));
    EXPECT_EQ(fs::file_size(At("empty.txt")), 0u);
    // The run mark never reaches the file; only read-only, hidden, system and archive do.
    EXPECT_EQ(host.attributes[At("index.htm")], 0x21u);
    EXPECT_EQ(host.attributes[At("images/a.gif")], 0x20u);
    EXPECT_EQ(host.attributes[At("sub/deep/b.txt")], 0x06u);
    EXPECT_EQ(host.attributes[At("empty.txt")], 0x01u);
    EXPECT_EQ(host.times[At("index.htm")], std::make_pair(page.date, page.time));
    EXPECT_EQ(host.times[At("sub/deep/b.txt")], std::make_pair(hidden.date, hidden.time));
    EXPECT_EQ(host.opened, std::vector<std::string>{At("index.htm")});
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.positions, (std::vector<int>{25, 50, 75, 100}));
    EXPECT_EQ(host.progressTexts.front(), "Extracting...");
    EXPECT_EQ(host.progressTexts[1], "Extracting \"index.htm\"");
    EXPECT_EQ(host.progressTexts[2], "Extracting \"images\\a.gif\"");
}

struct BadFile {
    const char* what;
    Bytes (*make)();
    const char* message;  // null: silence
};

Bytes Cabinet() {
    return sfxtest::MakeCabinet({{"one.txt", std::string(5000, 'x')}, {"two.txt", "second"}});
}

const BadFile kBadFiles[] = {
    {"NotAnSfx", [] { return Bytes(4096, 'Z'); }, nullptr},
    {"EmptyFile", [] { return Bytes(); }, nullptr},
    {"NeverPackaged",
     [] {
         Bytes b = sfxtest::MakeHead();
         Bytes cab = Cabinet();
         b.insert(b.end(), cab.begin(), cab.end());
         return b;
     },
     nullptr},
    {"BasePastTheEnd",
     [] {
         Bytes b = sfxtest::MakeSfx(sfxtest::MakeHead(), Cabinet());
         sfxtest::Put32(b, 124, static_cast<uint32_t>(b.size() + 10));
         return b;
     },
     nullptr},
    {"BaseFarOutside",
     [] {
         Bytes b = sfxtest::MakeSfx(sfxtest::MakeHead(), Cabinet());
         sfxtest::Put32(b, 124, 0xFFFFFFF0u);
         return b;
     },
     nullptr},
    {"PlainCabinet", [] { return Cabinet(); }, nullptr},
    {"NoFiles", [] { return sfxtest::MakeSfx(sfxtest::MakeHead(), sfxtest::MakeCabinet({})); },
     nullptr},
    {"HeaderCut",
     [] {
         Bytes b = sfxtest::MakeSfx(sfxtest::MakeHead(), Cabinet());
         b.resize(sfxtest::MakeHead().size() + 20);
         return b;
     },
     nullptr},
    {"DataCut",
     [] {
         Bytes b = sfxtest::MakeSfx(sfxtest::MakeHead(), Cabinet());
         b.resize(b.size() - 3000);
         return b;
     },
     "Corrupt cabinet"},
    {"DataFlipped",
     [] {
         Bytes b = sfxtest::MakeSfx(sfxtest::MakeHead(), Cabinet());
         b[b.size() - 100] ^= 0x40;
         return b;
     },
     "Corrupt cabinet"},
    {"UnknownCompression",
     [] {
         Bytes cab = Cabinet();
         sfxtest::Put16(cab, 36 + 6, 7);
         return sfxtest::MakeSfx(sfxtest::MakeHead(), cab);
     },
     "Unknown compression type"},
    {"Version14",
     [] {
         Bytes cab = Cabinet();
         cab[24] = 4;
         return sfxtest::MakeSfx(sfxtest::MakeHead(), cab);
     },
     nullptr},
};

class BadInput : public Extraction, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadInput, EndsWithTheSpecifiedSilenceOrMessageAndWritesNothingElsewhere) {
    Run(GetParam().make());
    if (GetParam().message) {
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].title, "Error");
        EXPECT_EQ(host.messages[0].text, kFailure + std::string(GetParam().message));
    } else {
        EXPECT_TRUE(host.messages.empty()) << host.messages[0].text;
    }
    EXPECT_FALSE(Has("two.txt"));
    EXPECT_TRUE(host.opened.empty());
    for (const std::string& p : Tree()) {
        EXPECT_TRUE(p == "page.exe" || p == "temp" || p.rfind("out", 0) == 0) << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, BadInput, ::testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.what); });

struct Escape {
    const char* what;
    const char* name;
    const char* content;
};

const Escape kEscapes[] = {
    {"Parent", "../evil.txt", "x"},
    {"ParentBackslash", "..\\evil.txt", "x"},
    {"ParentInside", "a/../../evil.txt", "x"},
    {"ParentAfterStripping", "\\\\..\\evil.txt", "x"},
    {"ParentEmptyFile", "../evil.txt", ""},
    {"Dots", "a/.../evil.txt", "x"},
    {"DriveLetter", "C:evil.txt", "x"},
    {"DriveRoot", "C:\\evil.txt", "x"},
    {"LeadingAfterStripping", "\\\\\\evil.txt", "x"},
    {"ThreeSlashes", "///evil.txt", "x"},
    {"NoName", "a/", "x"},
};

class EscapingName : public Extraction, public ::testing::WithParamInterface<Escape> {};

TEST_P(EscapingName, IsRefusedWithTheFailureMessageAndNothingOutside) {
    RunCabinet({{"first.txt", "1"},
                {GetParam().name, GetParam().content, 0x40 | 0x20},
                {"after.txt", "3"}});
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, kFailure + std::string("Failure writing to target file"));
    EXPECT_EQ(Content("first.txt"), "1");
    EXPECT_FALSE(Has("after.txt"));
    EXPECT_TRUE(host.opened.empty());
    EXPECT_EQ(Tree(), (std::vector<std::string>{"out", "out/first.txt", "page.exe", "temp"}));
}

INSTANTIATE_TEST_SUITE_P(Names, EscapingName, ::testing::ValuesIn(kEscapes),
                         [](const auto& info) { return std::string(info.param.what); });

// A cabinet that says its file goes on in a next cabinet which is not there: the
// extractor gives up after one attempt instead of asking for it forever.
TEST_F(Extraction, AMissingNextCabinetEndsTheExtraction) {
    const std::string names = std::string("missing.cab") + '\0' + "disk" + '\0';
    Bytes cab(36, 0);
    cab[0] = 'M', cab[1] = 'S', cab[2] = 'C', cab[3] = 'F';
    cab[24] = 3, cab[25] = 1;
    sfxtest::Put16(cab, 26, 1);       // one folder
    sfxtest::Put16(cab, 28, 1);       // one file
    sfxtest::Put16(cab, 30, 0x0002);  // next cabinet named
    cab.insert(cab.end(), names.begin(), names.end());
    const uint32_t folderAt = static_cast<uint32_t>(cab.size());
    sfxtest::Put16(cab, 16, 0);
    sfxtest::Add32(cab, 0);  // first block, patched below
    sfxtest::Add16(cab, 1);
    sfxtest::Add16(cab, 0);
    sfxtest::Put32(cab, 16, static_cast<uint32_t>(cab.size()));
    sfxtest::Add32(cab, 10);  // the file is 10 bytes long
    sfxtest::Add32(cab, 0);
    sfxtest::Add16(cab, 0xFFFE);  // and continues into the next cabinet
    sfxtest::Add16(cab, (2024 - 1980) << 9 | 6 << 5 | 15);
    sfxtest::Add16(cab, 12 << 11);
    sfxtest::Add16(cab, 0x20);
    const std::string name = "two.txt";
    cab.insert(cab.end(), name.begin(), name.end());
    cab.push_back(0);
    sfxtest::Put32(cab, folderAt, static_cast<uint32_t>(cab.size()));
    Bytes header(8, 0);
    const uint8_t half[5] = {'h', 'a', 'l', 'f', '!'};
    sfxtest::Put16(header, 4, 5);
    sfxtest::Put16(header, 6, 5);
    sfxtest::Put32(header, 0, CabDataBlockChecksum(header.data(), header.size(), half, 5));
    cab.insert(cab.end(), header.begin(), header.end());
    cab.insert(cab.end(), half, half + 5);
    sfxtest::Put32(cab, 8, static_cast<uint32_t>(cab.size()));

    Run(sfxtest::MakeSfx(sfxtest::MakeHead(), cab));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, kFailure + std::string("Cabinet not found"));
    EXPECT_TRUE(host.opened.empty());
    for (const std::string& p : Tree()) {
        EXPECT_TRUE(p == "page.exe" || p == "temp" || p.rfind("out", 0) == 0) << p;
    }
}

TEST_F(Extraction, LeadingSeparatorsAreStrippedIntoTheDestination) {
    RunCabinet({{"\\top.txt", "t"}, {"//x/y.txt", "y"}, {"/z.txt", "z"}});
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(Content("top.txt"), "t");
    EXPECT_EQ(Content("x/y.txt"), "y");
    EXPECT_EQ(Content("z.txt"), "z");
}

struct Existing {
    const char* what;
    const char* name;
    std::deque<bool> answers;
    bool asked;
    bool replaced;
};

const Existing kExisting[] = {
    {"IndexRefused", "index.htm", {false}, true, false},
    {"IndexReplaced", "index.htm", {true}, true, true},
    {"UpperCaseIndex", "INDEX.HTM", {}, false, true},
    {"Picture", "logo.gif", {}, false, true},
};

class ExistingFile : public Extraction, public ::testing::WithParamInterface<Existing> {};

TEST_P(ExistingFile, OnlyIndexHtmAsksBeforeReplacing) {
    fs::create_directories(FakeHost::Native(out));
    sfxtest::WriteText(At(GetParam().name), "old");
    host.answers = GetParam().answers;
    host.shellOpens.insert(At(GetParam().name));
    RunCabinet({{"a.txt", "a"}, {GetParam().name, "new", 0x60}});
    if (GetParam().asked) {
        ASSERT_EQ(host.questions.size(), 1u);
        EXPECT_EQ(host.questions[0].title, "Save");
        EXPECT_EQ(host.questions[0].text, "File " + out + "\\" + GetParam().name +
                                              " already exists.\r\nDo you want to replace it?");
    } else {
        EXPECT_TRUE(host.questions.empty());
    }
    EXPECT_EQ(Content(GetParam().name), GetParam().replaced ? "new" : "old");
    EXPECT_EQ(Content("a.txt"), "a");
    // A No ends the run as a user abort: silently, and nothing is opened.
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.opened.size(), GetParam().replaced ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, ExistingFile, ::testing::ValuesIn(kExisting),
                         [](const auto& info) { return std::string(info.param.what); });

struct Gate {
    const char* what;
    Bytes reserve;
    std::deque<std::optional<std::string>> typed;
    int prompts;
    bool extracted;
    bool wrongMessage;
};

const Gate kGates[] = {
    {"RightPassword", sfxtest::Reserve("035306100867"), {"abc"}, 1, true, false},
    {"WrongPassword", sfxtest::Reserve("035306100867"), {"abd"}, 1, false, true},
    {"Cancelled", sfxtest::Reserve("035306100867"), {std::nullopt}, 1, false, false},
    {"StoredHasMoreDigits", sfxtest::Reserve("0353061008670"), {"abc"}, 1, false, true},
    {"AreaWithoutNul", Bytes{'0', '3', '5', '3'}, {"a"}, 1, true, false},
    {"EmptyStoredText", Bytes{0, '1', '2'}, {}, 0, true, false},
};

class PasswordGate : public Extraction, public ::testing::WithParamInterface<Gate> {};

TEST_P(PasswordGate, AsksOnceAndRefusesSilentlyAfterTheWrongPasswordText) {
    host.passwords = GetParam().typed;
    RunCabinet({{"index.htm", "secret", 0x60}}, GetParam().reserve);
    EXPECT_EQ(host.passwordPrompts, GetParam().prompts);
    EXPECT_EQ(Has("index.htm"), GetParam().extracted);
    EXPECT_EQ(host.opened.size(), GetParam().extracted ? 1u : 0u);
    std::vector<FakeHost::Shown> expected;
    if (GetParam().wrongMessage) {
        expected.push_back({"Error", spillet::DefaultText(2)});
    }
    EXPECT_EQ(host.messages, expected);
}

INSTANTIATE_TEST_SUITE_P(Archives, PasswordGate, ::testing::ValuesIn(kGates),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(Extraction, CancelKeepsTheFilesDoneAndEndsSilently) {
    host.closeProgressAfterFiles = 1;
    RunCabinet({{"one.txt", "1"}, {"two.txt", "2"}, {"index.htm", "3", 0x60}});
    EXPECT_EQ(Content("one.txt"), "1");
    EXPECT_FALSE(Has("two.txt"));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.opened.empty());
}

TEST_F(Extraction, ProgramPathAloneUnpacksIntoTheTemporaryFolder) {
    sfxtest::WriteFile(sfx, sfxtest::MakeSfx(sfxtest::MakeHead(),
                                             sfxtest::MakeCabinet({{"index.htm", "p", 0x60}})));
    host.commandLine = "\"" + sfx + "\"";
    spillet::RunExtractor(host);
    EXPECT_EQ(sfxtest::ReadText(FakeHost::Native(host.tempFolder + "index.htm")), "p");
    EXPECT_EQ(host.opened,
              std::vector<std::string>{FakeHost::Native(host.tempFolder + "index.htm")});
}

TEST_F(Extraction, EmptyOrOverlongPathsShowTheUsageAndUnpackNothing) {
    sfxtest::WriteFile(
        sfx, sfxtest::MakeSfx(sfxtest::MakeHead(), sfxtest::MakeCabinet({{"index.htm", "p"}})));
    const std::string cases[] = {
        "prog \"" + sfx + "\" \"\"",
        "prog \"\" \"" + out + "\"",
        "prog \"" + sfx + "\" \"" + out + "\\" + std::string(260, 'd') + "\"",
    };
    for (const std::string& line : cases) {
        host.commandLine = line;
        host.messages.clear();
        spillet::RunExtractor(host);
        EXPECT_EQ(
            host.messages,
            (std::vector<FakeHost::Shown>{{"Error", "Usage: spillet [input_file output_dir]"}}))
            << line;
    }
    EXPECT_FALSE(fs::exists(FakeHost::Native(out)));
}

TEST_F(Extraction, NoTemporaryFolderEndsAtOnceShowingNothing) {
    host.tempFolder.clear();
    RunCabinet({{"index.htm", "p", 0x60}});
    EXPECT_TRUE(host.messages.empty());
    EXPECT_FALSE(host.progressShown);
    EXPECT_FALSE(Has("index.htm"));
}

struct Launch {
    const char* what;
    const char* file;
    bool programStarts;
    std::vector<std::string> shellOpens;  // which paths the shell manages to open
    std::deque<bool> answers;
    std::vector<std::string> ran, opened;
    bool asked;
    const char* renamedTo;  // null: no rename
};

const Launch kLaunches[] = {
    {"ProgramRuns", "app.exe", true, {}, {}, {"app.exe"}, {}, false, nullptr},
    {"ProgramFailsThenShell",
     "APP.Exe",
     false,
     {"APP.Exe"},
     {},
     {"APP.Exe"},
     {"APP.Exe"},
     false,
     nullptr},
    {"PageOpens", "index.htm", false, {"index.htm"}, {}, {}, {"index.htm"}, false, nullptr},
    {"NoViewerYesRenames",
     "notes.txt",
     false,
     {"notes.htm"},
     {true},
     {},
     {"notes.txt", "notes.htm"},
     true,
     "notes.htm"},
    {"NoViewerNo", "notes.txt", false, {}, {false}, {}, {"notes.txt"}, true, nullptr},
    {"HtmlFailsTwice",
     "page.HTML",
     false,
     {},
     {true},
     {},
     {"page.HTML", "page.HTML"},
     true,
     nullptr},
    {"NoExtensionNoQuestion", "README", false, {}, {true}, {}, {"README"}, false, nullptr},
    {"DotInFolderOnly", "v1.2/README", false, {}, {true}, {}, {"v1.2/README"}, false, nullptr},
};

class Launching : public Extraction, public ::testing::WithParamInterface<Launch> {};

TEST_P(Launching, ProgramsRunOthersGoToTheShellWithTheBrowserFallback) {
    const Launch& c = GetParam();
    auto in = [&](const std::string& n) { return (root / n).string(); };
    host.programsStart = c.programStarts;
    for (const auto& n : c.shellOpens) {
        host.shellOpens.insert(in(n));
    }
    host.answers = c.answers;
    fs::create_directories(fs::path(in(c.file)).parent_path());
    sfxtest::WriteText(in(c.file), "x");
    spillet::LaunchFile(host, in(c.file));

    std::vector<std::string> ran, opened;
    for (const auto& n : c.ran) {
        ran.push_back(in(n));
    }
    for (const auto& n : c.opened) {
        opened.push_back(in(n));
    }
    EXPECT_EQ(host.ran, ran);
    EXPECT_EQ(host.opened, opened);
    if (c.asked) {
        ASSERT_EQ(host.questions.size(), 1u);
        EXPECT_EQ(host.questions[0], (FakeHost::Shown{"Extractor", spillet::DefaultText(6)}));
    } else {
        EXPECT_TRUE(host.questions.empty());
    }
    if (c.renamedTo) {
        EXPECT_TRUE(fs::exists(in(c.renamedTo)));
        EXPECT_FALSE(fs::exists(in(c.file)));
    } else {
        EXPECT_TRUE(host.renamed.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Launching, ::testing::ValuesIn(kLaunches),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
