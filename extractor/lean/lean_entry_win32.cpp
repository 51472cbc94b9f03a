// The windowed extractor's entry point, in place of the C runtime's start-up code. That code
// prepares what this program never uses (the argument vector, thread-local storage, imported
// data fixed up at load time, floating-point and error-reporting modes) and costs about a
// tenth of a head that every packaged page carries. The runtime library itself initialises
// inside its own DLL; what is left to do here is to run the constructors of static objects,
// then the program, then the functions registered to run at exit.
#include <windows.h>

#include <cstdlib>

extern "C" void __main();  // the constructors of static objects, from the GCC support library

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

namespace {

// Static objects register their destructors here. The runtime DLL's own atexit would be
// reached through an import that the start-up code fixes up at load time, which is gone.
constexpr int kMaxAtExit = 32;
void (*g_atExit[kMaxAtExit])();
int g_atExitCount = 0;

}  // namespace

extern "C" int atexit(void (*function)()) {
    if (g_atExitCount == kMaxAtExit) {
        return -1;
    }
    g_atExit[g_atExitCount++] = function;
    return 0;
}

// The loader calls the entry with a stack that is only 4-byte aligned on 32-bit Windows.
extern "C" __attribute__((force_align_arg_pointer)) void SpilletEntry() {
    __main();
    char none[] = "";
    const int result = WinMain(GetModuleHandleA(nullptr), nullptr, none, SW_SHOWDEFAULT);
    while (g_atExitCount > 0) {
        g_atExit[--g_atExitCount]();
    }
    ExitProcess(static_cast<UINT>(result));
}
