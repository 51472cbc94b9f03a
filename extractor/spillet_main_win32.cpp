// spillet on Windows: the windowed extractor at the head of every self-extracting executable.
#include <windows.h>

#include "extractor/extraction.h"
#include "extractor/host.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    auto host = spillet::MakeSystemHost(0, nullptr);
    return spillet::RunExtractor(*host);
}
