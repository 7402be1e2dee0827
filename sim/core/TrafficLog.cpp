#include "TrafficLog.h"

#include <stdexcept>

#include "ScpiLexer.h"
#include "ScpiNumber.h"

namespace sim {

TrafficLog::TrafficLog(const std::string& path, SimClock& clock) : m_clock(clock) {
    m_file = std::fopen(path.c_str(), "wb");  // LF line ends on every system
    if (!m_file)
        throw std::runtime_error("cannot open the traffic log " + path);
}

TrafficLog::~TrafficLog() {
    if (m_file)
        std::fclose(m_file);
}

void TrafficLog::Write(InstrumentId instrument, char direction, std::string_view message) {
    std::string line = FormatFixed(m_clock.NowS(), 6);
    line += ' ';
    line += InstrumentName(instrument);
    line += ' ';
    line += direction;
    line += ' ';
    line += DescribeForLog(message);
    line += '\n';
    std::lock_guard lock(m_mutex);
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fflush(m_file);
}

LoggedInstrument::LoggedInstrument(std::shared_ptr<visa::MessageInstrument> inner,
                                   std::shared_ptr<TrafficLog> log, InstrumentId id)
    : m_inner(std::move(inner)), m_log(std::move(log)), m_id(id) {}

void LoggedInstrument::Receive(std::string_view message) {
    for (std::string_view programMessage : SplitProgramMessages(message))
        m_log->Write(m_id, '<', programMessage);
    m_inner->Receive(message);
}

std::optional<std::string> LoggedInstrument::Respond() {
    std::optional<std::string> reply = m_inner->Respond();
    LogReply(reply);
    return reply;
}

std::optional<std::optional<std::string>> LoggedInstrument::TryRespond() {
    std::optional<std::optional<std::string>> reply = m_inner->TryRespond();
    if (reply)
        LogReply(*reply);
    return reply;
}

void LoggedInstrument::LogReply(const std::optional<std::string>& reply) {
    if (!reply)
        return;
    std::string_view text = *reply;
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    m_log->Write(m_id, '>', text);
}

}  // namespace sim
