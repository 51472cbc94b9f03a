// Whether the Zip command can write its executable where the user said, checked before
// anything is fetched, and said precisely when it cannot.
#pragma once

#include <string>

// Why no executable can be written at `path`, as one sentence that names the path or its
// folder: no path, a name that does not end in .exe (any letter case), a folder, a folder
// that is missing, a folder where no file can be made. Empty when it can be written. The
// folder is tested by creating the temporary output beside it, as packaging will, and
// removing it again: an existing file is never touched.
std::string OutputPathProblem(const std::string& path);

// Why the existing file at `path` cannot be replaced (it cannot be opened for writing),
// or empty when it can; its attributes are cleared first, as the overwrite allows.
std::string ExistingOutputProblem(const std::string& path);
