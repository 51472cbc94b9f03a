// Bitmap header arithmetic, palettes, the safety check on broken pictures, and the
// main window's tab order.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "packager/widgets/control_list.h"
#include "packager/widgets/dib_layout.h"

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A packed bitmap: header, `tableEntries` colour-table entries (entry i is
// blue i, green 2i, red 3i), then `pixelBytes` bytes of rows.
std::vector<uint8_t> Packed(int32_t width, int32_t height, uint16_t bits, uint32_t clrUsed,
                            uint32_t tableEntries, size_t pixelBytes, uint32_t compression = 0,
                            uint32_t sizeImage = 0) {
    std::vector<uint8_t> b(40 + 4 * tableEntries + pixelBytes, 0);
    Put32(b, 0, 40);
    Put32(b, 4, static_cast<uint32_t>(width));
    Put32(b, 8, static_cast<uint32_t>(height));
    b[12] = 1;
    b[14] = static_cast<uint8_t>(bits);
    b[15] = static_cast<uint8_t>(bits >> 8);
    Put32(b, 16, compression);
    Put32(b, 20, sizeImage);
    Put32(b, 32, clrUsed);
    for (uint32_t i = 0; i < tableEntries; ++i) {
        b[40 + 4 * i] = static_cast<uint8_t>(i);
        b[40 + 4 * i + 1] = static_cast<uint8_t>(2 * i);
        b[40 + 4 * i + 2] = static_cast<uint8_t>(3 * i);
    }
    return b;
}

TEST(DibLayout, ColourCountsAndPixelOffsets) {
    struct Case {
        uint16_t bits;
        uint32_t clrUsed;
        uint32_t colours;
        uint64_t offset;
    } cases[] = {
        {1, 0, 2, 48},  {4, 0, 16, 104}, {4, 5, 5, 60},  {8, 0, 256, 1064}, {8, 17, 17, 108},
        {24, 0, 0, 40}, {32, 0, 0, 40},  {24, 3, 3, 52}, {16, 0, 0, 40},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> b = Packed(4, 4, c.bits, c.clrUsed, 0, 0);
        DibInfo info;
        ASSERT_TRUE(ReadDibInfo(b.data(), b.size(), info));
        EXPECT_EQ(DibColorCount(info), c.colours) << c.bits << " bits, " << c.clrUsed << " used";
        EXPECT_EQ(DibPixelOffset(info), c.offset) << c.bits << " bits, " << c.clrUsed << " used";
    }
}

TEST(DibLayout, PalettesFromFourEightAndTwentyFourBitPictures) {
    std::vector<uint8_t> four = Packed(8, 2, 4, 0, 16, 8);
    std::vector<PaletteColor> p4 = DibPalette(four.data(), four.size());
    ASSERT_EQ(p4.size(), 16u);
    // Stored blue, green, red: the palette takes them as red, green, blue.
    EXPECT_EQ(p4[5].red, 15);
    EXPECT_EQ(p4[5].green, 10);
    EXPECT_EQ(p4[5].blue, 5);
    EXPECT_EQ(p4[5].flags, 0);

    std::vector<uint8_t> fourFive = Packed(8, 2, 4, 5, 5, 8);
    EXPECT_EQ(DibPalette(fourFive.data(), fourFive.size()).size(), 5u);

    std::vector<uint8_t> eight = Packed(4, 4, 8, 0, 256, 16);
    std::vector<PaletteColor> p8 = DibPalette(eight.data(), eight.size());
    ASSERT_EQ(p8.size(), 256u);
    EXPECT_EQ(p8[80].red, static_cast<uint8_t>(240));
    EXPECT_EQ(p8[80].blue, 80);

    std::vector<uint8_t> rgb = Packed(4, 4, 24, 0, 0, 48);
    EXPECT_TRUE(DibPalette(rgb.data(), rgb.size()).empty());
}

TEST(DibLayout, BrokenPicturesAreRefusedForDrawing) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool drawable;
    };
    std::vector<uint8_t> headerTooBig = Packed(4, 4, 8, 0, 256, 16);
    Put32(headerTooBig, 0, 100000);
    std::vector<uint8_t> headerTooSmall = Packed(4, 4, 8, 0, 256, 16);
    Put32(headerTooSmall, 0, 12);
    Case cases[] = {
        {"8 bits, complete", Packed(4, 4, 8, 0, 256, 16), true},
        {"4 bits, 5 colours", Packed(8, 2, 4, 5, 5, 8), true},
        {"24 bits, top-down", Packed(4, -4, 24, 0, 0, 48), true},
        {"RLE8 with its size", Packed(4, 4, 8, 0, 256, 10, 1, 10), true},
        {"short header", std::vector<uint8_t>(39, 0), false},
        {"empty", {}, false},
        {"header size past the end", headerTooBig, false},
        {"header size below 40", headerTooSmall, false},
        {"rows cut short", Packed(4, 4, 8, 0, 256, 15), false},
        {"colour table cut short", Packed(4, 4, 8, 0, 100, 0), false},
        {"more colours than 8 bits hold", Packed(1, 1, 8, 1000, 1000, 4), false},
        {"huge dimensions", Packed(100000, 100000, 8, 0, 256, 16), false},
        {"huge colour count", Packed(4, 4, 24, 0xFFFFFFFFu, 0, 48), false},
        {"zero width", Packed(0, 4, 24, 0, 0, 0), false},
        {"zero height", Packed(4, 0, 24, 0, 0, 0), false},
        {"negative width", Packed(-4, 4, 24, 0, 0, 48), false},
        {"odd bit count", Packed(4, 4, 7, 0, 128, 64), false},
        {"RLE8 without a size", Packed(4, 4, 8, 0, 256, 10, 1, 0), false},
        {"RLE8 size past the end", Packed(4, 4, 8, 0, 256, 10, 1, 11), false},
        {"unknown compression", Packed(4, 4, 8, 0, 256, 16, 9), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DibIsDrawable(c.bytes.data(), c.bytes.size()), c.drawable) << c.what;
    std::vector<uint8_t> cut = Packed(4, 4, 8, 0, 100, 0);
    EXPECT_TRUE(DibPalette(cut.data(), cut.size()).empty()) << "a table past the end is no palette";
}

TEST(ControlList, TabAndShiftTabWrapAndFollowTheNotifiedControl) {
    // The main window's order: address box, View, output path, Browse, About, Close, Zip.
    CControlList<int> list;
    for (int id : {1000, 1005, 1002, 1003, 141, 145, 1001})
        list.Append(id);
    EXPECT_EQ(list.FocusIndex(), 0);
    EXPECT_EQ(list.Previous(), 1001) << "Shift+Tab from the address box goes to Zip";
    EXPECT_EQ(list.Next(), 1000) << "Tab from Zip goes to the address box";
    std::vector<int> forward;
    for (int i = 0; i < 7; ++i)
        forward.push_back(list.Next());
    EXPECT_EQ(forward, (std::vector<int>{1005, 1002, 1003, 141, 145, 1001, 1000}));

    // A bitmap button took the focus (message 2024): the index follows it.
    list.FocusNotified(1003);
    EXPECT_EQ(list.FocusIndex(), 3);
    // A click into the output-path box sends nothing; a window outside the list
    // (the banner) leaves the index alone: Tab goes on from Browse.
    list.FocusNotified(0);
    EXPECT_EQ(list.Next(), 141);
    EXPECT_EQ(list.Previous(), 1003);
}

TEST(ControlList, EmptyListFocusesNothing) {
    CControlList<int> list;
    EXPECT_EQ(list.Next(), 0);
    EXPECT_EQ(list.Previous(), 0);
    list.FocusNotified(5);
    EXPECT_EQ(list.FocusIndex(), 0);
}

}  // namespace
