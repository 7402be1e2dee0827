// The main window. It derives from the toolkit-free owner of the state and realises the window
// operations the procedures use.
#pragma once

#include <QDialog>

#include "MeasurementCore.h"
#include "Window.h"

class QLabel;

class CMeasurementDialog : public QDialog, public Window, public MeasurementCore {
    Q_OBJECT
public:
    explicit CMeasurementDialog(SettingsStore& store, QWidget* parent = nullptr);
    ~CMeasurementDialog() override;

    void Refresh() override;
    bool ReadWindow() override;
    void EnableButton(RunButton button, bool enable) override;
    void SetProgress(ProgressBarId bar, int lower, int upper, int position) override;
    void ShowWarning(const std::string& text) override;
    void ShowError(const std::string& text) override;
    bool RunConnectDialog(ConnectValues& values) override;

private:
    QLabel* m_connectionLabel = nullptr;
};
