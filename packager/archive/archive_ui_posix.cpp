#include <cstdio>

#include "packager/archive/archive_ui.h"

void ArchiveShowMessage(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != '\r')
            out += c;
    }
    std::fprintf(stderr, "quillbox: %s\n", out.c_str());
}

ArchiveBusyCursor::ArchiveBusyCursor() {}
ArchiveBusyCursor::~ArchiveBusyCursor() {}
