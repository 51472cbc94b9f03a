// Whether the Zip command can write its executable where the user said, checked before
// anything is fetched, and said precisely when it cannot.
#pragma once

#include <string>

#include "packager/output/output.h"

// Why no output of `kind` can be written at `path`, as one sentence that names the path or
// its folder: no path, an executable whose name does not end in .exe (any letter case), a
// folder where a file is wanted or a file where a folder is wanted, a folder that is
// missing, a folder where nothing can be made. Empty when it can be written. The folder is
// tested by creating the temporary output beside it, as the output will, and removing it
// again: an existing file is never touched.
std::string OutputPathProblem(const std::string& path, OutputKind kind);

// Why the existing output at `path` cannot be replaced (a file that cannot be opened for
// writing; its attributes are cleared first, as the overwrite allows), or empty when it
// can. A folder output was checked whole by OutputPathProblem.
std::string ExistingOutputProblem(const std::string& path, OutputKind kind);
