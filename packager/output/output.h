// The outputs of a capture behind one interface, after the pattern of an archive writer's
// formats: one small set of operations per kind, chosen once by the output's name.
//
// A capture is the flat work folder that a grab filled: every file has a bare name there,
// and the main page is one of them. An output is written in this order: Begin, AddFile for
// each file, MarkMainPage, Finish. Nothing is visible at the output path before Finish
// succeeds; Abort (or a failed Finish, or the object going away unfinished) leaves no
// trace and keeps whatever was at the output path before.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class CGrabProgress;

enum class OutputKind {
    Executable,  // NAME.exe: the cabinet behind the extractor head
    Folder,      // DIR/: the files as the executable unpacks them
    SingleHtml,  // NAME.html: one page file, everything it shows inside it
    WebArchive,  // NAME.mhtml: multipart/related, as browsers save and open pages
};

class COutput {
  public:
    virtual ~COutput() = default;
    // Starts an output that is to appear at outputPath. False when it cannot be made
    // there; nothing was written then.
    virtual bool Begin(const std::string& outputPath) = 0;
    // Adds a file: its name in the capture and where it lies now. False when this output
    // cannot take it (a name it cannot hold, a file it cannot read); the output stays
    // usable and the file is simply not part of it.
    virtual bool AddFile(const std::string& captureName, const std::string& sourcePath) = 0;
    // Marks an added file as the page that opens. False when no added file has that name.
    virtual bool MarkMainPage(const std::string& captureName) = 0;
    // Writes the output and puts it at the output path in one step, replacing what was
    // there. False on any failure or cancel; the output path is then as it was, and the
    // user has been told (ShowWriteFailure).
    virtual bool Finish() = 0;
    // Throws away what was begun; the output path stays as it was.
    virtual void Abort() = 0;
    // How many files this kind can hold; a grab for it must not plan more.
    virtual size_t MaxFiles() const;
};

// The kind an output name asks for: a name ending in a path separator is a folder,
// ".html" or ".htm" the single file, ".mhtml" or ".mht" the web archive (any letter case);
// everything else is the executable.
OutputKind OutputKindOf(const std::string& outputPath);

// What the outputs need from their caller. The progress interface sees the executable's
// compression (and may cancel it); null: nobody watches.
struct COutputContext {
    CGrabProgress* pProgress = nullptr;
    // The extractor program the executable starts with; empty: the installed one.
    std::string strExtractorTemplate;
};

std::unique_ptr<COutput> CreateOutput(OutputKind kind, const COutputContext& context);

// Writes the capture in the folder of mainPagePath to output: every file of the folder
// in listing order (the folder's lock, subfolders and what the output refuses are left
// out), the main page marked. Aborts the output on failure, which the user has then been
// told of. True when it was finished.
bool WriteCapture(COutput& output, const std::string& outputPath, const std::string& mainPagePath);

// Whether a capture name is one bare file name that can be put into a folder as it
// stands: not empty, not "." or "..", no separator, drive colon or control character,
// at most 255 bytes.
bool IsSafeCaptureName(const std::string& name);

// Tells the user that the output could not be written ("Failed to write the file.").
void ShowWriteFailure();
