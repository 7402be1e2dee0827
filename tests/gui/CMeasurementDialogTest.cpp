#include <gtest/gtest.h>

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <map>
#include <memory>

#include "CMeasurementDialog.h"
#include "GuiTestSupport.h"
#include "MemorySettingsStore.h"
#include "NumberText.h"
#include "ScriptedInstrument.h"
#include "visa/InProcess.h"

namespace {

// Gives the tests the members that only procedures set.
class TestDialog : public CMeasurementDialog {
public:
    using CMeasurementDialog::CMeasurementDialog;
    void SetPhaseResult(double phaseDeg) { m_phaseResult = phaseDeg; }
    void SetStatistics(std::int32_t count, double averageDeg, double deviationDeg) {
        m_sampleCount = count;
        m_averagePhase = averageDeg;
        m_deviation = deviationDeg;
    }
};

// Answers every query: the generator "1" (frequency, level, operation complete), the analyzer a
// marker level. Notes the window's button states when the first marker reading is asked for.
class BenchInstrument : public ScriptedInstrument {
public:
    std::function<void()> onFirstMarkerQuery;
    std::string reply = "1\n";

    void Receive(std::string_view message) override {
        if (message.find('?') != std::string_view::npos && message != "*IDN?\n")
            QueueReply(reply);
        if (message == "CALC1:MARK1:Y?\n" && onFirstMarkerQuery) {
            auto callback = std::move(onFirstMarkerQuery);
            onFirstMarkerQuery = nullptr;
            callback();
        }
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
    void AttachBench() {
        generator->idn = "Maltoven,VRQ200A,100023,4.70\n";
        analyzer->idn = "Maltoven,ZAS26,101077,1.91\n";
        analyzer->reply = "-50.0\n";
        generatorLink = visa::AttachInProcess("GPIB0::28::INSTR", generator);
        analyzerLink = visa::AttachInProcess("GPIB0::20::INSTR", analyzer);
    }
    void ConfirmConnectDialog() {
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
    // Ends the program's window the way the application does: destruction saves the settings.
    void Destroy() { dialog.reset(); }

    QApplication& application = TestApplication();  // before any widget or timer
    MemorySettingsStore store;
    ModalDriver driver;
    std::unique_ptr<TestDialog> dialog;
    std::shared_ptr<BenchInstrument> generator = std::make_shared<BenchInstrument>();
    std::shared_ptr<BenchInstrument> analyzer = std::make_shared<BenchInstrument>();
    std::unique_ptr<visa::InProcessAttachment> generatorLink, analyzerLink;
};

TEST_F(MainWindowTest, FirstStartShowsTheConnectDialogBeforeTheWindowThenTheDefaults) {
    bool windowVisibleDuringConnect = true;
    driver.onConnect = [&](CConnectDialog& d) {
        windowVisibleDuringConnect = dialog->isVisible();
        d.close();
    };
    Open();

    ASSERT_EQ(driver.Kinds(), (std::vector<std::string>{"connect", "message", "message"}));
    EXPECT_FALSE(windowVisibleDuringConnect);
    EXPECT_EQ(driver.seen[0].title, "Connect to VISA instruments");
    EXPECT_EQ(driver.seen[0].text, "28|20|27|1|0");  // generator 2 field disabled with RF B
    EXPECT_EQ(driver.seen[0].focus, "IDOK");
    EXPECT_EQ(driver.seen[1].title, "Korvel");
    EXPECT_EQ(driver.MessageTexts(),
              (std::vector<std::string>{"Cannot open device GPIB0::28::INSTR",
                                        "Cannot open device GPIB0::20::INSTR"}));

    EXPECT_EQ(dialog->windowTitle(), "Korvel 1.42 VISA");
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
    EXPECT_FALSE(dialog->windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    const std::map<int, QString> fields{{1000, "10"},    {1002, "2000"}, {1001, "10"},
                                        {1003, "-40"},   {1005, "10"},   {1004, "5"},
                                        {1019, "10"},    {1020, "1"},    {1011, "0.000"},
                                        {1016, "0.000"}, {1017, "0"},    {1018, "0.000"}};
    for (const auto& [id, text] : fields)
        EXPECT_EQ(Text(id), text) << id;
    EXPECT_TRUE(Control<QCheckBox>(1021)->isChecked());
    EXPECT_EQ(Control<QLabel>(1010)->text(), "No generator found on 28!\nNo analyzer found on 20!");
    EXPECT_EQ(Control<QLabel>(1009)->text(), "");
    EXPECT_EQ(FocusName(), "IDC_1000");

    // Not connected: the three run buttons off, Stop off since creation, the rest on.
    EXPECT_EQ(EnabledButtons(), "1015 1022 1027 1028");
    auto* timer = dialog->findChild<QTimer*>("IDT_TIMER1");
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 100);
    EXPECT_EQ(Control<QProgressBar>(1013)->maximum(), 100);
}

TEST_F(MainWindowTest, AFailedReadStopsAtTheFailingFieldWithItsMessageAndFocus) {
    Open();
    for (const char* count : {"0", "101", "-1", "x"}) {
        SCOPED_TRACE(count);
        driver.seen.clear();
        Type(1000, "11");
        Type(1019, "12.5");
        Type(1020, count);
        Control<QCheckBox>(1021)->setChecked(false);
        EXPECT_FALSE(dialog->ReadWindow());
        EXPECT_EQ(driver.MessageTexts(),
                  std::vector<std::string>{"Please enter a whole number from 1 to 100."});
        EXPECT_EQ(FocusName(), "IDC_1020");
        EXPECT_EQ(dialog->Settings().StartFreq, 11.0);  // before "Avg." in the binding order
        EXPECT_EQ(dialog->Settings().Period, 12.5);
        EXPECT_EQ(dialog->Settings().Average, 1u);       // kept
        EXPECT_EQ(dialog->Settings().PhaseRotation, 1);  // after it: not taken over
    }

    driver.seen.clear();
    Type(1020, "100");
    Type(1000, "12");
    Type(1002, "2000,5");  // a comma is no decimal mark here
    Type(1019, "13");
    EXPECT_FALSE(dialog->ReadWindow());
    EXPECT_EQ(driver.MessageTexts(), std::vector<std::string>{"Please enter a number."});
    EXPECT_EQ(FocusName(), "IDC_1002");
    EXPECT_EQ(dialog->Settings().StartFreq, 12.0);
    EXPECT_EQ(dialog->Settings().StopFreq, 2000.0);
    EXPECT_EQ(dialog->Settings().Period, 12.5);

    Type(1002, " 2500 ");
    EXPECT_TRUE(dialog->ReadWindow());
    EXPECT_EQ(dialog->Settings().StopFreq, 2500.0);
    EXPECT_EQ(dialog->Settings().Average, 100u);
    EXPECT_EQ(dialog->Settings().PhaseRotation, 0);
}

TEST_F(MainWindowTest, AStoredAverageOutsideTheLimitsIsShownAndFailsTheNextRead) {
    store.values["Average"] = std::uint32_t{0};
    Open();
    EXPECT_EQ(Text(1020), "0");
    driver.seen.clear();
    EXPECT_FALSE(dialog->ReadWindow());
    EXPECT_EQ(driver.MessageTexts(),
              std::vector<std::string>{"Please enter a whole number from 1 to 100."});
}

TEST_F(MainWindowTest, EnterInAFieldReadsAndClosesOnlyWhenTheReadSucceeds) {
    Open();
    Type(1019, "7.5");
    Type(1020, "101");
    QTest::keyClick(Control(1019), Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(driver.MessageTexts().back(), "Please enter a whole number from 1 to 100.");

    Type(1020, "3");
    Control(1019)->setFocus();
    QTest::keyClick(Control(1019), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    Destroy();
    EXPECT_EQ(store.Text("Period"), "7.500000");
    EXPECT_EQ(std::get<std::uint32_t>(store.values.at("Average")), 3u);
}

TEST_F(MainWindowTest, EnterOnTheCheckBoxIsTheAcceptKeyButAFocusedButtonTakesItItself) {
    Open();
    int connectDialogs = 0;
    driver.onConnect = [&](CConnectDialog& d) {
        ++connectDialogs;
        d.close();
    };
    Control(1022)->setFocus();
    QTest::keyClick(Control(1022), Qt::Key_Return);  // "Connect ..." pressed, not the window closed
    EXPECT_EQ(connectDialogs, 1);
    EXPECT_TRUE(dialog->isVisible());

    Control<QCheckBox>(1021)->setFocus();
    QTest::keyClick(Control(1021), Qt::Key_Space);  // toggles, and Enter then takes it over
    QTest::keyClick(Control(1021), Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
    Destroy();
    EXPECT_EQ(std::get<std::uint32_t>(store.values.at("PhaseRotation")), 0u);
}

TEST_F(MainWindowTest, EscapeClosesWithoutReadingSoTheLastReadValuesAreSaved) {
    Open();
    Type(1000, "123");
    QTest::keyClick(Control(1000), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    Destroy();
    EXPECT_EQ(store.Text("StartFreq"), "10.000000");
}

TEST_F(MainWindowTest, TheCloseBoxReadsFirstAndClosesEvenWhenTheReadFails) {
    Open();
    Type(1000, "55");
    Type(1020, "101");
    driver.seen.clear();
    dialog->close();
    EXPECT_EQ(driver.MessageTexts(),
              std::vector<std::string>{"Please enter a whole number from 1 to 100."});
    EXPECT_FALSE(dialog->isVisible());
    Destroy();
    EXPECT_EQ(store.Text("StartFreq"), "55.000000");
    EXPECT_EQ(std::get<std::uint32_t>(store.values.at("Average")), 1u);
    EXPECT_EQ(store.writes.size(), 13u);
}

TEST_F(MainWindowTest, ButtonStatesFollowTheConnectionAndASingleMeasurement) {
    Open();  // no instruments
    EXPECT_FALSE(Control(1012)->isEnabled());

    AttachBench();
    ConfirmConnectDialog();
    QTest::mouseClick(Control(1022), Qt::LeftButton);
    EXPECT_TRUE(dialog->IsConnected());
    EXPECT_EQ(Control<QLabel>(1010)->text(),
              "Maltoven,VRQ200A,100023,4.70\nMaltoven,ZAS26,101077,1.91");
    EXPECT_EQ(EnabledButtons(), "1006 1012 1014 1015 1022 1027 1028");

    dialog->SetStatistics(5, 12.5, 0.25);
    dialog->Refresh();
    std::string during;
    analyzer->onFirstMarkerQuery = [&] { during = EnabledButtons(); };
    QTest::mouseClick(Control(1012), Qt::LeftButton);
    EXPECT_EQ(during, "1022 1027 1028");
    EXPECT_EQ(EnabledButtons(), "1006 1012 1014 1015 1022 1027 1028");
    // The statistics are cleared and the phase display holds the new result.
    EXPECT_EQ(Text(1017), "0");
    EXPECT_EQ(Text(1018), "0.000");
    EXPECT_EQ(Text(1011).toStdString(), FormatFixed(dialog->PhaseResult(), 3));

    // A failed reconnection turns the run buttons off again.
    analyzerLink.reset();
    driver.seen.clear();
    QTest::mouseClick(Control(1022), Qt::LeftButton);
    EXPECT_FALSE(dialog->IsConnected());
    EXPECT_FALSE(Control(1006)->isEnabled());
    EXPECT_FALSE(Control(1012)->isEnabled());
    EXPECT_FALSE(Control(1014)->isEnabled());
    EXPECT_TRUE(Control(1015)->isEnabled());
}

TEST_F(MainWindowTest, DisplaysShowThreeDecimalsAndReadBackTheSameValue) {
    Open();
    const double phase =
        123456 * 0.001;  // as the measurement rounds: not the double nearest 123.456
    const double sum = 0.1 + 0.2;
    dialog->SetPhaseResult(phase);
    dialog->SetStatistics(7, sum, 1.0 / 3.0);
    dialog->Refresh();
    EXPECT_EQ(Text(1011), "123.456");
    EXPECT_EQ(Text(1018), "0.300");
    EXPECT_EQ(Text(1016), "0.333");
    EXPECT_EQ(Text(1017), "7");
    ASSERT_TRUE(dialog->ReadWindow());
    EXPECT_EQ(dialog->PhaseResult(), phase);
    dialog->Refresh();
    EXPECT_EQ(Text(1018), "0.300");

    // A typed sweep value round-trips exactly and comes back in its shortest form.
    Type(1001, "0.1");
    ASSERT_TRUE(dialog->ReadWindow());
    EXPECT_EQ(dialog->Settings().StepFreq, 0.1);
    dialog->Refresh();
    EXPECT_EQ(Text(1001), "0.1");

    auto* display = Control<QLineEdit>(1011);
    EXPECT_TRUE(display->isReadOnly());
    EXPECT_TRUE(display->focusPolicy() & Qt::TabFocus);
    const QFontMetrics metrics(display->font());
    EXPECT_EQ(QFontInfo(display->font()).family(), "Liberation Sans");
    EXPECT_NEAR(metrics.ascent() + metrics.descent(), 85, 1);
}

TEST_F(MainWindowTest, NumbersUseAPointUnderACommaLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "locale de_DE.UTF-8 is not generated";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5");
    const QLocale savedLocale;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    store.values["StepLevel"] = std::string("2.5");
    Open();
    EXPECT_EQ(Text(1004), "2.5");
    EXPECT_EQ(Text(1003), "-40");
    Type(1019, "0.75");
    EXPECT_TRUE(dialog->ReadWindow());
    EXPECT_EQ(dialog->Settings().Period, 0.75);
    Destroy();
    EXPECT_EQ(store.Text("Period"), "0.750000");

    QLocale::setDefault(savedLocale);
    std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(MainWindowTest, TheAboutEntryOpensTheAboutBoxWithoutReadingTheWindow) {
    Open();
    Type(1020, "0");  // a read would complain
    driver.seen.clear();
    driver.onMenu = [](QMenu& menu) {
        QMetaObject::invokeMethod(menu.actions().front(), &QAction::trigger, Qt::QueuedConnection);
        menu.close();
    };
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            dialog->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(dialog.get(), &event);
    ASSERT_TRUE(QTest::qWaitFor([&] { return driver.seen.size() >= 2; }, 2000));
    EXPECT_EQ(driver.seen[0].kind, "menu");
    EXPECT_EQ(driver.seen[0].text,
              "&Info \xC3\xBC"
              "ber Korvel...");
    EXPECT_EQ(driver.seen[1].kind, "CAboutDialog");
    EXPECT_EQ(driver.seen[1].title,
              "Info \xC3\xBC"
              "ber Korvel");
    EXPECT_EQ(driver.seen[1].focus, "IDOK");
    EXPECT_TRUE(driver.MessageTexts().empty());
    EXPECT_EQ(dialog->Settings().Average, 1u);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(MainWindowTest, TheKeyboardAloneWalksTheTabOrderAndWorksTheButtons) {
    AttachBench();
    ConfirmConnectDialog();
    Open();
    ASSERT_TRUE(dialog->IsConnected());
    ASSERT_EQ(FocusName(), "IDC_1000");

    // Stop is disabled and skipped; the statics, bars and display-only fields never take focus.
    const std::vector<std::string> expected{
        "IDC_1001", "IDC_1002", "IDC_1003", "IDC_1004", "IDC_1005", "IDC_1006",
        "IDC_1011", "IDC_1012", "IDC_1014", "IDC_1019", "IDC_1020", "IDC_1021",
        "IDC_1022", "IDC_1015", "IDC_1027", "IDC_1028", "IDC_1000"};
    std::vector<std::string> walked;
    for (size_t i = 0; i < expected.size(); ++i) {
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
        walked.push_back(FocusName());
    }
    EXPECT_EQ(walked, expected);
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(FocusName(), "IDC_1028");

    // Type a value, tab to GetPhaseSingle and press Space: the read takes the value, and the
    // measurement runs.
    Control(1000)->setFocus();
    QTest::keyClick(dialog->focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(dialog->focusWidget(), "15");
    for (int i = 0; i < 8; ++i)
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(FocusName(), "IDC_1012");
    analyzer->ClearReceived();
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Space);
    EXPECT_EQ(dialog->Settings().StartFreq, 15.0);
    const auto received = analyzer->Received();
    EXPECT_NE(std::find(received.begin(), received.end(), "CALC1:MARK1:Y?\n"), received.end());
    EXPECT_EQ(FocusName(), "IDC_1012");  // back on the button, ready to be pressed again
    analyzer->ClearReceived();
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(analyzer->Received().empty());
}

}  // namespace
