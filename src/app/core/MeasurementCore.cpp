#include "MeasurementCore.h"

#include <cmath>

#include "measure/AdjustLevel.h"
#include "instrument/CFileError.h"
#include "runs/CSweepTable.h"
#include "instrument/NumberText.h"
#include "instrument/ConnectInstruments.h"
#include "measure/MeasurePhase.h"
#include "measure/SetupAnalyzer.h"
#include "measure/SetupGenerators.h"

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
    m_statistics.Reset();
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
    MeasureReport report;
    if (options.average >= 1 && options.average <= kMaxAverage) SetupAnalyzer(m_instruments, options.useRfB);
    if (MeasurePhase(m_instruments, options, m_phaseResult, m_window, &report) != kNotMeasured) {
        if (ClearProcedureFailure()) m_window.Refresh();
    } else if (!report.refusal.empty() || !report.failure.empty()) {
        ShowProcedureFailure(report.refusal.empty() ? "No measurement: " + report.failure + "." : report.refusal);
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
    OpenSweepJournal();
    m_runActive = true;
    m_sweepMode = true;
    m_statusText = m_sweepNote.empty() ? "Sweep is Running" : "Sweep is Running (" + m_sweepNote + ")";
    m_window.Refresh();
    m_window.EnableButton(RunButton::StartSweep, false);
    m_window.EnableButton(RunButton::GetPhaseCont, false);
    m_window.EnableButton(RunButton::Stop, true);
    m_window.EnableButton(RunButton::GetPhaseSingle, false);
}

void MeasurementCore::OpenSweepJournal() {
    // A journal still there is all that is left of a sweep that never ended: it is kept.
    const std::filesystem::path path = ResultPath(kSweepJournalName);
    std::string kept;
    m_sweepNote.clear();
    if (!KeepOldJournal(path, kept)) {
        m_sweepNote = std::string("an old journal was found; it stays as ") + kSweepJournalName +
                      ", and this sweep runs without one";
        return;
    }
    if (!kept.empty()) m_sweepNote = "an old journal was found and kept as " + kept;
    if (!m_journal.Open(path, m_sweep.Grid(), m_sweep.Table(), m_settings.UseRF_B != 0)) {
        m_sweepNote += std::string(m_sweepNote.empty() ? "" : "; ") + "no journal: " + kSweepJournalName +
                       " cannot be written";
    }
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
    m_statusText = m_sweep.StepStatus() + (m_sweepNote.empty() ? "" : " (" + m_sweepNote + ")");
    m_window.Refresh();
    const int before = m_sweep.CompletedSteps();
    m_sweep.Step(m_instruments, Options(), m_phaseResult, m_window);
    if (m_sweep.CompletedSteps() > before && m_journal.IsOpen() &&
        !m_journal.Update(m_sweep.Table(), before / m_sweep.FrequencyCount())) {
        m_journal.Close(false);
        m_sweepNote = std::string("no journal: writing ") + kSweepJournalName + " failed";
    }
    if (m_sweep.Finished()) {
        m_statusText = "Completed";
        m_window.Refresh();
        OnStop();
    }
    m_window.Refresh();
}

void MeasurementCore::OnGetPhaseCont() {
    m_window.ReadWindow();
    std::string refusal;
    const std::int32_t periodTicks = PeriodTicks(m_settings.Period, &refusal);
    if (refusal.empty() && (m_settings.Average < 1 || m_settings.Average > kMaxAverage)) {
        refusal = "The continuous measurement cannot start: Avg. must be a whole number from 1 to 100.";
    }
    if (!refusal.empty()) {
        m_window.ShowWarning(refusal);
        return;
    }
    BusyScope busy(*this);
    m_runActive = false;
    if (!m_instruments.connected) ConnectInstruments();
    SetupAnalyzer(m_instruments, m_settings.UseRF_B != 0);
    ResetContinuousStatistics();
    m_runActive = true;
    m_sweepMode = false;
    m_periodTicks = periodTicks;
    m_tickCounter = 0;
    if (!m_log.Open(ResultPath(kContinuousFileName))) {
        m_runActive = false;
        m_statusText = kContinuousFileError;
        m_window.Refresh();
        return;
    }
    m_statusText = kContinuousRunning;
    m_window.Refresh();
    bool written = m_log.WriteLine("DeltaPhase Measurement Logfile versus Time");
    if (m_instruments.generator1) {
        const std::string frequency = m_instruments.generator1->Query("FREQ?");
        const std::string level = m_instruments.generator1->Query("SOUR:POW:LEV?");
        written = m_log.WriteLine("Frequency/Hz = " + frequency + " Level/dBm = " + level) && written;
    }
    written = m_log.WriteLine("DATE;TIME;TEMP Gen1;TEMP Gen2;PHASE") && written;
    m_window.EnableButton(RunButton::StartSweep, false);
    m_window.EnableButton(RunButton::GetPhaseCont, false);
    m_window.EnableButton(RunButton::Stop, true);
    m_window.EnableButton(RunButton::GetPhaseSingle, false);
    m_window.Refresh();
    if (!written) EndContinuousLogWithError();
}

void MeasurementCore::EndContinuousLogWithError() {
    m_runActive = false;
    m_log.Close();
    m_statusText = kContinuousFileError;
    m_window.Refresh();
    m_window.EnableButton(RunButton::StartSweep, true);
    m_window.EnableButton(RunButton::GetPhaseCont, true);
    m_window.EnableButton(RunButton::Stop, false);
    m_window.EnableButton(RunButton::GetPhaseSingle, true);
}

void MeasurementCore::RunContinuousSample() {
    if (++m_tickCounter < m_periodTicks) return;
    m_tickCounter = 0;
    BusyScope busy(*this);
    MeasureReport report;
    if (MeasurePhase(m_instruments, Options(), m_phaseResult, m_window, &report) == kNotMeasured) {
        // The phase display still holds an earlier reading: it is no new sample.
        m_statusText = "Sample skipped: no measurement (" +
                       (report.failure.empty() ? std::string("instrument not connected") : report.failure) + ")";
        m_window.Refresh();
        return;
    }
    const double sample = m_phaseResult;
    if (m_statusText != kContinuousRunning) {
        m_statusText = kContinuousRunning;
        m_window.Refresh();
    }
    m_statistics.Add(sample);
    m_sampleCount = m_statistics.Count();
    if (m_sampleCount > 1) {
        m_averagePhase = m_statistics.Average();
        m_deviation = m_statistics.Deviation();
        m_window.SetProgress(ProgressBarId::Deviation, 0, 100, m_statistics.BarPosition());
        m_window.Refresh();
    }

    std::string line = TimeStamp(m_localTime());
    const std::string temperature1 =
        m_instruments.generator1
            ? FormatFixed(ReadGeneratorTemperature(*m_instruments.generator1, m_instruments.generator1IsVrt), 3) + ";"
            : "0.000;";
    line += temperature1;
    if (m_settings.UseRF_B == 0 && m_instruments.generator2) {
        line += FormatFixed(ReadGeneratorTemperature(*m_instruments.generator2, m_instruments.generator2IsVrt), 3) + ";";
    } else {
        line += temperature1;
    }
    line += FormatFixed(sample, 3);
    if (!m_log.WriteLine(line)) EndContinuousLogWithError();
}

void MeasurementCore::OnStop() {
    const bool sweep = m_sweepMode;
    m_runActive = false;
    if (sweep) {
        m_statusText = m_sweep.WriteFile(ResultPath(kSweepFileName), m_instruments, m_settings.UseRF_B != 0);
        // Without the final file the journal holds the points: it goes only once that is in place.
        m_journal.Close(m_statusText == kSweepFileWritten);
    } else {
        m_statusText = m_log.Close() ? kContinuousFileWritten : kContinuousFileError;
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
    if (const std::string failure = AdjustLevel(m_instruments); !failure.empty()) {
        ShowProcedureFailure("No level adjustment: " + failure + ".");
        m_window.Refresh();
    } else if (m_instruments.connected && ClearProcedureFailure()) {
        m_window.Refresh();
    }
    m_window.EnableButton(RunButton::StartSweep, true);
    m_window.EnableButton(RunButton::GetPhaseCont, true);
    m_window.EnableButton(RunButton::GetPhaseSingle, true);
    m_window.EnableButton(RunButton::AdjustLevels, true);
    m_window.EnableButton(RunButton::Stop, false);
    KeepRunButtons();
}

void MeasurementCore::ShowProcedureFailure(std::string text) {
    m_statusText = std::move(text);
    m_procedureFailure = m_statusText;
}

bool MeasurementCore::ClearProcedureFailure() {
    // Only a failure text still showing goes; a run's or a file's text stays.
    const bool showing = !m_procedureFailure.empty() && m_statusText == m_procedureFailure;
    if (showing) m_statusText.clear();
    m_procedureFailure.clear();
    return showing;
}

void MeasurementCore::OnAdjustToZero() {
    BusyScope busy(*this);
    if (!m_instruments.connected) {
        ConnectInstruments();
        return;
    }
    CSweepTable table(ResultPath(kSweepFileName).string());
    if (!table.IsLoaded()) {
        ShowProcedureFailure("Error reading PhaseLogSweep.csv - no adjustment possible!");
    } else {
        CVisaDevice& generator1 = *m_instruments.generator1;
        const double frequencyHz = ParseLeadingDouble(generator1.Query("FREQ?"));
        const double levelDbm = ParseLeadingDouble(generator1.Query("SOUR:POW:LEV?"));
        double offset = 0.0;
        const int found = table.Interpolate(frequencyHz * 0.000001, levelDbm, offset, CSweepTable::Automatic);
        // Without an offset of its own nothing is sent: the previous result would go out again.
        if (!std::isfinite(frequencyHz) || !std::isfinite(levelDbm)) {
            ShowProcedureFailure(std::string("No adjustment to 0°: generator 1's ") +
                                 (std::isfinite(frequencyHz) ? "level" : "frequency") + " is not a finite number.");
        } else if (found != CSweepTable::Inside && found != CSweepTable::Outside) {
            ShowProcedureFailure(
                "No adjustment to 0°: PhaseLogSweep.csv gives no offset at generator 1's frequency and level.");
        } else {
            m_phaseResult = offset;
            generator1.Write("SOURCE1:BB:POFF " + FormatFixed(m_phaseResult, 2) + "DEG");
            generator1.Query("*OPC?");
            ClearProcedureFailure();
        }
    }
    m_window.Refresh();
}
