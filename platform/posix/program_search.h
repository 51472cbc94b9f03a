// Finding a program the way a shell does, through the folders of PATH.
#pragma once

#include <string>

namespace platform {

// Whether path names a regular file that this process may run.
bool IsProgramFile(const std::string& path);

// The full path of the first program called name in the folders of PATH (/usr/bin:/bin when
// PATH is not set); empty when there is none. An empty entry would mean the current folder:
// it is not searched, so that a program never runs from wherever the user happens to be.
std::string FindProgramOnPath(const std::string& name);

}  // namespace platform
