// The fast null search: the marker power over generator 1's offset is a + b·cos(φ − φ0) in mW
// (two coherent carriers plus the noise in the resolution bandwidth), so a few readings locate
// the null by a fit instead of a comparison search.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace korvel {

struct NullReading {
    double offsetDeg;  // as sent (two decimals)
    double dbm;
};

struct NullFit {
    bool fits = false;
    double nullDeg = 0.0;  // in [0, 360)
    double worstResidualDb = 0.0;
    double contrastDb = 0.0;    // highest reading over lowest
    double nullSigmaDeg = 0.0;  // the null's standard error
    std::string why;            // why the readings do not fit, when they do not
};

// A reading off the curve by more than this is no reading noise (a bench's is a few hundredths
// to a tenth of a dB, multiplicative): a glitch, a level step or a disturbed reading.
constexpr double kFitResidualLimitDb = 1.0;
// Below this the null is too shallow to be located better than the standard search does.
constexpr double kFitContrastMinDb = 12.0;
// The null's standard error, from the fit and the residuals' scatter, above which the fit is
// not trusted: three of it, 0.15 degrees, is what the standard search's step and noise give.
constexpr double kFitNullSigmaMaxDeg = 0.05;
constexpr int kFastReadings = 8;

// Fits the curve in dB (reading noise is a fraction of a dB, so the readings near the null,
// the most telling, keep their weight) and judges whether the readings support its null.
NullFit FitNull(const std::vector<NullReading>& readings);

// One pass: three readings round the circle from baseDeg, then five near the null, each refit.
// read(offsetDeg) sets generator 1 to the offset (two decimals, 0 to 360) and returns the
// marker reading.
NullFit FastNullSearch(double baseDeg, const std::function<double(double)>& read,
                       std::vector<NullReading>* readings = nullptr);

}  // namespace korvel
