// The archive builder's "Compressing..." dialog as a progress interface: what the outputs
// report is shown in it, and its Cancel button, or the caller's, answers 0 (stop).
#pragma once

#include <functional>
#include <string>

#include "packager/fetch/grab_job.h"
#include "packager/shell/progress_dialog.h"

class CCompressProgress : public CGrabProgress {
  public:
    // Creates the dialog (owner: none, as the builder always made it), with Cancel.
    // `cancelRequested`, when given, is asked at every report too: the Zip command's own
    // Cancel stops the packing as the dialog's does.
    explicit CCompressProgress(std::function<bool()> cancelRequested = nullptr);
    ~CCompressProgress() override;
    CCompressProgress(const CCompressProgress&) = delete;
    CCompressProgress& operator=(const CCompressProgress&) = delete;

    // Shows text and position (of 100) and lets the thread's messages through. 0 when
    // the user cancelled or the dialog could not be made or is gone.
    int Report(const std::string& text, int32_t position) override;

  private:
    CProgressDialog m_dialog;
    std::string m_strShown;
    bool m_bCreated = false;
    std::function<bool()> m_fnCancelRequested;
};
