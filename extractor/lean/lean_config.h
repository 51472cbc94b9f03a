// Included ahead of every source of the windowed extractor (see extractor/CMakeLists.txt).
//
// The C++ library normally declares std::string's members as instantiated inside the library
// itself. Its copy of them is built with exceptions and drags in the unwinder, the terminate
// handler and its name demangler (about 150 KB in a program of 100 KB). Withdrawing that
// declaration for strings only (the library's own value -1, also used by its assertion mode)
// makes each source instantiate the members it calls, built with the extractor's flags.
#pragma once

#include <bits/c++config.h>

#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
