// The grab's side of the rendered capture: the page source shows the main page and hands
// over its document and those of its same-origin frames; each is then saved and rewritten
// like a fetched page, against the address it was shown from.
#include "packager/fetch/grabber.h"
#include "packager/fetch/text_file.h"

namespace {

const CRenderedDocument* FindFrame(const CRenderedPage& page, const std::string& address) {
    for (const CRenderedDocument& frame : page.frames) {
        if (frame.strAddress == address) {
            return &frame;
        }
    }
    return nullptr;
}

bool IsMainPage(const CGrabPlan& plan, const std::string& address) {
    return plan.Size() > 0 && plan.At(0).strAddress == address &&
           plan.At(0).state == EntryState::Pending;
}

}  // namespace

bool CGrab::TakesRenderedPage(const std::string& address) const {
    return m_job.pPageSource != nullptr &&
           (IsMainPage(m_plan, address) || FindFrame(m_rendered, address) != nullptr);
}

bool CGrab::LoadRenderedPage(const std::string& address, const std::string& folder,
                             const std::string& localPath, std::string& content, GrabJob& job) {
    const CRenderedDocument* document = FindFrame(m_rendered, address);
    if (IsMainPage(m_plan, address)) {
        m_rendered = CRenderedPage();
        std::string failure;
        if (!m_job.pPageSource->Capture(address, folder, job, m_rendered, failure)) {
            m_strLastFailure = failure;
            if (!failure.empty()) {
                m_g.Prompts().ShowFetchFailure(
                    "Unable to load " + address +
                        "\r\n\r\nThe browser could not render the page: " + failure + ".",
                    address, "The browser could not render the page: " + failure + ".");
            }
            return false;
        }
        m_g.m_nLastStatus = m_rendered.nStatus;
        // Only the fonts the browser needed to show the page travel with it.
        std::vector<std::string> fonts;
        for (const CLoadedResource& loaded : m_rendered.loaded) {
            if (loaded.strType == "Font") {
                fonts.push_back(loaded.strAddress);
            }
        }
        m_plan.KeepOnlyFonts(fonts);
        document = &m_rendered.page;
    }
    if (document == nullptr) {
        return false;
    }
    if (!WriteWholeFile(localPath, document->strText)) {
        m_strLastFailure = "could not be written to the work folder (is the disk full?)";
        return false;
    }
    return ProcessSavedPage(document->strAddress, localPath, content, folder, job);
}
