// What the browser's pipe is on both platforms: NUL-ended messages cut out of the bytes read.
#include "packager/render/browser_process.h"

namespace {

// A message larger than this is not a DevTools answer we asked for; the pipe is given up.
const size_t kMaxMessage = 512u << 20;

}  // namespace

bool CBrowserProcess::TakeMessage(std::string& message, PipeResult& result, std::string& error) {
    size_t nul = m_strPending.find('\0');
    if (nul != std::string::npos) {
        message = m_strPending.substr(0, nul);
        m_strPending.erase(0, nul + 1);
        result = PipeResult::Message;
        return true;
    }
    if (m_strPending.size() > kMaxMessage) {
        error = "the browser sent a message larger than 512 MiB";
        result = PipeResult::Failed;
        return true;
    }
    return false;
}
