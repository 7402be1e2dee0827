// The owner of the program's state, free of any toolkit: settings, instrument sessions and
// connection state. The main dialog derives from it and realises the window.
#pragma once

#include <memory>

#include "CVisaDevice.h"
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

    MeasurementSettings& Settings() { return m_settings; }
    const MeasurementSettings& Settings() const { return m_settings; }
    bool IsConnected() const { return m_connected; }

protected:
    void ReleaseInstruments();

    SettingsStore& m_store;
    Window& m_window;

    std::unique_ptr<CVisaDevice> m_generator1;
    std::unique_ptr<CVisaDevice> m_generator2;
    std::unique_ptr<CVisaDevice> m_analyzer;
    bool m_generator1IsVrt = false;
    bool m_generator2IsVrt = false;
    bool m_connected = false;
    MeasurementSettings m_settings;
    double m_phaseResult = 0.0;
    std::string m_connectionText;
};
