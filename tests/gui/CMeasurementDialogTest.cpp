#include <gtest/gtest.h>

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <clocale>
#include <map>
#include <memory>
#include <sstream>
#include <utility>

#include "GuiTestSupport.h"
#include "app/ui/CMeasurementDialog.h"
#include "instrument/NumberText.h"
#include "tests/support/MemorySettingsStore.h"
#include "tests/support/ScriptedInstrument.h"
#include "visa/InProcess.h"

using namespace korvel;

namespace {

const std::string kAverageMessage = "Please enter a whole number from 1 to 100.";

// Gives the tests the members that only procedures set.
class TestDialog : public CMeasurementDialog {
public:
    using CMeasurementDialog::CMeasurementDialog;
    void SetPhaseResult(double phaseDeg) { m_phaseResult = phaseDeg; }
    void SetStatistics(std::int32_t count, double averageDeg, double deviationDeg) {
        m_continuous.Display() = {count, averageDeg, deviationDeg};
    }
};

// Answers every query: the generator "1" (frequency, level, operation complete), the analyzer a
// marker level. Calls back when the first marker reading is asked for.
class BenchInstrument : public ScriptedInstrument {
public:
    std::function<void()> onFirstMarkerQuery;
    std::string reply = "1\n";

    void Receive(std::string_view message) override {
        if (message.find('?') != std::string_view::npos && message != "*IDN?\n")
            QueueReply(reply);
        if (message == "CALC1:MARK1:Y?\n" && onFirstMarkerQuery)
            std::exchange(onFirstMarkerQuery, nullptr)();
        ScriptedInstrument::Receive(message);
    }
};

class MainWindowTest : public ::testing::Test {
protected:
    void TearDown() override { dialog.reset(); }

    // Shows the window; its initialisation runs the connect dialog, answered by the driver.
    void Open() {
        dialog = std::make_unique<TestDialog>(store);
        dialog->show();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    }
    // Ends the program's window the way the application does: destruction saves the settings.
    void Destroy() { dialog.reset(); }
    void AttachBench() {
        generator->idn = "Maltoven,VRQ200A,100023,4.70\n";
        analyzer->idn = "Maltoven,ZAS26,101077,1.91\n";
        analyzer->reply = "-50.0\n";
        generatorLink = visa::AttachInProcess("GPIB0::28::INSTR", generator);
        analyzerLink = visa::AttachInProcess("GPIB0::20::INSTR", analyzer);
        driver.onConnect = [](CConnectDialog& d) { d.findChild<QPushButton*>("IDOK")->click(); };
    }

    template <typename T = QWidget>
    T* Control(int id) const {
        T* control = dialog->findChild<T*>(CMeasurementDialog::ControlName(id));
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    QString Text(int id) const { return Control<QLineEdit>(id)->text(); }
    void Type(int id, const QString& text) const { Control<QLineEdit>(id)->setText(text); }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const {
        QTest::keyClick(dialog->focusWidget(), static_cast<Qt::Key>(key), modifiers);
    }
    // The ids of the enabled push buttons, in id order.
    std::string EnabledButtons() const {
        std::string ids;
        for (int id : {1006, 1007, 1012, 1014, 1015, 1022, 1027, 1028})
            if (Control(id)->isEnabled())
                ids += (ids.empty() ? "" : " ") + std::to_string(id);
        return ids;
    }
    std::string FocusName() const {
        QWidget* focus = dialog->focusWidget();
        return focus ? focus->objectName().toStdString() : std::string();
    }
    // StartFreq, StopFreq, Period, Average and PhaseRotation as the window last read them.
    std::string ReadValues() const {
        const MeasurementSettings& s = dialog->Settings();
        std::ostringstream text;
        text << s.StartFreq << ' ' << s.StopFreq << ' ' << s.Period << ' ' << s.Average << ' '
             << s.PhaseRotation;
        return text.str();
    }
    // What the last save stored of StartFreq, Period, Average and PhaseRotation.
    std::string Saved() const {
        auto integer = [this](const char* key) {
            return std::to_string(std::get<std::uint32_t>(store.values.at(key)));
        };
        return store.Text("StartFreq") + " " + store.Text("Period") + " " + integer("Average") +
               " " + integer("PhaseRotation");
    }

    QApplication& application = TestApplication();  // before any widget or timer
    MemorySettingsStore store;
    ModalDriver driver;
    std::unique_ptr<TestDialog> dialog;
    std::shared_ptr<BenchInstrument> generator = std::make_shared<BenchInstrument>();
    std::shared_ptr<BenchInstrument> analyzer = std::make_shared<BenchInstrument>();
    std::unique_ptr<visa::InProcessAttachment> generatorLink, analyzerLink;
};

// The connect dialog comes before the window; closing it without OK drops what was typed, OK
// returns every text exactly as typed, a disabled field's too, and they are saved. Unticking
// "Use RF B" enables the generator 2 field; Enter right after the dialog opens is its OK.
TEST_F(MainWindowTest, FirstStartShowsTheConnectDialogBeforeTheWindowAndOnlyOkTakesItsValues) {
    bool windowVisibleDuringConnect = true;
    driver.onConnect = [&](CConnectDialog& d) {
        windowVisibleDuringConnect = dialog->isVisible();
        d.findChild<QLineEdit*>("IDC_1024")->setText("21");
        d.close();
    };
    Open();
    ASSERT_EQ(driver.seen.size(), 3u);
    EXPECT_FALSE(windowVisibleDuringConnect);
    EXPECT_EQ(driver.seen[0].kind, "connect");
    EXPECT_EQ(driver.seen[0].text, "28|20|27|1|0");  // generator 2 field disabled with RF B
    EXPECT_EQ(driver.seen[0].focus, "IDOK");
    EXPECT_EQ(driver.seen[1].title, "Korvel");
    EXPECT_EQ(driver.MessageTexts(),
              (std::vector<std::string>{"Cannot open device GPIB0::28::INSTR",
                                        "Cannot open device GPIB0::20::INSTR"}));
    EXPECT_EQ(dialog->Settings().VisaAnalyzer, "20");
    EXPECT_EQ(Control<QLabel>(1010)->text(), "No generator found on 28!\nNo analyzer found on 20!");
    EXPECT_EQ(FocusName(), "IDC_1000");
    // Not connected: the three run buttons off, Stop off since creation, the rest on.
    EXPECT_EQ(EnabledButtons(), "1015 1022 1027 1028");
    EXPECT_TRUE(dialog->findChild<QTimer*>("IDT_TIMER1")->isActive());

    driver.seen.clear();
    std::string generator2Enabled;  // after unticking, after ticking again
    driver.onConnect = [&](CConnectDialog& d) {
        auto* rfB = d.findChild<QCheckBox*>("IDC_1026");
        auto* generator2 = d.findChild<QLineEdit*>("IDC_1025");
        QTest::mouseClick(rfB, Qt::LeftButton);
        generator2Enabled = generator2->isEnabled() ? "1" : "0";
        generator2->setText(" TCPIP::gen2.lab::INSTR ");
        QTest::mouseClick(rfB, Qt::LeftButton);
        generator2Enabled += generator2->isEnabled() ? " 1" : " 0";
        d.findChild<QLineEdit*>("IDC_1023")->setText("29");
        d.findChild<QPushButton*>("IDOK")->click();
    };
    QTest::mouseClick(Control(1022), Qt::LeftButton);
    EXPECT_EQ(generator2Enabled, "1 0");
    EXPECT_EQ(driver.MessageTexts(),
              (std::vector<std::string>{"Cannot open device GPIB0::29::INSTR",
                                        "Cannot open device GPIB0::20::INSTR"}));

    driver.seen.clear();
    driver.onConnect = [](CConnectDialog& d) {
        d.findChild<QLineEdit*>("IDC_1024")->setText("22");  // the focus stays where it opened
        QTest::keyClick(d.focusWidget(), Qt::Key_Return);
        if (d.isVisible())
            d.close();
    };
    QTest::mouseClick(Control(1022), Qt::LeftButton);
    EXPECT_EQ(driver.MessageTexts(),
              (std::vector<std::string>{"Cannot open device GPIB0::29::INSTR",
                                        "Cannot open device GPIB0::22::INSTR"}));
    Destroy();
    EXPECT_EQ(store.Text("VisaGenerator1"), "29");
    EXPECT_EQ(store.Text("VisaGenerator2"), " TCPIP::gen2.lab::INSTR ");
    EXPECT_EQ(std::get<std::uint32_t>(store.values.at("UseRF_B")), 1u);
}

// The context menu's entries act without reading the window (a read would refuse "Avg."): the
// first opens the about box on OK, and OK closes it; the second toggles the fast search.
TEST_F(MainWindowTest, TheContextMenuOpensTheAboutBoxAndTogglesTheFastSearch) {
    Open();
    Type(1020, "0");
    driver.seen.clear();
    int entry = 0;
    driver.onMenu = [&entry](QMenu& menu) {
        // Clicked from the menu's own loop: the driver's poll must go on to meet the about box.
        QTimer::singleShot(0, &menu, [&menu, entry] {
            QTest::mouseClick(&menu, Qt::LeftButton, {},
                              menu.actionGeometry(menu.actions().at(entry)).center());
            menu.close();  // still open only when the click chose nothing
        });
    };
    bool closedByOk = false;
    driver.onOther = [&](QDialog& box) {
        QTest::mouseClick(box.findChild<QPushButton*>("IDOK"), Qt::LeftButton);
        closedByOk = !box.isVisible();
        box.close();
    };
    QContextMenuEvent event(QContextMenuEvent::Mouse, {5, 5}, dialog->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(dialog.get(), &event);
    ASSERT_EQ(driver.seen.size(), 2u);
    EXPECT_EQ(driver.seen[0].kind + " " + driver.seen[0].text,
              "menu &Info \xC3\xBC"
              "ber Korvel...|&Fast search");
    EXPECT_EQ(driver.seen[1].kind + " " + driver.seen[1].title + " " + driver.seen[1].focus,
              "korvel::CAboutDialog Info \xC3\xBC"
              "ber Korvel IDOK");
    EXPECT_TRUE(closedByOk);
    EXPECT_TRUE(dialog->isVisible());

    EXPECT_FALSE(dialog->SearchAction()->isChecked());
    for (const bool fast : {true, false, true}) {
        driver.seen.clear();
        entry = 1;
        QApplication::sendEvent(dialog.get(), &event);
        EXPECT_EQ(driver.seen.size(), 1u);  // the menu, and no box
        EXPECT_EQ(dialog->SearchAction()->isChecked(), fast);
        EXPECT_EQ(dialog->Settings().Search, fast ? Search::Fast : Search::Standard);
    }
    Destroy();
    EXPECT_EQ(store.Text("Search"), "fast");
}

// On Windows the same two entries sit in the system menu; the low four bits of a command are
// the system's, so they never change which entry was chosen (0xF012 is a drag by the caption,
// the move command with a low bit set; 0xF100 opens the menu from the keyboard).
TEST(SystemMenuCommand, LowFourBitsAreMaskedBeforeTheEntryIsChosen) {
    using C = CMeasurementDialog::SystemCommand;
    const std::pair<quintptr, C> cases[] = {
        {16, C::About},     {0x1F, C::About},  {32, C::ToggleSearch}, {0x23, C::ToggleSearch},
        {0, C::Other},      {48, C::Other},    {0xF060, C::Close},    {0xF063, C::Close},
        {0xF012, C::Other}, {0xF100, C::Other}};
    for (const auto& [wParam, expected] : cases)
        EXPECT_EQ(CMeasurementDialog::SystemCommandOf(wParam), expected) << wParam;
}

// One tip per control, each its whole text; no other control has one.
TEST_F(MainWindowTest, TheTwelveToolTips) {
    const std::map<int, std::string> expected{
        {1022, "Select the instruments to be used and establish connections to them."},
        {1028, "Do one-time initializations like ARB activation with dc.wv."},
        {1012, "Perform one single phase measurement.Press \"Setup VRx\" before."},
        {1014, "Perform continuous phase measurement at the current frequency and level."},
        {1006, "Start sweep measurement of phase."},
        {1007, "Stop sweep measurement of phase."},
        {1011,
         "During measurement: Phase needed for interference(180\xC2\xB0), during "
         "adjustment : needed for 0\xC2\xB0."},
        {1013, "Graphical display of standard deviation (Cont. Measurement only)."},
        {1008, "Graphical display of sweep progress (Sweep Measurement only)."},
        {1010, "List of all connected instruments (VISA connections)."},
        {1015, "Adjust level of signal generator 1 in order to enhance phase measurement."},
        {1027, "Adjust the phase to 0\xC2\xB0 using an interpolation value based on last sweep."},
    };
    TestDialog window(store);
    std::map<int, std::string> tips;
    for (QWidget* control : window.findChildren<QWidget*>())
        if (!control->toolTip().isEmpty())
            tips[control->objectName().mid(4).toInt()] = control->toolTip().toStdString();
    EXPECT_EQ(tips, expected);
}

// What is saved depends on how the window ends: Enter reads and closes only when the read
// succeeds, Escape closes without reading, the close box reads and closes even when the read
// fails; a focused button takes Enter itself.
TEST_F(MainWindowTest, EnterEscapeAndTheCloseBoxDecideWhatIsSaved) {
    Open();
    Type(1019, "7.5");
    Type(1020, "101");
    QTest::keyClick(Control(1019), Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(driver.MessageTexts().back(), kAverageMessage);
    Type(1020, "3");
    Control(1019)->setFocus();
    Key(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    Destroy();
    EXPECT_EQ(Saved(), "10.000000 7.500000 3 1");

    Open();
    Type(1000, "123");
    QTest::keyClick(Control(1000), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    Destroy();
    EXPECT_EQ(Saved(), "10.000000 7.500000 3 1");

    Open();
    Type(1000, "55");
    Type(1020, "101");
    driver.seen.clear();
    store.writes.clear();
    dialog->close();
    EXPECT_EQ(driver.MessageTexts(), std::vector<std::string>{kAverageMessage});
    EXPECT_FALSE(dialog->isVisible());
    Destroy();
    EXPECT_EQ(Saved(), "55.000000 7.500000 3 1");
    EXPECT_EQ(store.writes.size(), 14u);

    Open();
    int connectDialogs = 0;
    driver.onConnect = [&](CConnectDialog& d) {
        ++connectDialogs;
        d.close();
    };
    Control(1022)->setFocus();
    Key(Qt::Key_Return);  // "Connect ..." pressed, not the window closed
    EXPECT_EQ(connectDialogs, 1);
    EXPECT_TRUE(dialog->isVisible());
    Control(1021)->setFocus();
    Key(Qt::Key_Space);  // toggles, and Enter then takes it over
    Key(Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
    Destroy();
    EXPECT_EQ(Saved(), "55.000000 7.500000 3 0");
}

// A handler disables its own button while it runs; the focus comes back to it afterwards.
TEST_F(MainWindowTest, TheKeyboardWorksTheButtonsWhichFollowTheConnectionAndAMeasurement) {
    AttachBench();
    Open();
    ASSERT_TRUE(dialog->IsConnected());
    EXPECT_EQ(Control<QLabel>(1010)->text(),
              "Maltoven,VRQ200A,100023,4.70\nMaltoven,ZAS26,101077,1.91");
    EXPECT_EQ(EnabledButtons(), "1006 1012 1014 1015 1022 1027 1028");
    ASSERT_EQ(FocusName(), "IDC_1000");

    // The whole tab order: Stop is disabled and skipped; the statics, bars and display-only
    // fields never take focus.
    const std::vector<std::string> order{"IDC_1001", "IDC_1002", "IDC_1003", "IDC_1004", "IDC_1005",
                                         "IDC_1006", "IDC_1011", "IDC_1012", "IDC_1014", "IDC_1019",
                                         "IDC_1020", "IDC_1021", "IDC_1022", "IDC_1015", "IDC_1027",
                                         "IDC_1028", "IDC_1000"};
    std::vector<std::string> walked;
    for (size_t i = 0; i < order.size(); ++i) {
        Key(Qt::Key_Tab);
        walked.push_back(FocusName());
    }
    EXPECT_EQ(walked, order);
    Key(Qt::Key_Backtab);
    EXPECT_EQ(FocusName(), "IDC_1028");
    Key(Qt::Key_Tab);

    // Type a value, tab to GetPhaseSingle (the disabled Stop, the bars and the display-only
    // fields take no focus) and press Space: the read takes the value, the measurement runs with
    // the run buttons off and clears the statistics.
    dialog->SetStatistics(5, 12.5, 0.25);
    dialog->Refresh();
    Key(Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(dialog->focusWidget(), "15");
    for (int i = 0; i < 8; ++i)
        Key(Qt::Key_Tab);
    ASSERT_EQ(FocusName(), "IDC_1012");
    std::string during = "not measured";
    analyzer->onFirstMarkerQuery = [&] { during = EnabledButtons(); };
    Key(Qt::Key_Space);
    EXPECT_EQ(dialog->Settings().StartFreq, 15.0);
    EXPECT_EQ(during, "1022 1027 1028");
    EXPECT_EQ(EnabledButtons(), "1006 1012 1014 1015 1022 1027 1028");
    EXPECT_EQ(Text(1017), "0");
    EXPECT_EQ(Text(1018), "0.000");
    EXPECT_EQ(Text(1011).toStdString(), FormatFixed(dialog->PhaseResult(), 3));
    EXPECT_EQ(FocusName(), "IDC_1012");  // back on the button, ready to be pressed again

    // A failed reconnection turns the run buttons off again.
    analyzerLink.reset();
    QTest::mouseClick(Control(1022), Qt::LeftButton);
    EXPECT_FALSE(dialog->IsConnected());
    EXPECT_EQ(EnabledButtons(), "1015 1022 1027 1028");
}

// Under a comma locale the fields still show and read a point and refuse a comma. Fields are read
// in the binding order; the first that fails keeps its member, takes the focus and leaves the
// later ones unread. The displays round to three decimals without changing the values behind
// them, and the store gets points.
TEST_F(MainWindowTest, ReadingTheWindowUnderACommaLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "locale de_DE.UTF-8 is not generated";
    ASSERT_EQ(std::localeconv()->decimal_point, std::string(","));
    const QLocale savedLocale;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    store.values["StepLevel"] = std::string("2.5");
    store.values["Average"] = std::uint32_t{0};  // outside the limits: shown, refused when read
    Open();
    EXPECT_EQ(Text(1004), "2.5");
    EXPECT_EQ(Text(1003), "-40");
    EXPECT_EQ(Text(1020), "0");
    for (const char* count : {"0", "101", "-1", "x"}) {
        SCOPED_TRACE(count);
        driver.seen.clear();
        Type(1000, "11");
        Type(1019, "12.5");
        Type(1020, count);
        Control<QCheckBox>(1021)->setChecked(false);
        EXPECT_FALSE(dialog->ReadWindow());
        EXPECT_EQ(driver.MessageTexts(), std::vector<std::string>{kAverageMessage});
        EXPECT_EQ(FocusName(), "IDC_1020");
        // Read before "Avg.", "Avg." kept, the check box after it not taken over.
        EXPECT_EQ(ReadValues(), "11 2000 12.5 0 1");
    }

    driver.seen.clear();
    Type(1020, "100");
    Type(1000, "12");
    Type(1002, "2000,5");
    Type(1019, "13");
    EXPECT_FALSE(dialog->ReadWindow());
    EXPECT_EQ(driver.MessageTexts(), std::vector<std::string>{"Please enter a number."});
    EXPECT_EQ(FocusName(), "IDC_1002");
    EXPECT_EQ(ReadValues(), "12 2000 12.5 0 1");
    Type(1002, " 2500 ");
    EXPECT_TRUE(dialog->ReadWindow());
    EXPECT_EQ(ReadValues(), "12 2500 13 100 0");

    const double phase = 100064 * 0.001;  // as the measurement rounds: not the double nearest
    dialog->SetPhaseResult(phase);
    dialog->SetStatistics(7, 0.1 + 0.2, 1.0 / 3.0);
    dialog->Refresh();
    EXPECT_EQ(Text(1011), "100.064");
    EXPECT_EQ(Text(1018), "0.300");
    EXPECT_EQ(Text(1016), "0.333");
    EXPECT_EQ(Text(1017), "7");
    Type(1001, "0.1");
    Type(1019, "0.75");
    ASSERT_TRUE(dialog->ReadWindow());
    EXPECT_EQ(dialog->PhaseResult(), phase);
    EXPECT_EQ(dialog->Settings().StepFreq, 0.1);
    EXPECT_EQ(dialog->Settings().Period, 0.75);
    dialog->Refresh();
    EXPECT_EQ(Text(1018), "0.300");
    EXPECT_EQ(Text(1001), "0.1");  // the shortest form that reads back the same
    Destroy();
    EXPECT_EQ(store.Text("Period"), "0.750000");

    QLocale::setDefault(savedLocale);
    std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
