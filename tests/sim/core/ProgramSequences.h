// The command sequences the measurement program sends, replayed against the simulated bench:
// the generator setup, the analyzer setup and a coarse-to-fine minimum search over generator 1's
// baseband phase offset.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "BenchRig.h"

struct BenchSessions {
    std::unique_ptr<CVisaDevice> gen1, gen2, analyzer;
    bool rfB = true;

    explicit BenchSessions(BenchRig& rig) : rfB(rig.bench.Options().wiring == sim::Wiring::RfB) {
        gen1 = rig.Open(sim::InstrumentId::Generator1);
        if (!rfB) gen2 = rig.Open(sim::InstrumentId::Generator2);
        analyzer = rig.Open(sim::InstrumentId::Analyzer);
    }
    // Path B of generator 1, or path A of generator 2.
    CVisaDevice& Second() { return rfB ? *gen1 : *gen2; }
    std::string SecondSource() const { return rfB ? "SOURCE2" : "SOURCE1"; }
};

// Runs in a fresh temporary directory holding a valid dc.wv, as the program's working directory.
class WorkingDirectory {
public:
    WorkingDirectory() : m_previous(std::filesystem::current_path()) {
        m_path = std::filesystem::temp_directory_path() /
                 ("korvel-sim-core-" + std::to_string(::getpid()) + "-" + std::to_string(s_count++));
        std::filesystem::create_directories(m_path);
        std::filesystem::current_path(m_path);
        std::string error;
        if (!sim::WriteWaveformFile("dc.wv", &error)) throw std::runtime_error(error);
    }
    ~WorkingDirectory() {
        std::filesystem::current_path(m_previous);
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& Path() const { return m_path; }

private:
    static inline int s_count = 0;
    std::filesystem::path m_previous, m_path;
};

inline std::string ListDirectory(const std::string& identification) {
    const size_t at = identification.find("VRTK");
    return at != std::string::npos && at > 0 ? "/var/vrtk/Lists" : "C:\\Program Files\\Maltoven\\VRQFirmware\\Lists";
}

// "Setup VRx". With coupleLo false the local oscillators are left as the reset leaves them.
inline void SetupGenerators(BenchSessions& s, bool coupleLo = true) {
    if (s.rfB) {
        CVisaDevice& g = *s.gen1;
        g.Write("*RST");
        g.Query("*OPC?");
        if (coupleLo) g.Write("SOURCE1:FREQ:LOSC:MODE COUPLED");
        g.CopyFile("dc.wv", "C:\\Program Files\\Maltoven\\VRQFirmware\\Lists");
        for (const char* c : {"SOURCE1:BB:ARB:WAV:SEL 'dc.wv'", "SOURCE1:BB:ARB:STAT ON", "SOURCE2:BB:ARB:WAV:SEL 'dc.wv'",
                              "SOURCE2:BB:ARB:STAT ON", "SOURCE1:IQ:STAT ON", "SOURCE2:IQ:STAT ON", "SOURCE1:POW 0",
                              "SOURCE2:POW 0", "OUTP1 ON", "OUTP2 ON"}) {
            g.Write(c);
        }
        return;
    }
    CVisaDevice* both[] = {s.gen1.get(), s.gen2.get()};
    for (CVisaDevice* g : both) g->Write("*RST");
    for (CVisaDevice* g : both) g->Query("*OPC?");
    for (CVisaDevice* g : both) g->Write("SOUR:POW:ALC ON");
    if (coupleLo) {
        s.gen1->Write("SOURCE1:FREQ:LOSC:OUTP:STATE ON");
        s.gen2->Write("SOURCE1:FREQ:LOSC:MODE EXT");
    }
    for (CVisaDevice* g : both) {
        g->CopyFile("dc.wv", ListDirectory(g->Query("*IDN?")));
        g->Write("SOURCE1:BB:ARB:WAV:SEL 'dc.wv'");
        g->Write("SOURCE1:BB:ARB:STAT ON");
    }
    for (const char* c : {"SOURCE1:IQ:STAT ON", "SOURCE1:POW 0", "OUTP1 ON"}) {
        for (CVisaDevice* g : both) g->Write(c);
    }
}

// One sweep step's generator settings.
inline void TuneGenerators(BenchSessions& s, double frequencyHz, double levelDbm) {
    const std::string freq = "FREQ " + FormatFixed(frequencyHz, 0) + ";*OPC?";
    const std::string level = FormatFixed(levelDbm, 1) + ";*OPC?";
    s.gen1->Query(freq);
    s.gen1->Query("SOURCE1:POW:POW " + level);
    if (s.rfB) {
        s.gen1->Query("SOURCE2:POW:POW " + level);
    } else {
        s.gen2->Query(freq);
        s.gen2->Query("SOURCE1:POW:POW " + level);
    }
}

inline void SetupAnalyzer(BenchSessions& s) {
    s.gen1->Write("SOUR:ROSC:SOUR EXT");
    const std::string f = s.gen1->Query("FREQ?");
    const double levelDbm = Number(s.gen1->Query("SOUR:POW:LEV?"));
    if (!s.rfB) s.gen2->Write("FREQ " + f);
    CVisaDevice& a = *s.analyzer;
    a.Write("*RST");
    a.Write("FREQ:CENT " + f + ";SPAN 50Hz");
    a.Write("BAND:VID:AUTO ON");
    a.Write("SWE:TIME:AUTO ON");
    a.Write("DISP:WIND:TRAC:Y 80DB");
    a.Write("DISP:WIND:TRAC:Y:RLEV " + FormatFixed(levelDbm, 6) + "dBm");
    a.Write(levelDbm > -50 ? "BAND:RES 1000" : levelDbm > -70 ? "BAND:RES 100" : "BAND:RES 10");
    a.Write("CALC:MARK1:TRAC 1");
    a.Write("CALC1:MARK1:X " + f);
    s.gen1->Write("SOURCE1:BB:POFF 0DEG");
    s.Second().Write(s.SecondSource() + ":BB:POFF 0DEG");
}

inline double ReadMarkerDbm(CVisaDevice& analyzer) {
    analyzer.Write("INIT;*WAI");
    return Number(analyzer.Query("CALC1:MARK1:Y?"));
}

// Three readings per stage around the best so far, the step halved down to below 0.05 degrees
// (twelve stages), as one averaging pass of the phase measurement. Returns path A's offset
// minus the second path's at the deepest reading.
inline double SearchMinimumDeg(BenchSessions& s, double secondOffsetDeg = 0.0) {
    s.Second().Write(s.SecondSource() + ":BB:POFF " + FormatFixed(secondOffsetDeg, 2) + "DEG");
    s.analyzer->Write("INIT:CONT OFF");
    double centre = 0.0;
    for (double step = 120.0; step >= 0.05; step *= 0.5) {
        double lowest = 100.0;
        double best = centre;
        for (int k = -1; k <= 1; ++k) {
            double point = centre + k * step;
            if (point >= 360.0) point -= 360.0;
            else if (point < 0.0) point += 360.0;
            s.gen1->Query("SOURCE1:BB:POFF " + FormatFixed(point, 2) + "DEG;*OPC?");
            const double reading = ReadMarkerDbm(*s.analyzer);
            if (reading < lowest) {
                lowest = reading;
                best = point;
            }
        }
        centre = best;
    }
    s.analyzer->Write("INIT:CONT ON");
    double difference = centre - secondOffsetDeg;
    while (difference < 0.0) difference += 360.0;
    return difference;
}
