// The windowed spillet.exe run as "spillet.exe input_file output_dir": files byte for byte,
// creation and write times from the stored local time, attributes, and the marked file
// opened through the shell. Needs a display (the splash and progress windows).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "extractor/extractor_text.h"
#include "extractor/res/resource.h"
#include "extractor/splash_picture.h"
#include "sfx_fixture.h"

namespace fs = std::filesystem;
using sfxtest::Bytes;
using sfxtest::Entry;

namespace {

// The build passes the program's path as the host system spells it; under Wine that is a
// Unix path, reachable through drive Z:.
std::string ProgramPath() {
    std::string p = QB_SPILLET;
    if (!p.empty() && p[0] == '/') {
        p = "Z:" + p;
    }
    for (char& c : p) {
        if (c == '/') {
            c = '\\';
        }
    }
    return p;
}

FILETIME Expected(uint16_t date, uint16_t time) {
    FILETIME local{}, utc{};
    EXPECT_TRUE(DosDateTimeToFileTime(date, time, &local));
    EXPECT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    return utc;
}

bool Same(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

TEST(WindowsSpillet, UnpacksTimesAttributesAndOpensTheMarkedFile) {
    fs::path root = sfxtest::FreshFolder("wine-e2e");
    fs::path out = root / "out";
    std::string picture(40000, '\0');
    for (size_t i = 0; i < picture.size(); ++i) {
        picture[i] = static_cast<char>(i * 31 + (i >> 9));
    }
    // The marked file is a batch file, so that "opened with the shell" leaves a trace.
    std::string batch = "@echo off\r\necho launched> \"%~dp0marker.txt\"\r\n";
    Entry readOnly{"notes.txt", "read only", 0x21};
    Entry image{"images/b.gif", picture, 0x20};
    image.date = (1999 - 1980) << 9 | 12 << 5 | 31;
    image.time = 23 << 11 | 59 << 5 | 58 / 2;
    Entry launch{"run.bat", batch, 0x60};
    fs::path sfx = root / "page.exe";
    sfxtest::WriteFile(sfx, sfxtest::MakeSfx(sfxtest::MakeHead(ProgramPath()),
                                             sfxtest::MakeCabinet({readOnly, image, launch})));

    std::string command =
        "\"" + ProgramPath() + "\" \"" + sfx.string() + "\" \"" + out.string() + "\"";
    STARTUPINFOA start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &start, &process))
        << command;
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    for (const Entry* e : {&readOnly, &image, &launch}) {
        fs::path got = out / fs::path(e->name).make_preferred();
        EXPECT_EQ(sfxtest::ReadText(got), e->content) << e->name;
        EXPECT_EQ(GetFileAttributesA(got.string().c_str()) & 0x27u, e->attributes & 0x27u)
            << e->name;
        HANDLE h = CreateFileA(got.string().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << e->name;
        FILETIME created{}, accessed{}, written{};
        EXPECT_TRUE(GetFileTime(h, &created, &accessed, &written));
        CloseHandle(h);
        FILETIME want = Expected(e->date, e->time);
        EXPECT_TRUE(Same(written, want)) << e->name;
        EXPECT_TRUE(Same(created, want)) << e->name;
    }
    // The shell runs the batch file on its own; give it a while to leave its marker.
    fs::path marker = out / "marker.txt";
    for (int i = 0; i < 200 && !fs::exists(marker); ++i) {
        Sleep(100);
    }
    EXPECT_TRUE(fs::exists(marker));

    SetFileAttributesA((out / "notes.txt").string().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::error_code ec;
    fs::remove_all(root, ec);
}

// The program's resources: the texts in both languages match the driver's table, the splash
// picture has the promised shape, the dialogs and icon are there.
TEST(WindowsSpillet, ResourcesHoldTheStringsPictureDialogsAndIcon) {
    HMODULE m = LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(m, nullptr);
    for (WORD language :
         {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)}) {
        // Strings live in blocks of 16: ids 1-8 are in block 1.
        HRSRC block = FindResourceExA(m, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(1), language);
        ASSERT_NE(block, nullptr) << language;
        const auto* p = static_cast<const WCHAR*>(LockResource(LoadResource(m, block)));
        for (int id = 0; id < 16; ++id) {
            std::string text;
            for (WORD n = *p++; n > 0; --n) {
                text.push_back(static_cast<char>(*p++));
            }
            if (id >= 1 && id <= 8) {
                EXPECT_EQ(text, spillet::DefaultText(id))
                    << "string " << id << " lang " << language;
            }
        }
    }
    // The splash travels deflated and unpacks to the bitmap GDI draws.
    HRSRC packed = FindResourceA(m, MAKEINTRESOURCEA(IDB_SPLASH), MAKEINTRESOURCEA(10));
    ASSERT_NE(packed, nullptr);
    const auto* h = static_cast<const BITMAPINFOHEADER*>(spillet::UnpackSplashPicture(m));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->biWidth, 240);
    EXPECT_EQ(h->biHeight, 166);
    EXPECT_EQ(h->biBitCount, 8);
    // Run-length coded, as GDI draws it, and smaller than the plain pixels.
    EXPECT_EQ(h->biCompression, static_cast<DWORD>(BI_RLE8));
    EXPECT_TRUE(h->biClrUsed == 0 || h->biClrUsed == 256);
    EXPECT_LT(h->biSizeImage, 240u * 166u);
    EXPECT_LT(SizeofResource(m, packed), h->biSize + 256 * 4 + h->biSizeImage);
    EXPECT_NE(FindResourceA(m, MAKEINTRESOURCEA(IDD_PROGRESS), MAKEINTRESOURCEA(5)), nullptr);
    EXPECT_NE(FindResourceA(m, MAKEINTRESOURCEA(IDD_PASSWORD), MAKEINTRESOURCEA(5)), nullptr);
    EXPECT_NE(FindResourceA(m, MAKEINTRESOURCEA(IDI_SPILLET), MAKEINTRESOURCEA(14)), nullptr);
    FreeLibrary(m);
}

}  // namespace
