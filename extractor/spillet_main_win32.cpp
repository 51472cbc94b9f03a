// spillet on Windows: the windowed extractor at the head of every self-extracting executable.
#include <windows.h>

#include "extractor/extraction.h"
#include "extractor/host.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    auto host = spillet::MakeSystemHost();
    return spillet::RunExtractor(*host);
}
