// The measurement procedures against the simulated bench attached in-process, with the
// simulator's traffic log as the record of what each instrument received.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Bench.h"
#include "ConnectInstruments.h"
#include "MessageSink.h"
#include "RecordingWindow.h"
#include "visa/InProcess.h"

struct LoggedMessage {
    std::string instrument;  // gen1, gen2, analyzer
    char direction = '<';    // '<' received by the instrument, '>' sent by it
    std::string text;
};

class ProcedureRig {
public:
    explicit ProcedureRig(sim::Wiring wiring, sim::BenchOptions options = {}) {
        static int count = 0;
        m_directory = std::filesystem::temp_directory_path() /
                      ("korvel-procedures-" + std::to_string(::getpid()) + "-" + std::to_string(count++));
        std::filesystem::create_directories(m_directory);
        options.wiring = wiring;
        options.speed = sim::Speed{true, 1.0};
        options.logPath = (m_directory / "traffic.log").string();
        bench = std::make_unique<sim::Bench>(options);
        SetMessageSink([this](const std::string& text) { window.ShowWarning(text); });
        CVisaDevice::s_lastReply.clear();
        m_links.push_back(visa::AttachInProcess("GPIB0::28::INSTR", bench->Instrument(sim::InstrumentId::Generator1)));
        m_links.push_back(visa::AttachInProcess("GPIB0::27::INSTR", bench->Instrument(sim::InstrumentId::Generator2)));
        m_links.push_back(visa::AttachInProcess("GPIB0::20::INSTR", bench->Instrument(sim::InstrumentId::Analyzer)));
        values.useRfB = wiring == sim::Wiring::RfB ? 1 : 0;
    }
    ~ProcedureRig() {
        instruments.Release();
        m_links.clear();
        bench.reset();
        SetMessageSink({});
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
    }

    bool UseRfB() const { return values.useRfB != 0; }
    void Connect() { ConnectInstruments(instruments, values, window); }
    const std::filesystem::path& Directory() const { return m_directory; }

    // Everything logged since the last call.
    std::vector<LoggedMessage> Traffic() {
        std::ifstream in(m_directory / "traffic.log", std::ios::binary);
        std::vector<LoggedMessage> messages;
        std::string line;
        size_t index = 0;
        while (std::getline(in, line)) {
            if (index++ < m_consumed) continue;
            std::istringstream fields(line);
            std::string seconds;
            LoggedMessage m;
            fields >> seconds >> m.instrument >> m.direction;
            fields.get();
            std::getline(fields, m.text);
            messages.push_back(m);
        }
        m_consumed = index;
        return messages;
    }
    // What one instrument received, in order.
    static std::vector<std::string> Received(const std::vector<LoggedMessage>& traffic, const std::string& who) {
        std::vector<std::string> texts;
        for (const auto& m : traffic) {
            if (m.instrument == who && m.direction == '<') texts.push_back(m.text);
        }
        return texts;
    }
    static size_t CountReceived(const std::vector<LoggedMessage>& traffic) {
        size_t n = 0;
        for (const auto& m : traffic) n += m.direction == '<';
        return n;
    }

    std::unique_ptr<sim::Bench> bench;
    RecordingWindow window;
    Instruments instruments;
    ConnectValues values{"28", "27", "20", 1};

private:
    std::filesystem::path m_directory;
    std::vector<std::unique_ptr<visa::InProcessAttachment>> m_links;
    size_t m_consumed = 0;
};
