// The Linux spillet program itself: folder -> self-extracting file -> extracted folder, with
// the page opened through xdg-open (a fake one, first in PATH, records the call), cabinets
// from gcab, the peers' view of the cabinet inside, and the terminal's questions.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "qb_version.h"
#include "sfx_fixture.h"

namespace fs = std::filesystem;
using sfxtest::Bytes;
using sfxtest::Entry;

namespace {

class SpilletProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = sfxtest::FreshFolder(std::string("e2e-") + info->name());
        fs::create_directories(root / "bin");
        // The fake xdg-open writes its argument to a log.
        sfxtest::WriteText(root / "bin" / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" +
                                                          (root / "opened.log").string() + "\"\n");
        fs::permissions(root / "bin" / "xdg-open", fs::perms::owner_all);
    }
    void TearDown() override {
        std::error_code ec;
        for (auto& e : fs::recursive_directory_iterator(root, ec)) {
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(root, ec);
    }

    // Runs spillet with `args` (already quoted for the shell), feeding `input` to its
    // questions; its standard output and error land in out.txt and err.txt. The exit status.
    int Exec(const std::string& args, const std::string& input = "",
             const std::string& environment = "") {
        sfxtest::WriteText(root / "stdin.txt", input);
        std::string command = "PATH='" + (root / "bin").string() + "':\"$PATH\" " + environment +
                              " '" QB_SPILLET "' " + args + " < '" + (root / "stdin.txt").string() +
                              "' > '" + (root / "out.txt").string() + "' 2> '" +
                              (root / "err.txt").string() + "'";
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }
    // Runs spillet on `sfx` into `out`, expecting `status`; returns stderr.
    std::string Spillet(const fs::path& sfx, const fs::path& out, const std::string& input = "",
                        int status = 0) {
        EXPECT_EQ(Exec(Q(sfx) + " " + Q(out), input), status) << Err();
        return Err();
    }
    std::string Out() { return sfxtest::ReadText(root / "out.txt"); }
    std::string Err() { return sfxtest::ReadText(root / "err.txt"); }
    std::string Opened() { return sfxtest::ReadText(root / "opened.log"); }

    static bool Tool(const char* name) {
        return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
    }

    fs::path root;
};

// The local MS-DOS date and time of a file, as an archiver stores it.
void DosStamp(const fs::path& file, Entry& e) {
    platform::FileTime utc = 0;
    ASSERT_TRUE(platform::GetWriteTime(file.string(), utc));
    ASSERT_TRUE(platform::UtcToDosDateTime(utc, e.date, e.time));
}

TEST_F(SpilletProgram, FolderRoundTripsByteForByteWithTimesAttributesAndThePage) {
    fs::path src = root / "site";
    fs::create_directories(src / "images");
    std::string picture(40000, '\0');
    for (size_t i = 0; i < picture.size(); ++i) {
        picture[i] = static_cast<char>((i * 131) ^ (i >> 7));
    }
    struct File {
        const char* name;
        std::string content;
        uint16_t attributes;
        std::time_t when;
    } files[] = {
        {"index.htm", "<html><body>offline</body></html>\r\n", 0x20 | 0x40, 1700000000},
        {"images/a.gif", picture, 0x20, 1600000001},
        {"notes.txt", "kept read-only", 0x21, 1500000002},
    };
    std::vector<Entry> entries;
    for (const File& f : files) {
        fs::path p = src / f.name;
        sfxtest::WriteText(p, f.content);
        platform::FileTime t = platform::kUnixEpochAsFileTime + uint64_t(f.when) * 10000000ULL;
        ASSERT_TRUE(platform::SetWriteTime(p.string(), t));
        Entry e{f.name, f.content, f.attributes};
        DosStamp(p, e);
        entries.push_back(e);
    }
    fs::path sfx = root / "page.exe";
    sfxtest::WriteFile(sfx, sfxtest::MakeSfx(sfxtest::MakeHead(), sfxtest::MakeCabinet(entries)));

    fs::path out = root / "out";
    std::string err = Spillet(sfx, out);
    EXPECT_EQ(err.find("Error"), std::string::npos) << err;
    for (const File& f : files) {
        fs::path got = out / f.name;
        EXPECT_EQ(sfxtest::ReadText(got), f.content) << f.name;
        platform::FileTime t = 0;
        ASSERT_TRUE(platform::GetWriteTime(got.string(), t));
        // MS-DOS times count two-second steps; the sources were stamped on even seconds.
        EXPECT_EQ((t - platform::kUnixEpochAsFileTime) / 10000000ULL, uint64_t(f.when & ~1))
            << f.name;
        bool writable = (fs::status(got).permissions() & fs::perms::owner_write) != fs::perms::none;
        EXPECT_EQ(writable, !(f.attributes & 0x01)) << f.name;
    }
    EXPECT_EQ(Opened(), (out / "index.htm").string() + "\n");
}

TEST_F(SpilletProgram, GcabCabinetBehindTheTemplateUnpacksAndPeersAcceptTheCutCabinet) {
    if (!Tool("gcab")) {
        GTEST_SKIP() << "gcab is not installed";
    }
    fs::path src = root / "site";
    fs::create_directories(src / "sub");
    std::string big;
    for (int i = 0; i < 30000; ++i) {
        big += "line " + std::to_string(i * 7919 % 1000) + "\n";
    }
    sfxtest::WriteText(src / "index.htm", "<p>gcab</p>");
    sfxtest::WriteText(src / "sub" / "big.txt", big);
    sfxtest::WriteText(src / "z.bin", std::string("\0\1\2\3", 4));
    std::string cab = (root / "g.cab").string();
    ASSERT_EQ(std::system(("cd '" + src.string() + "' && gcab -c -z '" + cab +
                           "' index.htm sub/big.txt z.bin")
                              .c_str()),
              0);
    std::string cabBytes = sfxtest::ReadText(cab);
    // The Windows template when the build has it, else a stand-in head.
    std::string templ = platform::GetWindowsFolder() + "/ExtractQLBX_Lite.exe";
    Bytes head = sfxtest::MakeHead(fs::exists(templ) ? templ : std::string());
    ASSERT_EQ(sfxtest::Bytes(head.begin() + 124, head.begin() + 128), Bytes(4, 0));
    Bytes sfx = sfxtest::MakeSfx(head, Bytes(cabBytes.begin(), cabBytes.end()));
    sfxtest::WriteFile(root / "page.exe", sfx);

    std::string err = Spillet(root / "page.exe", root / "out");
    EXPECT_EQ(err.find("Error"), std::string::npos) << err;
    EXPECT_EQ(sfxtest::ReadText(root / "out" / "index.htm"), "<p>gcab</p>");
    EXPECT_EQ(sfxtest::ReadText(root / "out" / "sub" / "big.txt"), big);
    EXPECT_EQ(sfxtest::ReadText(root / "out" / "z.bin"), std::string("\0\1\2\3", 4));

    // The cabinet cut at the base stored at 124 runs to the end and is whole for the peers.
    uint32_t base = sfx[124] | sfx[125] << 8 | sfx[126] << 16 | uint32_t(sfx[127]) << 24;
    ASSERT_EQ(base, head.size());
    ASSERT_EQ(std::string(sfx.begin() + base, sfx.begin() + base + 4), "MSCF");
    sfxtest::WriteFile(root / "cut.cab", Bytes(sfx.begin() + base, sfx.end()));
    std::string cut = (root / "cut.cab").string();
    if (Tool("cabextract")) {
        EXPECT_EQ(std::system(("cabextract -q -t '" + cut + "' >/dev/null 2>&1").c_str()), 0);
    }
    if (Tool("7zz")) {
        EXPECT_EQ(std::system(("7zz t '" + cut + "' >/dev/null 2>&1").c_str()), 0);
    }
}

TEST_F(SpilletProgram, TerminalAsksForThePasswordAndTheOverwrite) {
    fs::path sfx = root / "page.exe";
    sfxtest::WriteFile(sfx,
                       sfxtest::MakeSfx(sfxtest::MakeHead(),
                                        sfxtest::MakeCabinet({{"index.htm", "new", 0x60}},
                                                             sfxtest::Reserve("035306100867"))));
    struct Case {
        const char* input;
        bool extracted;
        const char* said;  // expected on stderr, or null
    } cases[] = {
        {"abd\n", false, "You entered a wrong password."},
        {"", false, nullptr},        // end of input: cancelled, silently
        {"\nabc\n", true, nullptr},  // a script's empty line is passed over
    };
    for (const Case& c : cases) {
        fs::path out = root / "out";
        fs::remove_all(out);
        std::string err = Spillet(sfx, out, c.input, c.extracted ? 0 : 1);
        EXPECT_EQ(fs::exists(out / "index.htm"), c.extracted) << c.input;
        EXPECT_EQ(err.find("Failed to extract"), std::string::npos) << err;
        if (c.said) {
            EXPECT_NE(err.find(c.said), std::string::npos) << err;
        }
    }
    // Extract again over the same index.htm: input that is no terminal is not asked whether
    // to replace it; the old one stays and the message says why the unpacking stopped.
    sfxtest::WriteText(root / "out" / "index.htm", "old");
    std::string err = Spillet(sfx, root / "out", "abc\ny\n", 1);
    EXPECT_NE(err.find("spillet: An older page is in the way and nobody can be asked"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("[y/n]"), std::string::npos) << err;
    EXPECT_EQ(sfxtest::ReadText(root / "out" / "index.htm"), "old");
}

TEST_F(SpilletProgram, NamesLeavingTheDestinationAreRefusedWithTheFailureMessage) {
    fs::path sfx = root / "page.exe";
    sfxtest::WriteFile(sfx, sfxtest::MakeSfx(sfxtest::MakeHead(),
                                             sfxtest::MakeCabinet({{"ok.txt", "ok"},
                                                                   {"../evil.txt", "evil", 0x60},
                                                                   {"sub/../../evil2.txt", "e"}})));
    fs::create_directories(root / "box");
    std::string err = Spillet(sfx, root / "box" / "out", "", 1);
    EXPECT_NE(err.find("spillet: The archive names ../evil.txt, which lies outside"),
              std::string::npos)
        << err;
    EXPECT_EQ(sfxtest::ReadText(root / "box" / "out" / "ok.txt"), "ok");
    EXPECT_FALSE(fs::exists(root / "box" / "evil.txt"));
    EXPECT_FALSE(fs::exists(root / "evil2.txt"));
    EXPECT_FALSE(fs::exists(root / "box" / "out" / "sub"));
    EXPECT_EQ(Opened(), "");
}

// A small file system of its own (tmpfs), read-only or nearly full; needs the right to
// mount, which CI has (it runs as root). Unmounted by the fixture.
class MountedSpillet : public SpilletProgram {
  protected:
    bool Mount(const fs::path& at, const char* options) {
        fs::create_directories(at);
        if (geteuid() != 0 || mount("tmpfs", at.c_str(), "tmpfs", 0, options) != 0) {
            return false;
        }
        mounted.push_back(at);
        return true;
    }
    void TearDown() override {
        for (const fs::path& at : mounted) {
            umount(at.c_str());
        }
        SpilletProgram::TearDown();
    }
    std::vector<fs::path> mounted;
};

Bytes Page(const std::vector<Entry>& entries) {
    return sfxtest::MakeSfx(sfxtest::MakeHead(), sfxtest::MakeCabinet(entries));
}

// The program as a user meets it: every failure ends with its exit status and a message
// that names the cause; help and version answer on the standard output.
TEST_F(MountedSpillet, ExitStatusAndMessageNameTheCause) {
    const std::vector<Entry> site = {{"index.htm", "<p>page</p>", 0x60},
                                     {"big.txt", std::string(90000, 'b')}};
    Bytes good = Page(site);
    sfxtest::WriteFile(root / "good.exe", good);
    sfxtest::WriteText(root / "text.exe", "just some text, not a program\n");
    Bytes corrupt = good;
    corrupt[corrupt.size() - 500] ^= 0x55;
    sfxtest::WriteFile(root / "corrupt.exe", corrupt);
    sfxtest::WriteFile(root / "cut.exe", Bytes(good.begin(), good.begin() + good.size() - 40000));
    bool readOnly = Mount(root / "ro", "ro,size=64k");

    struct Case {
        const char* what;
        std::string args;
        int status;
        const char* stream;  // "out" or "err"
        std::vector<std::string> said;
    } cases[] = {
        {"missing file",
         Q(root / "nope.exe") + " " + Q(root / "o1"),
         1,
         "err",
         {"spillet: Cannot open " + (root / "nope.exe").string() +
          ": No such file or directory.\n"}},
        {"not a cabinet",
         Q(root / "text.exe") + " " + Q(root / "o2"),
         1,
         "err",
         {"spillet: " + (root / "text.exe").string() +
          " is not a self-extracting file made by Quillbox.\n"}},
        {"corrupt",
         Q(root / "corrupt.exe") + " " + Q(root / "o3"),
         1,
         "err",
         {"spillet: " + (root / "corrupt.exe").string() + " is damaged or cut short.\n"}},
        {"truncated",
         Q(root / "cut.exe") + " " + Q(root / "o4"),
         1,
         "err",
         {"spillet: " + (root / "cut.exe").string() + " is damaged or cut short.\n"}},
        {"read-only destination",
         Q(root / "good.exe") + " " + Q(root / "ro"),
         1,
         "err",
         {"spillet: Cannot create " + (root / "ro" / "index.htm").string() +
          ": Read-only file system.\n"}},
        {"help",
         "--help",
         0,
         "out",
         {"Usage: spillet [-v] input_file [output_dir]", "Exit status"}},
        {"short help", "-h", 0, "out", {"Usage: spillet"}},
        {"version", "--version", 0, "out", {std::string("spillet ") + QB_VERSION + "\n"}},
        {"no arguments", "", 2, "err", {"Usage: spillet"}},
        {"unknown option", "--frobnicate x.exe", 2, "err", {"unknown option --frobnicate"}},
        {"too many arguments", "a b c", 2, "err", {"Usage: spillet"}},
        {"empty output folder",
         Q(root / "good.exe") + " ''",
         2,
         "err",
         {"spillet: The output folder is empty. Try 'spillet --help'.\n"}},
    };
    for (const Case& c : cases) {
        if (!readOnly && std::string(c.what) == "read-only destination") {
            std::printf("[  SKIPPED ] read-only destination: cannot mount a tmpfs here\n");
            continue;
        }
        EXPECT_EQ(Exec(c.args), c.status) << c.what << "\n" << Err();
        std::string said = std::string(c.stream) == "out" ? Out() : Err();
        for (const std::string& part : c.said) {
            EXPECT_NE(said.find(part), std::string::npos) << c.what << ": " << said;
        }
        if (c.status != 0) {
            EXPECT_EQ(Out(), "") << c.what;  // nothing but help, version and the folder there
        }
        EXPECT_EQ(Opened(), "") << c.what;
    }
    for (const char* out : {"o1", "o2"}) {
        EXPECT_FALSE(fs::exists(root / out)) << out;
    }
    // The page before the damage is whole and stays; the damaged file is not left half.
    for (const char* out : {"o3", "o4"}) {
        EXPECT_EQ(sfxtest::ReadText(root / out / "index.htm"), "<p>page</p>") << out;
        EXPECT_FALSE(fs::exists(root / out / "big.txt")) << out;
    }
}

// A default run is quiet: no trace line, one progress line per file when the error output
// is no terminal, and the destination at the end; -v and QB_TRACE bring the trace back.
TEST_F(SpilletProgram, DefaultRunPrintsNoTraceOnlyProgressAndTheDestination) {
    sfxtest::WriteFile(root / "page.exe",
                       Page({{"index.htm", "<p>q</p>", 0x60}, {"img/a.gif", "GIF89a"}}));
    EXPECT_EQ(Exec(Q(root / "page.exe") + " " + Q(root / "out")), 0) << Err();
    EXPECT_EQ(Out(), "Extracted into " + (root / "out").string() + "/\n");
    EXPECT_EQ(Err(), "Extracting \"index.htm\"\nExtracting \"img/a.gif\"\n");

    EXPECT_EQ(Exec("-v " + Q(root / "page.exe") + " " + Q(root / "out2")), 0);
    EXPECT_NE(Out().find("fdintCOPY_FILE"), std::string::npos) << Out();
    EXPECT_EQ(Exec(Q(root / "page.exe") + " " + Q(root / "out3"), "", "QB_TRACE=1"), 0);
    EXPECT_NE(Out().find("m_pCommandLine = "), std::string::npos) << Out();
}

// Without an output folder each run unpacks into a new private folder under $TMPDIR.
TEST_F(SpilletProgram, WithoutAnOutputFolderEachRunGetsAPrivateFolder) {
    sfxtest::WriteFile(root / "page.exe", Page({{"index.htm", "<p>mine</p>", 0x60}}));
    fs::create_directories(root / "tmp");
    std::vector<fs::path> folders;
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(Exec(Q(root / "page.exe"), "", "TMPDIR=" + Q(root / "tmp")), 0) << Err();
        std::string out = Out();
        const std::string lead = "Extracted into ";
        ASSERT_EQ(out.rfind(lead, 0), 0u) << out;
        fs::path folder = out.substr(lead.size(), out.size() - lead.size() - 2);
        EXPECT_EQ(folder.parent_path(), root / "tmp");
        EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
        EXPECT_EQ(sfxtest::ReadText(folder / "index.htm"), "<p>mine</p>");
        folders.push_back(folder);
    }
    EXPECT_NE(folders[0], folders[1]);
    EXPECT_FALSE(fs::exists(root / "tmp" / "index.htm"));
}

// Links planted in the destination are never followed, and a file too big for the free
// space is refused before anything of it is written.
TEST_F(MountedSpillet, PlantedLinksAndAFullDiskFailWithTheirCause) {
    fs::create_directories(root / "outside");
    fs::create_directories(root / "out");
    fs::create_directory_symlink(root / "outside", root / "out" / "images");
    sfxtest::WriteFile(root / "page.exe", Page({{"index.htm", "p", 0x60}, {"images/a.gif", "g"}}));
    EXPECT_EQ(Exec(Q(root / "page.exe") + " " + Q(root / "out")), 1);
    EXPECT_NE(Err().find((root / "out" / "images").string() + " is a link"), std::string::npos)
        << Err();
    EXPECT_TRUE(fs::is_empty(root / "outside"));
    EXPECT_EQ(Opened(), "");

    if (!Mount(root / "small", "size=64k")) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    sfxtest::WriteFile(root / "big.exe", Page({{"first.txt", std::string(1000, 'f')},
                                               {"index.htm", std::string(200000, 'p'), 0x60}}));
    EXPECT_EQ(Exec(Q(root / "big.exe") + " " + Q(root / "small")), 1);
    EXPECT_NE(Err().find("Not enough free space for " + (root / "small" / "index.htm").string() +
                         ": it needs 200000 bytes"),
              std::string::npos)
        << Err();
    EXPECT_TRUE(fs::exists(root / "small" / "first.txt"));
    EXPECT_FALSE(fs::exists(root / "small" / "index.htm"));
}

// On a terminal, control characters of names are shown escaped, never sent raw.
TEST_F(SpilletProgram, ControlCharactersInNamesAreEscapedOnATerminal) {
    if (!Tool("script")) {
        GTEST_SKIP() << "script (util-linux) is not installed";
    }
    sfxtest::WriteFile(root / "page.exe",
                       Page({{"ok\x1b[31mred.txt", "x"}, {"../\x1b[32mevil.txt", "e"}}));
    std::string inner = "'" QB_SPILLET "' " + Q(root / "page.exe") + " " + Q(root / "out");
    std::string command =
        "script -qec \"" + inner + "\" /dev/null < /dev/null > " + Q(root / "tty.txt") + " 2>&1";
    std::system(command.c_str());
    std::string seen = sfxtest::ReadText(root / "tty.txt");
    EXPECT_NE(seen.find("ok\\x1b[31mred.txt"), std::string::npos) << seen;
    EXPECT_NE(seen.find("../\\x1b[32mevil.txt, which lies outside"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("\x1b[31m"), std::string::npos);
    EXPECT_EQ(seen.find("\x1b[32m"), std::string::npos);
}

// With nothing that opens pages (no xdg-open), the run asks nothing: it says where the page
// is and counts as done.
TEST_F(SpilletProgram, WithoutXdgOpenThePageIsNamedAndNoQuestionAsked) {
    sfxtest::WriteFile(root / "page.exe", Page({{"notes.txt", "n", 0x60}}));
    fs::create_directories(root / "nothing");
    EXPECT_EQ(
        Exec(Q(root / "page.exe") + " " + Q(root / "out"), "y\n", "PATH=" + Q(root / "nothing")), 0)
        << Err();
    EXPECT_NE(Err().find("The page is " + (root / "out" / "notes.txt").string()), std::string::npos)
        << Err();
    EXPECT_EQ(Err().find("[y/n]"), std::string::npos) << Err();
    EXPECT_TRUE(fs::exists(root / "out" / "notes.txt"));
}

}  // namespace
