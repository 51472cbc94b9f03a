// The folder output: the capture's files in a folder of their own, as the executable
// unpacks them (each file under its capture name, with its time). The folder is filled
// under a temporary name beside it and takes the output's name only when complete.
#pragma once

#include <string>
#include <vector>

#include "packager/output/output.h"

class CFolderOutput : public COutput {
  public:
    CFolderOutput() = default;
    ~CFolderOutput() override;

    // outputPath names the folder, with or without its trailing separator.
    bool Begin(const std::string& outputPath) override;
    // Names that are no bare file name (IsSafeCaptureName) are refused: nothing is ever
    // written outside the folder.
    bool AddFile(const std::string& captureName, const std::string& sourcePath) override;
    bool MarkMainPage(const std::string& captureName) override;
    // Puts the folder in place. An earlier output folder there is replaced: its files go,
    // and it goes when nothing else was in it (otherwise it stays beside, renamed).
    bool Finish() override;
    void Abort() override;

  private:
    std::string m_strTarget;  // the output folder, without a trailing separator
    std::string m_strPart;    // the folder being filled; empty when none
    std::vector<std::string> m_names;
    bool m_bMainMarked = false;
};
