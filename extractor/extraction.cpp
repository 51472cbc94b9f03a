#include "extractor/extraction.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>

#include "extractor/extractor_text.h"

namespace spillet {
namespace {

// The reader's callbacks take no context value, so the host they reach and the records
// that are alive are program-wide. The extractor runs one extraction at a time.
CExtractorHost* g_host = nullptr;
std::set<SfxHandle*> g_liveHandles;

constexpr int kOpenWriteOnly = 0x0001;
constexpr int kOpenReadWrite = 0x0002;
constexpr int kOpenAppend = 0x0008;
constexpr int kOpenCreate = 0x0100;
constexpr uint32_t kBaseOffset = 124;
constexpr int kUserAborted = 11;
constexpr int kFdiCabinetNotFound = 1;
constexpr size_t kMaxPath = 259;

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) {
        std::vsnprintf(&out[0], out.size() + 1, format, args);
    }
    va_end(args);
    return out;
}

const char* Safe(const char* s) {
    return s ? s : "";
}

SfxHandle* AsRecord(intptr_t handle) {
    auto* record = reinterpret_cast<SfxHandle*>(handle);
    return g_liveHandles.count(record) ? record : nullptr;
}

void* ReaderAlloc(uint32_t size) {
    return std::malloc(size);
}
void ReaderFree(void* block) {
    std::free(block);
}

intptr_t ReaderOpen(const char* path, int flags, int mode) {
    auto* record = new (std::nothrow) SfxHandle;
    if (!record) {
        return -1;
    }
    g_liveHandles.insert(record);
    record->fd = g_host->Open(path, flags, mode);
    if (flags & (kOpenCreate | kOpenWriteOnly | kOpenReadWrite | kOpenAppend)) {
        return reinterpret_cast<intptr_t>(record);
    }
    // A read-only open is the executable itself: the cabinet starts at the base stored at
    // offset 124. A failed read leaves base 0, and the header test then fails.
    unsigned char raw[4] = {0, 0, 0, 0};
    if (g_host->Seek(record->fd, kBaseOffset, 0) == static_cast<long>(kBaseOffset) &&
        g_host->Read(record->fd, raw, 4) == 4) {
        record->base = raw[0] | raw[1] << 8 | raw[2] << 16 | static_cast<uint32_t>(raw[3]) << 24;
    }
    record->translate = true;
    if (record->base > INT32_MAX) {
        // Beyond any file this layout can describe: no position is reachable, so every
        // later read fails like a read past the end.
        record->base = INT32_MAX;
    }
    g_host->Seek(record->fd, static_cast<long>(record->base), 0);
    return reinterpret_cast<intptr_t>(record);
}

int32_t ReaderRead(intptr_t handle, void* buffer, uint32_t count) {
    SfxHandle* record = AsRecord(handle);
    if (!record || record->refused) {
        return -1;
    }
    return static_cast<int32_t>(g_host->Read(record->fd, buffer, count));
}

int32_t ReaderWrite(intptr_t handle, const void* buffer, uint32_t count) {
    SfxHandle* record = AsRecord(handle);
    if (!record || record->refused) {
        return -1;
    }
    return static_cast<int32_t>(g_host->Write(record->fd, buffer, count));
}

int ReaderClose(intptr_t handle) {
    SfxHandle* record = AsRecord(handle);
    if (!record) {
        // Already closed by the notification handler; the reader may close it again after
        // an abort, which must do nothing.
        return 0;
    }
    int result = record->fd >= 0 ? g_host->Close(record->fd) : 0;
    g_liveHandles.erase(record);
    delete record;
    return result;
}

int32_t ReaderSeek(intptr_t handle, int32_t offset, int origin) {
    SfxHandle* record = AsRecord(handle);
    if (!record || record->refused) {
        return -1;
    }
    if (!record->translate) {
        return g_host->Seek(record->fd, offset, origin);
    }
    // Positions stay within the signed 32-bit range of the runtime; a base that would push
    // them past it (a damaged field at 124) fails the seek rather than wrapping around.
    int64_t target = offset;
    if (origin == 0) {
        target += record->base;
        if (target > INT32_MAX) {
            return -1;
        }
    }
    long position = g_host->Seek(record->fd, static_cast<long>(target), origin);
    if (position == -1 || position < static_cast<int64_t>(record->base)) {
        return -1;
    }
    return static_cast<int32_t>(position - static_cast<int64_t>(record->base));
}

int ProgressHookFn(void* hookContext, int kind, const void* value) {
    auto& ctx = *static_cast<ExtractionContext*>(hookContext);
    if (!ctx.progressOpen) {
        return -1;
    }
    if (kind == 2) {
        g_host->SetProgressMessage(
            Format(g_host->LoadText(8).c_str(), static_cast<const char*>(value)));
    } else if (kind == 3) {
        g_host->Trace(Format("bytes processed = %ld, bytes total = %ld\r\n",
                             static_cast<long>(ctx.filesDone), static_cast<long>(ctx.fileCount)));
        uint32_t done = ctx.filesDone < ctx.fileCount ? ctx.filesDone : ctx.fileCount;
        g_host->SetProgressPosition(ctx.fileCount ? static_cast<int>(done * 100 / ctx.fileCount)
                                                  : 100);
        g_host->PumpProgress();
    } else {
        return -1;
    }
    if (!g_host->IsProgressOpen()) {
        ctx.aborted = true;
    }
    return ctx.aborted ? -1 : 1;
}

// Creates every folder level of `name` (backslash-separated, already contained) below
// `folder`; stops at the first level that cannot be made.
void CreateFoldersFor(const std::string& folder, const std::string& name) {
    std::string path = folder;
    size_t start = 0;
    for (size_t end; (end = name.find('\\', start)) != std::string::npos; start = end + 1) {
        path.append(name, start, end - start).push_back('\\');
        if (!g_host->Exists(path) && !g_host->CreateFolder(path)) {
            return;
        }
    }
}

intptr_t OnCopyFile(ExtractionContext& ctx, const FdiNotification& n) {
    g_host->Trace(
        Format("fdintCOPY_FILE\n  file name in cabinet = %s\n  uncompressed file size = %d\n",
               Safe(n.str1), static_cast<int>(n.size)));
    // The name is reported again at fdintCLOSE_FILE_INFO; it carries backslashes from here.
    for (char* c = n.str1; c && *c; ++c) {
        if (*c == '/') {
            *c = '\\';
        }
    }
    std::string name = ContainedName(Safe(n.str1));
    if (name.empty()) {
        // A name that would climb out of the destination (or name nothing): refuse it before
        // touching the disk. The record's writes fail, so the reader stops with a write
        // failure and the user sees the extraction-failure message.
        g_host->Trace(Format("refused '%s': outside the destination folder\n", Safe(n.str1)));
        auto* record = new (std::nothrow) SfxHandle;
        if (!record) {
            return -1;
        }
        record->refused = true;
        g_liveHandles.insert(record);
        return reinterpret_cast<intptr_t>(record);
    }
    CreateFoldersFor(ctx.destinationFolder, name);
    std::string path = ctx.destinationFolder + name;
    if (ctx.progress(ctx.progressContext, 2, name.c_str()) == -1) {
        return -1;
    }
    if (path.find("index.htm") != std::string::npos && g_host->Exists(path) &&
        !g_host->AskYesNo(Format(kOverwriteQuestion, path.c_str()), kTitleSave)) {
        return -1;
    }
    return ReaderOpen(path.c_str(), 0x8321, 0x0180);
}

intptr_t OnCloseFile(ExtractionContext& ctx, const FdiNotification& n) {
    g_host->Trace(Format("fdintCLOSE_FILE_INFO\n   file name in cabinet = %s, run = %d\n\n",
                         Safe(n.str1), static_cast<int>(n.size)));
    SfxHandle* record = AsRecord(n.handle);
    bool refused = record && record->refused;
    ReaderClose(n.handle);
    std::string name = ContainedName(Safe(n.str1));
    if (refused || name.empty()) {
        return 0;  // a refused entry of size 0: fail as a write failure, like any other
    }
    std::string path = ctx.destinationFolder + name;
    int result = 1;
    if (g_host->SetDosTime(path, n.date, n.time)) {
        ++ctx.filesDone;
        result = ctx.progress(ctx.progressContext, 3, &ctx.filesDone);
    }
    g_host->SetAttributes(path, n.attributes & 0x27);
    if (n.size) {
        ctx.launchList.push_back(path.substr(0, kMaxPath));
    }
    return result;
}

intptr_t NotifyFn(int type, FdiNotification* n) {
    auto& ctx = *static_cast<ExtractionContext*>(n->context);
    switch (type) {
        case fdintCABINET_INFO:
            g_host->Trace(Format(
                "fdintCABINET_INFO\n  next cabinet     = %s\n  next disk        = %s\n  cabinet "
                "path     = %s\n  cabinet set ID   = %d\n  cabinet # in set = %d (zero "
                "based)\n\n",
                Safe(n->str1), Safe(n->str2), Safe(n->str3), n->setId, n->cabinetIndex));
            return 0;
        case fdintPARTIAL_FILE:
            g_host->Trace(
                Format("fdintPARTIAL_FILE\n   name of continued file            = "
                       "%s\n   name of cabinet where file starts = %s\n   name of "
                       "disk where file starts    = %s\n",
                       Safe(n->str1), Safe(n->str2), Safe(n->str3)));
            return 0;
        case fdintCOPY_FILE:
            return OnCopyFile(ctx, *n);
        case fdintCLOSE_FILE_INFO:
            return OnCloseFile(ctx, *n);
        case fdintNEXT_CABINET:
            g_host->Trace(
                Format("fdintNEXT_CABINET\n   name of next cabinet where file continued "
                       "= %s\n   name of next disk where file continued    = %s\n   "
                       "cabinet path name                         = %s\n\n",
                       Safe(n->str1), Safe(n->str2), Safe(n->str3)));
            // The reader asks again for as long as the answer is not -1; with nobody to
            // change disks, a next cabinet that is not there on the first attempt never
            // will be, and asking forever would hang on a damaged archive.
            if (n->retryError != 0) {
                ctx.nextCabinetMissing = true;
                return -1;
            }
            return 0;
        default:
            return 0;
    }
}

bool PasswordGate(const char* stored, size_t storedSize) {
    std::string password;
    if (!g_host->AskPassword(password)) {
        return false;
    }
    if (password.size() > kMaxPath) {
        password.resize(kMaxPath);
    }
    if (PasswordMatches(stored, storedSize, password)) {
        return true;
    }
    g_host->Message(g_host->LoadText(2), kTitleError);
    return false;
}

int32_t DecryptFn(FdiDecrypt* d) {
    switch (d->kind) {
        case DecryptNewCabinet: {
            const char* area = static_cast<const char*>(d->cabinet.headerReserve);
            size_t size = d->cabinet.headerReserveSize;
            size_t length = 0;
            while (area && length < size && area[length] != '\0') {
                ++length;
            }
            g_host->Trace("Decrypting New Cabinet\n");
            g_host->Trace(Format("Size is %d and buffer is %s\n", static_cast<int>(size),
                                 area ? std::string(area, length).c_str() : ""));
            if (area && length > 0 && !PasswordGate(area, size)) {
                return -1;
            }
            return 0;
        }
        case DecryptNewFolder:
            g_host->Trace("Decrypting New Folder\n");
            g_host->Trace(Format("Size is %d\n", static_cast<int>(d->folder.folderReserveSize)));
            return 0;
        case DecryptDataBlock:
            g_host->Trace("Decrypting Data block\n");
            return 0;
        default:
            return 0;
    }
}

void DestroyReader(ExtractionContext& ctx) {
    if (ctx.reader && !FDIDestroy(ctx.reader)) {
        g_host->Trace(Format("FDIDestroy() failed: code %d [%s]\n", ctx.error.code,
                             FDIErrorText(ctx.error.code)));
    }
    ctx.reader = nullptr;
}

bool EndsInSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

}  // namespace

std::string CExtractorHost::LoadText(int id) {
    return DefaultText(id);
}

uint32_t OpenCabinet(CExtractorHost& host, ExtractionContext& ctx) {
    g_host = &host;
    ctx.aborted = false;
    ctx.progressOpen = host.OpenProgress(host.LoadText(7), true);
    if (!ctx.progressOpen) {
        return 0;
    }
    if (!EndsInSeparator(ctx.destinationFolder)) {
        ctx.destinationFolder.push_back('\\');
    }
    ctx.reader = FDICreate(ReaderAlloc, ReaderFree, ReaderOpen, ReaderRead, ReaderWrite,
                           ReaderClose, ReaderSeek, 1, &ctx.error);
    if (!ctx.reader) {
        host.Trace(Format("FDICreate() failed: code %d [%s]\n", ctx.error.code,
                          FDIErrorText(ctx.error.code)));
        return 0;
    }
    intptr_t handle = ReaderOpen(ctx.inputPath.c_str(), 0x8020, 0);
    if (handle == -1) {
        host.Trace(Format("Unable to open '%s' for input\n", ctx.inputPath.c_str()));
        DestroyReader(ctx);
        return 0;
    }
    FdiCabinetInfo info{};
    bool isCabinet = FDIIsCabinet(ctx.reader, handle, &info);
    if (isCabinet) {
        host.Trace(
            Format("Information on cabinet file '%s'\n   Total length of cabinet file : "
                   "%d\n   Number of folders in cabinet : %d\n   Number of files in "
                   "cabinet   : %d\n   Cabinet set ID               : %d\n   Cabinet "
                   "number in set        : %d\n   RESERVE area in cabinet?     : %s\n   "
                   "Chained to prev cabinet?     : %s\n   Chained to next cabinet?     : "
                   "%s\n\n",
                   ctx.inputPath.c_str(), static_cast<int>(info.cabinetSize), info.folderCount,
                   info.fileCount, info.setId, info.cabinetIndex, info.hasReserve ? "yes" : "no",
                   info.hasPrevious ? "yes" : "no", info.hasNext ? "yes" : "no"));
        ctx.fileCount = info.fileCount;
    } else {
        host.Trace(Format("FDIIsCabinet() failed: '%s' is not a cabinet\n", ctx.inputPath.c_str()));
    }
    ReaderClose(handle);
    if (!isCabinet || ctx.fileCount == 0) {
        DestroyReader(ctx);
        return 0;
    }
    return ctx.fileCount;
}

bool CopyCabinet(CExtractorHost& host, ExtractionContext& ctx) {
    g_host = &host;
    // A destination named on the command line may not exist yet; make it rather than fail
    // on the first file.
    if (!host.Exists(ctx.destinationFolder)) {
        for (size_t at = ctx.destinationFolder.find_first_of("\\/", 1); at != std::string::npos;
             at = ctx.destinationFolder.find_first_of("\\/", at + 1)) {
            std::string level = ctx.destinationFolder.substr(0, at + 1);
            if (!host.Exists(level)) {
                host.CreateFolder(level);
            }
        }
    }
    size_t slash = ctx.inputPath.find_last_of('\\');
    std::string name = slash == std::string::npos ? ctx.inputPath : ctx.inputPath.substr(slash + 1);
    std::string folder =
        slash == std::string::npos ? std::string() : ctx.inputPath.substr(0, slash + 1);
    ctx.progress = ProgressHookFn;
    ctx.progressContext = &ctx;
    bool ok = FDICopy(ctx.reader, name.c_str(), folder.c_str(), 0, NotifyFn, DecryptFn, &ctx);
    if (!ok) {
        host.Trace(Format("FDICopy() failed: code %d [%s]\n", ctx.error.code,
                          FDIErrorText(ctx.error.code)));
    }
    return ok;
}

void LaunchFile(CExtractorHost& host, const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    size_t dot = path.find_last_of('.');
    std::string extension;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        extension = path.substr(dot);
    }
    std::string upper = extension;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    if (upper == ".EXE" && host.RunAndWait(path)) {
        return;
    }
    if (host.ShellOpen(path)) {
        return;
    }
    if (extension.empty() || !host.AskYesNo(host.LoadText(6), kTitleExtractor)) {
        return;
    }
    std::string target = path;
    if (upper != ".HTML" && upper != ".HTM") {
        target = path.substr(0, path.size() - extension.size()) + ".htm";
        host.Rename(path, target);
    }
    host.ShellOpen(target);
}

int RunExtractor(CExtractorHost& host) {
    g_host = &host;
    host.ShowSplash();
    ExtractionContext ctx;
    ctx.progress = ProgressHookFn;
    ctx.progressContext = &ctx;

    std::string commandLine = host.CommandLine();
    host.Trace(Format("m_pCommandLine = %s\r\n", commandLine.c_str()));
    const char* cursor = commandLine.c_str();
    std::string token;
    if (NextToken(cursor, token)) {
        ctx.inputPath = token;
    }
    host.Trace(Format("default input_file = %s\r\n", ctx.inputPath.c_str()));
    if (NextToken(cursor, token)) {
        ctx.inputPath = token;
        host.Trace(Format("override input_file = %s\r\n", ctx.inputPath.c_str()));
    }
    host.EndSplash();

    ctx.destinationFolder = host.TempFolder();
    if (ctx.destinationFolder.empty()) {
        return 0;
    }
    host.Trace(Format("default dest_dir = %s\r\n", ctx.destinationFolder.c_str()));
    if (NextToken(cursor, token)) {
        ctx.destinationFolder = token;
        host.Trace(Format("override dest_dir = %s\r\n", ctx.destinationFolder.c_str()));
    }
    host.Trace("\r\n");

    // Paths beyond the fixed 259-character fields are refused like missing ones, with the
    // usage text, rather than cut to a different path.
    if (ctx.inputPath.empty() || ctx.destinationFolder.empty() || ctx.inputPath.size() > kMaxPath ||
        ctx.destinationFolder.size() > kMaxPath) {
        host.Message(host.LoadText(3), kTitleError);
        return 0;
    }

    if (OpenCabinet(host, ctx) != 0) {
        if (CopyCabinet(host, ctx)) {
            for (const std::string& path : ctx.launchList) {
                host.Trace(Format("Launch %s\r\n", path.c_str()));
                LaunchFile(host, path);
            }
        } else if (ctx.error.code != kUserAborted || ctx.nextCabinetMissing) {
            // Giving up on a missing next cabinet is no user's choice: say what is wrong.
            int code = ctx.error.code == kUserAborted ? kFdiCabinetNotFound : ctx.error.code;
            host.Message(Format("%s %s", host.LoadText(4).c_str(), FDIErrorText(code)),
                         kTitleError);
        }
        DestroyReader(ctx);
        host.Trace("\r\n");
    }
    if (ctx.progressOpen) {
        host.CloseProgress();
        ctx.progressOpen = false;
    }
    return 0;
}

}  // namespace spillet
