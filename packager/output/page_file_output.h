// The outputs that are one file a browser opens as the page: the single HTML file, with
// everything the page shows inside it as data: addresses, and the web archive
// (multipart/related), which carries the files as they are.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "packager/output/output.h"

class CGrabProgress;

// Collects the capture's files (names only; they are read at Finish) and writes the one
// file that Render makes of them.
class CPageFileOutput : public COutput {
  public:
    bool Begin(const std::string& outputPath) override;
    bool AddFile(const std::string& captureName, const std::string& sourcePath) override;
    bool MarkMainPage(const std::string& captureName) override;
    bool Finish() override;
    void Abort() override;

  protected:
    // The file's text from the files, main page first; false when it cannot be made.
    virtual bool Render(std::string& out) = 0;

    std::string m_strOutputPath;
    std::string m_strMainPage;
    std::vector<std::string> m_order;              // capture names in the order added
    std::map<std::string, std::string> m_sources;  // capture name -> path
};

// NAME.html: the main page with its pictures, fonts, stylesheets (with what they import and
// show) and frames (with theirs) as data: addresses, so that it refers to no other file.
// Links and whatever was left on the web stay as they are.
class CSingleHtmlOutput : public CPageFileOutput {
  public:
    explicit CSingleHtmlOutput(CGrabProgress* progress) : m_pProgress(progress) {}

  protected:
    bool Render(std::string& out) override;

  private:
    CGrabProgress* m_pProgress;
};

// NAME.mhtml: one part per file, the main page first, each under its name below one base
// address, so that the page's own relative references find them.
class CWebArchiveOutput : public CPageFileOutput {
  public:
    // The address the parts are placed under; it never has to answer.
    static const char* const kBase;

  protected:
    bool Render(std::string& out) override;
};
