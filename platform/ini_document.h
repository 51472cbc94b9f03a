// An INI text in the Windows profile-file manner, read and edited in memory.
//
// "[section]" lines open sections, "key=value" lines hold values, lines starting
// with ";" are comments. Names compare without regard to ASCII case; blanks around
// names and values are dropped, and a value loses one pair of matching surrounding
// quotes. Editing keeps every other line (comments included) as it was.
#pragma once

#include <string>
#include <vector>

namespace platform {

class CIniDocument {
  public:
    void Parse(const std::string& text);
    std::string Text() const;

    // The value of `key` in the first section named `section` that holds it.
    bool Find(const std::string& section, const std::string& key, std::string& value) const;
    // Sets or adds a value. false (and nothing changed) for names or values that a
    // profile file cannot hold: line breaks, "=" or a leading "[" or ";" in a key,
    // "]" in a section, empty or blank-edged names.
    bool Set(const std::string& section, const std::string& key, const std::string& value);

  private:
    struct Line {
        std::string text;     // as stored
        std::string section;  // the section this line belongs to (headers: their own)
        std::string key;      // for value lines
        std::string value;    // for value lines, unquoted
        bool header = false;
        bool entry = false;
    };
    std::vector<Line> m_lines;
};

// ASCII-only, case-insensitive equality, as the profile functions compare names.
bool EqualNoCase(const std::string& a, const std::string& b);

}  // namespace platform
