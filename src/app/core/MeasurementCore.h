// The owner of the program's state, free of any toolkit: settings, instrument sessions and
// connection state, the phase result and the run displays, and the button handlers. The main
// dialog derives from it and realises the window.
#pragma once

#include <cstdint>
#include <string>

#include "Instruments.h"
#include "MeasurementSettings.h"
#include "Window.h"

class MeasurementCore {
public:
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

    MeasurementSettings& Settings() { return m_settings; }
    const MeasurementSettings& Settings() const { return m_settings; }
    const Instruments& GetInstruments() const { return m_instruments; }
    bool IsConnected() const { return m_instruments.connected; }
    double PhaseResult() const { return m_phaseResult; }
    const std::string& StatusText() const { return m_statusText; }

protected:
    void ResetContinuousStatistics();

    SettingsStore& m_store;
    Window& m_window;

    Instruments m_instruments;
    MeasurementSettings m_settings;
    double m_phaseResult = 0.0;
    std::string m_statusText;
    // Continuous statistics as the window shows them.
    std::int32_t m_sampleCount = 0;
    double m_sampleSum = 0.0;
    double m_averagePhase = 0.0;
    double m_deviation = 0.0;
};
