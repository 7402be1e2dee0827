// The phase measurement: a minimum search of the marker level over generator 1's baseband
// phase offset, by interval halving, averaged over passes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "instrument/Instruments.h"
#include "instrument/Window.h"

namespace korvel {

constexpr double kNotMeasured = -999.0;
constexpr std::uint32_t kMaxAverage = 100;

enum class Search { Standard, Fast };

struct MeasureOptions {
    bool useRfB = true;
    std::uint32_t average = 1;  // passes, 1 to 100
    bool phaseRotation = true;  // spread the passes' base offsets evenly over the circle
    Search search = Search::Standard;
};

// Mean of per-pass differences (degrees in [0, 360)) taken on the circle: each is unwrapped to
// within 180 degrees of the first before the arithmetic mean, which is then wrapped into
// [0, 360). Away from the wrap this is the plain arithmetic mean.
double MeanOfDifferences(const std::vector<double>& differencesDeg);

// The mean rounded half up to three decimals; 360.000 becomes 0.000.
double RoundPhase(double averageDeg);

inline constexpr const char* kReadingsWithoutNumber =
    "the analyzer's marker readings carry no number";
inline constexpr const char* kMeasurementAbandoned = "the measurement was abandoned";

// "the session to <resource> failed" for the first of devices whose session failed; empty when
// none did. Replies after a failure are stale: whatever used them measured nothing.
std::string LostSessionText(std::initializer_list<const CVisaDevice*> devices);

// What a measurement can tell besides its result.
struct MeasureReport {
    std::string refusal;                     // why nothing was measured, when refused
    std::string failure;                     // why the readings taken are no measurement
    std::vector<double> passDifferencesDeg;  // each pass's offset at the minimum, in [0, 360)
    int fellBack = 0;                        // passes that fell back
    std::string fallBackReason;              // the first one's why
};

// Measures and returns the phase in [0, 360), sets it on generator 1 and into phaseResult, and
// refreshes the window. Returns kNotMeasured, with phaseResult unchanged, when the instruments
// are not connected, when the count is outside 1 to 100 (nothing sent; the report says why), or
// when the readings are no measurement (the report's failure says why): a session it uses failed
// on the way (its readings are stale), a marker reading carried no number, or the window asked
// to abandon it (no reading is taken after that).
double MeasurePhase(Instruments& instruments, const MeasureOptions& options, double& phaseResult,
                    Window& window, MeasureReport* report = nullptr);

}  // namespace korvel
