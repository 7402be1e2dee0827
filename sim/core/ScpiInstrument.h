// A simulated message-based instrument: takes program messages, executes them on its SCPI engine
// at bench time, and queues one response message per program message that had queries.
// Common commands, SYST:ERR? and the IEEE 488.2 message exchange rules live here; the models
// add their own command trees.
//
// Time: each message executes at max(now, the end of the previous message) plus the message
// overhead. A command may keep the instrument busy (Busy) or start an operation that runs in
// the background (Overlapped); *OPC? and *WAI wait for the background operations. A response is
// ready when its message has executed; Respond() waits for that without holding the bench lock,
// TryRespond() declines instead.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "BenchOptions.h"
#include "ErrorQueue.h"
#include "ScpiEngine.h"
#include "SimClock.h"
#include "visa/MessageInstrument.h"

namespace sim {

class ScpiInstrument : public visa::MessageInstrument {
public:
    static constexpr size_t kMaxProgramMessageBytes = 1 << 20;

    ScpiInstrument(std::mutex& benchMutex, SimClock& clock, const TimingOptions& timing,
                   std::string identification);

    void Receive(std::string_view message) override;
    std::optional<std::string> Respond() override;
    std::optional<std::optional<std::string>> TryRespond() override;
    void Clear() override;

    // Fault hooks. Call under the bench lock.
    void SetErrorOnEverySetting(bool on) { m_errorOnEverySetting = on; }
    void SetEndlessErrors(bool on) { m_endlessErrors = on; }

    // Under the bench lock.
    ErrorQueue& Errors() { return m_errors; }
    const std::string& Identification() const { return m_identification; }

protected:
    ScpiEngine& Engine() { return m_engine; }
    // *RST: settings to their defaults (the error queue stays).
    virtual void Reset() = 0;

    // Bench time at which the command being executed runs.
    double Now() const { return m_time; }
    const TimingOptions& Timing() const { return m_timing; }
    void Busy(double seconds) { m_time += seconds; }
    void Overlapped(double seconds);
    double PendingUntil() const { return m_pendingUntil; }

private:
    struct Response {
        std::string text;
        double readyAt = 0.0;
    };

    void AddCommonCommands();
    void Execute(std::string_view message);
    // Under the bench lock: the front response, or false (and -420) when none is queued.
    bool PopResponse(Response& response);

    std::mutex& m_mutex;
    SimClock& m_clock;
    TimingOptions m_timing;
    std::string m_identification;
    ScpiEngine m_engine;
    ErrorQueue m_errors;
    std::deque<Response> m_output;
    double m_time = 0.0;          // during a message: when the current command runs
    double m_busyUntil = 0.0;     // when the last message finished executing
    double m_pendingUntil = 0.0;  // when the background operations finish
    double m_opcAt = -1.0;        // *OPC: when the operation-complete bit gets set
    int m_eventStatus = 0;        // standard event status register
    int m_eventEnable = 0;
    int m_serviceEnable = 0;
    bool m_unterminatedLogged = false;
    bool m_errorOnEverySetting = false;
    bool m_endlessErrors = false;
};

}  // namespace sim
