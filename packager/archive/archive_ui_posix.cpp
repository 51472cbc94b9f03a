#include "packager/archive/archive_ui.h"

// A terminal has no busy cursor.
ArchiveBusyCursor::ArchiveBusyCursor() {}
ArchiveBusyCursor::~ArchiveBusyCursor() {}
