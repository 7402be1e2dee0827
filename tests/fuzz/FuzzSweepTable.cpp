// The sweep file loader and its lookup over arbitrary file contents: whatever loads must answer
// every lookup, in and around the table and at non-finite points, with a finite offset or not
// at all.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "FuzzInput.h"
#include "runs/CSweepTable.h"

using namespace korvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/korvel-fuzz-sweep-" + std::to_string(::getpid()) + ".csv";
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    CSweepTable table(path);
    if (!table.IsLoaded())
        return 0;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double nan = std::nan("");
    const double f0 = table.FirstFrequency(), fs = table.FrequencyStep();
    const double l0 = table.FirstLevel(), ls = table.LevelStep();
    const double fn = f0 + (table.ColumnCount() - 1) * fs, ln = l0 + (table.RowCount() - 1) * ls;
    // Each grid point's neighbourhood: on it, between it and the next, just past the ends.
    const double frequencies[] = {-1e300,
                                  f0 - fs,
                                  f0,
                                  f0 + fs * 0.5,
                                  f0 + fs * 1.5,
                                  (f0 + fn) * 0.5,
                                  fn - fs * 0.5,
                                  fn,
                                  fn + fs * 0.5,
                                  std::nextafter(fn, kInf),
                                  1e300,
                                  kInf,
                                  -kInf,
                                  nan};
    const double levels[] = {-1e300, l0 - ls * 1.5, l0 - ls * 0.5,
                             l0,     l0 + ls * 0.5, (l0 + ln) * 0.5,
                             ln,     ln + ls * 0.5, std::nextafter(ln, kInf),
                             1e300,  kInf,          -kInf,
                             nan};
    for (double f : frequencies) {
        for (int row : {-1, 0, table.RowCount() - 1, table.RowCount()}) {
            const double y = table.EvaluateRow(f, row, CSweepTable::Automatic);
            FUZZ_CHECK(!std::isfinite(f) || std::isnan(y) || std::fabs(y) < 360.0);
        }
        for (double l : levels) {
            for (int mode = 0; mode < 4; ++mode) {
                double result = 12345.0;
                const int found = table.Interpolate(f, l, result, mode);
                // An answer is a finite offset; without one the result stays as it was.
                if (found == CSweepTable::Inside || found == CSweepTable::Outside) {
                    FUZZ_CHECK(std::isfinite(result) && std::fabs(result) < 360.0);
                } else {
                    FUZZ_CHECK(found == CSweepTable::Unanswered && result == 12345.0);
                }
                if (!std::isfinite(f) || !std::isfinite(l))
                    FUZZ_CHECK(found == CSweepTable::Unanswered);
            }
        }
    }
    return 0;
}
