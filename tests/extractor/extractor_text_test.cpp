// The extractor's pure rules: command-line tokens, the password digit string and the names
// an archive may write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extractor/extractor_text.h"

namespace {

std::vector<std::string> Tokens(const char* line) {
    std::vector<std::string> out;
    std::string token;
    const char* cursor = line;
    while (spillet::NextToken(cursor, token)) {
        out.push_back(token);
    }
    return out;
}

TEST(CommandLine, SplitsOnSpacesAndQuotesOnly) {
    struct Case {
        const char* line;
        std::vector<std::string> tokens;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"\"C:\\Program Files\\page.exe\"", {"C:\\Program Files\\page.exe"}},
        {"spillet in.exe C:\\out", {"spillet", "in.exe", "C:\\out"}},
        {"  a   b  ", {"a", "b"}},
        {"\"a b\"c d", {"a b", "c", "d"}},
        {"\"unterminated quote", {"unterminated quote"}},
        {"\"\" x", {"", "x"}},
        {"tab\there back\\\"slash", {"tab\there", "back\\\"slash"}},
        {"mid\"quote\" z", {"mid\"quote\"", "z"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Tokens(c.line), c.tokens) << c.line;
    }
}

TEST(PasswordDigits, FourDigitsPerByteFromPositionAndSignedValue) {
    struct Case {
        std::string password;
        std::string digits;
    } cases[] = {
        {"", ""},         {"a", "0353"},    {"ab", "03530610"}, {"abc", "035306100867"},
        {"\xE9", "0233"}, {"\x80", "0128"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(spillet::PasswordDigits(c.password), c.digits);
    }
    // Five-digit values keep their last four: 'a' at position 39 is 10337.
    std::string long40 = spillet::PasswordDigits(std::string(39, ' ') + "a");
    ASSERT_EQ(long40.size(), 160u);
    EXPECT_EQ(long40.substr(156), "0337");
    EXPECT_EQ(long40.substr(0, 4), "0288");
}

TEST(PasswordDigits, MatchIsExactOverTheStoredText) {
    const char stored[] = "035306100867";
    EXPECT_TRUE(spillet::PasswordMatches(stored, sizeof stored, "abc"));
    EXPECT_FALSE(spillet::PasswordMatches(stored, sizeof stored, "ab"));
    EXPECT_FALSE(spillet::PasswordMatches(stored, sizeof stored, "abcd"));
    EXPECT_FALSE(spillet::PasswordMatches(stored, sizeof stored, "ABC"));
    EXPECT_FALSE(spillet::PasswordMatches("0353061008679", 13, "abc"));
    // The area ends the text when no NUL does.
    EXPECT_TRUE(spillet::PasswordMatches("03539999", 4, "a"));
}

TEST(ContainedName, StripsLeadingSeparatorsAndRefusesEscapes) {
    struct Case {
        const char* name;
        const char* result;  // "" = refused
    } cases[] = {
        {"index.htm", "index.htm"},
        {"images/a.gif", "images\\a.gif"},
        {"\\a.txt", "a.txt"},
        {"\\\\a\\b.txt", "a\\b.txt"},
        {"..a.txt", "..a.txt"},
        {"a..\\b..c", "a..\\b..c"},
        {".\\a.txt", ".\\a.txt"},
        {"..", ""},
        {"../a", ""},
        {"a/..", ""},
        {"a\\..\\..\\b", ""},
        {"a/.../b", ""},
        {"\\\\\\a", ""},
        {"C:a", ""},
        {"c:\\windows\\a", ""},
        {"a.txt:stream", ""},
        {"", ""},
        {"\\", ""},
        {"dir\\", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(spillet::ContainedName(c.name), c.result) << c.name;
    }
}

}  // namespace
