#include "CMeasurementDialog.h"

#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

#include "MessageSink.h"

CMeasurementDialog::CMeasurementDialog(SettingsStore& store, QWidget* parent)
    : QDialog(parent), MeasurementCore(store, static_cast<Window&>(*this)) {
    setWindowTitle("Korvel 1.42 VISA");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(this);
    m_connectionLabel = new QLabel("Waiting for Connect", this);
    layout->addWidget(m_connectionLabel);
    SetMessageSink([this](const std::string& text) { ShowWarning(text); });
}

CMeasurementDialog::~CMeasurementDialog() {
    SetMessageSink({});
    // MeasurementCore's destructor releases the sessions and saves the settings.
}

void CMeasurementDialog::Refresh() {
    m_connectionLabel->setText(m_instruments.connectionText.empty() ? QString("Waiting for Connect")
                                                        : QString::fromStdString(m_instruments.connectionText));
}

bool CMeasurementDialog::ReadWindow() { return true; }

void CMeasurementDialog::EnableButton(RunButton, bool) {}

void CMeasurementDialog::SetProgress(ProgressBarId, int, int, int) {}

void CMeasurementDialog::ShowWarning(const std::string& text) {
    QMessageBox::warning(this, "Korvel", QString::fromStdString(text));
}

void CMeasurementDialog::ShowError(const std::string& text) {
    QMessageBox::critical(this, "Korvel", QString::fromStdString(text));
}

bool CMeasurementDialog::RunConnectDialog(ConnectValues&) { return false; }
