// How the parts of a grab report progress, whoever listens (the window, the terminal, a test).
#pragma once

#include <cstdint>
#include <string>

// (text, position of 100) -> 0 stop, otherwise go on.
class CGrabProgress {
  public:
    virtual ~CGrabProgress() = default;
    virtual int Report(const std::string& text, int32_t position) = 0;
};
