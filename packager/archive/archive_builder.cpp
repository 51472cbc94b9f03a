#include "packager/archive/archive_builder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "packager/archive/archive_ui.h"
#include "platform/files.h"
#include "platform/trace.h"

namespace {

// Every file of a zip is its own folder and the limits are far beyond what a page
// needs, so a zip always yields exactly one cabinet.
constexpr uint32_t kNoLimit = 0x7FFFFFFF;
constexpr uint16_t kSetId = 65432;
constexpr const char* kDiskName = "Calder";
constexpr const char* kTooManyFiles = "Too many files for one archive.";
// Fields of 260 characters, NUL included.
constexpr size_t kMaxPath = 259;

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

// Folder part including its trailing separator, and the name after it.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    size_t i = path.size();
    while (i > 0 && !IsSeparator(path[i - 1]))
        --i;
    folder = path.substr(0, i);
    name = path.substr(i);
}

// The stored name: the part after the last separator.
std::string BareName(const std::string& path) {
    std::string folder, name;
    SplitPath(path, folder, name);
    return name;
}

// Copies text into a fixed field, cut to fit; the callers check the length first.
template <size_t N>
void CopyField(char (&field)[N], const char* text) {
    size_t n = std::strlen(text);
    if (n >= N)
        n = N - 1;
    std::memcpy(field, text, n);
    field[n] = '\0';
}

// The output could not be created: the box names the file the user chose.
void ShowCreateFailure(int code, const std::string& path) {
    char text[600];
    std::snprintf(text, sizeof(text),
                  "Could not create self-extracting exe header, err=%d, pszFile=%s", code,
                  path.c_str());
    ArchiveShowMessage(text);
}

void* Alloc(uint32_t size) {
    return ::operator new(size, std::nothrow);
}
void Free(void* block) {
    ::operator delete(block);
}

}  // namespace

std::string FindExtractorTemplate() {
    std::string inWindows =
        platform::JoinPath(platform::GetWindowsFolder(), kExtractorTemplateName);
    if (platform::FileExists(inWindows))
        return inWindows;
    // Users install programs in their own folders: the release layout puts the
    // extractor beside the packager.
    std::string besideProgram =
        platform::JoinPath(platform::FolderOf(platform::GetProgramPath()), kExtractorTemplateName);
    if (platform::FileExists(besideProgram))
        return besideProgram;
    return inWindows;  // reported as missing by the copy
}

ArchiveBuilder::ArchiveBuilder(CGrabProgress* progress)
    : m_strTemplatePath(FindExtractorTemplate()),
      m_pfnProgressHook(&ArchiveBuilder::ProgressHook),
      m_pProgress(progress) {}

ArchiveBuilder::~ArchiveBuilder() {
    TearDown();
}

bool ArchiveBuilder::AddFile(const std::string& sourcePath, bool runAfterExtract) {
    ArchiveEntry entry;
    entry.sourcePath = sourcePath;
    entry.compress = 1;
    entry.runAfterExtract = runAfterExtract ? 1 : 0;
    if (entry.sourcePath.size() > kMaxPath) {
        // Cutting the path would name another file: leave it out instead.
        platform::Trace("Path too long, not stored: %s\n", entry.sourcePath.c_str());
        return false;
    }
    m_entries.push_back(entry);
    // Folders are listed too (the writer refuses them); they count no bytes.
    if (!platform::FolderExists(entry.sourcePath)) {
        int h =
            platform::FileOpen(entry.sourcePath, platform::kOpenReadOnly | platform::kOpenBinary);
        if (h >= 0) {
            long size = platform::FileSeek(h, 0, platform::kSeekEnd);
            if (size > 0)
                m_totalBytes += static_cast<uint32_t>(size);
            platform::FileClose(h);
        }
    }
    return true;
}

void ArchiveBuilder::ResetWriter() {
    m_pWriter = nullptr;
    m_cabinetBase = 0;
    m_cabinetHandle = -1;
}

bool ArchiveBuilder::Compress() {
    if (m_outputPath.empty() || m_entries.empty())
        return false;

    bool result = WriteArchive();
    if (result) {
        // Only a complete executable replaces the old one, and in one step.
        if (!platform::FileReplace(m_strPartPath, m_outputPath)) {
            platform::Trace("Could not replace %s: error %d\n", m_outputPath.c_str(),
                            platform::LastPlatformError());
            result = false;
        } else {
            m_strPartPath.clear();
        }
    }
    if (m_bTooManyFiles)
        ArchiveShowMessage(kTooManyFiles);
    return result;
}

bool ArchiveBuilder::WriteArchive() {
    std::string folder, name;
    SplitPath(m_outputPath, folder, name);
    if (folder.size() >= sizeof(CabinetParams::cabinetPath) ||
        name.size() >= sizeof(CabinetParams::cabinetName) || name.empty()) {
        platform::Trace("Output path too long: %s\n", m_outputPath.c_str());
        return false;
    }
    CopyField(m_cabinetPath, folder.c_str());
    CopyField(m_cabinetName, name.c_str());

    // The old executable is left alone until the new one is complete: the new one
    // is written under a temporary name in the same folder, so that the final
    // rename never crosses volumes. The name is reserved by creating the file.
    std::string part;
    if (platform::TempFileName(folder.empty() ? std::string(".") : folder, "qbx", 0, part) == 0) {
        ShowCreateFailure(platform::LastPlatformError(), m_outputPath);
        return false;
    }
    m_strPartPath = part;
    std::string partFolder, partName;
    SplitPath(part, partFolder, partName);
    if (partFolder.size() >= sizeof(CabinetParams::cabinetPath) ||
        partName.size() >= sizeof(CabinetParams::cabinetName)) {
        platform::Trace("Output path too long: %s\n", part.c_str());
        return false;
    }

    CabinetParams params;
    std::memset(&params, 0, sizeof(params));
    params.maxCabinetSize = kNoLimit;
    params.folderThreshold = kNoLimit;
    params.cabinetNumber = 1;
    params.diskNumber = 0;
    params.setId = kSetId;
    CopyField(params.diskName, kDiskName);
    CopyField(params.cabinetPath, partFolder.c_str());
    CopyField(params.cabinetName, partName.c_str());

    m_pWriter = FCICreate(&m_error, &FilePlacedFn, &Alloc, &Free, &OpenFn, &ReadFn, &WriteFn,
                          &CloseFn, &SeekFn, &DeleteFn, &TempNameFn, &params, this);
    if (!m_pWriter) {
        platform::Trace("FCICreate() failed: code %d [%s]\n", m_error.code,
                        FciErrorText(m_error.code));
        ResetWriter();
        return false;
    }
    for (const ArchiveEntry& entry : m_entries) {
        m_strProgressText = "Compressing \"" + BareName(entry.sourcePath) + "\"";
        // A cancel seen here takes effect after this file, like one seen while it is
        // compressed.
        Report();
        if (!AddEntry(entry) && m_error.code == kFciErrTooManyEntries) {
            // The cabinet cannot count another file: stopping here is the only
            // alternative to an archive whose counts have wrapped.
            m_bTooManyFiles = true;
            return false;
        }
        if (Report() == 0) {
            m_cancelled = 1;
            return false;
        }
    }
    bool flushed = FCIFlushCabinet(m_pWriter, false, &NextCabinetFn, &StatusFn);
    if (!flushed)
        platform::Trace("FCIFlushCabinet() failed: code %d [%s]\n", m_error.code,
                        FciErrorText(m_error.code));
    bool destroyed = FCIDestroy(m_pWriter);
    if (!destroyed)
        platform::Trace("FCIDestroy() failed: code %d [%s]\n", m_error.code,
                        FciErrorText(m_error.code));
    ResetWriter();
    return flushed && destroyed;
}

bool ArchiveBuilder::AddEntry(const ArchiveEntry& entry) {
    std::string stored = BareName(entry.sourcePath);
    if (!FCIAddFile(m_pWriter, entry.sourcePath.c_str(), stored.c_str(), entry.runAfterExtract != 0,
                    &NextCabinetFn, &StatusFn, &OpenInfoFn,
                    entry.compress ? kCabCompressMszip : kCabCompressNone)) {
        platform::Trace("FCIAddFile() failed: code %d [%s]\n", m_error.code,
                        FciErrorText(m_error.code));
        return false;
    }
    // Every file is a folder of its own, so the compressor starts afresh for each.
    if (!FCIFlushFolder(m_pWriter, &NextCabinetFn, &StatusFn))
        platform::Trace("FCIFlushFolder() failed: code %d [%s]\n", m_error.code,
                        FciErrorText(m_error.code));
    return true;
}

void ArchiveBuilder::TearDown() {
    m_entries.clear();
    if (m_pWriter) {
        // Only after a cancel or an early stop. What was added is not finished:
        // the executable would be thrown away below anyway.
        if (!FCIDestroy(m_pWriter))
            platform::Trace("FCIDestroy() failed: code %d [%s]\n", m_error.code,
                            FciErrorText(m_error.code));
        ResetWriter();
    }
    if (!m_strPartPath.empty()) {
        platform::FileRemove(m_strPartPath);
        m_strPartPath.clear();
    }
}

int ArchiveBuilder::Report() {
    return m_pProgress ? m_pProgress->Report(m_strProgressText, m_nPercent) : 1;
}

void ArchiveBuilder::ProgressHook(ArchiveBuilder* self, uint32_t bytes) {
    int percent = 0;
    if (self->m_totalBytes != 0) {
        uint64_t done = bytes < self->m_totalBytes ? bytes : self->m_totalBytes;
        percent = static_cast<int>(done * 100 / self->m_totalBytes);
    }
    self->m_nPercent = percent;
    // The answer is read after the file (the loop in WriteArchive).
    self->Report();
}

int32_t ArchiveBuilder::OpenFn(const char* path, int32_t flags, int32_t mode, int32_t* error,
                               void* context) {
    ArchiveBuilder* self = static_cast<ArchiveBuilder*>(context);
    self->m_cabinetBase = 0;
    self->m_cabinetHandle = -1;
    const int32_t create = platform::kOpenCreate, readWrite = platform::kOpenReadWrite;
    if ((flags & create) && (flags & readWrite) && !(flags & platform::kOpenExclusive)) {
        // The cabinet file itself: it becomes a copy of the extractor with the cabinet
        // written behind it.
        if (!platform::FileCopy(self->m_strTemplatePath, path, false)) {
            int code = platform::LastPlatformError();
            *error = code;
            ShowCreateFailure(code, self->m_outputPath);
            return -1;
        }
        // The template may be read-only where it is installed; the copy must not be.
        platform::SetAttributes(path, platform::kAttrNormal);
        int h = platform::FileOpen(path, flags & ~(platform::kOpenCreate | platform::kOpenTruncate),
                                   mode);
        if (h < 0) {
            *error = errno;
            return -1;
        }
        long end = platform::FileSeek(h, 0, platform::kSeekEnd);
        unsigned char base[4];
        bool ok = end >= 0 && platform::FileSeek(h, kCabinetBaseOffset, platform::kSeekSet) >= 0;
        if (ok) {
            uint32_t b = static_cast<uint32_t>(end);
            base[0] = static_cast<unsigned char>(b);
            base[1] = static_cast<unsigned char>(b >> 8);
            base[2] = static_cast<unsigned char>(b >> 16);
            base[3] = static_cast<unsigned char>(b >> 24);
            ok = platform::FileWrite(h, base, 4) == 4 &&
                 platform::FileSeek(h, 0, platform::kSeekEnd) == end;
        }
        if (!ok || end < static_cast<long>(kCabinetBaseOffset + 4)) {
            // A template too short to hold the base is no extractor.
            *error = errno ? errno : EINVAL;
            platform::FileClose(h);
            return -1;
        }
        self->m_cabinetHandle = h;
        self->m_cabinetBase = static_cast<uint32_t>(end);
        return h;
    }
    int h = platform::FileOpen(path, flags, mode);
    if (h < 0)
        *error = errno;
    return h;
}

int32_t ArchiveBuilder::ReadFn(int32_t handle, void* buffer, uint32_t count, int32_t* error,
                               void*) {
    int n = platform::FileRead(handle, buffer, count);
    if (n < 0)
        *error = errno;
    return n;
}

int32_t ArchiveBuilder::WriteFn(int32_t handle, const void* buffer, uint32_t count, int32_t* error,
                                void*) {
    int n = platform::FileWrite(handle, buffer, count);
    if (n < 0)
        *error = errno;
    return n;
}

int32_t ArchiveBuilder::CloseFn(int32_t handle, int32_t* error, void*) {
    int r = platform::FileClose(handle);
    if (r != 0)
        *error = errno;
    return r;
}

int32_t ArchiveBuilder::SeekFn(int32_t handle, int32_t offset, int32_t origin, int32_t* error,
                               void* context) {
    ArchiveBuilder* self = static_cast<ArchiveBuilder*>(context);
    bool isCabinet = self->m_cabinetHandle >= 0 && handle == self->m_cabinetHandle;
    long where = offset;
    if (isCabinet && origin == platform::kSeekSet)
        where += static_cast<long>(self->m_cabinetBase);
    long pos = platform::FileSeek(handle, where, origin);
    if (pos < 0) {
        *error = errno;
        return -1;
    }
    if (isCabinet)
        pos -= static_cast<long>(self->m_cabinetBase);
    return static_cast<int32_t>(pos);
}

int32_t ArchiveBuilder::DeleteFn(const char* path, int32_t* error, void*) {
    if (!platform::FileRemove(path)) {
        *error = errno;
        return -1;
    }
    return 0;
}

bool ArchiveBuilder::TempNameFn(char* buffer, int32_t size, void* context) {
    ArchiveBuilder* self = static_cast<ArchiveBuilder*>(context);
    std::string folder =
        self->m_strTempFolder.empty() ? platform::GetTempFolder() : self->m_strTempFolder;
    std::string name;
    // The platform creates the file to reserve the name; the writer creates it
    // again exclusively, so it goes at once.
    if (platform::TempFileName(folder, "cax", 0, name) == 0)
        return false;
    platform::FileRemove(name);
    if (size <= 0 || name.size() + 1 > static_cast<size_t>(size))
        return false;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return true;
}

int32_t ArchiveBuilder::FilePlacedFn(CabinetParams*, const char* name, uint32_t size,
                                     bool beganInPreviousCabinet, void* context) {
    ArchiveBuilder* self = static_cast<ArchiveBuilder*>(context);
    platform::Trace("   placed file '%s' (size %d) on cabinet '%s'\n", name, static_cast<int>(size),
                    self->m_cabinetName);
    if (beganInPreviousCabinet)
        platform::Trace("      (Above file is a later segment of a continued file)\n");
    return 0;
}

int32_t ArchiveBuilder::NextCabinetFn(CabinetParams* params, uint32_t, void* context) {
    ArchiveBuilder* self = static_cast<ArchiveBuilder*>(context);
    CopyField(params->cabinetName, BareName(self->m_strPartPath).c_str());
    return 1;
}

int32_t ArchiveBuilder::StatusFn(int32_t kind, uint32_t value1, uint32_t value2, void* context) {
    ArchiveBuilder* self = static_cast<ArchiveBuilder*>(context);
    switch (kind) {
        case kFciStatusBlock:
            self->m_compressedTotal += value1;
            self->m_uncompressedTotal += value2;
            self->m_pfnProgressHook(self, self->m_uncompressedTotal);
            platform::Trace("Compressing: %9ld -> %9ld             \r",
                            static_cast<long>(self->m_uncompressedTotal),
                            static_cast<long>(self->m_compressedTotal));
            break;
        case kFciStatusFolder: {
            while (value1 > 10000000) {
                value1 >>= 3;
                value2 >>= 3;
            }
            int percent = value2 == 0 ? 0 : static_cast<int>(value1 * 100 / value2);
            platform::Trace("Copying folder to cabinet: %d%%      \r", percent);
            break;
        }
        case kFciStatusCabinet:
            self->m_pfnProgressHook(self, 0xFFFFFFFF);
            platform::Trace("Writing cabinet, estimated: %d, actual: %d\r",
                            static_cast<int>(value1), static_cast<int>(value2));
            break;
        default:
            break;
    }
    return 0;
}

int32_t ArchiveBuilder::OpenInfoFn(const char* path, uint16_t* date, uint16_t* time,
                                   uint16_t* attributes, int32_t* error, void*) {
    uint32_t attrs = platform::GetAttributes(path);
    if (attrs == platform::kInvalidAttributes || (attrs & platform::kAttrDirectory)) {
        // "." and ".." and subfolders are listed but never stored.
        *error = platform::LastPlatformError();
        return -1;
    }
    platform::FileTime written = 0;
    if (!platform::GetWriteTime(path, written) ||
        !platform::UtcToDosDateTime(written, *date, *time)) {
        // A time the MS-DOS fields cannot hold (before 1980, after 2107) must not
        // cost the file its place in the archive: store the earliest date.
        *date = (1 << 5) | 1;
        *time = 0;
    }
    *attributes = static_cast<uint16_t>(attrs & kCabAttrFileMask);
    int h = platform::FileOpen(
        path, platform::kOpenReadOnly | platform::kOpenBinary | platform::kOpenSequential);
    if (h < 0)
        *error = errno;
    return h;
}
