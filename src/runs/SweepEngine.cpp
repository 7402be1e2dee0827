#include "SweepEngine.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "SearchStatus.h"
#include "instrument/NumberText.h"
#include "measure/SetupAnalyzer.h"

namespace korvel {

int PointCount(double start, double stop, double step, int cap) {
    const double count = std::trunc((stop - start) / step) + 1.0;
    if (!(count >= 1.0))
        return 1;  // stop below start is ordered before; NaN never reaches here
    return count > cap ? cap : static_cast<int>(count);
}

std::string CheckSweepLimits(const SweepLimits& l) {
    const double values[] = {l.startFrequencyMHz, l.stopFrequencyMHz, l.frequencyStepMHz,
                             l.startLevelDbm,     l.stopLevelDbm,     l.levelStepDbm};
    for (double v : values) {
        if (!std::isfinite(v))
            return "The sweep cannot start: every sweep value must be a finite number.";
    }
    if (l.frequencyStepMHz <= 0.0)
        return "The sweep cannot start: the frequency step must be greater than 0 MHz.";
    if (l.levelStepDbm <= 0.0)
        return "The sweep cannot start: the level step must be greater than 0 dB.";
    return {};
}

SweepEngine::SweepEngine()
    : m_table(static_cast<size_t>(kMaxLevelPoints) * kMaxFrequencyPoints, 0.0) {}

void SweepEngine::Start(SweepLimits& limits) {
    if (limits.stopLevelDbm < limits.startLevelDbm)
        std::swap(limits.startLevelDbm, limits.stopLevelDbm);
    if (limits.stopFrequencyMHz < limits.startFrequencyMHz)
        std::swap(limits.startFrequencyMHz, limits.stopFrequencyMHz);
    m_limits = limits;
    m_levelIndex = 0;
    m_levelCount =
        PointCount(limits.startLevelDbm, limits.stopLevelDbm, limits.levelStepDbm, kMaxLevelPoints);
    m_frequencyIndex = 0;
    m_frequencyCount = PointCount(limits.startFrequencyMHz, limits.stopFrequencyMHz,
                                  limits.frequencyStepMHz, kMaxFrequencyPoints);
    for (int r = 0; r < m_levelCount; ++r) {
        std::fill_n(m_table.begin() + r * kMaxFrequencyPoints, m_frequencyCount, 0.0);
    }
    m_totalSteps = m_levelCount * m_frequencyCount;
    m_completedSteps = 0;
    m_fellBack = 0;
}

std::string SweepEngine::StepStatus(Search search) const {
    return "Sweep measurement running step " + std::to_string(m_completedSteps) + " / " +
           std::to_string(m_totalSteps) + SearchSuffix(search, m_fellBack);
}

void SweepEngine::Step(Instruments& instruments, const MeasureOptions& options, double& phaseResult,
                       Window& window) {
    if (Finished())
        return;
    const double frequencyHz =
        (m_frequencyIndex * m_limits.frequencyStepMHz + m_limits.startFrequencyMHz) * 1000000.0;
    const double levelDbm = m_levelIndex * m_limits.levelStepDbm + m_limits.startLevelDbm;
    const std::string frequencyCommand = "FREQ " + FormatFixed(frequencyHz, 0) + ";*OPC?";
    const std::string levelText = FormatFixed(levelDbm, 1) + ";*OPC?";

    // Each setting waits for the generator, then its error queue is shown when it holds errors.
    auto set = [](CVisaDevice* generator, const std::string& command) {
        if (!generator)
            return;
        generator->Query(command);
        generator->ReadErrorQueue(true);
    };
    CVisaDevice* generator1 = instruments.generator1.get();
    set(generator1, frequencyCommand);
    set(generator1, "SOURCE1:POW:POW " + levelText);
    if (options.useRfB) {
        set(generator1, "SOURCE2:POW:POW " + levelText);
    } else {
        set(instruments.generator2.get(), frequencyCommand);
        set(instruments.generator2.get(), "SOURCE1:POW:POW " + levelText);
    }
    SetupAnalyzer(instruments, options.useRfB);
    MeasureReport report;
    m_table[m_levelIndex * kMaxFrequencyPoints + m_frequencyIndex] =
        MeasurePhase(instruments, options, phaseResult, window, &report);
    m_fellBack += report.fellBack;
    m_lastFailure = report.refusal.empty() ? report.failure : report.refusal;

    if (++m_frequencyIndex == m_frequencyCount) {
        m_frequencyIndex = 0;
        ++m_levelIndex;
    }
    ++m_completedSteps;
    window.SetProgress(ProgressBarId::Sweep, 0, m_totalSteps, m_completedSteps);
}

SweepGrid SweepEngine::Grid() const {
    return SweepGrid{m_limits.startFrequencyMHz, m_limits.frequencyStepMHz, m_frequencyCount,
                     m_limits.startLevelDbm,     m_limits.levelStepDbm,     m_levelCount};
}

std::string SweepEngine::WriteFile(const std::filesystem::path& path, Instruments& instruments,
                                   bool useRfB) const {
    return WriteSweepFile(path, Grid(), m_table.data(), useRfB, [&](int generator) {
        CVisaDevice* session =
            generator == 1 ? instruments.generator1.get() : instruments.generator2.get();
        if (!session)
            return 0.0;
        return ReadGeneratorTemperature(
            *session, generator == 1 ? instruments.generator1IsVrt : instruments.generator2IsVrt);
    });
}

}  // namespace korvel
