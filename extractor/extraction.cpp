#include "extractor/extraction.h"

#include <cerrno>
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
ExtractionContext* g_ctx = nullptr;  // the extraction that the reader is running
std::set<SfxHandle*> g_liveHandles;

constexpr int kOpenWriteOnly = 0x0001;
constexpr int kOpenReadWrite = 0x0002;
constexpr int kOpenAppend = 0x0008;
constexpr int kOpenCreate = 0x0100;
// Binary, exclusive, create, sequential, write-only: every extracted file is made anew, so
// it can neither keep an old file's contents or mode nor reach through a link.
constexpr int kOpenFreshOutput = 0x8521;
constexpr int kOutputMode = 0x0180;
constexpr uint32_t kBaseOffset = 124;
constexpr int kUserAborted = 11;
constexpr int kFdiCabinetNotFound = 1;
constexpr size_t kMaxPath = 259;  // the launch list's and the password's fixed fields

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
    if (record->fd >= 0 &&
        g_host->Seek(record->fd, kBaseOffset, 0) == static_cast<long>(kBaseOffset) &&
        g_host->Read(record->fd, raw, 4) == 4) {
        record->base = raw[0] | raw[1] << 8 | raw[2] << 16 | static_cast<uint32_t>(raw[3]) << 24;
    }
    record->translate = true;
    if (record->fd < 0) {
        return reinterpret_cast<intptr_t>(record);  // every read fails; errno tells why
    }
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
    long written = g_host->Write(record->fd, buffer, count);
    if (written != static_cast<long>(count)) {
        if (g_ctx && g_ctx->cause.empty()) {
            std::string reason = written < 0 ? g_host->LastErrorText() : "the disk is full";
            g_ctx->cause =
                Format(kCauseCannotWrite, g_host->NativePath(record->path).c_str(), reason.c_str());
        }
        return -1;
    }
    if (!record->path.empty() && g_ctx) {
        // The reader writes one data block at a time: looking at the progress window after
        // each keeps Cancel prompt even inside one large file.
        g_host->PumpProgress();
        if (!g_host->IsProgressOpen()) {
            g_ctx->aborted = true;
            return -1;
        }
    }
    return static_cast<int32_t>(written);
}

int ReaderClose(intptr_t handle) {
    SfxHandle* record = AsRecord(handle);
    if (!record) {
        // Already closed by the notification handler; the reader may close it again after
        // an abort, which must do nothing.
        return 0;
    }
    int result = record->fd >= 0 ? g_host->Close(record->fd) : 0;
    if (!record->path.empty() && !record->complete) {
        // Closed by the reader before the file was finished: what is there is not the file.
        g_host->RemoveFile(record->path);
    }
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
// `folder`; stops at the first level that cannot be made (the file's creation then fails).
// A level that is a link is never entered: false, with the level in `link`.
bool CreateFoldersFor(const std::string& folder, const std::string& name, std::string& link) {
    std::string path = folder;
    size_t start = 0;
    for (size_t end; (end = name.find('\\', start)) != std::string::npos; start = end + 1) {
        path.append(name, start, end - start);
        if (g_host->IsLink(path)) {
            link = path;
            return false;
        }
        path.push_back('\\');
        if (!g_host->Exists(path)) {
            if (!g_host->CreateFolder(path)) {
                return true;
            }
            if (g_ctx) {
                g_ctx->made.push_back(path);
            }
        }
    }
    return true;
}

// An output handle whose every write fails, so that the reader ends with a write failure
// and the user sees the extraction-failure message; nothing is touched on disk.
intptr_t RefusedOutput(ExtractionContext& ctx, const std::string& cause) {
    if (ctx.cause.empty()) {
        ctx.cause = cause;
    }
    auto* record = new (std::nothrow) SfxHandle;
    if (!record) {
        return -1;
    }
    record->refused = true;
    g_liveHandles.insert(record);
    return reinterpret_cast<intptr_t>(record);
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
        // touching the disk.
        g_host->Trace(Format("refused '%s': outside the destination folder\n", Safe(n.str1)));
        return RefusedOutput(ctx, Format(kCauseOutside, g_host->NativePath(Safe(n.str1)).c_str()));
    }
    std::string link;
    if (!CreateFoldersFor(ctx.destinationFolder, name, link)) {
        return RefusedOutput(ctx, Format(kCauseLink, g_host->NativePath(link).c_str()));
    }
    std::string path = ctx.destinationFolder + name;
    std::string shown = g_host->NativePath(path);
    if (ctx.progress(ctx.progressContext, 2, g_host->NativePath(name).c_str()) == -1) {
        return -1;
    }
    if (g_host->IsLink(path)) {
        return RefusedOutput(ctx, Format(kCauseLink, shown.c_str()));
    }
    if (g_host->Exists(path)) {
        if (path.find("index.htm") != std::string::npos &&
            !g_host->AskYesNo(Format(kOverwriteQuestion, shown.c_str()), kTitleSave)) {
            return -1;
        }
        // Replaced by a new file, never rewritten in place: nothing of the old one (its
        // mode, its other names) carries over.
        if (!g_host->RemoveFile(path)) {
            return RefusedOutput(
                ctx, Format(kCauseCannotReplace, shown.c_str(), g_host->LastErrorText().c_str()));
        }
    }
    int64_t free = g_host->FreeSpace(ctx.destinationFolder);
    if (free >= 0 && n.size > free) {
        return RefusedOutput(ctx,
                             Format(kCauseNoSpace, shown.c_str(), std::to_string(n.size).c_str(),
                                    std::to_string(free).c_str()));
    }
    intptr_t handle = ReaderOpen(path.c_str(), kOpenFreshOutput, kOutputMode);
    SfxHandle* record = AsRecord(handle);
    if (!record) {
        return -1;
    }
    if (record->fd < 0) {
        std::string reason = g_host->LastErrorText();
        ReaderClose(handle);
        return RefusedOutput(ctx, Format(kCauseCannotCreate, shown.c_str(), reason.c_str()));
    }
    record->path = path;
    ctx.made.push_back(path);
    return handle;
}

intptr_t OnCloseFile(ExtractionContext& ctx, const FdiNotification& n) {
    g_host->Trace(Format("fdintCLOSE_FILE_INFO\n   file name in cabinet = %s, run = %d\n\n",
                         Safe(n.str1), static_cast<int>(n.size)));
    SfxHandle* record = AsRecord(n.handle);
    bool refused = record && record->refused;
    if (record) {
        record->complete = true;
    }
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
        // Kept whole: a path cut to a field's length would open some other file.
        ctx.launchList.push_back(path);
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
                ctx.nextCabinet = Safe(n->str1);
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

// Whether the executable was cut before the cabinet it names began: a program file ("MZ")
// whose cabinet base lies past its end.
bool CutBeforeCabinet(CExtractorHost& host, const SfxHandle* record) {
    char head[2] = {0, 0};
    if (!record || record->fd < 0 || record->base == 0 || host.Seek(record->fd, 0, 0) != 0 ||
        host.Read(record->fd, head, 2) != 2 || head[0] != 'M' || head[1] != 'Z') {
        return false;
    }
    long end = host.Seek(record->fd, 0, 2);
    return end >= 0 && static_cast<uint64_t>(end) < record->base;
}

bool EndsInSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

}  // namespace

std::string CExtractorHost::LoadText(int id) {
    return DefaultText(id);
}

std::string CExtractorHost::LastErrorText() {
    return std::strerror(errno);
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
    std::string shown = host.NativePath(ctx.inputPath);
    intptr_t handle = ReaderOpen(ctx.inputPath.c_str(), 0x8020, 0);
    if (handle == -1) {
        host.Trace(Format("Unable to open '%s' for input\n", ctx.inputPath.c_str()));
        DestroyReader(ctx);
        return 0;
    }
    if (AsRecord(handle)->fd < 0) {
        ctx.cause = Format(kCauseCannotOpen, shown.c_str(), host.LastErrorText().c_str());
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
        if (ctx.fileCount == 0) {
            ctx.cause = Format(kCauseNoFiles, shown.c_str());
        }
    } else {
        host.Trace(Format("FDIIsCabinet() failed: '%s' is not a cabinet\n", ctx.inputPath.c_str()));
        if (ctx.cause.empty() && ctx.error.code == 3) {
            ctx.cause = Format(kCauseVersion, shown.c_str());
        } else if (ctx.cause.empty()) {
            // A cabinet signature where the base points means a cabinet that was cut short
            // or damaged; anything else was never packaged.
            char signature[4] = {0, 0, 0, 0};
            bool started = ReaderSeek(handle, 0, 0) == 0 && ReaderRead(handle, signature, 4) == 4 &&
                           std::memcmp(signature, "MSCF", 4) == 0;
            started = started || CutBeforeCabinet(host, AsRecord(handle));
            ctx.cause = Format(started ? kCauseCutShort : kCauseNotAnArchive, shown.c_str());
        }
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
    g_ctx = &ctx;
    // A destination named on the command line may not exist yet; make it rather than fail
    // on the first file.
    if (!host.Exists(ctx.destinationFolder)) {
        for (size_t at = ctx.destinationFolder.find_first_of("\\/", 1); at != std::string::npos;
             at = ctx.destinationFolder.find_first_of("\\/", at + 1)) {
            std::string level = ctx.destinationFolder.substr(0, at + 1);
            if (!host.Exists(level) && host.CreateFolder(level)) {
                ctx.made.push_back(level);
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
    g_ctx = nullptr;
    return ok;
}

bool LaunchFile(CExtractorHost& host, const std::string& path) {
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
        return true;
    }
    if (host.ShellOpen(path)) {
        return false;
    }
    if (!host.ShellAvailable()) {
        // Nothing here opens pages at all: say where the page is instead of asking.
        host.Message(Format(kNoteNoViewer, host.NativePath(path).c_str()), kTitleExtractor);
        return false;
    }
    // Without an extension there is nothing to ask about: the file goes straight to the
    // browser under an .htm name.
    if (!extension.empty() && !host.AskYesNo(host.LoadText(6), kTitleExtractor)) {
        return false;
    }
    std::string target = path;
    if (upper != ".HTML" && upper != ".HTM") {
        target = path.substr(0, path.size() - extension.size()) + ".htm";
        if (!host.Rename(path, target)) {
            return false;  // opening the .htm name now would show some other file
        }
    }
    host.ShellOpen(target);
    return false;
}

namespace {

// The extraction-failure message: string 4, the reader's text for the code when there is
// one, and the cause on a line of its own.
void ShowFailure(CExtractorHost& host, int code, const std::string& cause) {
    std::string text = host.LoadText(4);
    if (code > 0) {
        text += Format(" %s", FDIErrorText(code));
    }
    if (!cause.empty()) {
        text += "\n" + cause;
    }
    host.Message(text, kTitleError);
}

std::string CauseOfCode(CExtractorHost& host, const ExtractionContext& ctx) {
    std::string input = host.NativePath(ctx.inputPath);
    switch (ctx.error.code) {
        case 3:
            return Format(kCauseVersion, input.c_str());
        case 4:
        case 7:
            return Format(kCauseCutShort, input.c_str());
        case 6:
            return Format(kCauseCompression, input.c_str());
        default:
            return std::string();
    }
}

// Removes what the run made, the latest first, so that each folder is empty when its
// turn comes; a folder that holds anything else stays.
void RemoveMade(CExtractorHost& host, ExtractionContext& ctx) {
    for (auto it = ctx.made.rbegin(); it != ctx.made.rend(); ++it) {
        if (EndsInSeparator(*it)) {
            host.RemoveFolder(*it);
        } else {
            host.RemoveFile(*it);
        }
    }
    ctx.made.clear();
}

// Removes a folder with everything in it. Links are not listed, so nothing they point to
// is touched; a file still open elsewhere stays, and so do a link and the folders that hold
// them: the next run tries again.
void RemoveTree(CExtractorHost& host, const std::string& folder) {
    for (const std::string& name : host.ListFolder(folder)) {
        std::string path = folder + name;
        if (EndsInSeparator(name)) {
            RemoveTree(host, path);
        } else {
            host.RemoveFile(path);
        }
    }
    host.RemoveFolder(folder);
}

// "spillet-" and six more characters: the names MakePrivateFolder gives (a listed name holds
// no separator before the one that marks a folder).
bool IsPrivateFolderName(const std::string& name) {
    return name.size() == 15 && name[14] == '\\' && name.compare(0, 8, "spillet-") == 0;
}

// A page handed to the browser keeps its private folder, as the browser reads it later, and
// nothing tells the user where it is. A day later no browser needs it: the next run takes
// such folders away.
void RemoveEarlierFolders(CExtractorHost& host, const std::string& temp) {
    for (const std::string& name : host.ListFolder(temp, true)) {
        if (IsPrivateFolderName(name)) {
            RemoveTree(host, temp + name);
        }
    }
}

}  // namespace

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

    // Paths beyond what the platform can open are refused like missing ones, with the
    // usage text, rather than cut to a different path.
    size_t limit = host.MaxPath();
    bool explicitFolder = NextToken(cursor, token);
    std::string cause;
    if (ctx.inputPath.empty()) {
        cause = kCauseNoInput;
    } else if (ctx.inputPath.size() > limit) {
        cause = Format(kCauseTooLong, host.NativePath(ctx.inputPath).c_str(),
                       static_cast<unsigned>(limit));
    } else if (explicitFolder && token.empty()) {
        cause = kCauseNoOutput;
    } else if (explicitFolder && token.size() > limit) {
        cause = Format(kCauseTooLong, host.NativePath(token).c_str(), static_cast<unsigned>(limit));
    }
    if (!cause.empty()) {
        host.Message(host.LoadText(3) + "\n" + cause, kTitleError);
        return kExitUsage;
    }

    if (explicitFolder) {
        ctx.destinationFolder = token;
        host.Trace(Format("override dest_dir = %s\r\n", ctx.destinationFolder.c_str()));
    } else {
        // Every run gets a new folder of its own under the temporary folder, so that no
        // package replaces the files of another one (or of an earlier run) there.
        std::string temp = host.TempFolder();
        if (temp.empty()) {
            ShowFailure(host, 0, kCauseNoTempFolder);
            return kExitFailed;
        }
        RemoveEarlierFolders(host, temp);
        ctx.destinationFolder = host.MakePrivateFolder(temp);
        if (ctx.destinationFolder.empty()) {
            ShowFailure(host, 0,
                        Format(kCausePrivateFolder, host.NativePath(temp).c_str(),
                               host.LastErrorText().c_str()));
            return kExitFailed;
        }
        host.Trace(Format("default dest_dir = %s\r\n", ctx.destinationFolder.c_str()));
    }
    host.Trace("\r\n");

    int status = kExitFailed;
    bool cancelled = false;
    // Whether the unpacked copy is still needed after the run: a page handed to the shell
    // is read by the browser later; a program that ran to its end needs it no more.
    bool stillNeeded = false;
    if (OpenCabinet(host, ctx) != 0) {
        if (CopyCabinet(host, ctx)) {
            status = kExitDone;
            stillNeeded = explicitFolder || ctx.launchList.empty();
            for (const std::string& path : ctx.launchList) {
                host.Trace(Format("Launch %s\r\n", path.c_str()));
                if (path.size() > limit) {
                    host.Message(Format(kNoteTooLongToOpen, host.NativePath(path).c_str(),
                                        static_cast<unsigned>(limit),
                                        host.NativePath(ctx.destinationFolder).c_str()),
                                 kTitleExtractor);
                    stillNeeded = true;
                    continue;
                }
                if (!LaunchFile(host, path)) {
                    stillNeeded = true;
                }
            }
            if (stillNeeded) {
                host.Finished(host.NativePath(ctx.destinationFolder));
            }
        } else if (ctx.nextCabinetMissing) {
            // Giving up on a missing next cabinet is no user's choice: say what is wrong.
            ShowFailure(host, kFdiCabinetNotFound,
                        Format(kCauseNextCabinet, ctx.nextCabinet.c_str()));
        } else if (ctx.error.code != kUserAborted && !ctx.aborted) {
            ShowFailure(host, ctx.error.code,
                        ctx.cause.empty() ? CauseOfCode(host, ctx) : ctx.cause);
        }
        // The progress window closed by the user; a refused password or a No to the
        // overwrite question is no Cancel (what was replaced before it is gone anyway).
        cancelled = ctx.aborted;
        DestroyReader(ctx);
        host.Trace("\r\n");
    } else if (ctx.progressOpen) {
        ShowFailure(host, 0, ctx.cause);
    }
    if (ctx.progressOpen) {
        host.CloseProgress();
        ctx.progressOpen = false;
    }
    // A cancel takes back what it unpacked. A private folder nobody will look into goes
    // whole: after a failure, or once the program it held has ended.
    if (cancelled || (!explicitFolder && !stillNeeded)) {
        RemoveMade(host, ctx);
    }
    if (!explicitFolder && !stillNeeded) {
        host.RemoveFolder(ctx.destinationFolder);
    }
    return status;
}

}  // namespace spillet
