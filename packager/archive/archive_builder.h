// Packs a work folder into the self-extracting executable: a copy of the extractor
// program with its length at byte offset 124 and one cabinet behind it. The executable
// output (packager/output) drives it: that is the one way an executable is written.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "cabinet/writer/cabinet_writer.h"
#include "packager/fetch/grab_job.h"

// Offset of the 32-bit little-endian cabinet base inside the extractor copy.
constexpr uint32_t kCabinetBaseOffset = 124;
// Name of the extractor template, appended to the Windows folder.
constexpr const char* kExtractorTemplateName = "ExtractQLBX_Lite.exe";

// Where the extractor template is taken from: the Windows folder, else the folder of
// the packager's own program file. Empty when neither has it.
std::string FindExtractorTemplate();

// One file to store, in folder-scan order.
struct ArchiveEntry {
    std::string sourcePath;  // full path, at most 259 characters
    int32_t compress = 1;    // non-zero: MSZIP
    int32_t runAfterExtract = 0;
};

class ArchiveBuilder {
  public:
    // Compression is reported to progress ("Compressing \"NAME\"", percent of the listed
    // bytes); null: nobody watches and nothing cancels.
    explicit ArchiveBuilder(CGrabProgress* progress = nullptr);
    ~ArchiveBuilder();
    ArchiveBuilder(const ArchiveBuilder&) = delete;
    ArchiveBuilder& operator=(const ArchiveBuilder&) = delete;

    // Lists one file; false (and nothing listed) when its path is too long to be stored.
    bool AddFile(const std::string& sourcePath, bool runAfterExtract);
    // Compresses the listed entries into m_outputPath; false on any failure or cancel.
    bool Compress();
    // Closes a writer still open after a cancel or an early stop, and removes the
    // unfinished executable: the file at outputPath stays as it was.
    void TearDown();

    // Where the template comes from; tests point it elsewhere.
    std::string m_strTemplatePath;
    // Where the writer keeps its temporary files: the folder being packed, so that
    // whatever a killed run leaves goes with that folder. Empty: the platform's
    // temporary folder.
    std::string m_strTempFolder;
    // The executable being written, under a temporary name beside outputPath; it
    // takes the output's name only once it is complete. Empty when none exists.
    std::string m_strPartPath;
    // Set when the writer refused an entry because the cabinet cannot count it.
    bool m_bTooManyFiles = false;

    // Fields in the order the builder keeps them.
    FciContext* m_pWriter = nullptr;
    CabError m_error = {};
    uint32_t m_cabinetBase = 0;
    int32_t m_cabinetHandle = -1;
    void (*m_pfnProgressHook)(ArchiveBuilder* self, uint32_t bytes) = nullptr;
    char m_cabinetPath[260] = {};
    char m_cabinetName[260] = {};
    uint32_t m_compressedTotal = 0;
    uint32_t m_uncompressedTotal = 0;
    CGrabProgress* m_pProgress = nullptr;
    std::string m_strProgressText;
    int32_t m_nPercent = 0;
    std::string m_outputPath;
    std::list<ArchiveEntry> m_entries;
    uint32_t m_totalBytes = 0;
    int32_t m_cancelled = 0;

  private:
    bool AddEntry(const ArchiveEntry& entry);
    // Reports the current text and percent; 0 when the watcher wants to stop.
    int Report();
    // Writes the cabinet behind the extractor under m_strPartPath; true when complete.
    bool WriteArchive();
    void ResetWriter();
    static void ProgressHook(ArchiveBuilder* self, uint32_t bytes);

    // Writer callbacks; the context value is the builder.
    static int32_t OpenFn(const char* path, int32_t flags, int32_t mode, int32_t* error,
                          void* context);
    static int32_t ReadFn(int32_t handle, void* buffer, uint32_t count, int32_t* error,
                          void* context);
    static int32_t WriteFn(int32_t handle, const void* buffer, uint32_t count, int32_t* error,
                           void* context);
    static int32_t CloseFn(int32_t handle, int32_t* error, void* context);
    static int32_t SeekFn(int32_t handle, int32_t offset, int32_t origin, int32_t* error,
                          void* context);
    static int32_t DeleteFn(const char* path, int32_t* error, void* context);
    static bool TempNameFn(char* buffer, int32_t size, void* context);
    static int32_t FilePlacedFn(CabinetParams* params, const char* name, uint32_t size,
                                bool beganInPreviousCabinet, void* context);
    static int32_t NextCabinetFn(CabinetParams* params, uint32_t estimatedSize, void* context);
    static int32_t StatusFn(int32_t kind, uint32_t value1, uint32_t value2, void* context);
    static int32_t OpenInfoFn(const char* path, uint16_t* date, uint16_t* time,
                              uint16_t* attributes, int32_t* error, void* context);
};
