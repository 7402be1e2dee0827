// The traffic log: one line per program message received or reply sent,
//   <bench seconds since start> <gen1|gen2|analyzer> <'<' received | '>' sent> <text>
// with the line feed left off, binary blocks shown as their header and "[<n> bytes]", and
// control bytes as \xNN. Each line is flushed as it is written; any thread may write.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "BenchOptions.h"
#include "SimClock.h"
#include "visa/MessageInstrument.h"

namespace sim {

class TrafficLog {
public:
    // Throws std::runtime_error when path cannot be opened.
    TrafficLog(const std::string& path, SimClock& clock);
    ~TrafficLog();
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;

    void Write(InstrumentId instrument, char direction, std::string_view message);

private:
    std::mutex m_mutex;
    std::FILE* m_file = nullptr;
    SimClock& m_clock;
};

// Logs what passes between a transport and an instrument.
class LoggedInstrument : public visa::MessageInstrument {
public:
    LoggedInstrument(std::shared_ptr<visa::MessageInstrument> inner,
                     std::shared_ptr<TrafficLog> log, InstrumentId id);

    void Receive(std::string_view message) override;
    std::optional<std::string> Respond() override;
    std::optional<std::optional<std::string>> TryRespond() override;
    void Clear() override { m_inner->Clear(); }
    bool AcceptsLink() override { return m_inner->AcceptsLink(); }
    bool KeepsLink() override { return m_inner->KeepsLink(); }

private:
    void LogReply(const std::optional<std::string>& reply);

    std::shared_ptr<visa::MessageInstrument> m_inner;
    std::shared_ptr<TrafficLog> m_log;
    InstrumentId m_id;
};

}  // namespace sim
