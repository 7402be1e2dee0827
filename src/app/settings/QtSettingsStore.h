// The settings store on QSettings in native format: the registry on Windows, an INI file
// elsewhere, section-less keys under the organisation and application names.
#pragma once

#include <QSettings>

#include "app/core/MeasurementSettings.h"

namespace korvel {

class QtSettingsStore final : public SettingsStore {
public:
    static constexpr const char* kOrganisation =
        "Vom lokalen Anwendungs-Assistenten generierte Anwendungen";
    static constexpr const char* kApplication = "Korvel";

    // Another format than the native one only for tests.
    explicit QtSettingsStore(QSettings::Format format = QSettings::NativeFormat);
    std::string ReadString(const std::string& key, const std::string& defaultValue) override;
    std::uint32_t ReadInteger(const std::string& key, std::uint32_t defaultValue) override;
    void WriteString(const std::string& key, const std::string& value) override;
    void WriteInteger(const std::string& key, std::uint32_t value) override;
    void Sync() { m_settings.sync(); }
    // The file (or registry key) the values live in, for messages.
    std::string Location() const { return m_settings.fileName().toStdString(); }

private:
    QSettings m_settings;
};

}  // namespace korvel
