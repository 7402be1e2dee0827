#include "SetupAnalyzer.h"

#include <cmath>

#include "instrument/NumberText.h"

namespace korvel {

const char* ResolutionBandwidthCommand(double levelDbm) {
    if (levelDbm > -50)
        return "BAND:RES 1000";
    if (levelDbm > -70)
        return "BAND:RES 100";
    return "BAND:RES 10";
}

void SetupAnalyzer(Instruments& instruments, bool useRfB) {
    if (!instruments.connected || (!useRfB && !instruments.generator2))
        return;
    CVisaDevice& generator1 = *instruments.generator1;
    CVisaDevice& analyzer = *instruments.analyzer;

    generator1.Write("SOUR:ROSC:SOUR EXT");
    // The frequency goes on exactly as the generator writes it.
    const std::string frequency = generator1.Query("FREQ?");
    const std::string level = generator1.Query("SOUR:POW:LEV?");
    if (!useRfB)
        instruments.generator2->Write("FREQ " + frequency);

    analyzer.Write("*RST");
    analyzer.Write("FREQ:CENT " + frequency + ";SPAN 50Hz");
    analyzer.Write("BAND:VID:AUTO ON");
    analyzer.Write("SWE:TIME:AUTO ON");
    analyzer.Write("DISP:WIND:TRAC:Y 80DB");
    const double levelDbm = ParseLeadingDouble(level);
    // A level that is no number leaves the reference level where the reset put it.
    if (std::isfinite(levelDbm))
        analyzer.Write("DISP:WIND:TRAC:Y:RLEV " + FormatFixed(levelDbm, 6) + "dBm");
    analyzer.Write(ResolutionBandwidthCommand(levelDbm));
    analyzer.Write("CALC:MARK1:TRAC 1");
    analyzer.Write("CALC1:MARK1:X " + frequency);

    generator1.Write("SOURCE1:BB:POFF 0DEG");
    if (useRfB) {
        generator1.Write("SOURCE2:BB:POFF 0DEG");
    } else {
        instruments.generator2->Write("SOURCE1:BB:POFF 0DEG");
    }
}

}  // namespace korvel
