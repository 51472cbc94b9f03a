// CDib over real files and a memory device context: what loads, what is refused,
// and that drawing puts the picture's pixels where they belong.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "packager/widgets/dib_win32.h"

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A bitmap file: 14-byte file header, then the packed bitmap.
std::string WriteBmp(const std::string& name, const std::vector<uint8_t>& packed) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof(dir), dir);
    std::string path =
        std::string(dir) + "qb-widgets-" + std::to_string(GetCurrentProcessId()) + "-" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::vector<uint8_t> head(14, 0);
    head[0] = 'B';
    head[1] = 'M';
    std::fwrite(head.data(), 1, head.size(), f);
    std::fwrite(packed.data(), 1, packed.size(), f);
    std::fclose(f);
    return path;
}

// A 2 x 2 picture, rows bottom-up. 24 bits: (blue, green, red) per pixel. 8 bits:
// a 256-entry table where entry i is (i, i, 255 - i).
std::vector<uint8_t> Picture(uint16_t bits) {
    size_t table = bits == 8 ? 256 : 0;
    size_t stride = bits == 8 ? 4 : 8;
    std::vector<uint8_t> b(40 + 4 * table + 2 * stride, 0);
    Put32(b, 0, 40);
    Put32(b, 4, 2);
    Put32(b, 8, 2);
    b[12] = 1;
    b[14] = static_cast<uint8_t>(bits);
    uint8_t* px = b.data() + 40 + 4 * table;
    if (bits == 8) {
        for (size_t i = 0; i < 256; ++i) {
            b[40 + 4 * i] = static_cast<uint8_t>(255 - i);  // blue
            b[40 + 4 * i + 1] = static_cast<uint8_t>(i);
            b[40 + 4 * i + 2] = static_cast<uint8_t>(i);
        }
        px[0] = 10;       // bottom-left
        px[1] = 20;       // bottom-right
        px[4 + 0] = 200;  // top-left
        px[4 + 1] = 0;    // top-right
    } else {
        // bottom row: red, green; top row: blue, white
        const uint8_t rows[2][6] = {{0, 0, 255, 0, 255, 0}, {255, 0, 0, 255, 255, 255}};
        for (int r = 0; r < 2; ++r)
            for (int i = 0; i < 6; ++i)
                px[r * stride + i] = rows[r][i];
    }
    return b;
}

// A 32-bit memory surface to draw into.
struct Surface {
    explicit Surface(int w, int h) : width(w) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        dc = CreateCompatibleDC(nullptr);
        bmp =
            CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        old = SelectObject(dc, bmp);
        for (int i = 0; i < w * h; ++i)
            bits[i] = 0x00808080;
    }
    ~Surface() {
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
    }
    uint32_t At(int x, int y) {
        GdiFlush();
        return bits[y * width + x] & 0xFFFFFF;
    }
    int width;
    HDC dc;
    HBITMAP bmp;
    HGDIOBJ old;
    uint32_t* bits = nullptr;
};

TEST(Dib, LoadsGoodFilesAndRefusesBrokenOnes) {
    CDib dib;
    EXPECT_TRUE(dib.LoadFromFile(WriteBmp("eight.bmp", Picture(8))));
    EXPECT_TRUE(dib.IsLoaded());
    EXPECT_NE(dib.Palette(), nullptr);
    EXPECT_EQ(dib.Width(), 2);
    EXPECT_EQ(dib.Height(), 2);

    // True colour: loads and draws, but no palette, so the load says false.
    EXPECT_FALSE(dib.LoadFromFile(WriteBmp("rgb.bmp", Picture(24))));
    EXPECT_TRUE(dib.IsLoaded());
    EXPECT_EQ(dib.Palette(), nullptr);

    std::vector<uint8_t> cut = Picture(8);
    cut.resize(cut.size() - 3);
    std::vector<uint8_t> huge = Picture(8);
    Put32(huge, 4, 60000);
    Put32(huge, 8, 60000);
    const std::pair<const char*, std::vector<uint8_t>> broken[] = {
        {"short.bmp", std::vector<uint8_t>(10, 0)},
        {"cut.bmp", cut},
        {"huge.bmp", huge},
    };
    for (const auto& b : broken) {
        EXPECT_FALSE(dib.LoadFromFile(WriteBmp(b.first, b.second))) << b.first;
        EXPECT_FALSE(dib.IsLoaded()) << b.first;
        Surface s(4, 4);
        EXPECT_TRUE(dib.Draw(s.dc)) << "drawing nothing succeeds";
        EXPECT_EQ(s.At(0, 0), 0x808080u) << b.first;
    }
    EXPECT_FALSE(dib.LoadFromFile("Z:\\no\\such\\picture.bmp"));
}

TEST(Dib, DrawsOneToOneAndStretched) {
    CDib dib;
    dib.LoadFromFile(WriteBmp("draw.bmp", Picture(24)));
    ASSERT_TRUE(dib.IsLoaded());
    {
        Surface s(4, 4);
        EXPECT_TRUE(dib.Draw(s.dc));
        EXPECT_EQ(s.At(0, 0), 0x0000FFu);  // top-left blue
        EXPECT_EQ(s.At(1, 0), 0xFFFFFFu);
        EXPECT_EQ(s.At(0, 1), 0xFF0000u);  // bottom-left red
        EXPECT_EQ(s.At(1, 1), 0x00FF00u);
        EXPECT_EQ(s.At(2, 2), 0x808080u);
    }
    {
        // Equal sizes: the source's right column to (3, 1).
        Surface s(4, 4);
        EXPECT_TRUE(dib.DrawRect(s.dc, 3, 1, 4, 3, 1, 0, 2, 2));
        EXPECT_EQ(s.At(3, 1), 0xFFFFFFu);
        EXPECT_EQ(s.At(3, 2), 0x00FF00u);
        EXPECT_EQ(s.At(2, 1), 0x808080u);
    }
    {
        // Destination twice the size: the stretching path.
        Surface s(4, 4);
        EXPECT_TRUE(dib.DrawRect(s.dc, 0, 0, 4, 4, 0, 0, 2, 2));
        EXPECT_EQ(s.At(0, 0), 0x0000FFu);
        EXPECT_EQ(s.At(3, 0), 0xFFFFFFu);
        EXPECT_EQ(s.At(0, 3), 0xFF0000u);
        EXPECT_EQ(s.At(3, 3), 0x00FF00u);
    }
    // Nothing loaded: nothing drawn, success.
    CDib empty;
    Surface s(2, 2);
    EXPECT_TRUE(empty.Draw(s.dc));
    EXPECT_TRUE(empty.DrawRect(s.dc, 0, 0, 2, 2, 0, 0, 2, 2));
    EXPECT_EQ(s.At(0, 0), 0x808080u);
}

TEST(Dib, ResourcesThatAreMissingLoadNothing) {
    CDib dib;
    EXPECT_FALSE(dib.LoadFromResource(9999));
    EXPECT_FALSE(dib.IsLoaded());
}

}  // namespace
