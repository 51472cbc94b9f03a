// The archive builder's own "Compressing..." dialog as a user meets it: on screen
// while the files are packed, and its Cancel button ending the packaging with the
// earlier executable kept. A second thread plays the user; the builder's thread
// serves it from the dialog's own message pump. The work folder is locked the way a
// fetch locks it (held open without sharing), so the builder must pass the lock by.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cabinet/format/cabinet_format.h"
#include "cabinet/reader/cabinet_reader.h"
#include "packager/archive/archive_builder.h"
#include "packager/output/output.h"
#include "packager/res/resource.h"
#include "packager/shell/compress_progress.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "tests/fixtures/support/packager_test_support.h"

namespace {

using platform::JoinPath;
using qbtest::Names;
using qbtest::ReadAll;
using qbtest::RecordingUi;
using qbtest::RemoveTree;
using qbtest::WriteAll;

constexpr const char* kDialogClass = "#32770";
constexpr const char* kDialogCaption = "Quillbox Lite!";

// What the user thread saw of the builder's dialog.
struct Sighting {
    HWND dialog = nullptr;
    bool visible = false;
    std::string text;
    bool clicked = false;
};

// Text of a control of another thread; that thread answers from its pump.
std::string ControlText(HWND control) {
    char text[512] = {};
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                             SMTO_NORMAL, 5000, &result))
        return "(no answer)";
    return text;
}

// Waits for the builder thread's progress dialog, notes what it shows and, when asked,
// clicks its Cancel button. Gives up after twenty seconds or once told to stop.
void WatchDialog(DWORD builderThread, bool clickCancel, const std::atomic<bool>& stop,
                 Sighting& seen) {
    for (int i = 0; i < 20000 && !stop; ++i) {
        HWND dialog = FindWindowA(kDialogClass, kDialogCaption);
        if (dialog && GetWindowThreadProcessId(dialog, nullptr) == builderThread &&
            IsWindowVisible(dialog)) {
            seen.dialog = dialog;
            seen.visible = true;
            seen.text = ControlText(GetDlgItem(dialog, IDC_PROGRESS_MESSAGE));
            if (clickCancel) {
                HWND cancel = GetDlgItem(dialog, IDCANCEL);
                seen.clicked = cancel && IsWindowVisible(cancel) && IsWindowEnabled(cancel) &&
                               PostMessageA(cancel, BM_CLICK, 0, 0);
            }
            return;
        }
        Sleep(1);
    }
}

// Bytes no compressor can shrink, so that each file takes a while to pack.
std::string Noise(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data)
        c = static_cast<char>(random() & 0xFF);
    return data;
}

// Names in a folder that start with prefix, in any letter case.
size_t CountStartingWith(const std::string& folder, const char* prefix) {
    size_t n = 0;
    for (const platform::FindData& f : platform::ListFolder(JoinPath(folder, "*")))
        n += _strnicmp(f.name.c_str(), prefix, std::strlen(prefix)) == 0 ? 1 : 0;
    return n;
}

class ArchiveDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = qbtest::MakeTempFolder("qbd");
        ASSERT_FALSE(root.empty());
        work = JoinPath(root, "work");
        ASSERT_TRUE(platform::FolderCreate(work));
        // A stand-in extractor: zero where the cabinet's base goes.
        templ = JoinPath(root, "template.exe");
        WriteAll(templ, std::string(3000, 'x').replace(124, 4, 4, '\0'));
        WriteAll(JoinPath(work, "index.htm"), "<html>the page</html>");
        for (unsigned i = 0; i < 4; ++i)
            WriteAll(JoinPath(work, "noise" + std::to_string(i) + ".bin"), Noise(1 << 20, i));
        out = JoinPath(root, "out.exe");
        WriteAll(out, "MZ an earlier zip " + std::string(5000, 'o'));
        lock = platform::FolderLockTake(work);
        ASSERT_GE(lock, 0);
        platform::SetUserInterface(&ui);
        platform::SetTraceEnabled(false);
    }
    void TearDown() override {
        platform::SetUserInterface(nullptr);
        platform::FolderLockRelease(lock);
        RemoveTree(root);
    }

    // The executable written with a user at the screen; returns the result.
    bool PackWithUser(bool clickCancel, Sighting& seen) {
        std::atomic<bool> stop{false};
        DWORD self = GetCurrentThreadId();
        std::thread user([&] { WatchDialog(self, clickCancel, stop, seen); });
        CCompressProgress dialog;
        COutputContext context;
        context.pProgress = &dialog;
        context.strExtractorTemplate = templ;
        std::unique_ptr<COutput> output = CreateOutput(OutputKind::Executable, context);
        bool result = WriteCapture(*output, out, JoinPath(work, "index.htm"));
        stop = true;
        user.join();
        return result;
    }

    RecordingUi ui;
    std::string root, work, templ, out;
    int lock = -1;
};

TEST_F(ArchiveDialogTest, TheDialogIsOnScreenWhileTheLockedFolderIsPacked) {
    Sighting seen;
    ASSERT_TRUE(PackWithUser(false, seen));
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
    EXPECT_TRUE(seen.visible);
    EXPECT_EQ(0u, seen.text.rfind("Compressing", 0)) << seen.text;
    EXPECT_FALSE(IsWindow(seen.dialog));

    // Every file of the page is in the archive, the lock is not.
    std::string exe = ReadAll(out);
    ASSERT_GT(exe.size(), 128u);
    uint32_t base = CabGet32(reinterpret_cast<const uint8_t*>(exe.data()) + 124);
    ASSERT_LT(base, exe.size());
    CabHeader header = {};
    ASSERT_EQ(kCabFormatOk, CabDecodeHeader(reinterpret_cast<const uint8_t*>(exe.data()) + base,
                                            exe.size() - base, 0, &header));
    EXPECT_EQ(5u, header.fileCount);
    EXPECT_EQ(std::string::npos, exe.find(platform::kFolderLockName));
    EXPECT_EQ(0u, CountStartingWith(work, "cax"));
    EXPECT_EQ(0u, CountStartingWith(root, "qbx"));
}

TEST_F(ArchiveDialogTest, CancelOnTheDialogKeepsTheOldExecutable) {
    std::string before = ReadAll(out);
    Sighting seen;
    EXPECT_FALSE(PackWithUser(true, seen));
    ASSERT_TRUE(seen.visible);
    EXPECT_EQ(0u, seen.text.rfind("Compressing", 0)) << seen.text;
    EXPECT_TRUE(seen.clicked);
    // A cancel is no failure: no message.
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
    EXPECT_FALSE(IsWindow(seen.dialog));
    EXPECT_EQ(before, ReadAll(out));
    EXPECT_EQ((std::vector<std::string>{"out.exe", "template.exe", "work"}), Names(root));
    EXPECT_EQ((std::vector<std::string>{"index.htm", "noise0.bin", "noise1.bin", "noise2.bin",
                                        "noise3.bin", platform::kFolderLockName}),
              Names(work));
}

}  // namespace
