// The sweep: a grid of frequencies (inner loop) and levels (outer loop), one point per step,
// results kept in a fixed table until the next start.
#pragma once

#include <string>
#include <vector>

#include "SweepFile.h"
#include "instrument/Instruments.h"
#include "instrument/Window.h"
#include "measure/MeasurePhase.h"

namespace korvel {

struct SweepLimits {
    double startFrequencyMHz = 0.0;
    double stopFrequencyMHz = 0.0;
    double frequencyStepMHz = 0.0;
    double startLevelDbm = 0.0;
    double stopLevelDbm = 0.0;
    double levelStepDbm = 0.0;
};

// Points from start to stop: trunc((stop - start) / step) + 1, computed as a double and capped
// before any integer conversion, so huge values cannot overflow.
int PointCount(double start, double stop, double step, int cap);

// Why limits cannot be swept (a step of zero or less, a value that is not finite), or empty.
std::string CheckSweepLimits(const SweepLimits& limits);

class SweepEngine {
public:
    SweepEngine();

    // Puts each pair of limits in ascending order, computes the grid and clears its block of
    // the table. The limits must have passed CheckSweepLimits.
    void Start(SweepLimits& limits);
    // Measures the next grid point and stores what MeasurePhase returns.
    void Step(Instruments& instruments, const MeasureOptions& options, double& phaseResult,
              Window& window);
    bool Finished() const { return m_completedSteps >= m_totalSteps; }
    // The status line of the step about to run: "Sweep measurement running step k / n", with
    // the fast search's suffix when it is chosen.
    std::string StepStatus(Search search = Search::Standard) const;
    // Passes of this sweep's measurements that fell back to the standard search.
    int FellBack() const { return m_fellBack; }
    // Why the last step's point was not measured; empty when it was.
    const std::string& LastFailure() const { return m_lastFailure; }
    std::string WriteFile(const std::filesystem::path& path, Instruments& instruments,
                          bool useRfB) const;

    int FrequencyCount() const { return m_frequencyCount; }
    int LevelCount() const { return m_levelCount; }
    int TotalSteps() const { return m_totalSteps; }
    int CompletedSteps() const { return m_completedSteps; }
    double Cell(int level, int frequency) const {
        return m_table[level * kMaxFrequencyPoints + frequency];
    }
    SweepGrid Grid() const;
    const double* Table() const { return m_table.data(); }

private:
    std::vector<double> m_table;  // 200 x 500, allocated once
    SweepLimits m_limits;
    int m_frequencyCount = 0;
    int m_levelCount = 0;
    int m_frequencyIndex = 0;
    int m_levelIndex = 0;
    int m_totalSteps = 0;
    int m_completedSteps = 0;
    int m_fellBack = 0;
    std::string m_lastFailure;
};

}  // namespace korvel
