// The DevTools protocol over a pipe: numbered commands, their answers, and the events the
// browser sends between them. Every wait is bounded and learns of a cancel within a tenth
// of a second; the first failure is kept and ends every later call.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "packager/render/browser_process.h"

class CDevToolsClient {
  public:
    using EventHandler = std::function<void(const nlohmann::json& event)>;

    // cancelled is polled while waiting; true stops every wait.
    CDevToolsClient(CDevToolsPipe& pipe, std::function<bool()> cancelled);

    // Receives every event (a message with a "method") that arrives while waiting.
    void SetEventHandler(EventHandler handler) { m_onEvent = std::move(handler); }
    // Sends method with params (to the page of sessionId when it is not empty) and waits at
    // most timeoutMs for its answer. True with the answer's "result"; false with Error().
    bool Call(const std::string& method, const nlohmann::json& params, const std::string& sessionId,
              int timeoutMs, nlohmann::json& result);
    // Sends method without waiting for its answer (from an event handler, which must not
    // wait). A failure is kept.
    void Post(const std::string& method, const nlohmann::json& params,
              const std::string& sessionId);
    // Handles events until done() holds or timeoutMs pass. True in both cases (reached tells
    // which); false when the browser failed, ended or the capture was cancelled.
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs, bool& reached);

    // Why the last call failed; empty while nothing has.
    const std::string& Error() const { return m_strError; }
    bool WasCancelled() const { return m_bCancelled; }

  private:
    // Sends a command; its id in id. False on a failure (kept).
    bool SendCommand(const std::string& method, const nlohmann::json& params,
                     const std::string& sessionId, int timeoutMs, int& id);
    // Takes in one message, or waits up to sliceMs for one. False on a failure (kept).
    bool ReceiveOne(int sliceMs, nlohmann::json* answer, int wantedId, bool& gotAnswer);
    bool Fail(const std::string& error);

    CDevToolsPipe& m_pipe;
    std::function<bool()> m_cancelled;
    EventHandler m_onEvent;
    int m_nNextId = 1;
    std::string m_strError;
    bool m_bCancelled = false;
};
