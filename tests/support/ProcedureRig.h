// The measurement procedures against the simulated bench attached in-process, with the
// simulator's traffic log as the record of what each instrument received. The rig works in a
// temporary directory holding a valid dc.wv, as the program's working directory.
#pragma once

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "instrument/ConnectInstruments.h"
#include "instrument/MessageSink.h"
#include "instrument/NumberText.h"
#include "sim/core/Bench.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WorkDirectory.h"
#include "visa/InProcess.h"

using namespace korvel;

using Texts = std::vector<std::string>;

struct LoggedMessage {
    std::string instrument;  // gen1, gen2, analyzer
    char direction = '<';    // '<' received by the instrument, '>' sent by it
    std::string text;
};

class ProcedureRig {
public:
    // Realistic speed for timing the procedures; otherwise the simulated clock.
    explicit ProcedureRig(sim::Wiring wiring, sim::BenchOptions options = {},
                          bool realistic = false)
        : m_directory("korvel-procedures") {
        options.wiring = wiring;
        options.speed = sim::Speed{!realistic, 1.0};
        options.logPath = (Directory() / "traffic.log").string();
        bench = std::make_unique<sim::Bench>(options);
        SetMessageSink([this](const std::string& text) { window.ShowWarning(text); });
        CVisaDevice::s_lastReply.clear();
        for (auto [id, gpib] : {std::pair{sim::InstrumentId::Generator1, "28"},
                                std::pair{sim::InstrumentId::Generator2, "27"},
                                std::pair{sim::InstrumentId::Analyzer, "20"}}) {
            m_links.push_back(visa::AttachInProcess(std::string("GPIB0::") + gpib + "::INSTR",
                                                    bench->Instrument(id)));
        }
        values.useRfB = wiring == sim::Wiring::RfB ? 1 : 0;
    }
    ~ProcedureRig() {
        instruments.Release();
        m_links.clear();
        bench.reset();
        SetMessageSink({});
    }

    bool UseRfB() const { return values.useRfB != 0; }
    void Connect() { ConnectInstruments(instruments, values, window); }
    const std::filesystem::path& Directory() const { return m_directory.Path(); }

    // Tunes the generators as a sweep step does.
    void Tune(double frequencyHz, double levelDbm) {
        const std::string frequency = "FREQ " + FormatFixed(frequencyHz, 0) + ";*OPC?";
        const std::string level = FormatFixed(levelDbm, 1) + ";*OPC?";
        instruments.generator1->Query(frequency);
        instruments.generator1->Query("SOURCE1:POW:POW " + level);
        if (UseRfB()) {
            instruments.generator1->Query("SOURCE2:POW:POW " + level);
        } else {
            instruments.generator2->Query(frequency);
            instruments.generator2->Query("SOURCE1:POW:POW " + level);
        }
    }

    // Everything logged since the last call.
    std::vector<LoggedMessage> Traffic() {
        std::ifstream in(Directory() / "traffic.log", std::ios::binary);
        std::vector<LoggedMessage> messages;
        std::string line;
        size_t index = 0;
        while (std::getline(in, line)) {
            if (index++ < m_consumed)
                continue;
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
    // What one instrument received, in order; with who empty, every instrument's as "who text".
    static Texts Received(const std::vector<LoggedMessage>& traffic, const std::string& who = {}) {
        Texts texts;
        for (const auto& m : traffic) {
            if (m.direction != '<')
                continue;
            if (who.empty())
                texts.push_back(m.instrument + " " + m.text);
            else if (m.instrument == who)
                texts.push_back(m.text);
        }
        return texts;
    }
    // Those of texts that start with prefix.
    static Texts Starting(const Texts& texts, const std::string& prefix) {
        Texts out;
        for (const auto& text : texts) {
            if (text.rfind(prefix, 0) == 0)
                out.push_back(text);
        }
        return out;
    }

    std::unique_ptr<sim::Bench> bench;
    RecordingWindow window;
    Instruments instruments;
    ConnectValues values{"28", "27", "20", 1};

private:
    WorkDirectory m_directory;
    std::vector<std::unique_ptr<visa::InProcessAttachment>> m_links;
    size_t m_consumed = 0;
};

// A frequency near start at which the truth lies just below 360, halfway between the last two
// points of the search grid (its finest step is 0.05859375 degrees), so that the passes of a
// measurement end on either side of the wrap. Generator 1 must be on the external reference
// first, or its paths are not coherent.
inline double FrequencyWithTruthNearZero(ProcedureRig& rig, double startHz, double levelDbm) {
    const double target = 360.0 - 0.05859375 / 2;
    rig.instruments.generator1->Write("SOUR:ROSC:SOUR EXT");
    auto distance = [&](double f) {
        rig.Tune(f, levelDbm);
        return CircleDistance(rig.bench->TruthPhaseDeg(), target);
    };
    double f = startHz;
    while (distance(f) > 0.2 && f < startHz + 400e6)
        f += 100e3;
    double best = f;
    for (double g = f - 200e3; g <= f + 200e3; g += 2e3) {
        if (distance(g) < distance(best))
            best = g;
    }
    const double coarse = best;
    for (double g = coarse - 2e3; g <= coarse + 2e3; g += 50.0) {
        if (distance(g) < distance(best))
            best = g;
    }
    return best;
}
