// A simulated bench attached in-process under the default addresses (generator 1 at 28,
// generator 2 at 27, analyzer at 20), reached through the real VISA layer and CVisaDevice.
#pragma once

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Bench.h"
#include "CVisaDevice.h"
#include "MessageSink.h"
#include "NumberText.h"
#include "visa/InProcess.h"

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
        attachments.push_back(visa::AttachInProcess("GPIB0::28::INSTR", bench.Instrument(sim::InstrumentId::Generator1)));
        attachments.push_back(visa::AttachInProcess("GPIB0::27::INSTR", bench.Instrument(sim::InstrumentId::Generator2)));
        attachments.push_back(visa::AttachInProcess("GPIB0::20::INSTR", bench.Instrument(sim::InstrumentId::Analyzer)));
    }
    ~BenchRig() { SetMessageSink({}); }

    static const char* Address(sim::InstrumentId id) {
        switch (id) {
            case sim::InstrumentId::Generator1: return "28";
            case sim::InstrumentId::Generator2: return "27";
            case sim::InstrumentId::Analyzer: break;
        }
        return "20";
    }
    std::unique_ptr<CVisaDevice> Open(sim::InstrumentId id) { return std::make_unique<CVisaDevice>(Address(id)); }

    // Writes bytes as they are, END on the last one (no line feed added), as a file transfer does.
    static visa::ViStatus WriteRaw(sim::InstrumentId id, const std::string& bytes) {
        visa::ViSession manager = visa::VI_NULL, session = visa::VI_NULL;
        visa::ViStatus status = visa::viOpenDefaultRM(&manager);
        if (status < visa::VI_SUCCESS) return status;
        status = visa::viOpen(manager, CVisaDevice::NormaliseResource(Address(id)).c_str(), visa::VI_NO_LOCK, 0, &session);
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

// Smallest distance between two angles, in degrees.
inline double AngleDistanceDeg(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

inline double Number(const std::string& reply) { return ParseLeadingDouble(reply); }
