#include "packager/render/devtools_client.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// How long a wait goes before the cancel flag is looked at again.
const int kSliceMs = 100;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

std::string Seconds(int ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

}  // namespace

CDevToolsClient::CDevToolsClient(CDevToolsPipe& pipe, std::function<bool()> cancelled)
    : m_pipe(pipe), m_cancelled(std::move(cancelled)) {}

bool CDevToolsClient::Fail(const std::string& error) {
    if (m_strError.empty()) {
        m_strError = error;
    }
    return false;
}

bool CDevToolsClient::ReceiveOne(int sliceMs, nlohmann::json* answer, int wantedId,
                                 bool& gotAnswer) {
    gotAnswer = false;
    if (m_cancelled && m_cancelled()) {
        m_bCancelled = true;
        return Fail("the capture was cancelled");
    }
    std::string text, error;
    switch (m_pipe.Receive(text, sliceMs, error)) {
        case PipeResult::TimedOut:
            return true;
        case PipeResult::Closed:
            return Fail("the browser ended before the capture was done");
        case PipeResult::Failed:
            return Fail(error);
        case PipeResult::Message:
            break;
    }
    nlohmann::json message = nlohmann::json::parse(text, nullptr, false);
    if (message.is_discarded() || !message.is_object()) {
        return Fail("the browser sent a message that is not a DevTools message (not JSON)");
    }
    auto id = message.find("id");
    if (id != message.end()) {
        if (id->is_number_integer() && id->get<int>() == wantedId && answer != nullptr) {
            *answer = std::move(message);
            gotAnswer = true;
        }
        // An answer to a command nobody waits for any more is dropped.
        return true;
    }
    if (message.contains("method") && m_onEvent) {
        m_onEvent(message);
    }
    return true;
}

bool CDevToolsClient::SendCommand(const std::string& method, const nlohmann::json& params,
                                  const std::string& sessionId, int timeoutMs, int& id) {
    id = m_nNextId++;
    nlohmann::json command = {{"id", id}, {"method", method}, {"params", params}};
    if (!sessionId.empty()) {
        command["sessionId"] = sessionId;
    }
    std::string error;
    if (!m_pipe.Send(command.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                     timeoutMs, error)) {
        return Fail(error);
    }
    return true;
}

void CDevToolsClient::Post(const std::string& method, const nlohmann::json& params,
                           const std::string& sessionId) {
    int id = 0;
    if (m_strError.empty()) {
        SendCommand(method, params, sessionId, kSliceMs * 10, id);
    }
}

bool CDevToolsClient::Call(const std::string& method, const nlohmann::json& params,
                           const std::string& sessionId, int timeoutMs, nlohmann::json& result) {
    if (!m_strError.empty()) {
        return false;
    }
    int id = 0;
    if (!SendCommand(method, params, sessionId, timeoutMs, id)) {
        return false;
    }
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    nlohmann::json answer;
    for (;;) {
        int left = RemainingMs(deadline);
        if (left == 0) {
            return Fail("the browser did not answer " + method + " within " + Seconds(timeoutMs));
        }
        bool got = false;
        if (!ReceiveOne(left < kSliceMs ? left : kSliceMs, &answer, id, got)) {
            return false;
        }
        if (!got) {
            continue;
        }
        auto failure = answer.find("error");
        if (failure != answer.end()) {
            std::string text = failure->is_object() && failure->contains("message") &&
                                       (*failure)["message"].is_string()
                                   ? (*failure)["message"].get<std::string>()
                                   : failure->dump();
            return Fail("the browser refused " + method + ": " + text);
        }
        auto found = answer.find("result");
        result = found != answer.end() ? *found : nlohmann::json::object();
        return true;
    }
}

bool CDevToolsClient::PumpUntil(const std::function<bool()>& done, int timeoutMs, bool& reached) {
    reached = false;
    if (!m_strError.empty()) {
        return false;
    }
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done()) {
            reached = true;
            return true;
        }
        int left = RemainingMs(deadline);
        if (left == 0) {
            return true;
        }
        bool got = false;
        if (!ReceiveOne(left < kSliceMs ? left : kSliceMs, nullptr, 0, got)) {
            return false;
        }
    }
}
