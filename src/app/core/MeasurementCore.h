// The owner of the program's state, free of any toolkit: settings, instrument sessions and
// connection state, the phase result and the status line, the runs, and the button handlers,
// which compose the procedures and runs below and set the buttons from one table. The main
// dialog derives from it and realises the window.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "MeasurementSettings.h"
#include "instrument/Instruments.h"
#include "instrument/Window.h"
#include "runs/ContinuousRun.h"
#include "runs/SweepEngine.h"

namespace korvel {

class MeasurementCore {
public:
    // What the buttons follow; each event sets them as its row of the table in the source says.
    enum class ButtonEvent {
        Connected,
        NotConnected,
        ProcedureStarted,  // a single measurement or a level adjustment
        ProcedureEnded,
        Running,  // a run started, or a procedure ended while one goes on
        RunEnded,
    };

    // Loads the settings; opens no instrument.
    MeasurementCore(SettingsStore& store, Window& window);
    // Releases the sessions, clears the connected flag, then saves the settings.
    virtual ~MeasurementCore();
    MeasurementCore(const MeasurementCore&) = delete;
    MeasurementCore& operator=(const MeasurementCore&) = delete;

    // Button handlers.
    void OnConnect();
    void SetupGenerators();  // "Setup VRx"
    void OnGetPhaseSingle();
    void OnGetPhaseCont();
    void OnStartSweep();
    void OnStop();
    void OnAdjustLevels();
    void OnAdjustToZero();
    // Timer 1, every 100 ms for the window's whole life.
    void OnTimer();

    void ConnectInstruments();
    void RunSweepStep();
    void RunContinuousSample();

    // Where result files go (the working directory unless set) and the clock of the timer gate.
    void SetWorkingDirectory(std::filesystem::path directory) {
        m_workingDirectory = std::move(directory);
    }
    // Puts the result file of that name (kSweepFileName or kContinuousFileName) at path instead;
    // the sweep's journal goes beside it as <stem>.partial<extension>.
    void SetResultPath(const std::string& fileName, std::filesystem::path path);
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    void SetClock(Clock clock) { m_clock = std::move(clock); }
    // The local time of the continuous log's time stamps.
    void SetLocalTime(ContinuousRun::LocalTime localTime) {
        m_continuous.SetLocalTime(std::move(localTime));
    }

    MeasurementSettings& Settings() { return m_settings; }
    const MeasurementSettings& Settings() const { return m_settings; }
    const Instruments& GetInstruments() const { return m_instruments; }
    bool IsConnected() const { return m_instruments.connected; }
    double PhaseResult() const { return m_phaseResult; }
    // What the last single measurement found besides its result.
    const MeasureReport& LastReport() const { return m_lastReport; }
    const std::string& StatusText() const { return m_statusText; }
    bool RunActive() const { return m_runActive; }
    bool SweepMode() const { return m_sweepMode; }
    const SweepEngine& Sweep() const { return m_sweep; }
    std::int32_t SampleCount() const { return m_continuous.Display().sampleCount; }
    double AveragePhase() const { return m_continuous.Display().averagePhase; }
    double Deviation() const { return m_continuous.Display().deviation; }
    std::int32_t PeriodInTicks() const { return m_continuous.PeriodInTicks(); }
    int SamplesLogged() const { return m_continuous.Logged(); }
    int SamplesSkippedInARow() const { return m_continuous.SkippedInARow(); }
    int ContinuousFellBack() const { return m_continuous.FellBack(); }

protected:
    // Marks a handler that talks to the instruments: timer ticks that arrive from the nested
    // loops of its message boxes or dialogs must neither start a step nor stop a run.
    class BusyScope {
    public:
        explicit BusyScope(MeasurementCore& core) : m_core(core) { ++m_core.m_busyDepth; }
        ~BusyScope() { --m_core.m_busyDepth; }
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        MeasurementCore& m_core;
    };

    void SetButtons(ButtonEvent event);
    // A procedure's end during a run leaves the run's buttons.
    void EndProcedureButtons();
    MeasureOptions Options() const;
    std::filesystem::path ResultPath(const char* fileName) const;
    void EndContinuousLogWithError();
    // Failure texts of the single measurement and the adjustments stand until one of these
    // procedures next succeeds, which removes the text if it is still showing (true then).
    void ShowProcedureFailure(std::string text);
    bool ClearProcedureFailure();
    void OpenSweepJournal();

    SettingsStore& m_store;
    Window& m_window;

    Instruments m_instruments;
    MeasurementSettings m_settings;
    double m_phaseResult = 0.0;
    std::string m_statusText;
    std::string m_procedureFailure;  // the failure text last shown by a procedure above

    // Run state, shared by the sweep and the continuous measurement.
    SweepEngine m_sweep;
    SweepJournal m_journal;
    std::string m_sweepNote;  // about the journal, shown with each step's status
    bool m_runActive = false;
    bool m_sweepMode = false;
    int m_busyDepth = 0;
    bool m_tickClockSet = false;
    std::chrono::steady_clock::time_point m_tickClock;
    Clock m_clock = [] { return std::chrono::steady_clock::now(); };
    ContinuousRun m_continuous{m_instruments, m_window};
    std::filesystem::path m_workingDirectory;
    std::filesystem::path m_sweepPath, m_continuousPath;  // set only to leave the usual names
    MeasureReport m_lastReport;
};

}  // namespace korvel
