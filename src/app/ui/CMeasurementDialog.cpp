#include "CMeasurementDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <type_traits>

#include "CAboutDialog.h"
#include "CConnectDialog.h"
#include "DialogUnits.h"
#include "FieldText.h"
#include "ProgramIcon.h"
#include "instrument/MessageSink.h"
#include "instrument/NumberText.h"

#ifdef Q_OS_WIN
// MinGW's C++ library defines NOMINMAX itself.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
static_assert(korvel::CMeasurementDialog::kCloseCommand == SC_CLOSE);
#endif

namespace korvel {

namespace {
const char* const kNumberExpected = "Please enter a number.";
const char* const kIntegerExpected = "Please enter an integer.";
const char* const kAverageExpected = "Please enter a whole number from 1 to 100.";

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}
}  // namespace

CMeasurementDialog::SystemCommand CMeasurementDialog::SystemCommandOf(quintptr wParam) {
    switch (wParam & 0xFFF0) {
        case kAboutCommand:
            return SystemCommand::About;
        case kSearchCommand:
            return SystemCommand::ToggleSearch;
        case kCloseCommand:
            return SystemCommand::Close;
        default:
            return SystemCommand::Other;
    }
}

QString CMeasurementDialog::ControlName(int id) {
    return QStringLiteral("IDC_%1").arg(id);
}

QFont CMeasurementDialog::PhaseDisplayFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    // The template asks for a cell height (ascent plus descent) of 85, not an em size; the
    // pixel size that gives it depends on the face, so it is looked up once per process.
    static const int pixelSize = [font]() mutable {
        int best = kPhaseFontCellHeightPx;
        int bestDifference = kPhaseFontCellHeightPx;
        for (int size = kPhaseFontCellHeightPx / 2; size <= kPhaseFontCellHeightPx; ++size) {
            font.setPixelSize(size);
            const QFontMetrics metrics(font);
            const int difference =
                std::abs(metrics.ascent() + metrics.descent() - kPhaseFontCellHeightPx);
            if (difference < bestDifference) {
                bestDifference = difference;
                best = size;
            }
        }
        return best;
    }();
    font.setPixelSize(pixelSize);
    return font;
}

CMeasurementDialog::CMeasurementDialog(SettingsStore& store, QWidget* parent)
    : QDialog(parent), MeasurementCore(store, static_cast<Window&>(*this)) {
    setWindowTitle(QStringLiteral("Korvel 1.42 VISA"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogUnits::DialogFont());
    setWindowIcon(ProgramIcon());
    CreateControls();
    AddBindings();
    AddToolTips();
    SetTabOrder();

    m_timer.setObjectName(QStringLiteral("IDT_TIMER1"));
    m_timer.setInterval(kTimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { Guarded([this] { OnTimer(); }); });

    m_systemMenu = new QMenu(this);
    m_systemMenu->setObjectName(QStringLiteral("IDM_SYSTEM"));
    m_aboutAction =
        m_systemMenu->addAction(Utf8("&Info \xC3\xBC"
                                     "ber Korvel..."));
    m_aboutAction->setObjectName(QStringLiteral("IDM_ABOUTBOX"));
    connect(m_aboutAction, &QAction::triggered, this, &CMeasurementDialog::ShowAboutBox);
    m_searchAction = m_systemMenu->addAction(QStringLiteral("&Fast search"));
    m_searchAction->setObjectName(QStringLiteral("IDM_FASTSEARCH"));
    m_searchAction->setCheckable(true);
    m_searchAction->setChecked(Settings().Search == Search::Fast);
    connect(m_searchAction, &QAction::toggled, this, &CMeasurementDialog::SetFastSearch);

    SetMessageSink([this](const std::string& text) { ShowWarning(text); });
}

CMeasurementDialog::~CMeasurementDialog() {
    m_timer.stop();
    SetMessageSink({});
    // MeasurementCore's destructor releases the sessions and saves the settings.
}

QPushButton* CMeasurementDialog::AddButton(int id, const QString& text, int x, int y, int width,
                                           int height) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(ControlName(id));
    // QDialog makes the first auto-default button the default one, which would take Enter
    // from the fields; keyPressEvent handles Enter instead.
    button->setAutoDefault(false);
    button->setDefault(false);
    DialogUnits(font()).Place(button, x, y, width, height);
    m_controls[id] = button;
    return button;
}

QLineEdit* CMeasurementDialog::AddEdit(int id, int x, int y, int width, int height) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(ControlName(id));
    DialogUnits(font()).Place(edit, x, y, width, height);
    m_controls[id] = edit;
    return edit;
}

QLabel* CMeasurementDialog::AddLabel(const QString& name, const QString& text, int x, int y,
                                     int width, int height) {
    auto* label = new QLabel(text, this);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    DialogUnits(font()).Place(label, x, y, width, height);
    return label;
}

void CMeasurementDialog::CreateControls() {
    const DialogUnits units(font());
    setFixedSize(units.ToPixelsX(407), units.ToPixelsY(298));

    // Group boxes first, so that they lie beneath the controls they frame. The frame line runs
    // through the middle of the title, as in the templates, not below it: the controls sit
    // close under the title.
    const QString groupStyle =
        QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
            " left: %2px; padding: 0px 2px; }")
            .arg(units.CharHeight() / 2)
            .arg(units.ToPixelsX(3));
    auto group = [&](const char* name, const QString& title, int x, int y, int width, int height) {
        auto* box = new QGroupBox(title, this);
        box->setObjectName(QString::fromLatin1(name));
        box->setStyleSheet(groupStyle);
        units.Place(box, x, y, width, height);
    };
    group("IDC_GROUP_CONNECTIONS", QStringLiteral("Connections"), 6, 6, 318, 64);
    group("IDC_GROUP_PHASE", QStringLiteral("Current Phase and Deviation"), 6, 75, 318, 96);
    group("IDC_GROUP_CONTROL", QStringLiteral("Control"), 330, 78, 69, 216);
    group("IDC_GROUP_SWEEP", QStringLiteral("Sweep Values"), 6, 174, 318, 117);

    // A label names the field to its right; labels are given by position, their size reaches
    // to the field.
    auto fieldLabel = [&](int id, const QString& text, int x, int y, int width) {
        AddLabel(ControlName(id) + QStringLiteral("_LABEL"), text, x, y, width, 8);
    };

    // Edits in the order of the tab key; the template's tab order is set afterwards.
    AddEdit(IDC_START_FREQ, 108, 192, 40, 14);
    fieldLabel(IDC_START_FREQ, QStringLiteral("Start Frequency / MHz"), 30, 192, 76);
    AddEdit(IDC_STEP_FREQ, 108, 228, 40, 14);
    fieldLabel(IDC_STEP_FREQ, QStringLiteral("Step / MHz"), 30, 228, 76);
    AddEdit(IDC_STOP_FREQ, 108, 211, 40, 14);
    fieldLabel(IDC_STOP_FREQ, QStringLiteral("Stop Frequency / MHz"), 30, 211, 76);
    AddEdit(IDC_START_LEVEL, 252, 192, 40, 14);
    fieldLabel(IDC_START_LEVEL, QStringLiteral("Start Level / dBm"), 192, 192, 58);
    AddEdit(IDC_STEP_LEVEL, 252, 228, 40, 14);
    fieldLabel(IDC_STEP_LEVEL, QStringLiteral("Step / dBm"), 192, 228, 58);
    AddEdit(IDC_STOP_LEVEL, 252, 211, 40, 14);
    fieldLabel(IDC_STOP_LEVEL, QStringLiteral("Stop Level / dBm"), 192, 211, 58);

    QPushButton* startSweep =
        AddButton(IDC_START_SWEEP, QStringLiteral("StartSweep"), 336, 216, 54, 14);
    QPushButton* stop = AddButton(IDC_STOP, QStringLiteral("Stop"), 336, 192, 54, 14);
    stop->setEnabled(false);

    m_phaseDisplay = AddEdit(IDC_PHASE, 11, 87, 217, 54);
    m_phaseDisplay->setReadOnly(true);
    m_phaseDisplay->setFont(PhaseDisplayFont());

    QPushButton* single =
        AddButton(IDC_GET_PHASE_SINGLE, QStringLiteral("GetPhaseSingle"), 335, 130, 54, 14);
    QPushButton* continuous =
        AddButton(IDC_GET_PHASE_CONT, QStringLiteral("GetPhaseCont"), 335, 154, 54, 14);
    AddEdit(IDC_PERIOD, 367, 170, 22, 14);
    fieldLabel(IDC_PERIOD, QStringLiteral("Period/s"), 337, 174, 28);
    AddEdit(IDC_AVERAGE_COUNT, 367, 90, 22, 14);
    fieldLabel(IDC_AVERAGE_COUNT, QStringLiteral("Avg."), 337, 92, 28);
    auto* phaseRotation = new QCheckBox(QStringLiteral("Phase Rot."), this);
    phaseRotation->setObjectName(ControlName(IDC_PHASE_ROTATION));
    units.Place(phaseRotation, 336, 111, 51, 10);
    m_controls[IDC_PHASE_ROTATION] = phaseRotation;

    QPushButton* connectButton =
        AddButton(IDC_CONNECT, QStringLiteral("Connect ..."), 335, 18, 54, 14);
    QPushButton* adjustLevels =
        AddButton(IDC_ADJUST_LEVELS, QStringLiteral("Adjust Levels"), 336, 246, 54, 14);
    QPushButton* adjustToZero =
        AddButton(IDC_ADJUST_TO_ZERO, Utf8("Adjust to 0\xC2\xB0"), 336, 276, 54, 14);
    QPushButton* setup = AddButton(IDC_SETUP, QStringLiteral("Setup VRx"), 335, 42, 54, 14);

    // Display-only statistics: disabled, never enabled.
    auto display = [&](int id, const QString& label, int y) {
        AddEdit(id, 273, y, 40, 14)->setEnabled(false);
        fieldLabel(id, label, 234, y + 3, 37);
    };
    display(IDC_RUN_COUNT, QStringLiteral("Run Count"), 87);
    display(IDC_AVERAGE_PHASE, QStringLiteral("Average"), 105);
    display(IDC_DEVIATION, QStringLiteral("Deviation"), 123);

    QLabel* hint = AddLabel(
        QStringLiteral("IDC_HINT"),
        QStringLiteral(
            "Connect VRx and ZAx to VISA interfaces, connect REF OUT of ZAx to REF IN of VRx "),
        12, 18, 120, 48);
    hint->setFrameStyle(QFrame::Box | QFrame::Plain);
    hint->setWordWrap(true);

    m_connectionStatus = AddLabel(ControlName(IDC_CONNECTION),
                                  QStringLiteral("Waiting for Connect"), 138, 18, 180, 48);
    m_connectionStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_connectionStatus->setWordWrap(true);
    m_controls[IDC_CONNECTION] = m_connectionStatus;

    QLabel* status = AddLabel(ControlName(IDC_STATUS), QString(), 12, 270, 300, 18);
    status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    status->setWordWrap(true);
    m_controls[IDC_STATUS] = status;

    auto bar = [&](int id, int x, int y, int width, int height) {
        auto* progress = new QProgressBar(this);
        progress->setObjectName(ControlName(id));
        progress->setTextVisible(false);
        progress->setRange(0, 100);
        progress->setValue(0);
        units.Place(progress, x, y, width, height);
        m_controls[id] = progress;
        return progress;
    };
    m_deviationBar = bar(IDC_DEVIATION_BAR, 11, 147, 217, 18);
    fieldLabel(IDC_DEVIATION_BAR, Utf8("Deviation (full scale = 1\xC2\xB0)"), 234, 150, 86);
    m_sweepProgress = bar(IDC_SWEEP_PROGRESS, 11, 249, 301, 18);

    m_runButtons = {{RunButton::StartSweep, startSweep},
                    {RunButton::Stop, stop},
                    {RunButton::GetPhaseSingle, single},
                    {RunButton::GetPhaseCont, continuous},
                    {RunButton::AdjustLevels, adjustLevels}};

    connect(connectButton, &QPushButton::clicked, this,
            [this] { Guarded([this] { OnConnect(); }); });
    connect(setup, &QPushButton::clicked, this, [this] { Guarded([this] { SetupGenerators(); }); });
    connect(single, &QPushButton::clicked, this,
            [this] { Guarded([this] { OnGetPhaseSingle(); }); });
    connect(continuous, &QPushButton::clicked, this,
            [this] { Guarded([this] { OnGetPhaseCont(); }); });
    connect(startSweep, &QPushButton::clicked, this,
            [this] { Guarded([this] { OnStartSweep(); }); });
    connect(stop, &QPushButton::clicked, this, [this] { Guarded([this] { OnStop(); }); });
    connect(adjustLevels, &QPushButton::clicked, this,
            [this] { Guarded([this] { OnAdjustLevels(); }); });
    connect(adjustToZero, &QPushButton::clicked, this,
            [this] { Guarded([this] { OnAdjustToZero(); }); });
}

void CMeasurementDialog::AddBindings() {
    auto edit = [this](int id) { return static_cast<QLineEdit*>(m_controls.at(id)); };
    auto label = [this](int id) { return static_cast<QLabel*>(m_controls.at(id)); };
    m_bindings = {
        DoubleBinding{edit(IDC_START_FREQ), &m_settings.StartFreq, -1},
        DoubleBinding{edit(IDC_STOP_FREQ), &m_settings.StopFreq, -1},
        DoubleBinding{edit(IDC_STEP_FREQ), &m_settings.StepFreq, -1},
        DoubleBinding{edit(IDC_START_LEVEL), &m_settings.StartLevel, -1},
        DoubleBinding{edit(IDC_STOP_LEVEL), &m_settings.StopLevel, -1},
        DoubleBinding{edit(IDC_STEP_LEVEL), &m_settings.StepLevel, -1},
        DoubleBinding{m_phaseDisplay, &m_phaseResult, 3},
        TextBinding{label(IDC_CONNECTION), &m_instruments.connectionText},
        DoubleBinding{edit(IDC_DEVIATION), &m_continuous.Display().deviation, 3},
        IntBinding{edit(IDC_RUN_COUNT), &m_continuous.Display().sampleCount},
        DoubleBinding{edit(IDC_AVERAGE_PHASE), &m_continuous.Display().averagePhase, 3},
        TextBinding{label(IDC_STATUS), &m_statusText},
        DoubleBinding{edit(IDC_PERIOD), &m_settings.Period, -1},
        CountBinding{edit(IDC_AVERAGE_COUNT), &m_settings.Average, 1, 100},
        CheckBinding{static_cast<QCheckBox*>(m_controls.at(IDC_PHASE_ROTATION)),
                     &m_settings.PhaseRotation},
    };
}

void CMeasurementDialog::AddToolTips() {
    const std::pair<int, QString> tips[] = {
        {IDC_CONNECT,
         QStringLiteral("Select the instruments to be used and establish connections to them.")},
        {IDC_SETUP, QStringLiteral("Do one-time initializations like ARB activation with dc.wv.")},
        {IDC_GET_PHASE_SINGLE,
         QStringLiteral("Perform one single phase measurement.Press \"Setup VRx\" before.")},
        {IDC_GET_PHASE_CONT,
         QStringLiteral(
             "Perform continuous phase measurement at the current frequency and level.")},
        {IDC_START_SWEEP, QStringLiteral("Start sweep measurement of phase.")},
        {IDC_STOP, QStringLiteral("Stop sweep measurement of phase.")},
        {IDC_PHASE,
         Utf8("During measurement: Phase needed for interference(180\xC2\xB0), during adjustment : "
              "needed for 0\xC2\xB0.")},
        {IDC_DEVIATION_BAR,
         QStringLiteral("Graphical display of standard deviation (Cont. Measurement only).")},
        {IDC_SWEEP_PROGRESS,
         QStringLiteral("Graphical display of sweep progress (Sweep Measurement only).")},
        {IDC_CONNECTION, QStringLiteral("List of all connected instruments (VISA connections).")},
        {IDC_ADJUST_LEVELS,
         QStringLiteral(
             "Adjust level of signal generator 1 in order to enhance phase measurement.")},
        {IDC_ADJUST_TO_ZERO,
         Utf8("Adjust the phase to 0\xC2\xB0 using an interpolation value based on last sweep.")},
    };
    for (const auto& [id, text] : tips)
        m_controls.at(id)->setToolTip(text);
}

void CMeasurementDialog::SetTabOrder() {
    const int order[] = {IDC_START_FREQ,       IDC_STEP_FREQ,      IDC_STOP_FREQ,
                         IDC_START_LEVEL,      IDC_STEP_LEVEL,     IDC_STOP_LEVEL,
                         IDC_START_SWEEP,      IDC_STOP,           IDC_PHASE,
                         IDC_GET_PHASE_SINGLE, IDC_GET_PHASE_CONT, IDC_PERIOD,
                         IDC_AVERAGE_COUNT,    IDC_PHASE_ROTATION, IDC_CONNECT,
                         IDC_ADJUST_LEVELS,    IDC_ADJUST_TO_ZERO, IDC_SETUP};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(m_controls.at(order[i - 1]), m_controls.at(order[i]));
    // Statics, bars and the display-only fields never take the focus.
    for (const auto& [id, control] : m_controls) {
        if (std::find(std::begin(order), std::end(order), id) == std::end(order))
            control->setFocusPolicy(Qt::NoFocus);
    }
}

void CMeasurementDialog::setVisible(bool visible) {
    if (visible && !m_initialised) {
        m_initialised = true;
        // Placed first, so that the connect dialog and the boxes of the initialisation come up
        // centred over where the window is about to appear.
        if (!testAttribute(Qt::WA_Moved))
            adjustPosition(parentWidget());
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CMeasurementDialog::OnInitDialog() {
    // The template's "Waiting for Connect" gives way to the (empty) connection text here.
    Refresh();
#ifdef Q_OS_WIN
    if (HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE)) {
        const QString text = m_aboutAction->text();
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kAboutCommand, reinterpret_cast<LPCWSTR>(text.utf16()));
        const QString search = m_searchAction->text();
        AppendMenuW(menu, MF_STRING | (m_searchAction->isChecked() ? MF_CHECKED : MF_UNCHECKED),
                    kSearchCommand, reinterpret_cast<LPCWSTR>(search.utf16()));
    }
#endif
    m_timer.start();
    SetProgress(ProgressBarId::Deviation, 0, 100, m_deviationBar->value());
    Guarded([this] { ConnectInstruments(); });
    m_controls.at(IDC_START_FREQ)->setFocus();
}

template <typename Handler>
void CMeasurementDialog::Guarded(Handler handler) {
    // An exception that left a slot would end the program; the action ends here instead.
    try {
        handler();
    } catch (const std::exception& error) {
        ShowError(error.what());
    }
}

void CMeasurementDialog::Refresh() {
    for (const Binding& binding : m_bindings) {
        std::visit(
            [](const auto& b) {
                using B = std::decay_t<decltype(b)>;
                if constexpr (std::is_same_v<B, DoubleBinding>) {
                    const std::string text = b.decimals < 0 ? FieldText::FormatShortest(*b.member)
                                                            : FormatFixed(*b.member, b.decimals);
                    b.edit->setText(QString::fromStdString(text));
                    b.edit->setCursorPosition(0);
                } else if constexpr (std::is_same_v<B, IntBinding> ||
                                     std::is_same_v<B, CountBinding>) {
                    b.edit->setText(QString::number(*b.member));
                } else if constexpr (std::is_same_v<B, TextBinding>) {
                    b.label->setText(QString::fromStdString(*b.member));
                } else {
                    b.box->setChecked(*b.member != 0);
                }
            },
            binding);
    }
}

void CMeasurementDialog::FailRead(QWidget* control, const char* message) {
    ShowWarning(message);
    control->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->selectAll();
}

// A control whose text is still what the refresh wrote keeps its member as it is: the display
// rounds (three decimals for phases) and a text may hold bytes that are not UTF-8, and neither
// may change a member merely because the window was read.
bool CMeasurementDialog::ReadWindow() {
    for (const Binding& binding : m_bindings) {
        const bool converted = std::visit(
            [this](const auto& b) {
                using B = std::decay_t<decltype(b)>;
                if constexpr (std::is_same_v<B, DoubleBinding>) {
                    const std::string shown = b.decimals < 0 ? FieldText::FormatShortest(*b.member)
                                                             : FormatFixed(*b.member, b.decimals);
                    const std::string text = b.edit->text().toStdString();
                    if (text == shown)
                        return true;
                    const auto value = FieldText::ParseDouble(text);
                    if (!value) {
                        FailRead(b.edit, kNumberExpected);
                        return false;
                    }
                    *b.member = *value;
                    return true;
                } else if constexpr (std::is_same_v<B, IntBinding>) {
                    const auto value = FieldText::ParseInt(b.edit->text().toStdString());
                    if (!value) {
                        FailRead(b.edit, kIntegerExpected);
                        return false;
                    }
                    *b.member = *value;
                    return true;
                } else if constexpr (std::is_same_v<B, CountBinding>) {
                    const auto value = FieldText::ParseUnsigned(b.edit->text().toStdString());
                    if (!value || *value < b.minimum || *value > b.maximum) {
                        FailRead(b.edit, kAverageExpected);
                        return false;
                    }
                    *b.member = *value;
                    return true;
                } else if constexpr (std::is_same_v<B, TextBinding>) {
                    const QString text = b.label->text();
                    if (text != QString::fromStdString(*b.member))
                        *b.member = text.toStdString();
                    return true;
                } else {
                    *b.member = b.box->isChecked() ? 1 : 0;
                    return true;
                }
            },
            binding);
        if (!converted)
            return false;
    }
    return true;
}

// Qt moves the focus off a button that gets disabled. A handler disables its own button while
// it runs; when the button comes back and nothing else has taken the focus meanwhile, the
// focus returns to it, so that a keyboard user can press it again.
void CMeasurementDialog::EnableButton(RunButton button, bool enable) {
    QPushButton* control = m_runButtons.at(button);
    const bool hadFocus = focusWidget() == control;
    control->setEnabled(enable);
    if (!enable && hadFocus) {
        m_parkedFocusButton = control;
        m_parkedFocusTarget = focusWidget();
    } else if (enable && m_parkedFocusButton == control) {
        if (focusWidget() == m_parkedFocusTarget)
            control->setFocus();
        m_parkedFocusButton = nullptr;
        m_parkedFocusTarget = nullptr;
    }
}

void CMeasurementDialog::SetProgress(ProgressBarId bar, int lower, int upper, int position) {
    QProgressBar* progress = bar == ProgressBarId::Sweep ? m_sweepProgress : m_deviationBar;
    progress->setRange(lower, upper);
    progress->setValue(position);
}

void CMeasurementDialog::ShowWarning(const std::string& text) {
    QMessageBox::warning(this, QStringLiteral("Korvel"), QString::fromStdString(text));
}

void CMeasurementDialog::ShowError(const std::string& text) {
    QMessageBox::critical(this, QStringLiteral("Korvel"), QString::fromStdString(text));
}

bool CMeasurementDialog::RunConnectDialog(ConnectValues& values) {
    CConnectDialog dialog(this);
    dialog.Values() = values;
    if (dialog.exec() != QDialog::Accepted)
        return false;
    values = dialog.Values();
    return true;
}

void CMeasurementDialog::ShowAboutBox() {
    CAboutDialog about(this);
    about.exec();
}

void CMeasurementDialog::SetFastSearch(bool fast) {
    Settings().Search = fast ? Search::Fast : Search::Standard;
    if (m_searchAction->isChecked() != fast)
        m_searchAction->setChecked(fast);
#ifdef Q_OS_WIN
    // Before the window exists there is no system menu yet; its entry is appended with the
    // action's state then. winId() would create the window here as a side effect.
    if (const WId id = internalWinId()) {
        if (HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(id), FALSE))
            CheckMenuItem(menu, kSearchCommand, MF_BYCOMMAND | (fast ? MF_CHECKED : MF_UNCHECKED));
    }
#endif
}

void CMeasurementDialog::OnOK() {
    if (ReadWindow())
        accept();
}

void CMeasurementDialog::keyPressEvent(QKeyEvent* event) {
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        // A focused push button takes Enter itself, as a focused button does in a dialog; in
        // every other control Enter is the window's accept key.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            if (button->isEnabled())
                button->click();
        } else {
            OnOK();
        }
        return;
    }
    QDialog::keyPressEvent(event);  // Escape ends the window without reading it
}

void CMeasurementDialog::closeEvent(QCloseEvent* event) {
    // The close box reads the fields so that what was typed last is saved; a failed read shows
    // its message and the window closes all the same.
    ReadWindow();
    QDialog::closeEvent(event);
}

void CMeasurementDialog::contextMenuEvent(QContextMenuEvent* event) {
#ifdef Q_OS_WIN
    QDialog::contextMenuEvent(event);  // the entry is in the system menu there
#else
    m_systemMenu->exec(event->globalPos());
#endif
}

#ifdef Q_OS_WIN
bool CMeasurementDialog::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (eventType == "windows_generic_MSG" && msg->message == WM_SYSCOMMAND) {
        switch (SystemCommandOf(msg->wParam)) {
            case SystemCommand::About:
                ShowAboutBox();
                *result = 0;
                return true;
            case SystemCommand::ToggleSearch:
                // A menu choice, no window command: the fields stay unread, as for the about box.
                SetFastSearch(!m_searchAction->isChecked());
                *result = 0;
                return true;
            case SystemCommand::Close:
                break;  // closeEvent reads the fields
            case SystemCommand::Other:
                ReadWindow();
                break;
        }
    }
    return QDialog::nativeEvent(eventType, message, result);
}
#endif

}  // namespace korvel
