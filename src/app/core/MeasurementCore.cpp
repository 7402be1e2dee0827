#include "MeasurementCore.h"

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

void MeasurementCore::ConnectInstruments() {
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
    m_window.ReadWindow();  // a failed validation does not stop the measurement
    m_window.EnableButton(RunButton::StartSweep, false);
    m_window.EnableButton(RunButton::GetPhaseCont, false);
    m_window.EnableButton(RunButton::Stop, false);
    m_window.EnableButton(RunButton::GetPhaseSingle, false);
    m_window.EnableButton(RunButton::AdjustLevels, false);
    ResetContinuousStatistics();
    m_window.Refresh();
    if (!m_instruments.connected) ConnectInstruments();

    const bool useRfB = m_settings.UseRF_B != 0;
    const MeasureOptions options{useRfB, m_settings.Average, m_settings.PhaseRotation != 0};
    std::string refusal;
    if (options.average >= 1 && options.average <= kMaxAverage) SetupAnalyzer(m_instruments, useRfB);
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
}

// The runs and the adjustments arrive with their own components.
void MeasurementCore::OnGetPhaseCont() {}
void MeasurementCore::OnStartSweep() {}
void MeasurementCore::OnStop() {}
void MeasurementCore::OnAdjustLevels() {}
void MeasurementCore::OnAdjustToZero() {}
void MeasurementCore::OnTimer() {}
