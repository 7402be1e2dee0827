// A simulated bench attached in-process under the default addresses (generator 1 at 28,
// generator 2 at 27, analyzer at 20), reached through the real VISA layer and CVisaDevice.
#pragma once

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "instrument/CVisaDevice.h"
#include "instrument/MessageSink.h"
#include "instrument/NumberText.h"
#include "sim/core/Bench.h"
#include "tests/support/WorkDirectory.h"
#include "visa/InProcess.h"

using namespace korvel;

inline sim::BenchOptions FastBench(sim::Wiring wiring = sim::Wiring::RfB) {
    sim::BenchOptions options;
    options.wiring = wiring;
    options.speed = sim::Speed{true, 1.0};
    return options;
}

class BenchRig {
public:
    explicit BenchRig(const sim::BenchOptions& options = FastBench()) : bench(options) {
        SetMessageSink([this](const std::string& text) { messages.push_back(text); });
        CVisaDevice::s_lastReply.clear();
        for (sim::InstrumentId id : {sim::InstrumentId::Generator1, sim::InstrumentId::Generator2,
                                     sim::InstrumentId::Analyzer}) {
            attachments.push_back(
                visa::AttachInProcess("GPIB0::" + Address(id) + "::INSTR", bench.Instrument(id)));
        }
    }
    ~BenchRig() { SetMessageSink({}); }

    static std::string Address(sim::InstrumentId id) {
        return id == sim::InstrumentId::Generator1   ? "28"
               : id == sim::InstrumentId::Generator2 ? "27"
                                                     : "20";
    }
    std::unique_ptr<CVisaDevice> Open(sim::InstrumentId id) {
        return std::make_unique<CVisaDevice>(Address(id));
    }

    // Writes bytes as they are, END on the last one (no line feed added), as a file transfer does.
    static visa::ViStatus WriteRaw(sim::InstrumentId id, const std::string& bytes) {
        visa::ViSession manager = visa::VI_NULL, session = visa::VI_NULL;
        visa::ViStatus status = visa::viOpenDefaultRM(&manager);
        if (status < visa::VI_SUCCESS)
            return status;
        status = visa::viOpen(manager, CVisaDevice::NormaliseResource(Address(id)).c_str(),
                              visa::VI_NO_LOCK, 0, &session);
        if (status >= visa::VI_SUCCESS) {
            visa::ViUInt32 count = 0;
            status = visa::viWrite(session, reinterpret_cast<visa::ViConstBuf>(bytes.data()),
                                   static_cast<visa::ViUInt32>(bytes.size()), &count);
            visa::viClose(session);
        }
        visa::viClose(manager);
        return status;
    }

    sim::Bench bench;
    std::vector<std::unique_ptr<visa::InProcessAttachment>> attachments;
    std::vector<std::string> messages;  // what CVisaDevice would have shown the user
};

using WorkingDirectory = WorkDirectory;

inline const char* const kVrqLists = "C:\\Program Files\\Maltoven\\VRQFirmware\\Lists";

// Generator 1 of the RF B wiring as "Setup VRx" leaves it: both paths playing dc.wv on one
// synthesizer, locked to the external reference, so the paths are coherent. Needs dc.wv in the
// working directory.
inline void PlayBothPaths(CVisaDevice& g, double frequencyHz, double levelDbm) {
    g.Write("*RST");
    g.CopyFile("dc.wv", kVrqLists);
    std::vector<std::string> commands{"SOURCE1:FREQ:LOSC:MODE COUPLED", "SOUR:ROSC:SOUR EXT",
                                      "FREQ " + FormatFixed(frequencyHz, 0)};
    for (const std::string source : {"SOURCE1", "SOURCE2"}) {
        for (const char* c : {":BB:ARB:WAV:SEL 'dc.wv'", ":BB:ARB:STAT ON", ":IQ:STAT ON", ":POW "})
            commands.push_back(source + c);
        commands.back() += FormatFixed(levelDbm, 1);
    }
    for (const std::string& c : commands)
        g.Write(c);
    g.Query("OUTP1 ON;OUTP2 ON;*OPC?");
}

inline double Number(const std::string& reply) {
    return ParseLeadingDouble(reply);
}

// Every queued error entry, oldest first, a line each, up to the empty-queue answer.
inline std::string ErrorList(CVisaDevice& device) {
    std::string list;
    for (int i = 0; i < 20; ++i) {
        const std::string reply = device.Query("SYST:ERR?");
        if (reply == "0,\"No error\"")
            return list;
        list += reply + "\n";
    }
    return list + "(the queue does not end)\n";
}
