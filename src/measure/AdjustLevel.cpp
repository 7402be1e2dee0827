#include "AdjustLevel.h"

#include "NumberText.h"

namespace {

// Sets each level centre + k * unit for k = first, first + increment, ..., last and returns the
// one with the lowest marker reading (the earlier among equals), or fallback when no reading is
// below 100 dBm.
double Scan(Instruments& instruments, double centre, int first, int last, int increment, double unit,
            double fallback) {
    CVisaDevice& generator1 = *instruments.generator1;
    CVisaDevice& analyzer = *instruments.analyzer;
    double lowestDbm = 100.0;
    double best = fallback;
    for (int k = first; k <= last; k += increment) {
        const double setting = centre + k * unit;
        generator1.Write("SOUR:POW:LEV " + FormatFixed(setting, 6));
        generator1.Query("*OPC?");
        analyzer.Write("INIT;*WAI");
        const double readingDbm = ParseLeadingDouble(analyzer.Query("CALC1:MARK1:Y?"));
        if (readingDbm < lowestDbm) {
            lowestDbm = readingDbm;
            best = setting;
        }
    }
    return best;
}

}  // namespace

void AdjustLevel(Instruments& instruments) {
    if (!instruments.connected) return;
    CVisaDevice& generator1 = *instruments.generator1;
    instruments.analyzer->Write("INIT:CONT OFF");
    const double startDbm = ParseLeadingDouble(generator1.Query("SOUR:POW:LEV?"));
    // Without any usable coarse reading the generator goes back to where it started.
    const double coarse = Scan(instruments, startDbm, -100, 95, 5, 0.01, startDbm);
    const double best = Scan(instruments, coarse, -25, 24, 1, 0.001, coarse);
    generator1.Write("SOUR:POW:LEV " + FormatFixed(best, 6));
    generator1.Query("*OPC?");
    instruments.analyzer->Write("INIT:CONT ON");
}
