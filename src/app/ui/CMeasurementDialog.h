// The main window (template 102). It derives from the toolkit-free owner of the state and
// realises the window operations the procedures use: refresh, read with validation, button
// states, progress bars and the modal prompts.
//
// Every control has a stable object name, so tests and scripted walkthroughs find it with
// findChild<...>(name):
//
//   IDC_1000  edit   Start Frequency / MHz      IDC_1011  edit   phase display (read-only)
//   IDC_1001  edit   Step / MHz                 IDC_1012  button GetPhaseSingle
//   IDC_1002  edit   Stop Frequency / MHz       IDC_1013  bar    deviation (0 to 100)
//   IDC_1003  edit   Start Level / dBm          IDC_1014  button GetPhaseCont
//   IDC_1004  edit   Step / dBm                 IDC_1015  button Adjust Levels
//   IDC_1005  edit   Stop Level / dBm           IDC_1016  edit   Deviation (disabled)
//   IDC_1006  button StartSweep                 IDC_1017  edit   Run Count (disabled)
//   IDC_1007  button Stop                       IDC_1018  edit   Average (disabled)
//   IDC_1008  bar    sweep progress             IDC_1019  edit   Period/s
//   IDC_1009  static status line (sunken)       IDC_1020  edit   Avg.
//   IDC_1010  static connection status (sunken) IDC_1021  check  Phase Rot.
//   IDC_1022  button Connect ...                IDC_1027  button Adjust to 0°
//   IDC_1028  button Setup VRx
//
// A field's label is "IDC_<id>_LABEL"; the group boxes are IDC_GROUP_CONNECTIONS,
// IDC_GROUP_PHASE, IDC_GROUP_CONTROL and IDC_GROUP_SWEEP; the bordered hint is IDC_HINT; the
// 100 ms timer is "IDT_TIMER1"; the menu with the about entry is "IDM_SYSTEM" and its action
// "IDM_ABOUTBOX".
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "app/core/MeasurementCore.h"
#include "instrument/Window.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;

namespace korvel {

class CMeasurementDialog : public QDialog, public Window, public MeasurementCore {
    Q_OBJECT
public:
    enum ControlId : int {
        IDC_START_FREQ = 1000,
        IDC_STEP_FREQ = 1001,
        IDC_STOP_FREQ = 1002,
        IDC_START_LEVEL = 1003,
        IDC_STEP_LEVEL = 1004,
        IDC_STOP_LEVEL = 1005,
        IDC_START_SWEEP = 1006,
        IDC_STOP = 1007,
        IDC_SWEEP_PROGRESS = 1008,
        IDC_STATUS = 1009,
        IDC_CONNECTION = 1010,
        IDC_PHASE = 1011,
        IDC_GET_PHASE_SINGLE = 1012,
        IDC_DEVIATION_BAR = 1013,
        IDC_GET_PHASE_CONT = 1014,
        IDC_ADJUST_LEVELS = 1015,
        IDC_DEVIATION = 1016,
        IDC_RUN_COUNT = 1017,
        IDC_AVERAGE_PHASE = 1018,
        IDC_PERIOD = 1019,
        IDC_AVERAGE_COUNT = 1020,
        IDC_PHASE_ROTATION = 1021,
        IDC_CONNECT = 1022,
        IDC_ADJUST_TO_ZERO = 1027,
        IDC_SETUP = 1028,
    };
    // Command ids of the about and search entries in the system menu: the low four bits are
    // the system's own, so both leave them 0, and the system's commands start at 0xF000.
    static constexpr int kAboutCommand = 16;
    static constexpr int kSearchCommand = 32;
    static constexpr int kCloseCommand = 0xF060;  // the system menu's own close command
    static_assert(kAboutCommand % 16 == 0 && kAboutCommand < 0xF000);
    static_assert(kSearchCommand % 16 == 0 && kSearchCommand < 0xF000);

    // What a system command (WM_SYSCOMMAND's wParam) does in this window: the about box, the
    // search toggle, closing (which reads the fields in closeEvent), or anything else, which
    // reads the fields before the system carries it out.
    enum class SystemCommand { About, ToggleSearch, Close, Other };
    static SystemCommand SystemCommandOf(quintptr wParam);
    static constexpr int kTimerPeriodMs = 100;
    static constexpr int kPhaseFontCellHeightPx = 85;

    // "IDC_<id>".
    static QString ControlName(int id);
    // Liberation Sans (metric-compatible with Arial) at the pixel size whose ascent plus descent
    // is the phase display's cell height.
    static QFont PhaseDisplayFont();

    // Loads the settings; the window's initialisation runs when it is first shown.
    explicit CMeasurementDialog(SettingsStore& store, QWidget* parent = nullptr);
    // Saves the settings (through the owner of the state) after the timer has stopped.
    ~CMeasurementDialog() override;

    void Refresh() override;
    bool ReadWindow() override;
    void EnableButton(RunButton button, bool enable) override;
    void SetProgress(ProgressBarId bar, int lower, int upper, int position) override;
    void ShowWarning(const std::string& text) override;
    void ShowError(const std::string& text) override;
    bool RunConnectDialog(ConnectValues& values) override;

    void ShowAboutBox();
    // Chooses the fast search (checked) or the standard one; the setting is saved at the end.
    void SetFastSearch(bool fast);
    QAction* SearchAction() const { return m_searchAction; }
    QMenu* SystemMenu() const { return m_systemMenu; }

    // The first show runs the initialisation (refresh, timer, connection) while the window is
    // still hidden, so the connect dialog comes before the main window.
    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    // One control bound to one member; both data exchanges walk them in binding order.
    struct DoubleBinding {
        QLineEdit* edit;
        double* member;
        int decimals;  // negative: the shortest exact form
    };
    struct IntBinding {
        QLineEdit* edit;
        std::int32_t* member;
    };
    struct CountBinding {
        QLineEdit* edit;
        std::uint32_t* member;
        std::uint32_t minimum;
        std::uint32_t maximum;
    };
    struct TextBinding {
        QLabel* label;
        std::string* member;
    };
    struct CheckBinding {
        QCheckBox* box;
        std::int32_t* member;
    };
    using Binding =
        std::variant<DoubleBinding, IntBinding, CountBinding, TextBinding, CheckBinding>;

    void CreateControls();
    void AddBindings();
    void AddToolTips();
    void SetTabOrder();
    void OnInitDialog();
    // The accept key: read, and close only when the read succeeded.
    void OnOK();
    void FailRead(QWidget* control, const char* message);
    template <typename Handler>
    void Guarded(Handler handler);

    QPushButton* AddButton(int id, const QString& text, int x, int y, int width, int height);
    QLineEdit* AddEdit(int id, int x, int y, int width, int height);
    QLabel* AddLabel(const QString& name, const QString& text, int x, int y, int width, int height);

    std::map<int, QWidget*> m_controls;
    std::vector<Binding> m_bindings;
    QLineEdit* m_phaseDisplay = nullptr;
    QLabel* m_connectionStatus = nullptr;
    QProgressBar* m_sweepProgress = nullptr;
    QProgressBar* m_deviationBar = nullptr;
    std::map<RunButton, QPushButton*> m_runButtons;
    QPointer<QPushButton> m_parkedFocusButton;  // disabled while it had the focus
    QPointer<QWidget> m_parkedFocusTarget;      // where the focus went then
    QMenu* m_systemMenu = nullptr;
    QAction* m_aboutAction = nullptr;
    QAction* m_searchAction = nullptr;
    QTimer m_timer{this};  // a child, so that it can be found by name
    bool m_initialised = false;
};

}  // namespace korvel
