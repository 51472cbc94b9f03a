// What the harnesses share: a property that must hold ends the run where libFuzzer sees
// it, and addresses compared without regard to case.
#pragma once

#include <cctype>
#include <cstdlib>
#include <string>

inline void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

inline std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}
