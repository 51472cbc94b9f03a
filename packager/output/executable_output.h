// The executable output: a copy of the extractor program with the capture as one cabinet
// behind it (the archive builder's layout). The default kind.
#pragma once

#include <memory>
#include <string>

#include "packager/output/output.h"

class ArchiveBuilder;

// A cabinet counts its files in 16 bits.
constexpr size_t kCabinetMaxFiles = 65535;

class CExecutableOutput : public COutput {
  public:
    explicit CExecutableOutput(const COutputContext& context);
    ~CExecutableOutput() override;

    bool Begin(const std::string& outputPath) override;
    // The file must lie in the capture under its capture name (the cabinet stores that
    // name); at most kCabinetMaxFiles files.
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
