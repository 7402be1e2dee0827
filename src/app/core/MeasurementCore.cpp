#include "MeasurementCore.h"

#include <algorithm>
#include <iterator>

#include "instrument/CFileError.h"
#include "instrument/ConnectInstruments.h"
#include "measure/AdjustLevel.h"
#include "measure/MeasurePhase.h"
#include "measure/SetupAnalyzer.h"
#include "measure/SetupGenerators.h"
#include "runs/AdjustToZero.h"
#include "runs/SearchStatus.h"

namespace korvel {

namespace {

enum Cell : signed char { Off, On, Same };  // Same: the button keeps its state

// The buttons in the order they are set, and the state each event leaves them in.
constexpr RunButton kButtonColumns[] = {RunButton::StartSweep, RunButton::GetPhaseCont,
                                        RunButton::Stop, RunButton::GetPhaseSingle,
                                        RunButton::AdjustLevels};
using Event = MeasurementCore::ButtonEvent;
struct ButtonRow {
    Event event;
    Cell cells[std::size(kButtonColumns)];
};
// clang-format off
constexpr ButtonRow kButtonTable[] = {
    //                        StartSweep GetPhaseCont Stop  GetPhaseSingle AdjustLevels
    {Event::Connected,        {On,       On,          Same, On,            Same}},
    {Event::NotConnected,     {Off,      Off,         Same, Off,           Same}},
    {Event::ProcedureStarted, {Off,      Off,         Off,  Off,           Off}},
    {Event::ProcedureEnded,   {On,       On,          Off,  On,            On}},
    {Event::Running,          {Off,      Off,         On,   Off,           Same}},
    {Event::RunEnded,         {On,       On,          Off,  On,            Same}},
};
// clang-format on

}  // namespace

MeasurementCore::MeasurementCore(SettingsStore& store, Window& window)
    : m_store(store), m_window(window), m_settings(LoadSettings(store)) {}

MeasurementCore::~MeasurementCore() {
    m_instruments.Release();
    m_instruments.connected = false;
    SaveSettings(m_settings, m_store);
}

void MeasurementCore::SetResultPath(const std::string& fileName, std::filesystem::path path) {
    (fileName == kSweepFileName ? m_sweepPath : m_continuousPath) = std::move(path);
}

std::filesystem::path MeasurementCore::ResultPath(const char* fileName) const {
    const std::string name = fileName;
    if (name == kContinuousFileName && !m_continuousPath.empty())
        return m_continuousPath;
    if (!m_sweepPath.empty() && name == kSweepFileName)
        return m_sweepPath;
    if (!m_sweepPath.empty() && name == kSweepJournalName) {
        std::filesystem::path journal = m_sweepPath;
        return journal.replace_filename(m_sweepPath.stem().string() + ".partial" +
                                        m_sweepPath.extension().string());
    }
    return m_workingDirectory / fileName;
}

MeasureOptions MeasurementCore::Options() const {
    return MeasureOptions{m_settings.UseRF_B != 0, m_settings.Average,
                          m_settings.PhaseRotation != 0, m_settings.Search};
}

void MeasurementCore::SetButtons(ButtonEvent event) {
    const ButtonRow& row = *std::find_if(std::begin(kButtonTable), std::end(kButtonTable),
                                         [event](const ButtonRow& r) { return r.event == event; });
    for (std::size_t i = 0; i < std::size(kButtonColumns); ++i) {
        if (row.cells[i] != Same)
            m_window.EnableButton(kButtonColumns[i], row.cells[i] == On);
    }
}

void MeasurementCore::EndProcedureButtons() {
    SetButtons(ButtonEvent::ProcedureEnded);
    if (m_runActive)
        SetButtons(ButtonEvent::Running);
}

void MeasurementCore::ConnectInstruments() {
    // The sessions are about to close: a run ends first, exactly as "Stop" ends it, so that the
    // sweep file is written while the generators can still be asked for their temperatures.
    if (m_runActive)
        OnStop();
    BusyScope busy(*this);
    ConnectValues values{m_settings.VisaGenerator1, m_settings.VisaGenerator2,
                         m_settings.VisaAnalyzer, m_settings.UseRF_B};
    const bool connected = korvel::ConnectInstruments(m_instruments, values, m_window);
    SetButtons(connected ? ButtonEvent::Connected : ButtonEvent::NotConnected);
    m_settings.VisaGenerator1 = values.visaGenerator1;
    m_settings.VisaGenerator2 = values.visaGenerator2;
    m_settings.VisaAnalyzer = values.visaAnalyzer;
    m_settings.UseRF_B = values.useRfB;
}

void MeasurementCore::OnConnect() {
    ConnectInstruments();
}

void MeasurementCore::SetupGenerators() {
    BusyScope busy(*this);
    try {
        korvel::SetupGenerators(m_instruments, m_settings.UseRF_B != 0);
    } catch (const CFileError& error) {
        // The set-up ends at the transfer; the user puts the file in place and presses again.
        m_window.ShowError(error.what());
    }
}

void MeasurementCore::OnGetPhaseSingle() {
    BusyScope busy(*this);
    m_window.ReadWindow();  // a failed validation does not stop the measurement
    SetButtons(ButtonEvent::ProcedureStarted);
    m_continuous.ResetStatistics();
    m_window.Refresh();
    if (!m_instruments.connected)
        ConnectInstruments();

    const MeasureOptions options = Options();
    MeasureReport& report = m_lastReport;
    report = {};
    if (options.average >= 1 && options.average <= kMaxAverage)
        SetupAnalyzer(m_instruments, options.useRfB);
    if (MeasurePhase(m_instruments, options, m_phaseResult, m_window, &report) != kNotMeasured) {
        // A fall-back is no failure, but it stands like one: until the next clean measurement.
        if (std::string fellBack = FallBackText(report, options.average); !fellBack.empty()) {
            ShowProcedureFailure(std::move(fellBack));
            m_window.Refresh();
        } else if (ClearProcedureFailure()) {
            m_window.Refresh();
        }
    } else if (!report.refusal.empty() || !report.failure.empty()) {
        ShowProcedureFailure(report.refusal.empty() ? "No measurement: " + report.failure + "."
                                                    : report.refusal);
        m_window.Refresh();
    }
    EndProcedureButtons();
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
    m_statusText = "Sweep is Running" + SearchSuffix(m_settings.Search, 0) +
                   (m_sweepNote.empty() ? "" : " (" + m_sweepNote + ")");
    m_window.Refresh();
    SetButtons(ButtonEvent::Running);
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
    if (!kept.empty())
        m_sweepNote = "an old journal was found and kept as " + kept;
    if (!m_journal.Open(path, m_sweep.Grid(), m_sweep.Table(), m_settings.UseRF_B != 0)) {
        m_sweepNote += std::string(m_sweepNote.empty() ? "" : "; ") +
                       "no journal: " + kSweepJournalName + " cannot be written";
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
    m_statusText = m_sweep.StepStatus(m_settings.Search) +
                   (m_sweepNote.empty() ? "" : " (" + m_sweepNote + ")");
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
        refusal =
            "The continuous measurement cannot start: Avg. must be a whole number from 1 to 100.";
    }
    if (!refusal.empty()) {
        m_window.ShowWarning(refusal);
        return;
    }
    BusyScope busy(*this);
    m_runActive = false;
    if (!m_instruments.connected)
        ConnectInstruments();
    SetupAnalyzer(m_instruments, m_settings.UseRF_B != 0);
    m_continuous.ResetStatistics();
    m_runActive = true;
    m_sweepMode = false;
    if (!m_continuous.Open(ResultPath(kContinuousFileName), periodTicks)) {
        m_runActive = false;
        m_statusText = kContinuousFileError;
        m_window.Refresh();
        return;
    }
    m_statusText = m_continuous.RunningText(m_settings.Search);
    m_window.Refresh();
    const bool written = m_continuous.WriteHeader();
    SetButtons(ButtonEvent::Running);
    m_window.Refresh();
    if (!written)
        EndContinuousLogWithError();
}

void MeasurementCore::EndContinuousLogWithError() {
    m_runActive = false;
    m_continuous.Close();
    m_statusText = kContinuousFileError;
    m_window.Refresh();
    SetButtons(ButtonEvent::RunEnded);
}

void MeasurementCore::RunContinuousSample() {
    if (!m_continuous.Due())
        return;
    BusyScope busy(*this);
    if (m_continuous.Take(Options(), m_phaseResult, m_statusText) ==
        ContinuousRun::Sample::LogFailed) {
        EndContinuousLogWithError();
    }
}

void MeasurementCore::OnStop() {
    const bool sweep = m_sweepMode;
    m_runActive = false;
    if (sweep) {
        m_statusText =
            m_sweep.WriteFile(ResultPath(kSweepFileName), m_instruments, m_settings.UseRF_B != 0);
        // Without the final file the journal holds the points: it goes only once that is in place.
        m_journal.Close(m_statusText == kSweepFileWritten);
    } else {
        m_statusText = m_continuous.Close() ? kContinuousFileWritten : kContinuousFileError;
    }
    m_window.Refresh();
    SetButtons(ButtonEvent::RunEnded);
}

void MeasurementCore::OnAdjustLevels() {
    BusyScope busy(*this);
    SetButtons(ButtonEvent::ProcedureStarted);
    m_window.Refresh();
    if (!m_instruments.connected)
        ConnectInstruments();
    if (const std::string failure = AdjustLevel(m_instruments); !failure.empty()) {
        ShowProcedureFailure("No level adjustment: " + failure + ".");
        m_window.Refresh();
    } else if (m_instruments.connected && ClearProcedureFailure()) {
        m_window.Refresh();
    }
    EndProcedureButtons();
}

void MeasurementCore::ShowProcedureFailure(std::string text) {
    m_statusText = std::move(text);
    m_procedureFailure = m_statusText;
}

bool MeasurementCore::ClearProcedureFailure() {
    // Only a failure text still showing goes; a run's or a file's text stays.
    const bool showing = !m_procedureFailure.empty() && m_statusText == m_procedureFailure;
    if (showing)
        m_statusText.clear();
    m_procedureFailure.clear();
    return showing;
}

void MeasurementCore::OnAdjustToZero() {
    BusyScope busy(*this);
    if (!m_instruments.connected) {
        ConnectInstruments();
        return;
    }
    if (const std::string failure =
            AdjustToZero(m_instruments, ResultPath(kSweepFileName), m_phaseResult);
        !failure.empty()) {
        ShowProcedureFailure(failure);
    } else {
        ClearProcedureFailure();
    }
    m_window.Refresh();
}

}  // namespace korvel
