#include "AdjustLevel.h"

#include <cmath>

#include "MeasurePhase.h"
#include "instrument/NumberText.h"

namespace korvel {

namespace {

// Sets each level centre + k * unit for k = first, first + increment, ..., last and returns the
// one with the lowest marker reading (the earlier among equals), or fallback when no reading is
// below 100 dBm. A reply without a number is no reading: taken as 0 dBm it would win the scan.
double Scan(Instruments& instruments, double centre, int first, int last, int increment,
            double unit, double fallback, bool& anyReading) {
    CVisaDevice& generator1 = *instruments.generator1;
    CVisaDevice& analyzer = *instruments.analyzer;
    double lowestDbm = 100.0;
    double best = fallback;
    for (int k = first; k <= last; k += increment) {
        const double setting = centre + k * unit;
        generator1.Write("SOUR:POW:LEV " + FormatFixed(setting, 6));
        generator1.Query("*OPC?");
        analyzer.Write("INIT;*WAI");
        bool number = false;
        const double readingDbm = ParseLeadingDouble(analyzer.Query("CALC1:MARK1:Y?"), &number);
        anyReading = anyReading || number;
        if (number && readingDbm < lowestDbm) {
            lowestDbm = readingDbm;
            best = setting;
        }
    }
    return best;
}

}  // namespace

std::string AdjustLevel(Instruments& instruments) {
    if (!instruments.connected)
        return {};
    CVisaDevice& generator1 = *instruments.generator1;
    CVisaDevice& analyzer = *instruments.analyzer;
    analyzer.Write("INIT:CONT OFF");
    const double startDbm = ParseLeadingDouble(generator1.Query("SOUR:POW:LEV?"));
    // No scan around a level that is no number: every setting would go out as "inf" or "nan".
    if (!std::isfinite(startDbm)) {
        analyzer.Write("INIT:CONT ON");
        return "generator 1's level is not a finite number";
    }
    // Without any usable coarse reading the generator goes back to where it started.
    bool anyReading = false;
    const double coarse = Scan(instruments, startDbm, -100, 95, 5, 0.01, startDbm, anyReading);
    double best = Scan(instruments, coarse, -25, 24, 1, 0.001, coarse, anyReading);
    // A session that failed on the way answered with stale replies: the scan chose nothing.
    std::string failure = LostSessionText({&generator1, &analyzer});
    if (failure.empty() && !anyReading)
        failure = kReadingsWithoutNumber;
    if (!failure.empty())
        best = startDbm;
    generator1.Write("SOUR:POW:LEV " + FormatFixed(best, 6));
    generator1.Query("*OPC?");
    analyzer.Write("INIT:CONT ON");
    return failure;
}

}  // namespace korvel
