#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/ui.h"
#include "scratch.h"

#ifndef _WIN32
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/ui_terminal.h"
#endif

using namespace platform;

namespace {

class CScriptedUi : public IUserInterface {
  public:
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags,
                    void*) override {
        m_shown.push_back(caption + "|" + text + "|" + std::to_string(flags));
        return kIdYes;
    }
    bool AskAuthorization(const AuthorizationPrompt&, std::string& user, std::string& password,
                          void*) override {
        user = "u";
        password = "p";
        return true;
    }
    bool AskPassword(const PasswordPrompt&, std::string&, void*) override { return false; }
    intptr_t ShellOpen(const std::string&, void*) override { return kShellNoAssociation; }
    bool RunAndWait(const std::string&) override { return false; }

    std::vector<std::string> m_shown;
};

}  // namespace

TEST(UserInterface, TestsCanReplaceTheInstance) {
    CScriptedUi scripted;
    SetUserInterface(&scripted);
    EXPECT_EQ(Ui().ShowMessage("File x exists", "Save", kMbYesNo | kMbTaskModal, nullptr), kIdYes);
    std::string user, password;
    EXPECT_TRUE(Ui().AskAuthorization(AuthorizationPrompt(), user, password, nullptr));
    EXPECT_EQ(user + password, "up");
    EXPECT_EQ(Ui().ShellOpen("x.htm", nullptr), kShellNoAssociation);
    SetUserInterface(nullptr);
    EXPECT_EQ(&Ui(), &PlatformUserInterface());
    ASSERT_EQ(scripted.m_shown.size(), 1u);
    EXPECT_EQ(scripted.m_shown[0], "Save|File x exists|8196");
}

#ifndef _WIN32

namespace {

// Runs `ask` against a terminal interface whose input holds `input` (no input at all when
// `noInput`); returns what it printed.
template <typename Ask>
std::string WithInput(const std::string& input, Ask ask, bool noInput = false) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        return "<pipe failed>";
    if (write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        return "<write failed>";
    close(in[1]);
    CTerminalUserInterface terminal(noInput ? -1 : in[0], out[1]);
    ask(terminal);
    close(in[0]);
    close(out[1]);
    std::string printed;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        printed.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    return printed;
}

}  // namespace

TEST(TerminalUi, QuestionsAnswerFromInputAndDefaultAtItsEnd) {
    struct Case {
        unsigned flags;
        const char* input;
        int expected;
    };
    const Case cases[] = {
        {kMbYesNo, "y\n", kIdYes},
        {kMbYesNo, "YES\r\n", kIdYes},
        {kMbYesNo, " n \n", kIdNo},
        {kMbYesNo, "maybe\n\ny\n", kIdYes},  // asks again until it understands
        {kMbYesNo, "", kIdNo},               // closed input: the safe answer
        {kMbYesNo, "maybe", kIdNo},
        {kMbYesNo | kMbIconQuestion, "y", kIdYes},
        {kMbYesNoCancel, "c\n", kIdCancel},
        {kMbYesNoCancel, "n\n", kIdNo},
        {kMbYesNoCancel, "", kIdCancel},
        {kMbOkCancel, "o\n", kIdOk},
        {kMbOkCancel, "cancel\n", kIdCancel},
        {kMbOkCancel, "", kIdCancel},
        {kMbOk | kMbIconError, "", kIdOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.flags << " '" << c.input << "'");
        int answer = -1;
        std::string printed = WithInput(c.input, [&](IUserInterface& ui) {
            answer = ui.ShowMessage("File a.htm already exists.\r\nDo you want to replace it?",
                                    "Save", c.flags, nullptr);
        });
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(printed.find("Save: File a.htm already exists.\nDo you want to replace it?"), 0u)
            << printed;
    }
    // A plain message reads nothing: the input stays for the next question.
    int first = 0, second = 0;
    WithInput("y\n", [&](IUserInterface& ui) {
        first = ui.ShowMessage("Done", "Extractor", kMbOk, nullptr);
        second = ui.ShowMessage("Again?", "Extractor", kMbYesNo, nullptr);
    });
    EXPECT_EQ(first, kIdOk);
    EXPECT_EQ(second, kIdYes);
    // No input at all: nothing is asked, nothing is printed, the safe answer is given.
    std::string printed = WithInput(
        "y\n",
        [](IUserInterface& none) {
            EXPECT_EQ(none.ShowMessage("q", "c", kMbYesNo, nullptr), kIdNo);
            EXPECT_EQ(none.ShowMessage("q", "c", kMbYesNoCancel, nullptr), kIdCancel);
            std::string user, password;
            EXPECT_FALSE(none.AskAuthorization(AuthorizationPrompt(), user, password, nullptr));
            EXPECT_FALSE(none.AskPassword(PasswordPrompt(), password, nullptr));
            // A failure is its one line, the box's text aside, whatever the line holds.
            none.ShowFailure("Box text\r\n\r\nThe cause.",
                             "cannot fetch http://h/a\x1b[2J\nb: why.", "quillbox", kMbOk, nullptr);
        },
        true);
    EXPECT_EQ(printed, "quillbox: cannot fetch http://h/a\\x1b[2J\\x0ab: why.\n");
}

TEST(TerminalUi, PromptsReadLinesAndCancelAtTheEnd) {
    std::string user, password;
    bool ok = false;
    std::string printed = WithInput("alice\r\nse cret\n", [&](IUserInterface& ui) {
        AuthorizationPrompt prompt;
        prompt.server = "www.example.com";
        ok = ui.AskAuthorization(prompt, user, password, nullptr);
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "se cret");
    EXPECT_NE(printed.find("Authorization Required (www.example.com)"), std::string::npos);
    EXPECT_NE(printed.find("Username:"), std::string::npos);
    EXPECT_EQ(printed.find('&'), std::string::npos);

    WithInput("alice\n", [&](IUserInterface& ui) {
        ok = ui.AskAuthorization(AuthorizationPrompt(), user, password, nullptr);
    });
    EXPECT_FALSE(ok);

    PasswordPrompt prompt;
    prompt.emptyMessage = "Please enter the password and then click OK.";
    prompt.maxLength = 4;
    std::string typed;
    printed = WithInput("\nabcdef\n",
                        [&](IUserInterface& ui) { ok = ui.AskPassword(prompt, typed, nullptr); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(typed, "abcd");
    EXPECT_NE(printed.find("Error: Please enter the password and then click OK."),
              std::string::npos);
    WithInput("\n", [&](IUserInterface& ui) { ok = ui.AskPassword(prompt, typed, nullptr); });
    EXPECT_FALSE(ok);
    prompt.emptyMessage.clear();
    WithInput("\n", [&](IUserInterface& ui) { ok = ui.AskPassword(prompt, typed, nullptr); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(typed, "");
}

TEST(TerminalUi, ShellOpenUsesXdgOpenFromPath) {
    ScratchFolder dir;
    ASSERT_FALSE(dir.Path().empty());
    std::string log = dir / "opened";
    // A stand-in xdg-open that records its argument and exits with $FAKE_RC.
    std::string script = "#!/bin/sh\nprintf '%s' \"$1\" > '" + log + "'\nexit ${FAKE_RC:-0}\n";
    ASSERT_TRUE(ScratchFolder::Write(dir / "xdg-open", script));
    ASSERT_EQ(chmod((dir / "xdg-open").c_str(), 0755), 0);
    const char* oldPath = std::getenv("PATH");
    std::string savedPath = oldPath ? oldPath : "";
    setenv("PATH", (dir.Path() + ":" + savedPath).c_str(), 1);

    struct Case {
        const char* rc;
        const char* target;
        bool success;
        intptr_t failure;
        const char* recorded;
    };
    const Case cases[] = {
        {"0", "/tmp/x/index.htm", true, 0, "/tmp/x/index.htm"},
        {"0", "-odd.htm", true, 0, "./-odd.htm"},
        {"2", "/tmp/none.htm", false, kShellFileNotFound, "/tmp/none.htm"},
        {"3", "/tmp/a.xyz", false, kShellNoAssociation, "/tmp/a.xyz"},
        {"4", "/tmp/a.xyz", false, kShellNoAssociation, "/tmp/a.xyz"},
    };
    CTerminalUserInterface terminal(-1, -1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rc << " " << c.target);
        setenv("FAKE_RC", c.rc, 1);
        FileRemove(log);
        intptr_t rc = terminal.ShellOpen(c.target, nullptr);
        if (c.success)
            EXPECT_GT(rc, kShellOpenOk);
        else
            EXPECT_EQ(rc, c.failure);
        EXPECT_EQ(ScratchFolder::Read(log), c.recorded);
    }
    // No xdg-open anywhere: nothing can open it.
    setenv("PATH", (dir / "empty").c_str(), 1);
    EXPECT_EQ(terminal.ShellOpen("/tmp/x.htm", nullptr), kShellNoAssociation);
    setenv("PATH", savedPath.c_str(), 1);
    unsetenv("FAKE_RC");
}

TEST(TerminalUi, RunAndWaitWaitsForTheProgramToEnd) {
    ScratchFolder dir;
    std::string marker = dir / "ended";
    std::string program = dir / "prog";
    ASSERT_TRUE(ScratchFolder::Write(
        program, "#!/bin/sh\nsleep 0.3\necho done > '" + marker + "'\nexit 3\n"));
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    CTerminalUserInterface terminal(-1, -1);
    EXPECT_TRUE(terminal.RunAndWait(program));  // started counts, whatever the exit code
    EXPECT_EQ(ScratchFolder::Read(marker), "done\n");

    ASSERT_TRUE(ScratchFolder::Write(dir / "page.exe", "MZ not for this system"));
    ASSERT_EQ(chmod((dir / "page.exe").c_str(), 0755), 0);
    EXPECT_FALSE(terminal.RunAndWait(dir / "page.exe"));
    ASSERT_TRUE(ScratchFolder::Write(dir / "plain", "#!/bin/sh\n"));
    EXPECT_FALSE(terminal.RunAndWait(dir / "plain"));  // not executable
    EXPECT_FALSE(terminal.RunAndWait(dir / "missing"));
}

#else

TEST(WindowsUi, RunAndWaitAndShellOpenResults) {
    IUserInterface& ui = PlatformUserInterface();
    std::string hostname = JoinPath(GetWindowsFolder(), "system32\\hostname.exe");
    ASSERT_TRUE(FileExists(hostname)) << hostname;
    EXPECT_TRUE(ui.RunAndWait(hostname));
    EXPECT_FALSE(ui.RunAndWait(JoinPath(GetWindowsFolder(), "no-such-program.exe")));

    ScratchFolder dir;
    EXPECT_LE(ui.ShellOpen(dir / "missing.htm", nullptr), kShellOpenOk);
}

#endif
