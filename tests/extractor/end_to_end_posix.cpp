// The Linux spillet program itself: folder -> self-extracting file -> extracted folder, with
// the page opened through xdg-open (a fake one, first in PATH, records the call), cabinets
// from gcab, the peers' view of the cabinet inside, and the terminal's questions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
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

    // Runs spillet on `sfx` into `out`, feeding `input` to its questions; returns stderr.
    std::string Spillet(const fs::path& sfx, const fs::path& out, const std::string& input = "") {
        sfxtest::WriteText(root / "stdin.txt", input);
        std::string command =
            "PATH='" + (root / "bin").string() + "':\"$PATH\" '" QB_SPILLET "' '" + sfx.string() +
            "' '" + out.string() + "' < '" + (root / "stdin.txt").string() + "' > '" +
            (root / "trace.txt").string() + "' 2> '" + (root / "stderr.txt").string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return sfxtest::ReadText(root / "stderr.txt");
    }
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
        {"", false, nullptr},  // end of input: cancelled, silently
        {"\nabc\n", true, "Please enter the password and then click OK."},
    };
    for (const Case& c : cases) {
        fs::path out = root / "out";
        fs::remove_all(out);
        std::string err = Spillet(sfx, out, c.input);
        EXPECT_EQ(fs::exists(out / "index.htm"), c.extracted) << c.input;
        EXPECT_EQ(err.find("Failed to extract"), std::string::npos) << err;
        if (c.said) {
            EXPECT_NE(err.find(c.said), std::string::npos) << err;
        }
    }
    // Extract again over the same index.htm: the terminal asks, and "n" keeps the old one.
    sfxtest::WriteText(root / "out" / "index.htm", "old");
    std::string err = Spillet(sfx, root / "out", "abc\nn\n");
    EXPECT_NE(err.find("Save: File "), std::string::npos) << err;
    EXPECT_EQ(sfxtest::ReadText(root / "out" / "index.htm"), "old");
}

TEST_F(SpilletProgram, NamesLeavingTheDestinationAreRefusedWithTheFailureMessage) {
    fs::path sfx = root / "page.exe";
    sfxtest::WriteFile(sfx, sfxtest::MakeSfx(sfxtest::MakeHead(),
                                             sfxtest::MakeCabinet({{"ok.txt", "ok"},
                                                                   {"../evil.txt", "evil", 0x60},
                                                                   {"sub/../../evil2.txt", "e"}})));
    fs::create_directories(root / "box");
    std::string err = Spillet(sfx, root / "box" / "out");
    EXPECT_NE(err.find("Error: Failed to extract file: Failure writing to target file"),
              std::string::npos)
        << err;
    EXPECT_EQ(sfxtest::ReadText(root / "box" / "out" / "ok.txt"), "ok");
    EXPECT_FALSE(fs::exists(root / "box" / "evil.txt"));
    EXPECT_FALSE(fs::exists(root / "evil2.txt"));
    EXPECT_FALSE(fs::exists(root / "box" / "out" / "sub"));
    EXPECT_EQ(Opened(), "");
}

}  // namespace
