#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/ini_document.h"
#include "platform/settings.h"
#include "scratch.h"

#ifdef _WIN32
#include <process.h>
#define QB_GETPID _getpid
#else
#include <unistd.h>
#define QB_GETPID getpid
#endif

using namespace platform;

namespace {

// A store of its own for each test, removed afterwards. On Linux it lives in a
// scratch folder named by XDG_CONFIG_HOME; on Windows under HKCU\Software\Tarnwick.
class SettingsTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.Path().empty());
#ifndef _WIN32
        m_xdg.reset(new EnvOverride("XDG_CONFIG_HOME", m_dir.Path().c_str()));
#endif
        m_program = "QuillboxTest" + std::to_string(QB_GETPID());
        ASSERT_TRUE(SetSettingsKey("Tarnwick", m_program));
    }
    void TearDown() override {
        EXPECT_TRUE(RemoveSettings());
        EXPECT_EQ(ReadSettingInt("URL History", "number", -1), -1);
        SetSettingsKey("", "");
    }

    ScratchFolder m_dir;
    std::string m_program;
#ifndef _WIN32
    std::unique_ptr<EnvOverride> m_xdg;
#endif
};

}  // namespace

TEST_F(SettingsTest, StringsAndIntegersRoundTrip) {
    struct Text {
        const char* section;
        const char* name;
        std::string value;
    };
    const Text texts[] = {
        {"URL History", "0", "http://www.example.com/a b?c=d&e=f"},
        {"URL History", "1", "  blank edges  "},
        {"URL History", "2", "\"quoted\""},
        {"URL History", "3", ""},
        {"URL History", "4", "x=y; not a comment"},
        {"Other", "0", "another section"},
    };
    for (const Text& t : texts)
        EXPECT_TRUE(WriteSettingString(t.section, t.name, t.value)) << t.name;
    struct Number {
        const char* section;
        const char* name;
        int value;
    };
    const Number numbers[] = {
        {"URL History", "number", 5}, {"URL History", "last", 0}, {"User", "Banners", -3},
        {"User", "max", INT_MAX},     {"User", "min", INT_MIN},
    };
    for (const Number& n : numbers)
        EXPECT_TRUE(WriteSettingInt(n.section, n.name, n.value)) << n.name;

    for (const Text& t : texts)
        EXPECT_EQ(ReadSettingString(t.section, t.name, "default"), t.value) << t.name;
    for (const Number& n : numbers)
        EXPECT_EQ(ReadSettingInt(n.section, n.name, 77), n.value) << n.name;

    // Names compare without regard to case; a new value replaces the old one.
    EXPECT_EQ(ReadSettingInt("url history", "NUMBER", 0), 5);
    EXPECT_TRUE(WriteSettingInt("USER", "banners", 4));
    EXPECT_EQ(ReadSettingInt("User", "Banners", 0), 4);
    EXPECT_TRUE(WriteSettingString("url history", "0", "replaced"));
    EXPECT_EQ(ReadSettingString("URL History", "0", ""), "replaced");
    EXPECT_EQ(ReadSettingString("URL History", "1", ""), "  blank edges  ");

    // Missing values and values of the other kind give the default.
    EXPECT_EQ(ReadSettingString("URL History", "99", "dflt"), "dflt");
    EXPECT_EQ(ReadSettingString("No Section", "0", "dflt"), "dflt");
    EXPECT_EQ(ReadSettingInt("URL History", "99", 42), 42);
    EXPECT_EQ(ReadSettingInt("URL History", "0", 42), 42);

    // Line breaks cannot be stored and leave the old value alone.
    EXPECT_FALSE(WriteSettingString("URL History", "0", "two\r\nlines"));
    EXPECT_EQ(ReadSettingString("URL History", "0", ""), "replaced");
}

TEST_F(SettingsTest, InvalidProgramNamesAreRefused) {
    for (const char* bad : {"", ".", "..", "a/b", "a\\b"}) {
        EXPECT_FALSE(SetSettingsKey("Tarnwick", bad)) << bad;
        EXPECT_FALSE(WriteSettingInt("User", "Banners", 1)) << bad;
        EXPECT_EQ(ReadSettingInt("User", "Banners", 9), 9) << bad;
    }
    EXPECT_FALSE(SetSettingsKey("../etc", m_program));
    ASSERT_TRUE(SetSettingsKey("Tarnwick", m_program));
}

#ifndef _WIN32
TEST_F(SettingsTest, LinuxStoreIsOneIniFileWrittenWhole) {
    ASSERT_TRUE(WriteSettingInt("User", "Banners", 2));
    ASSERT_TRUE(WriteSettingString("URL History", "0", "http://a/"));
    std::string folder = JoinPath(m_dir.Path(), "Tarnwick");
    std::string file = JoinPath(folder, m_program + ".ini");
    EXPECT_EQ(ScratchFolder::Read(file), "[User]\nBanners=2\n\n[URL History]\n0=http://a/\n");
    // No temporary file is left beside it.
    EXPECT_EQ(ListFolder(JoinPath(folder, "*")).size(), 3u);

    // Comments and unknown lines written by hand survive an update.
    ASSERT_TRUE(ScratchFolder::Write(file, "; mine\r\n[User]\r\nBanners = 7\r\nkeep me\r\n"));
    EXPECT_EQ(ReadSettingInt("User", "Banners", 0), 7);
    ASSERT_TRUE(WriteSettingInt("user", "banners", 8));
    ASSERT_TRUE(WriteSettingInt("User", "Other", 1));
    EXPECT_EQ(ScratchFolder::Read(file), "; mine\n[User]\nBanners=8\nkeep me\nOther=1\n");
}

TEST_F(SettingsTest, LinuxStoreFailsQuietly) {
    // The config home is a file: nothing can be written, reads give defaults.
    ASSERT_TRUE(ScratchFolder::Write(m_dir / "file", "x"));
    {
        EnvOverride xdg("XDG_CONFIG_HOME", (m_dir / "file").c_str());
        EXPECT_FALSE(WriteSettingInt("User", "Banners", 1));
        EXPECT_EQ(ReadSettingInt("User", "Banners", 5), 5);
    }
    // Without XDG_CONFIG_HOME (or with a relative one) the home's .config is used.
    {
        EnvOverride xdg("XDG_CONFIG_HOME", "relative/path");
        EnvOverride home("HOME", m_dir.Path().c_str());
        EXPECT_TRUE(WriteSettingInt("User", "Banners", 3));
        EXPECT_TRUE(FileExists(JoinPath(m_dir / ".config", "Tarnwick/" + m_program + ".ini")));
        EXPECT_TRUE(RemoveSettings());
    }
}
#endif

TEST(ProfileFiles, ReadLikeGetPrivateProfileString) {
    ScratchFolder dir;
    const std::string ini = dir / "banners.ini";
    ASSERT_TRUE(ScratchFolder::Write(ini,
                                     "; banner settings\r\n"
                                     "[Custom]\r\n"
                                     "Address = http://www.example.com/page  \r\n"
                                     "Dir=\"http://www.example.com/banners\"\r\n"
                                     "Empty=\r\n"
                                     "\r\n"
                                     "[Other]\r\n"
                                     "Address=other\r\n"));
    struct Case {
        const char* section;
        const char* key;
        const char* def;
        unsigned size;
        const char* expected;
    };
    const Case cases[] = {
        {"Custom", "Address", "d", 256, "http://www.example.com/page"},
        {"CUSTOM", "address", "d", 256, "http://www.example.com/page"},
        {"Custom", "Dir", "d", 256, "http://www.example.com/banners"},
        {"Custom", "Empty", "d", 256, ""},
        {"Custom", "Missing", "fallback  ", 256, "fallback"},
        {"Other", "Address", "d", 256, "other"},
        {"Nowhere", "Address", "d", 256, "d"},
        {"Custom", "Address", "d", 5, "http"},  // cut to the buffer
        {"Custom", "Address", "d", 1, ""},
        {"Custom", "Missing", "longdefault", 5, "long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.section << "/" << c.key << " size " << c.size);
        char buffer[300];
        std::memset(buffer, '#', sizeof buffer);
        unsigned n = ReadProfileFileString(ini, c.section, c.key, c.def, buffer, c.size);
        EXPECT_STREQ(buffer, c.expected);
        EXPECT_EQ(n, std::strlen(c.expected));
        EXPECT_EQ(buffer[c.size], '#');  // nothing written past the buffer
    }
    char buffer[16];
    EXPECT_EQ(ReadProfileFileString(dir / "missing.ini", "Custom", "Address", "dflt", buffer, 16),
              4u);
    EXPECT_STREQ(buffer, "dflt");
}

TEST(IniDocument, EditsKeepOtherLinesAndRefuseWhatCannotBeStored) {
    CIniDocument doc;
    doc.Parse("\xEF\xBB\xBF[A]\nk=1\n; note\n\n[B]\nk=2\n");
    std::string v;
    ASSERT_TRUE(doc.Find("a", "K", v));
    EXPECT_EQ(v, "1");
    EXPECT_TRUE(doc.Set("A", "n", "new"));
    EXPECT_TRUE(doc.Set("b", "K", "two"));
    EXPECT_TRUE(doc.Set("C", "x", "'q'"));
    EXPECT_EQ(doc.Text(), "[A]\nk=1\n; note\nn=new\n\n[B]\nk=two\n\n[C]\nx=\"'q'\"\n");
    ASSERT_TRUE(doc.Find("C", "x", v));
    EXPECT_EQ(v, "'q'");

    struct Bad {
        const char* section;
        const char* key;
        const char* value;
    };
    const Bad bads[] = {
        {"A", "k=v", "x"}, {"A", "[k", "x"}, {"A", ";k", "x"}, {"A]", "k", "x"},
        {"A", "", "x"},    {"", "k", "x"},   {"A", " k", "x"}, {"A", "k", "a\nb"},
    };
    for (const Bad& b : bads)
        EXPECT_FALSE(doc.Set(b.section, b.key, b.value)) << b.section << "/" << b.key;
    EXPECT_EQ(doc.Text(), "[A]\nk=1\n; note\nn=new\n\n[B]\nk=two\n\n[C]\nx=\"'q'\"\n");
}
