#include "packager/fetch/grabber.h"

#include <utility>

namespace {
const char kAgent[] = "Quillbox!";
}

CInternetSession::CInternetSession(std::unique_ptr<platform::InternetService> pService,
                                   const std::string& agent, uint32_t accessType, uint32_t flags)
    : m_pService(std::move(pService)) {
    if (m_pService) {
        m_pSession = m_pService->OpenSession(agent, accessType, flags);
    }
}

CInternetSession::~CInternetSession() {
    Close();
}

void CInternetSession::Close() {
    m_pSession.reset();
}

CGrabber::CGrabber(std::unique_ptr<platform::InternetService> pService, const CGrabOptions& options)
    : CInternetSession(std::move(pService), kAgent, platform::kInternetOpenTypePreconfig,
                       platform::kFlagExistingConnect | platform::kFlagNoAutoRedirect),
      m_options(options) {}

CGrabber::~CGrabber() {
    // The connection belongs to the session: it goes first.
    m_pConnection.reset();
    Close();
}
