#include "MeasurementCore.h"

#include "AdjustLevel.h"
#include "CFileError.h"
#include "ConnectInstruments.h"
#include "MeasurePhase.h"
#include "SetupAnalyzer.h"
#include "SetupGenerators.h"

MeasurementCore::MeasurementCore(SettingsStore& store, Window& window)
    : m_store(store), m_window(window), m_settings(LoadSettings(store)) {}

MeasurementCore::~MeasurementCore() {
    m_instruments.Release();
    m_instruments.connected = false;
    SaveSettings(m_settings, m_store);
}

MeasureOptions MeasurementCore::Options() const {
    return MeasureOptions{m_settings.UseRF_B != 0, m_settings.Average, m_settings.PhaseRotation != 0};
}

void MeasurementCore::KeepRunButtons() {
    if (!m_runActive) return;
    m_window.EnableButton(RunButton::StartSweep, false);
    m_window.EnableButton(RunButton::GetPhaseCont, false);
    m_window.EnableButton(RunButton::GetPhaseSingle, false);
    m_window.EnableButton(RunButton::Stop, true);
}

void MeasurementCore::ConnectInstruments() {
    // The sessions are about to close: a run ends first, exactly as "Stop" ends it, so that the
    // sweep file is written while the generators can still be asked for their temperatures.
    if (m_runActive) OnStop();
    BusyScope busy(*this);
    ConnectValues values{m_settings.VisaGenerator1, m_settings.VisaGenerator2, m_settings.VisaAnalyzer,
                         m_settings.UseRF_B};
    ::ConnectInstruments(m_instruments, values, m_window);
    m_settings.VisaGenerator1 = values.visaGenerator1;
    m_settings.VisaGenerator2 = values.visaGenerator2;
    m_settings.VisaAnalyzer = values.visaAnalyzer;
    m_settings.UseRF_B = values.useRfB;
}

void MeasurementCore::OnConnect() { ConnectInstruments(); }

void MeasurementCore::SetupGenerators() {
    BusyScope busy(*this);
    try {
        ::SetupGenerators(m_instruments, m_settings.UseRF_B != 0);
    } catch (const CFileError& error) {
        // The set-up ends at the transfer; the user puts the file in place and presses again.
        m_window.ShowError(error.what());
    }
}

void MeasurementCore::ResetContinuousStatistics() {
    m_sampleSum = 0.0;
    m_sampleCount = 0;
    m_averagePhase = 0.0;
    m_deviation = 0.0;
    m_window.SetProgress(ProgressBarId::Deviation, 0, 100, 0);
}

void MeasurementCore::OnGetPhaseSingle() {
    BusyScope busy(*this);
    m_window.ReadWindow();  // a failed validation does not stop the measurement
    m_window.EnableButton(RunButton::StartSweep, false);
    m_window.EnableButton(RunButton::GetPhaseCont, false);
    m_window.EnableButton(RunButton::Stop, false);
    m_window.EnableButton(RunButton::GetPhaseSingle, false);
    m_window.EnableButton(RunButton::AdjustLevels, false);
    ResetContinuousStatistics();
    m_window.Refresh();
    if (!m_instruments.connected) ConnectInstruments();

    const MeasureOptions options = Options();
    std::string refusal;
    if (options.average >= 1 && options.average <= kMaxAverage) SetupAnalyzer(m_instruments, options.useRfB);
    MeasurePhase(m_instruments, options, m_phaseResult, m_window, &refusal);
    if (!refusal.empty()) {
        m_statusText = refusal;
        m_window.Refresh();
    }

    m_window.EnableButton(RunButton::StartSweep, true);
    m_window.EnableButton(RunButton::GetPhaseCont, true);
    m_window.EnableButton(RunButton::GetPhaseSingle, true);
    m_window.EnableButton(RunButton::AdjustLevels, true);
    m_window.EnableButton(RunButton::Stop, false);
    KeepRunButtons();
}

void MeasurementCore::OnStartSweep() {
    m_window.ReadWindow();  // the sweep goes on with the members as they then stand
    SweepLimits limits{m_settings.StartFreq,  m_settings.StopFreq,  m_settings.StepFreq,
                       m_settings.StartLevel, m_settings.StopLevel, m_settings.StepLevel};
    std::string refusal = CheckSweepLimits(limits);
    if (refusal.empty() && (m_settings.Average < 1 || m_settings.Average > kMaxAverage)) {
        refusal = "The sweep cannot start: Avg. must be a whole number from 1 to 100.";
    }
    if (!refusal.empty()) {
        m_window.ShowWarning(refusal);
        return;
    }
    m_sweep.Start(limits);
    m_settings.StartFreq = limits.startFrequencyMHz;
    m_settings.StopFreq = limits.stopFrequencyMHz;
    m_settings.StartLevel = limits.startLevelDbm;
    m_settings.StopLevel = limits.stopLevelDbm;
    m_window.Refresh();
    m_runActive = true;
    m_sweepMode = true;
    m_statusText = "Sweep is Running";
    m_window.Refresh();
    m_window.EnableButton(RunButton::StartSweep, false);
    m_window.EnableButton(RunButton::GetPhaseCont, false);
    m_window.EnableButton(RunButton::Stop, true);
    m_window.EnableButton(RunButton::GetPhaseSingle, false);
}

void MeasurementCore::OnTimer() {
    const auto now = m_clock();
    if (!m_tickClockSet) {
        m_tickClock = now;
        m_tickClockSet = true;
    }
    // A tick more than 500 ms after the previous one began follows a blocking step: skip it.
    const bool late = now - m_tickClock > std::chrono::milliseconds(500);
    if (!late && m_runActive && m_busyDepth == 0) {
        if (m_sweepMode) {
            RunSweepStep();
        } else {
            RunContinuousSample();
        }
    }
    m_tickClock = now;
}

void MeasurementCore::RunSweepStep() {
    BusyScope busy(*this);
    m_statusText = m_sweep.StepStatus();
    m_window.Refresh();
    m_sweep.Step(m_instruments, Options(), m_phaseResult, m_window);
    if (m_sweep.Finished()) {
        m_statusText = "Completed";
        m_window.Refresh();
        OnStop();
    }
    m_window.Refresh();
}

void MeasurementCore::RunContinuousSample() {}

void MeasurementCore::OnStop() {
    const bool sweep = m_sweepMode;
    m_runActive = false;
    if (sweep) {
        m_statusText = m_sweep.WriteFile(ResultPath(kSweepFileName), m_instruments, m_settings.UseRF_B != 0);
    } else {
        m_statusText = "File PhaseLogCont.csv written";
    }
    m_window.Refresh();
    m_window.EnableButton(RunButton::StartSweep, true);
    m_window.EnableButton(RunButton::GetPhaseCont, true);
    m_window.EnableButton(RunButton::Stop, false);
    m_window.EnableButton(RunButton::GetPhaseSingle, true);
}

void MeasurementCore::OnAdjustLevels() {
    BusyScope busy(*this);
    m_window.EnableButton(RunButton::StartSweep, false);
    m_window.EnableButton(RunButton::GetPhaseCont, false);
    m_window.EnableButton(RunButton::Stop, false);
    m_window.EnableButton(RunButton::GetPhaseSingle, false);
    m_window.EnableButton(RunButton::AdjustLevels, false);
    m_window.Refresh();
    if (!m_instruments.connected) ConnectInstruments();
    AdjustLevel(m_instruments);
    m_window.EnableButton(RunButton::StartSweep, true);
    m_window.EnableButton(RunButton::GetPhaseCont, true);
    m_window.EnableButton(RunButton::GetPhaseSingle, true);
    m_window.EnableButton(RunButton::AdjustLevels, true);
    m_window.EnableButton(RunButton::Stop, false);
    KeepRunButtons();
}

// The continuous measurement and the adjustment to zero arrive with their own components.
void MeasurementCore::OnGetPhaseCont() {}
void MeasurementCore::OnAdjustToZero() {}
