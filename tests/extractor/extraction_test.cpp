// The extractor driver against a scripted user: what lands on disk, what is asked and shown,
// what is opened, for good and bad self-extracting files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
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

    // Writes the executable and runs the program on it as "prog sfx out"; the exit status.
    int Run(const Bytes& file) {
        sfxtest::WriteFile(sfx, file);
        host.commandLine = "\"" + sfx + "\" \"" + sfx + "\" \"" + out + "\"";
        int status = spillet::RunExtractor(host);
        EXPECT_EQ(host.OpenFiles(), 0) << "a file handle was left open";
        return status;
    }
    int RunCabinet(const std::vector<Entry>& entries, const Bytes& reserve = {}) {
        return Run(sfxtest::MakeSfx(sfxtest::MakeHead(), sfxtest::MakeCabinet(entries, reserve)));
    }
    // The one message shown: its first line is the failure text, the second its cause.
    void ExpectFailure(const std::string& first, const std::string& causePart) {
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].title, "Error");
        const std::string& text = host.messages[0].text;
        size_t line = text.find('\n');
        EXPECT_EQ(text.substr(0, line), first);
        ASSERT_NE(line, std::string::npos) << "no cause line: " << text;
        EXPECT_EQ(text.find('\n', line + 1), std::string::npos) << "one cause line: " << text;
        EXPECT_NE(text.find(causePart, line), std::string::npos) << text;
    }
    // The path the driver uses for a name in the destination.
    std::string At(std::string name) const {
        std::replace(name.begin(), name.end(), '/', '\\');
        return FakeHost::Native(out + "\\" + name);
    }
    // The same path as the driver spells it in its messages.
    std::string Said(std::string name) const {
        std::replace(name.begin(), name.end(), '/', '\\');
        return out + "\\" + name;
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
    EXPECT_EQ(RunCabinet({page, picture, hidden, empty}), spillet::kExitDone);

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
    EXPECT_EQ(host.finished, std::vector<std::string>{out + "\\"});
}

struct BadFile {
    const char* what;
    Bytes (*make)();
    const char* message;  // the reader's text after string 4, or empty
    const char* cause;    // part of the cause line
};

Bytes Cabinet() {
    return sfxtest::MakeCabinet({{"one.txt", std::string(5000, 'x')}, {"two.txt", "second"}});
}

const BadFile kBadFiles[] = {
    {"NotAnSfx", [] { return Bytes(4096, 'Z'); }, "",
     "is not a self-extracting file made by Quillbox"},
    {"EmptyFile", [] { return Bytes(); }, "", "is not a self-extracting file made by Quillbox"},
    {"NeverPackaged",
     [] {
         Bytes b = sfxtest::MakeHead();
         Bytes cab = Cabinet();
         b.insert(b.end(), cab.begin(), cab.end());
         return b;
     },
     "", "is not a self-extracting file made by Quillbox"},
    // A program whose cabinet would begin past its end is what an executable cut before its
    // cabinet looks like: damaged, like one cut later.
    {"BasePastTheEnd",
     [] {
         Bytes b = sfxtest::MakeSfx(sfxtest::MakeHead(), Cabinet());
         sfxtest::Put32(b, 124, static_cast<uint32_t>(b.size() + 10));
         return b;
     },
     "", "is damaged or cut short"},
    {"CutBeforeTheCabinet",
     [] {
         Bytes b = sfxtest::MakeSfx(sfxtest::MakeHead(), Cabinet());
         b.resize(sfxtest::MakeHead().size() / 2);
         return b;
     },
     "", "is damaged or cut short"},
    {"BaseFarOutside",
     [] {
         Bytes b = sfxtest::MakeSfx(sfxtest::MakeHead(), Cabinet());
         sfxtest::Put32(b, 124, 0xFFFFFFF0u);
         return b;
     },
     "", "is damaged or cut short"},
    {"PlainCabinet", [] { return Cabinet(); }, "",
     "is not a self-extracting file made by Quillbox"},
    {"NoFiles", [] { return sfxtest::MakeSfx(sfxtest::MakeHead(), sfxtest::MakeCabinet({})); }, "",
     "holds no files"},
    {"HeaderCut",
     [] {
         Bytes b = sfxtest::MakeSfx(sfxtest::MakeHead(), Cabinet());
         b.resize(sfxtest::MakeHead().size() + 20);
         return b;
     },
     "", "is damaged or cut short"},
    {"DataCut",
     [] {
         Bytes b = sfxtest::MakeSfx(sfxtest::MakeHead(), Cabinet());
         b.resize(b.size() - 3000);
         return b;
     },
     "Corrupt cabinet", "is damaged or cut short"},
    {"DataFlipped",
     [] {
         Bytes b = sfxtest::MakeSfx(sfxtest::MakeHead(), Cabinet());
         b[b.size() - 100] ^= 0x40;
         return b;
     },
     "Corrupt cabinet", "is damaged or cut short"},
    {"UnknownCompression",
     [] {
         Bytes cab = Cabinet();
         sfxtest::Put16(cab, 36 + 6, 7);
         return sfxtest::MakeSfx(sfxtest::MakeHead(), cab);
     },
     "Unknown compression type", "compression method"},
    {"Version14",
     [] {
         Bytes cab = Cabinet();
         cab[24] = 4;
         return sfxtest::MakeSfx(sfxtest::MakeHead(), cab);
     },
     "", "cabinet version"},
};

class BadInput : public Extraction, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadInput, FailsWithTheFailureMessageAndItsCauseAndWritesNothingElsewhere) {
    EXPECT_EQ(Run(GetParam().make()), spillet::kExitFailed);
    std::string first = *GetParam().message ? kFailure + std::string(GetParam().message)
                                            : std::string("Failed to extract file:");
    ExpectFailure(first, GetParam().cause);
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
    EXPECT_EQ(RunCabinet({{"first.txt", "1"},
                          {GetParam().name, GetParam().content, 0x40 | 0x20},
                          {"after.txt", "3"}}),
              spillet::kExitFailed);
    ExpectFailure(kFailure + std::string("Failure writing to target file"),
                  "outside the destination folder");
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

    EXPECT_EQ(Run(sfxtest::MakeSfx(sfxtest::MakeHead(), cab)), spillet::kExitFailed);
    ExpectFailure(kFailure + std::string("Cabinet not found"), "missing.cab, which is not there");
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
    EXPECT_EQ(RunCabinet({{"a.txt", "a"}, {GetParam().name, "new", 0x60}}),
              GetParam().replaced ? spillet::kExitDone : spillet::kExitFailed);
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

// An existing file is replaced by a new one, not rewritten in place: another name of the
// old file (a hard link planted beside the destination) keeps the old contents, and a
// read-only old file does not stop the replacement.
TEST_F(Extraction, ExistingFilesAreReplacedByNewFilesNeverRewrittenInPlace) {
    fs::create_directories(FakeHost::Native(out));
    sfxtest::WriteText(root / "elsewhere.gif", "old");
    std::error_code ec;
    fs::create_hard_link(root / "elsewhere.gif", At("logo.gif"), ec);
    if (ec) {
        GTEST_SKIP() << "no hard links here: " << ec.message();
    }
    EXPECT_EQ(RunCabinet({{"logo.gif", "new"}}), spillet::kExitDone);
    EXPECT_EQ(Content("logo.gif"), "new");
    EXPECT_EQ(sfxtest::ReadText(root / "elsewhere.gif"), "old");
    EXPECT_TRUE(host.messages.empty());
}

#ifndef _WIN32
struct Planted {
    const char* what;
    const char* linkName;  // in the destination
    bool toFolder;         // the link leads to a folder outside, else to a file outside
    const char* entry;     // the archive's name that meets the link
};

const Planted kPlanted[] = {
    {"FolderLink", "images", true, "images/a.gif"},
    {"DeepFolderLink", "images", true, "images/sub/a.gif"},
    {"FileLink", "index.htm", false, "index.htm"},
    {"DanglingLink", "notes.txt", false, "notes.txt"},
};

class PlantedLink : public Extraction, public ::testing::WithParamInterface<Planted> {};

TEST_P(PlantedLink, IsNeverWrittenThroughAndTheExtractionFails) {
    const Planted& c = GetParam();
    fs::path outside = root / "outside";
    fs::create_directories(outside);
    fs::create_directories(FakeHost::Native(out));
    if (c.toFolder) {
        fs::create_directory_symlink(outside, At(c.linkName));
    } else if (std::string(c.what) == "DanglingLink") {
        fs::create_symlink(outside / "planted.txt", At(c.linkName));
    } else {
        sfxtest::WriteText(outside / "planted.txt", "theirs");
        fs::create_symlink(outside / "planted.txt", At(c.linkName));
    }
    host.answers = {true};
    EXPECT_EQ(RunCabinet({{"first.txt", "1"}, {c.entry, "ours", 0x60}}), spillet::kExitFailed);
    ExpectFailure(kFailure + std::string("Failure writing to target file"),
                  Said(c.linkName) + " is a link");
    EXPECT_EQ(Content("first.txt"), "1");
    std::vector<std::string> outsideNow;
    for (auto& e : fs::recursive_directory_iterator(outside)) {
        outsideNow.push_back(e.path().filename().string());
    }
    EXPECT_EQ(outsideNow, c.toFolder || std::string(c.what) == "DanglingLink"
                              ? std::vector<std::string>{}
                              : std::vector<std::string>{"planted.txt"});
    if (!c.toFolder && std::string(c.what) != "DanglingLink") {
        EXPECT_EQ(sfxtest::ReadText(outside / "planted.txt"), "theirs");
    }
    EXPECT_TRUE(fs::is_symlink(At(c.linkName)));
    EXPECT_TRUE(host.opened.empty());
}

INSTANTIATE_TEST_SUITE_P(Destination, PlantedLink, ::testing::ValuesIn(kPlanted),
                         [](const auto& info) { return std::string(info.param.what); });
#endif

// Too little room for a file, or a write that fails on the way: the partial file goes, the
// files before it stay, and the message says which file and why.
TEST_F(Extraction, AFileThatDoesNotFitIsRefusedBeforeWritingAndNoPartialFileStays) {
    std::string big(70000, 'b');
    host.freeSpace = 1000;
    EXPECT_EQ(RunCabinet({{"small.txt", "tiny"}, {"big.bin", big, 0x60}}), spillet::kExitFailed);
    ExpectFailure(kFailure + std::string("Failure writing to target file"),
                  "Not enough free space for " + Said("big.bin") +
                      ": it needs 70000 bytes, 1000 bytes are free.");
    EXPECT_EQ(Content("small.txt"), "tiny");
    EXPECT_FALSE(Has("big.bin"));
    EXPECT_TRUE(host.opened.empty());

    host.messages.clear();
    host.freeSpace = -1;
    host.writeLimit = 40000;  // the disk fills in the second block of big.bin
    EXPECT_EQ(RunCabinet({{"small.txt", "tiny"}, {"big.bin", big, 0x60}}), spillet::kExitFailed);
    ExpectFailure(kFailure + std::string("Failure writing to target file"),
                  "Cannot write " + Said("big.bin") + ": " + std::strerror(ENOSPC) + ".");
    EXPECT_EQ(Content("small.txt"), "tiny");
    EXPECT_FALSE(Has("big.bin"));
    EXPECT_TRUE(host.opened.empty());
}

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
    EXPECT_EQ(RunCabinet({{"index.htm", "secret", 0x60}}, GetParam().reserve),
              GetParam().extracted ? spillet::kExitDone : spillet::kExitFailed);
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

// A Cancel takes back what the run unpacked, the folders it made included; what was
// there before stays.
TEST_F(Extraction, CancelRemovesWhatItUnpackedAndEndsSilently) {
    host.closeProgressAfterFiles = 2;
    EXPECT_EQ(RunCabinet({{"one.txt", "1"}, {"sub/two.txt", "2"}, {"index.htm", "3", 0x60}}),
              spillet::kExitFailed);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.opened.empty());

    fs::create_directories(out);
    sfxtest::WriteFile(At("mine.txt"), Bytes(3, 'm'));
    EXPECT_EQ(RunCabinet({{"one.txt", "1"}, {"sub/two.txt", "2"}, {"index.htm", "3", 0x60}}),
              spillet::kExitFailed);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"out", "out/mine.txt", "page.exe", "temp"}));
}

// Without an output folder the run's own folder goes whenever nobody will look into it
// (a cancel, a failure, a program that has ended); a page handed to the shell keeps it,
// and the run says where it is.
TEST_F(Extraction, TheRunsOwnFolderGoesWhenNothingNeedsIt) {
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        int closeAfterFiles;
        int64_t freeSpace;
        bool programsStart;
        int status;
        bool kept;
    };
    const std::string big(70000, 'b');
    const std::vector<Case> cases = {
        {"cancelled",
         {{"one.txt", "1"}, {"sub/two.txt", "2"}, {"index.htm", "3", 0x60}},
         2,
         -1,
         false,
         spillet::kExitFailed,
         false},
        {"failed",
         {{"small.txt", "tiny"}, {"big.bin", big, 0x60}},
         -1,
         1000,
         false,
         spillet::kExitFailed,
         false},
        {"program ended",
         {{"sub/a.txt", "a"}, {"run.exe", "MZ", 0x60}},
         -1,
         -1,
         true,
         spillet::kExitDone,
         false},
        {"page opened",
         {{"sub/a.txt", "a"}, {"index.htm", "page", 0x60}},
         -1,
         -1,
         false,
         spillet::kExitDone,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.privateFolders.clear();
        host.finished.clear();
        host.closeProgressAfterFiles = c.closeAfterFiles;
        host.freeSpace = c.freeSpace;
        host.programsStart = c.programsStart;
        sfxtest::WriteFile(sfx,
                           sfxtest::MakeSfx(sfxtest::MakeHead(), sfxtest::MakeCabinet(c.entries)));
        host.commandLine = "\"" + sfx + "\"";
        EXPECT_EQ(spillet::RunExtractor(host), c.status);
        EXPECT_EQ(host.OpenFiles(), 0);
        ASSERT_EQ(host.privateFolders.size(), 1u);
        const std::string& folder = host.privateFolders[0];
        EXPECT_EQ(fs::exists(FakeHost::Native(folder)), c.kept);
        EXPECT_EQ(host.finished,
                  c.kept ? std::vector<std::string>{folder + static_cast<char>(
                                                                 fs::path::preferred_separator)}
                         : std::vector<std::string>{});
        std::error_code ec;
        fs::remove_all(FakeHost::Native(folder), ec);
    }
}

// A page handed to the browser keeps its folder; a later run without an output folder takes
// away the private folders of earlier runs once they are a day old: whole, but a file still
// in use or a link (never followed), and the folders that hold them, stay. Nothing else in the
// temporary folder, and nothing at all when the run was given an output folder.
TEST_F(Extraction, FoldersOfEarlierRunsGoADayLater) {
#ifdef _WIN32
    // The case needs symbolic links, which Wine cannot make; the Windows host's listing is
    // driven by the GUI session's sweep step instead.
    GTEST_SKIP() << "symbolic links cannot be made here";
#endif
    const fs::path temp = FakeHost::Native(host.tempFolder);
    const fs::path outside = root / "outside";
    fs::create_directories(outside / "deep");
    sfxtest::WriteFile((outside / "deep" / "keep.txt").string(), Bytes(3, 'k'));
    auto make = [&](const std::string& name, std::vector<std::string> files) {
        for (const std::string& f : files) {
            fs::create_directories((temp / name / f).parent_path());
            sfxtest::WriteFile((temp / name / f).string(), Bytes(2, 'x'));
        }
    };
    make("spillet-Ab12cd", {"index.htm", "sub/pic.gif", "sub/deeper/x.css"});
    make("spillet-LINKED", {"page.htm", "sub/pic.gif"});
    fs::create_directory_symlink(outside, temp / "spillet-LINKED" / "sub" / "link");
    fs::create_symlink(outside / "deep" / "keep.txt", temp / "spillet-LINKED" / "file-link");
    make("spillet-LOCKED", {"page.htm", "pic.gif"});
    host.inUse.insert((temp / "spillet-LOCKED" / "page.htm").string());
    make("spillet-YOUNG1", {"index.htm"});
    make("spillet-ABCDEFG", {"index.htm"});
    make("spillet_ABCDEF", {"index.htm"});
    make("other", {"spillet-FILE01"});
    sfxtest::WriteFile((temp / "spillet-FILE02").string(), Bytes(1, 'f'));
    fs::create_directory_symlink(outside, temp / "spillet-LINK01");
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(25);
    for (const char* name : {"spillet-Ab12cd", "spillet-LINKED", "spillet-LOCKED",
                             "spillet-ABCDEFG", "spillet_ABCDEF", "other", "spillet-FILE02"}) {
        fs::last_write_time(temp / name, old);
    }
    fs::last_write_time(outside, old);
    fs::last_write_time(temp / "spillet-YOUNG1",
                        fs::file_time_type::clock::now() - std::chrono::hours(23));
    // The temporary folder and the folder its links point to, links not followed.
    auto list = [&] {
        std::vector<std::string> all;
        for (const fs::path& top : {temp, outside}) {
            for (auto& e : fs::recursive_directory_iterator(top)) {
                all.push_back(e.path().lexically_relative(root).generic_string());
            }
        }
        std::sort(all.begin(), all.end());
        return all;
    };
    const std::vector<std::string> before = list();

    // With an output folder the temporary folder is none of this run's business.
    EXPECT_EQ(RunCabinet({{"index.htm", "page", 0x60}}), spillet::kExitDone);
    EXPECT_EQ(list(), before);

    sfxtest::WriteFile(sfx, sfxtest::MakeSfx(sfxtest::MakeHead(),
                                             sfxtest::MakeCabinet({{"run.exe", "MZ", 0x60}})));
    host.commandLine = "\"" + sfx + "\"";
    host.programsStart = true;
    EXPECT_EQ(spillet::RunExtractor(host), spillet::kExitDone);
    EXPECT_EQ(
        list(),
        (std::vector<std::string>{
            "outside/deep", "outside/deep/keep.txt", "temp/other", "temp/other/spillet-FILE01",
            "temp/spillet-ABCDEFG", "temp/spillet-ABCDEFG/index.htm", "temp/spillet-FILE02",
            "temp/spillet-LINK01", "temp/spillet-LINKED", "temp/spillet-LINKED/file-link",
            "temp/spillet-LINKED/sub", "temp/spillet-LINKED/sub/link", "temp/spillet-LOCKED",
            "temp/spillet-LOCKED/page.htm", "temp/spillet-YOUNG1", "temp/spillet-YOUNG1/index.htm",
            "temp/spillet_ABCDEF", "temp/spillet_ABCDEF/index.htm"}));
    EXPECT_EQ(sfxtest::ReadText((outside / "deep" / "keep.txt").string()), "kkk");
}

// The progress window is looked at after every block written, so a Cancel during one large
// file stops it there; the half-written file goes.
TEST_F(Extraction, CancelInsideOneLargeFileStopsAtTheNextBlock) {
    std::string big(10 * 32768, 'L');
    host.closeProgressAfterPumps = 2;
    EXPECT_EQ(RunCabinet({{"big.bin", big, 0x60}, {"after.txt", "a"}}), spillet::kExitFailed);
    EXPECT_EQ(host.pumps, 2);
    EXPECT_FALSE(Has("big.bin"));
    EXPECT_FALSE(Has("after.txt"));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.opened.empty());
}

// Without an output folder every run unpacks into a new folder of its own under the
// temporary folder, so that one package never replaces another's files; a run that fails
// before writing anything leaves no folder behind.
TEST_F(Extraction, WithoutAnOutputFolderEachRunGetsAFreshFolderOfItsOwn) {
    host.commandLine = "\"" + sfx + "\"";
    for (const char* page : {"first", "second"}) {
        sfxtest::WriteFile(sfx,
                           sfxtest::MakeSfx(sfxtest::MakeHead(),
                                            sfxtest::MakeCabinet({{"index.htm", page, 0x60}})));
        EXPECT_EQ(spillet::RunExtractor(host), spillet::kExitDone);
    }
    ASSERT_EQ(host.privateFolders.size(), 2u);
    std::vector<std::string> pages;
    for (const std::string& folder : host.privateFolders) {
        pages.push_back(sfxtest::ReadText(FakeHost::Native(folder + "\\index.htm")));
    }
    EXPECT_EQ(pages, (std::vector<std::string>{"first", "second"}));
    EXPECT_FALSE(fs::exists(FakeHost::Native(host.tempFolder + "index.htm")));
    EXPECT_EQ(host.opened,
              (std::vector<std::string>{FakeHost::Native(host.privateFolders[0] + "\\index.htm"),
                                        FakeHost::Native(host.privateFolders[1] + "\\index.htm")}));

    sfxtest::WriteFile(sfx, Bytes(100, 'x'));
    EXPECT_EQ(spillet::RunExtractor(host), spillet::kExitFailed);
    ASSERT_EQ(host.privateFolders.size(), 3u);
    EXPECT_FALSE(fs::exists(FakeHost::Native(host.privateFolders[2])));
}

// A marked page whose path is too long for the platform is not opened (a cut path would
// open another file); the extraction still succeeds and says where the files are.
TEST_F(Extraction, AMarkedFileWithAPathTooLongToOpenIsNotOpened) {
    std::string name = std::string(40, 'n') + ".htm";
    host.maxPath = out.size() + 1 + name.size() - 1;
    host.shellOpens.insert(At(name));
    EXPECT_EQ(RunCabinet({{name, "page", 0x60}}), spillet::kExitDone);
    EXPECT_EQ(Content(name), "page");
    EXPECT_TRUE(host.opened.empty());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "Extractor");
    EXPECT_NE(host.messages[0].text.find("The files are in " + out + "\\"), std::string::npos)
        << host.messages[0].text;
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
        EXPECT_EQ(spillet::RunExtractor(host), spillet::kExitUsage) << line;
        ASSERT_EQ(host.messages.size(), 1u) << line;
        EXPECT_EQ(host.messages[0].title, "Error");
        EXPECT_EQ(host.messages[0].text.rfind("Usage: spillet [input_file output_dir]\n", 0), 0u)
            << host.messages[0].text;
    }
    EXPECT_FALSE(fs::exists(FakeHost::Native(out)));
}

TEST_F(Extraction, NoTemporaryFolderMattersOnlyWithoutAnOutputFolder) {
    host.tempFolder.clear();
    EXPECT_EQ(RunCabinet({{"index.htm", "p", 0x60}}), spillet::kExitDone);
    EXPECT_TRUE(Has("index.htm"));

    host.commandLine = "\"" + sfx + "\"";
    EXPECT_EQ(spillet::RunExtractor(host), spillet::kExitFailed);
    ExpectFailure("Failed to extract file:", "There is no temporary folder");
    EXPECT_EQ(host.opened.size(), 1u);
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
    bool shellAvailable = true;
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
    // Without an extension there is no question: the file becomes an .htm and is opened.
    {"NoExtensionNoQuestion",
     "README",
     false,
     {},
     {},
     {},
     {"README", "README.htm"},
     false,
     "README.htm"},
    {"NoExtensionRenamedAndOpened",
     "page",
     false,
     {"page.htm"},
     {},
     {},
     {"page", "page.htm"},
     false,
     "page.htm"},
    {"DotInFolderOnly",
     "v1.2/README",
     false,
     {},
     {},
     {},
     {"v1.2/README", "v1.2/README.htm"},
     false,
     "v1.2/README.htm"},
    // Nothing can open pages at all: no question, no rename; the page's place is told.
    {"NoShellAtAll", "notes.txt", false, {}, {true}, {}, {"notes.txt"}, false, nullptr, false},
};

class Launching : public Extraction, public ::testing::WithParamInterface<Launch> {};

TEST_P(Launching, ProgramsRunOthersGoToTheShellWithTheBrowserFallback) {
    const Launch& c = GetParam();
    auto in = [&](const std::string& n) { return (root / n).string(); };
    host.programsStart = c.programStarts;
    host.shellAvailable = c.shellAvailable;
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
    if (!c.shellAvailable) {
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_NE(host.messages[0].text.find(in(c.file)), std::string::npos);
    } else {
        EXPECT_TRUE(host.messages.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Launching, ::testing::ValuesIn(kLaunches),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
