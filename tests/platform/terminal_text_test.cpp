#include <gtest/gtest.h>

#include <string>

#include "platform/terminal_text.h"

using platform::EscapeControls;

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
