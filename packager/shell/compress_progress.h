// The archive builder's "Compressing..." dialog as a progress interface: what the outputs
// report is shown in it, and its Cancel button answers 0 (stop).
#pragma once

#include <string>

#include "packager/fetch/grab_job.h"
#include "packager/shell/progress_dialog.h"

class CCompressProgress : public CGrabProgress {
  public:
    // Creates the dialog (owner: none, as the builder always made it), with Cancel.
    CCompressProgress();
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
};
