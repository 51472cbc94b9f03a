// The executable: the capture as a cabinet behind a copy of the extractor, written by the
// archive builder exactly as the Zip command always wrote it.
#include "packager/output/executable_output.h"

#include "packager/archive/archive_builder.h"
#include "packager/archive/archive_ui.h"  // the busy cursor
#include "packager/address/url_utils.h"
#include "platform/files.h"

CExecutableOutput::CExecutableOutput(const COutputContext& context) : m_context(context) {}

CExecutableOutput::~CExecutableOutput() {
    Abort();
}

size_t CExecutableOutput::MaxFiles() const {
    return kCabinetMaxFiles;
}

bool CExecutableOutput::Begin(const std::string& outputPath) {
    Abort();
    m_pBuilder.reset(new ArchiveBuilder(m_context.pProgress));
    if (!m_context.strExtractorTemplate.empty())
        m_pBuilder->m_strTemplatePath = m_context.strExtractorTemplate;
    m_pBuilder->m_outputPath = outputPath;
    m_pBuilder->m_cancelled = 0;
    return !outputPath.empty();
}

bool CExecutableOutput::AddFile(const std::string& captureName, const std::string& sourcePath) {
    // The cabinet stores the file's own name: the capture name must be it. Which names
    // are safe to create is the extractor's to judge, as it always was.
    if (!m_pBuilder || captureName.empty() ||
        platform::JoinPath(platform::FolderOf(sourcePath), captureName) != sourcePath)
        return false;
    // The writer keeps its temporary files beside the capture, so that whatever a killed
    // run leaves goes with the work folder.
    if (m_pBuilder->m_strTempFolder.empty())
        m_pBuilder->m_strTempFolder = platform::FolderOf(sourcePath);
    return m_pBuilder->AddFile(sourcePath, false);
}

bool CExecutableOutput::MarkMainPage(const std::string& captureName) {
    if (!m_pBuilder)
        return false;
    bool found = false;
    for (ArchiveEntry& entry : m_pBuilder->m_entries) {
        if (BaseName(entry.sourcePath) == captureName) {
            entry.runAfterExtract = 1;
            found = true;
        }
    }
    return found;
}

bool CExecutableOutput::Finish() {
    if (!m_pBuilder)
        return false;
    ArchiveBusyCursor busy;
    bool result = m_pBuilder->Compress();
    // A cancel is the user's choice, not a failure to tell them about: the old executable
    // is untouched and the unfinished one goes with the teardown.
    if (!result && !m_pBuilder->m_cancelled)
        ShowWriteFailure();
    m_pBuilder->TearDown();
    m_pBuilder.reset();
    return result;
}

void CExecutableOutput::Abort() {
    if (m_pBuilder) {
        m_pBuilder->TearDown();
        m_pBuilder.reset();
    }
}
