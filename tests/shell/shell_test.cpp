// The Zip command and the address history, driven through a fake main window.
#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fake_main_window.h"
#include "packager/fetch/grabber.h"
#include "packager/shell/history.h"
#include "packager/shell/ui_prompts.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "platform/settings.h"
#include "platform/trace.h"
#include "platform/ui.h"
#include "tests/fixtures/support/packager_test_support.h"

#ifdef _WIN32
#include <direct.h>
#define chdir _chdir
#define getcwd _getcwd
#else
#include <unistd.h>
#endif

namespace {

using platform::JoinPath;

using qbtest::MakeTempFolder;
using qbtest::ReadAll;
using qbtest::RemoveTree;
using qbtest::WriteAll;
using SilentUi = qbtest::RecordingUi;

class ZipCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetTraceEnabled(false);
        platform::SetUserInterface(&ui);
        root = MakeTempFolder("qbz");
        ASSERT_FALSE(root.empty());
        grabber.reset(new CGrabber(platform::CreateInternetService(), CGrabOptions(), &prompts));
        app.pGrabber = grabber.get();
        window.reset(new FakeMainWindow(app));
        templ = JoinPath(root, "template.exe");
        WriteAll(templ, std::string(1024, 'T').replace(124, 4, 4, '\0'));
        window->templatePath = templ;
    }
    void TearDown() override {
        window.reset();
        grabber.reset();
        platform::SetUserInterface(nullptr);
        RemoveTree(root);
    }

    // A local page with n pictures beside it; the grab resolves them from the current folder.
    std::string MakeSite(int pictures) {
        std::string site = JoinPath(root, "site");
        platform::FolderCreate(site);
        std::string html = "<html><body>\n";
        for (int i = 0; i < pictures; ++i) {
            std::string pic = "p" + std::to_string(i) + ".gif";
            WriteAll(JoinPath(site, pic), std::string(100 + i, 'g'));
            html += "<img src=\"" + pic + "\">\n";
        }
        html += "</body></html>\n";
        WriteAll(JoinPath(site, "page.htm"), html);
        return site;
    }

    SilentUi ui;
    CUiFetchPrompts prompts;  // through ui
    std::string root, templ;
    PackagerState app;
    std::unique_ptr<CGrabber> grabber;
    std::unique_ptr<FakeMainWindow> window;
};

struct CurrentFolder {
    explicit CurrentFolder(const std::string& to) {
        char buf[4096];
        if (getcwd(buf, sizeof(buf)))
            saved = buf;
        EXPECT_EQ(chdir(to.c_str()), 0);
    }
    ~CurrentFolder() { EXPECT_EQ(chdir(saved.c_str()), 0); }
    std::string saved;
};

TEST_F(ZipCommandTest, OutputPathMustBeAnExeThatCanBeWritten) {
    struct Case {
        std::string path;
        std::string cause;  // after message 114 and a blank line; empty: the path is valid
    };
    std::string sep(1, platform::kPathSeparator);
    std::string folder = JoinPath(root, "folder.exe");
    ASSERT_TRUE(platform::FolderCreate(folder));
    std::string notFolder = JoinPath(root, "file");
    WriteAll(notFolder, "a file");
    const std::vector<Case> cases = {
        {"", "No output path was given."},
        {JoinPath(root, "a.exe"), ""},
        {JoinPath(root, "B.EXE"), ""},
        {JoinPath(root, "c.ExE"), ""},
        {JoinPath(root, "a.exe2"), JoinPath(root, "a.exe2") + " does not end in .exe."},
        {JoinPath(root, "a.exe.bak"), JoinPath(root, "a.exe.bak") + " does not end in .exe."},
        {JoinPath(root, "a.exe "), JoinPath(root, "a.exe ") + " does not end in .exe."},
        {JoinPath(root, "noext"), JoinPath(root, "noext") + " does not end in .exe."},
        {JoinPath(root, "dir.exe") + sep,
         JoinPath(root, "dir.exe") + sep + " does not end in .exe."},
        {folder, folder + " is a folder."},
        {JoinPath(JoinPath(root, "missing"), "a.exe"),
         "The folder " + JoinPath(root, "missing") + " does not exist."},
        {JoinPath(notFolder, "a.exe"), notFolder + " is not a folder."},
    };
    for (const Case& c : cases) {
        FakeMainWindow w(app);
        w.outPath = c.path;
        w.address = "";  // a valid path then stops at the address check
        w.Zip();
        ASSERT_EQ(w.messages.size(), 1u) << c.path;
        EXPECT_EQ(w.messages[0], c.cause.empty()
                                     ? std::string(kStrBadAddress)
                                     : std::string(kStrBadOutputPath) + "\r\n\r\n" + c.cause)
            << c.path;
        EXPECT_EQ(w.focus, std::vector<int>{c.cause.empty() ? kIdAddressBox : kIdOutputPathBox})
            << c.path;
        if (c.path != folder) {
            EXPECT_FALSE(platform::FileExists(c.path)) << "the check leaves nothing behind";
        }
        for (const platform::FindData& f : platform::ListFolder(JoinPath(root, "*")))
            EXPECT_NE(f.name.rfind("qbx", 0), 0u) << "a temporary file stays: " << f.name;
        EXPECT_TRUE(w.enabled);
    }
}

// The command line names the other outputs by their paths; the window keeps its rule.
TEST_F(ZipCommandTest, TheCommandLineAlsoTakesTheOtherOutputs) {
    std::string sep(1, platform::kPathSeparator);
    std::string existing = JoinPath(root, "old");
    ASSERT_TRUE(platform::FolderCreate(existing));
    WriteAll(JoinPath(root, "plain"), "a file, not a folder");
    struct Case {
        std::string path;
        bool validOnCommandLine;
        bool asked;  // the overwrite question
    };
    const std::vector<Case> cases = {
        {JoinPath(root, "page.html"), true, false},
        {JoinPath(root, "Page.HTM"), true, false},
        {JoinPath(root, "page.mhtml"), true, false},
        {JoinPath(root, "new") + sep, true, false},
        {existing + sep, true, true},
        {JoinPath(root, "plain") + sep, false, false},
        {JoinPath(JoinPath(root, "missing"), "page.html"), false, false},
        {JoinPath(JoinPath(root, "missing"), "new") + sep, false, false},
        {JoinPath(root, "page.txt"), false, false},
    };
    for (bool commandLine : {false, true}) {
        for (const Case& c : cases) {
            FakeMainWindow w(app);
            w.everyOutputKind = commandLine;
            w.outPath = c.path;
            w.address = "";  // a valid path then stops at the address check
            w.Zip();
            bool valid = commandLine && c.validOnCommandLine;
            size_t questions = commandLine && c.asked ? 1 : 0;
            ASSERT_EQ(w.messages.size(), 1u + questions) << c.path;
            if (valid)
                EXPECT_EQ(w.messages.back(), kStrBadAddress) << c.path;
            else  // the window's text, then the cause
                EXPECT_EQ(w.messages.back().rfind(kStrBadOutputPath, 0), 0u) << w.messages.back();
        }
    }
    // The check leaves nothing behind.
    EXPECT_EQ((std::vector<std::string>{"old", "plain", "template.exe"}), qbtest::Names(root));
}

TEST_F(ZipCommandTest, DecliningTheOverwriteChangesNothing) {
    std::string out = JoinPath(root, "old.exe");
    WriteAll(out, "old executable");
    window->outPath = out;
    window->address = "http://host/";
    window->answer = platform::kIdNo;
    window->Zip();
    ASSERT_EQ(window->messages.size(), 1u);
    EXPECT_EQ(window->messages[0], "Are you sure you want to overwrite\r\n" + out + "?");
    EXPECT_TRUE(window->focus.empty());
    EXPECT_EQ(ReadAll(out), "old executable");
    EXPECT_EQ(window->ProgressDialog(), nullptr);
}

TEST_F(ZipCommandTest, AcceptedOverwriteKeepsTheOldFileUntilANewOneIsWritten) {
    std::string out = JoinPath(root, "old.exe");
    WriteAll(out, "old executable");
    ASSERT_TRUE(platform::SetAttributes(out, platform::kAttrReadOnly));
    // Yes, then an empty address.
    window->outPath = out;
    window->address = "";
    window->Zip();
    ASSERT_EQ(window->messages.size(), 2u);
    EXPECT_EQ(window->messages[1], kStrBadAddress);
    EXPECT_EQ(ReadAll(out), "old executable");
    EXPECT_EQ(platform::GetAttributes(out) & platform::kAttrReadOnly, 0u);

    // Yes, then a grab that fails.
    FakeMainWindow w(app);
    w.outPath = out;
    w.address = JoinPath(root, "no-such-page.htm");
    w.Zip();
    EXPECT_EQ(ReadAll(out), "old executable");
    EXPECT_EQ(w.doneDialogs, 0);
    EXPECT_TRUE(w.recorded.empty()) << "a failed grab records no history";
    EXPECT_TRUE(w.enabled);
    EXPECT_FALSE(w.timerRunning);
    EXPECT_FALSE(w.ProgressDialog()->IsVisible());
}

TEST_F(ZipCommandTest, SuccessfulZipWritesTheExecutableAndOffersTheAddress) {
    std::string site = MakeSite(2);
    CurrentFolder cd(site);
    std::string out = JoinPath(root, "new.exe");
    WriteAll(out, "old executable");
    window->outPath = out;
    window->address = "  " + JoinPath(site, "page.htm") + " ";
    window->combo = {"http://elsewhere/"};
    window->Zip();
    EXPECT_EQ(window->doneDialogs, 1);
    std::string exe = ReadAll(out);
    ASSERT_GT(exe.size(), 1024u);
    EXPECT_EQ(exe.substr(1024, 4), "MSCF");
    EXPECT_EQ(window->recorded, std::vector<std::string>{JoinPath(site, "page.htm")});
    EXPECT_EQ(window->combo.size(), 2u);
    EXPECT_EQ(window->comboSel, 1);
    EXPECT_EQ(window->focus, std::vector<int>{kIdZipButton});
    EXPECT_TRUE(window->enabled);
    // The work folder is gone once packed.
    std::string workFolder = platform::FolderOf(app.job.strMainPage);
    EXPECT_FALSE(platform::FolderExists(workFolder)) << workFolder;
}

// The box must show the address that was zipped, so that Zip again packs the same
// page: never an older, longer entry that merely begins with it.
TEST_F(ZipCommandTest, TheBoxShowsExactlyTheZippedAddress) {
    std::string site = MakeSite(0);
    CurrentFolder cd(site);
    std::string page = JoinPath(site, "page.htm");
    std::string shorter = page.substr(0, page.size() - 4);  // the page without ".htm"
    WriteAll(shorter, "<html></html>");                     // the shorter name is a page too
    window->outPath = JoinPath(root, "x.exe");

    window->address = shorter;
    window->combo = {"http://a/", page};
    window->Zip();
    ASSERT_EQ(window->doneDialogs, 1);
    ASSERT_EQ(window->combo.size(), 3u) << "a longer entry is not this address";
    EXPECT_EQ(window->combo[2], shorter);
    EXPECT_EQ(window->comboSel, 2);

    // Its own entry, when there is one, is selected; letter case counts as in the history.
    window->address = page;
    window->combo = {shorter, page};
    window->Zip();
    ASSERT_EQ(window->doneDialogs, 2);
    EXPECT_EQ(window->combo.size(), 2u);
    EXPECT_EQ(window->comboSel, 1);
}

TEST_F(ZipCommandTest, TheDoneDialogComesBeforeTheWindowIsUsableAgain) {
    std::string site = MakeSite(0);
    CurrentFolder cd(site);
    window->outPath = JoinPath(root, "d.exe");
    window->address = JoinPath(site, "page.htm");
    window->Zip();
    ASSERT_EQ(window->doneDialogs, 1);
    EXPECT_TRUE(window->enabled);
    EXPECT_FALSE(window->enabledDuringDoneDialog)
        << "a second Zip could start under the done dialog";
}

TEST_F(ZipCommandTest, CancelDuringImagesWritesNothingAndTheNextCommandWorks) {
    std::string site = MakeSite(5);
    CurrentFolder cd(site);
    std::string out = JoinPath(root, "cancel.exe");
    window->outPath = out;
    window->address = JoinPath(site, "page.htm");
    window->onReport = [this](const std::string& text) {
        if (text.rfind("Loading images (2 of", 0) == 0 && window->ProgressDialog())
            window->ProgressDialog()->m_bCancelled = 1;
    };
    window->Zip();
    EXPECT_FALSE(platform::PathExists(out));
    EXPECT_EQ(window->doneDialogs, 0);
    EXPECT_TRUE(window->recorded.empty());
    EXPECT_TRUE(window->enabled);
    EXPECT_EQ(window->ProgressDialog()->m_bCancelled, 0);

    window->onReport = nullptr;
    window->Zip();
    EXPECT_EQ(window->doneDialogs, 1);
    EXPECT_TRUE(platform::FileExists(out));
}

// The Zip command's Cancel pressed while the builder compresses (the moment its
// unfinished executable has appeared beside the output): a cancel, not a failure.
TEST_F(ZipCommandTest, CancelDuringCompressingEndsAsACancel) {
    std::string site = JoinPath(root, "site");
    platform::FolderCreate(site);
    std::string html = "<html><body>\n";
    uint32_t x = 2463534242u;
    for (int i = 0; i < 6; ++i) {
        // Noise does not compress: each picture keeps the builder busy for a while.
        std::string noise(1 << 20, '\0');
        for (char& ch : noise) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            ch = static_cast<char>(x);
        }
        std::string pic = "n" + std::to_string(i) + ".bmp";
        WriteAll(JoinPath(site, pic), noise);
        html += "<img src=\"" + pic + "\">\n";
    }
    WriteAll(JoinPath(site, "page.htm"), html + "</body></html>\n");
    CurrentFolder cd(site);
    std::string out = JoinPath(root, "old.exe");
    WriteAll(out, "MZ an earlier zip");
    window->outPath = out;
    window->address = JoinPath(site, "page.htm");
    // The user presses the Zip command's Cancel once packing has begun: a moment the test
    // names, since a timer would miss a builder that stores noise at copy speed.
    bool pressed = false;
    window->onPackingStarts = [&] {
        ASSERT_TRUE(window->ProgressDialog());
        window->ProgressDialog()->m_bCancelled = 1;
        pressed = true;
    };
    window->Zip();
    ASSERT_TRUE(pressed) << "the packing never started";
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
    // Only the overwrite question of the command itself.
    ASSERT_EQ(window->messages.size(), 1u);
    EXPECT_EQ(0u, window->messages[0].rfind("Are you sure you want to overwrite", 0));
    EXPECT_EQ(window->doneDialogs, 0);
    EXPECT_EQ("MZ an earlier zip", ReadAll(out));
    EXPECT_EQ(0u, qbtest::CountStartingWith(root, "qbx"));
    EXPECT_TRUE(window->enabled);
    EXPECT_EQ(window->ProgressDialog()->m_bCancelled, 0);
}

// The done dialog says where the executable went and names the first items that
// could not be fetched, with their causes; the rest are counted.
TEST_F(ZipCommandTest, TheDoneNoteNamesTheOutputAndTheFirstFailedItems) {
    struct Case {
        int missing;
        std::vector<std::string> lines;  // after "Saved as"; {} for none
    };
    std::string site = MakeSite(1);
    CurrentFolder cd(site);
    auto missing = [&](int i) {
        return "picture " + JoinPath(site, "m" + std::to_string(i) + ".gif");
    };
    const std::vector<Case> cases = {
        {0, {}},
        {1, {"1 item could not be fetched:", missing(0)}},
        {5, {"5 items could not be fetched:", missing(0), missing(1), missing(2), "and 2 more."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.missing);
        std::string html = "<html><body><img src=\"p0.gif\">\n";
        for (int i = 0; i < c.missing; ++i)
            html += "<img src=\"m" + std::to_string(i) + ".gif\">\n";
        WriteAll(JoinPath(site, "page.htm"), html + "</body></html>\n");
        std::string out = JoinPath(root, "n" + std::to_string(c.missing) + ".exe");
        window->outPath = out;
        window->address = JoinPath(site, "page.htm");
        window->Zip();
        std::vector<std::string> lines;
        std::string note = window->DoneNote();
        for (size_t at = 0, end; at < note.size(); at = end + 1) {
            end = note.find('\n', at);
            if (end == std::string::npos)
                end = note.size();
            lines.push_back(note.substr(at, end - at));
        }
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], platform::ShortenLongRuns("Saved as " + out, 56));
        ASSERT_EQ(lines.size(), c.lines.size() + 1) << note;
        for (size_t i = 0; i < c.lines.size(); ++i) {
            // Named items are "<kind> <address>: <cause>", each run cut to fit a line.
            std::string expected = platform::ShortenLongRuns(c.lines[i], 56);
            EXPECT_EQ(lines[i + 1].substr(0, expected.size()), expected) << lines[i + 1];
            if (c.lines[i].rfind("picture ", 0) == 0) {
                EXPECT_GT(lines[i + 1].size(), expected.size() + 2) << "no cause";
            }
        }
    }
}

// Long runs without blanks (addresses, paths) are cut with an ellipsis so that a
// message box fits on the screen; the sentences around them stay whole.
TEST(ShortenLongRuns, CutsAddressesAndKeepsSentences) {
    const std::string address = "http://127.0.0.1:8000/" + std::string(2100, 'a') + "/end.htm";
    const std::string cause = "The server answered 404 Not Found.";
    struct Case {
        std::string text, expected;
    };
    const std::vector<Case> cases = {
        {"short text stays\r\nas it is", "short text stays\r\nas it is"},
        {"cannot fetch " + address + "\r\n" + cause,
         "cannot fetch " + address.substr(0, 53) + "..." + address.substr(address.size() - 24) +
             "\r\n" + cause},
        {std::string(80, 'x') + " " + std::string(81, 'y'),
         std::string(80, 'x') + " " + std::string(53, 'y') + "..." + std::string(24, 'y')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ShortenLongRuns(c.text), c.expected);
}

TEST_F(ZipCommandTest, ProgressBarShowsPositionModuloRange) {
    window->outPath = JoinPath(root, "p.exe");
    // BeginBusy makes the dialog; the worker is not needed here.
    struct Probe : FakeMainWindow {
        using FakeMainWindow::FakeMainWindow;
        void Begin() { BeginBusy(); }
    } w(app);
    w.Begin();
    ASSERT_TRUE(w.ProgressDialog() && w.ProgressDialog()->IsOpen());
    w.UpdateProgressDialog("Reading", 250, 100);
    EXPECT_EQ(w.ProgressDialog()->GetPosition(), 50);
    EXPECT_EQ(w.ProgressDialog()->GetMessageText(), "Reading");
    w.UpdateProgressDialog("x", 7, 0);
    EXPECT_EQ(w.ProgressDialog()->GetPosition(), 0);
    // The mailbox carries the latest report to the dialog on the next tick.
    EXPECT_EQ(w.Report("Opening x", 30), 1);
    w.OnTimer(1);
    EXPECT_EQ(w.ProgressDialog()->GetPosition(), 30);
    EXPECT_EQ(w.ProgressDialog()->GetMessageText(), "Opening x");
    w.ProgressDialog()->m_bCancelled = 1;
    EXPECT_EQ(w.Report("y", 1), 0);
}

// WM_COMMAND by its source: the boxes' own notifications carry the boxes' ids, which
// are also the ids of Alt+U and Alt+P; they must never run a command.
TEST_F(ZipCommandTest, OnlyAcceleratorsMenusAndClicksRunCommands) {
    constexpr unsigned kAccelerator = 1, kMenu = 0, kClicked = 0;
    constexpr unsigned kEditSetFocus = 0x100, kEditKillFocus = 0x200, kEditChange = 0x300;
    constexpr unsigned kComboSelChange = 1, kComboSetFocus = 3, kComboKillFocus = 4,
                       kComboEditChange = 5, kComboDropDown = 7;
    struct Case {
        int id;
        unsigned code;
        bool fromControl;
        bool runs;
        const char* action;  // what the window did, "" for nothing
    } cases[] = {
        {kIdAddressBox, kAccelerator, false, true, "focus 1000"},
        {kIdOutputPathBox, kAccelerator, false, true, "focus 1002"},
        {kIdNextControl, kAccelerator, false, true, "next"},
        {kIdPreviousControl, kAccelerator, false, true, "previous"},
        {kIdAboutButton, kMenu, false, true, "about"},
        {kIdAboutButton, kClicked, true, true, "about"},
        {kIdBrowseButton, kClicked, true, true, "browse"},
        {kIdCloseButton, kAccelerator, false, true, "close"},
        {kIdOutputPathBox, kEditSetFocus, true, false, ""},
        {kIdOutputPathBox, kEditKillFocus, true, false, ""},
        {kIdOutputPathBox, kEditChange, true, false, ""},
        {kIdAddressBox, kComboSelChange, true, false, ""},
        {kIdAddressBox, kComboSetFocus, true, false, ""},
        {kIdAddressBox, kComboKillFocus, true, false, ""},
        {kIdAddressBox, kComboEditChange, true, false, ""},
        {kIdAddressBox, kComboDropDown, true, false, ""},
        {kIdZipButton, kEditKillFocus, true, false, ""},
        {4242, kAccelerator, false, false, ""},
    };
    for (const Case& c : cases) {
        window->actions.clear();
        window->focus.clear();
        SCOPED_TRACE("id " + std::to_string(c.id) + " code " + std::to_string(c.code));
        EXPECT_EQ(window->OnCommandMessage(c.id, c.code, c.fromControl), c.runs);
        std::string did = !window->actions.empty() ? window->actions[0]
                          : !window->focus.empty() ? "focus " + std::to_string(window->focus[0])
                                                   : "";
        EXPECT_EQ(did, c.action);
    }
    // The Zip button's click and Enter run the command; its message shows it ran.
    window->outPath = "";
    EXPECT_TRUE(window->OnCommandMessage(kIdZipButton, kClicked, true));
    EXPECT_TRUE(window->OnCommandMessage(kIdZipButton, kAccelerator, false));
    std::string refused = std::string(kStrBadOutputPath) + "\r\n\r\nNo output path was given.";
    EXPECT_EQ(window->messages, (std::vector<std::string>{refused, refused}));
}

// View URL in browser opens what Zip would fetch; an empty address gets Zip's message.
TEST_F(ZipCommandTest, ViewOpensTheAddressAsZipNormalisesIt) {
    struct Case {
        std::string typed, opened;
    } cases[] = {
        {"host/page.htm", "http://host/page.htm"},
        {"  HTTPS://host/a ", "HTTPS://host/a"},
        {"http://host/", "http://host/"},
        {" ", "http://"},
    };
    for (const Case& c : cases) {
        window->actions.clear();
        window->address = c.typed;
        window->OnViewUrl();
        EXPECT_EQ(window->actions, std::vector<std::string>{"open " + c.opened}) << c.typed;
    }
    window->actions.clear();
    window->address = "";
    EXPECT_TRUE(window->OnCommandMessage(kIdViewButton, 0, true));
    EXPECT_TRUE(window->actions.empty());
    EXPECT_EQ(window->messages, std::vector<std::string>{kStrBadAddress});
    EXPECT_EQ(window->focus, std::vector<int>{kIdAddressBox});
}

TEST(NormalizeAddress, SchemesBlanksAndLocalFiles) {
    std::string local = JoinPath(platform::GetTempFolder(), "qb-normalize.htm");
    WriteAll(local, "x");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"host/page.htm", "http://host/page.htm"},
        {"HTTP://Host/A", "HTTP://Host/A"},
        {"https://h/", "https://h/"},
        {"HtTpS://h/", "HtTpS://h/"},
        {"ftp://host/x", "ftp://host/x"},
        {"  \thost \r\n", "http://host"},
        {"   ", "http://"},
        {local, local},
        {" " + local + " ", local},
    };
    for (const auto& c : cases) {
        std::string a = c.first;
        CZipCommand::NormalizeAddress(a);
        EXPECT_EQ(a, c.second) << "[" << c.first << "]";
    }
    platform::FileRemove(local);
}

// ---- History ---------------------------------------------------------------------

class RecordingBox : public IAddressBox {
  public:
    int AddString(const std::string& t) override {
        entries.push_back(t);
        return static_cast<int>(entries.size()) - 1;
    }
    void SetCurSel(int i) override {
        sel = i >= 0 && i < static_cast<int>(entries.size()) ? i : -1;
    }
    void SetText(const std::string& t) override { text = t; }
    std::vector<std::string> entries;
    int sel = -1;
    std::string text;
};

class HistoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef _WIN32
        config = MakeTempFolder("qbh");
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
#endif
        ASSERT_TRUE(platform::SetSettingsKey("Tarnwick", "quillbox-history-test"));
        platform::RemoveSettings();
    }
    void TearDown() override {
        platform::RemoveSettings();
#ifndef _WIN32
        RemoveTree(config);
#endif
    }
    std::string config;
};

TEST_F(HistoryTest, FirstRunOffersTheVendorsHomePage) {
    RecordingBox box;
    LoadHistory(box);
    EXPECT_TRUE(box.entries.empty());
    EXPECT_EQ(box.text, kVendorHomePage);
}

TEST_F(HistoryTest, AddressesAreKeptOnceEachWithCaseMattering) {
    RecordHistory("http://host/a");
    RecordHistory("http://host/b");
    RecordHistory("http://host/a");
    RecordHistory("http://HOST/a");
    EXPECT_EQ(platform::ReadSettingInt(kHistorySection, "number", -1), 3);
    EXPECT_EQ(platform::ReadSettingInt(kHistorySection, "last", -1), 2);
    RecordHistory("http://HOST/a");
    EXPECT_EQ(platform::ReadSettingInt(kHistorySection, "number", -1), 3);
    EXPECT_EQ(platform::ReadSettingInt(kHistorySection, "last", -1), 2);
    RecordHistory("http://host/b");
    EXPECT_EQ(platform::ReadSettingInt(kHistorySection, "last", -1), 1);

    RecordingBox box;
    LoadHistory(box);
    EXPECT_EQ(box.entries,
              (std::vector<std::string>{"http://host/a", "http://host/b", "http://HOST/a"}));
    EXPECT_EQ(box.sel, 1);
}

TEST_F(HistoryTest, GapsAndOutOfRangeSelectionsAreTolerated) {
    platform::WriteSettingInt(kHistorySection, "number", 3);
    platform::WriteSettingString(kHistorySection, "0", "http://a/");
    platform::WriteSettingString(kHistorySection, "2", "http://c/");
    platform::WriteSettingInt(kHistorySection, "last", 7);
    RecordingBox box;
    LoadHistory(box);
    EXPECT_EQ(box.entries, (std::vector<std::string>{"http://a/", "", "http://c/"}));
    EXPECT_EQ(box.sel, -1);
    // A new address goes after the gap.
    RecordHistory("http://d/");
    EXPECT_EQ(platform::ReadSettingString(kHistorySection, "3", ""), "http://d/");
    EXPECT_EQ(platform::ReadSettingInt(kHistorySection, "number", -1), 4);
}

TEST_F(HistoryTest, ADamagedCountIsBounded) {
    platform::WriteSettingInt(kHistorySection, "number", 2000000000);
    platform::WriteSettingString(kHistorySection, "0", "http://a/");
    RecordingBox box;
    LoadHistory(box);  // returns instead of reading two billion missing values
    EXPECT_EQ(box.entries.size(), 65536u);
    EXPECT_EQ(box.entries[0], "http://a/");
    RecordHistory("http://a/");
    EXPECT_EQ(platform::ReadSettingInt(kHistorySection, "last", -1), 0);
}

}  // namespace
