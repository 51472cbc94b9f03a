#include <gtest/gtest.h>

#include <string>

#include "platform/terminal_text.h"

using platform::EscapeControls;
using platform::FitColumns;
using platform::PlainTraceText;

TEST(EscapeControls, ShowsControlCharactersAsHexAndKeepsTheRest) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"http://host/page.htm", "http://host/page.htm"},
        {"a\x1b[31mred", "a\\x1b[31mred"},
        {"over\rwrite", "over\\x0dwrite"},
        {std::string("nul\0byte", 8), "nul\\x00byte"},
        {"tab\tbell\a del\x7f", "tab\\x09bell\\x07 del\\x7f"},
        {"line one\nline two", "line one\nline two"},
        {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
        {"\x1f\x20", "\\x1f "},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EscapeControls(c.in), c.out) << c.in;
}

TEST(FitColumns, CutsToTheWidthWithoutSplittingACharacter) {
    struct Case {
        std::string in;
        size_t width;
        std::string out;
    } cases[] = {
        {"short", 10, "short"},
        {"exactly10!", 10, "exactly10!"},
        {"Opening http://host/a/very/long/path.htm", 16, "Opening http:..."},
        {"caf\xc3\xa9 caf\xc3\xa9", 8, "caf\xc3\xa9 ..."},  // each é is one column
        {"caf\xc3\xa9", 4, "caf\xc3\xa9"},
        {"abcdef", 3, "..."},
        {"abcdef", 0, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FitColumns(c.in, c.width), c.out) << c.in << " in " << c.width;
}

TEST(PlainTraceText, LinesEndInLineFeedsAndNamesAreShownEscaped) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"m_pCommandLine = spillet\r\n", "m_pCommandLine = spillet\n"},
        {"Compressing:      10 ->       5             \r",
         "Compressing:      10 ->       5"
         "             \n"},
        {"placed file 'a\x1b[2Jb' (size 3)\n", "placed file 'a\\x1b[2Jb' (size 3)\n"},
        {"\r\n\r\n", "\n\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PlainTraceText(c.in), c.out) << c.in;
}
