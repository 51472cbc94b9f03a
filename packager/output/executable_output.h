// The executable output: a copy of the extractor program with the capture as one cabinet
// behind it (the archive builder's layout). The default kind.
#pragma once

#include <memory>
#include <string>

#include "cabinet/format/cabinet_format.h"
#include "packager/output/output.h"

class ArchiveBuilder;

// The most files one executable holds: every file is a cabinet folder of its own, and the
// folder indices stop below the continuation marks. Past it the writer refuses the file
// and the user is told "Too many files for one archive.".
constexpr size_t kCabinetMaxFiles = kCabMaxFolders;

class CExecutableOutput : public COutput {
  public:
    explicit CExecutableOutput(const COutputContext& context);
    ~CExecutableOutput() override;

    bool Begin(const std::string& outputPath) override;
    // The file must lie in the capture under its capture name (the cabinet stores that
    // name).
    bool AddFile(const std::string& captureName, const std::string& sourcePath) override;
    bool MarkMainPage(const std::string& captureName) override;
    // Compresses; on failure the user is told "Failed to write the file." as always.
    bool Finish() override;
    void Abort() override;
    size_t MaxFiles() const override;

  private:
    COutputContext m_context;
    std::unique_ptr<ArchiveBuilder> m_pBuilder;
};
