#include "QtSettingsStore.h"

#include <QStringList>
#include <cstdint>

namespace korvel {

QtSettingsStore::QtSettingsStore(QSettings::Format format)
    : m_settings(format, QSettings::UserScope, kOrganisation, kApplication) {}

std::string QtSettingsStore::ReadString(const std::string& key, const std::string& defaultValue) {
    const QVariant value = m_settings.value(QString::fromStdString(key));
    if (!value.isValid())
        return defaultValue;
    // An INI value with an unquoted comma comes back as a list; it was one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(',').toStdString();
    return value.toString().toStdString();
}

std::uint32_t QtSettingsStore::ReadInteger(const std::string& key, std::uint32_t defaultValue) {
    const QVariant value = m_settings.value(QString::fromStdString(key));
    if (!value.isValid())
        return defaultValue;
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    // A 32-bit value, signed or unsigned; anything else is not one and gives the default.
    if (!ok || number < INT32_MIN || number > static_cast<qlonglong>(UINT32_MAX))
        return defaultValue;
    return static_cast<std::uint32_t>(number);
}

void QtSettingsStore::WriteString(const std::string& key, const std::string& value) {
    m_settings.setValue(QString::fromStdString(key), QString::fromStdString(value));
}

void QtSettingsStore::WriteInteger(const std::string& key, std::uint32_t value) {
    // The registry keeps a 32-bit variant as DWORD, the type that stored profiles hold and their
    // readers expect; a 64-bit one would become QWORD. An INI file shows both alike.
    const QVariant dword(static_cast<uint>(value));
    Q_ASSERT(dword.typeId() == QMetaType::UInt);
    m_settings.setValue(QString::fromStdString(key), dword);
}

}  // namespace korvel
