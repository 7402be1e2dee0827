#include "AdjustToZero.h"

#include <cmath>

#include "CSweepTable.h"
#include "instrument/NumberText.h"

namespace korvel {

std::string AdjustToZero(Instruments& instruments, const std::filesystem::path& sweepFile,
                         double& phaseResult) {
    CSweepTable table(sweepFile.string());
    if (!table.IsLoaded())
        return "Error reading PhaseLogSweep.csv - no adjustment possible!";
    CVisaDevice& generator1 = *instruments.generator1;
    const double frequencyHz = ParseLeadingDouble(generator1.Query("FREQ?"));
    const double levelDbm = ParseLeadingDouble(generator1.Query("SOUR:POW:LEV?"));
    double offset = 0.0;
    const int found =
        table.Interpolate(frequencyHz * 0.000001, levelDbm, offset, CSweepTable::Automatic);
    // Without an offset of its own nothing is sent: the previous result would go out again.
    if (!std::isfinite(frequencyHz) || !std::isfinite(levelDbm)) {
        return std::string("No adjustment to 0°: generator 1's ") +
               (std::isfinite(frequencyHz) ? "level" : "frequency") + " is not a finite number.";
    }
    if (found != CSweepTable::Inside && found != CSweepTable::Outside) {
        return "No adjustment to 0°: PhaseLogSweep.csv gives no offset at generator 1's frequency "
               "and level.";
    }
    phaseResult = offset;
    generator1.Write("SOURCE1:BB:POFF " + FormatFixed(phaseResult, 2) + "DEG");
    generator1.Query("*OPC?");
    return {};
}

}  // namespace korvel
