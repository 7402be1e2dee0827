#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "CConnectDialog.h"
#include "CMeasurementDialog.h"
#include "GuiTestSupport.h"
#include "MemorySettingsStore.h"

namespace {

class ConnectDialogTest : public ::testing::Test {
protected:
    void SetUp() override { dialog.Values() = {"28", "27", "20", 1}; }
    void Show() {
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }
    QLineEdit* Edit(const char* name) { return dialog.findChild<QLineEdit*>(name); }
    QCheckBox* RfB() { return dialog.findChild<QCheckBox*>("IDC_1026"); }
    std::string FocusName() {
        return dialog.focusWidget() ? dialog.focusWidget()->objectName().toStdString()
                                    : std::string();
    }

    QApplication& application = TestApplication();  // before any widget
    CConnectDialog dialog;
};

TEST_F(ConnectDialogTest, EnterRightAfterOpeningConfirmsTheValuesUnchanged) {
    ModalDriver driver;
    std::string focus;
    driver.onConnect = [&](CConnectDialog& d) {
        focus = d.focusWidget()->objectName().toStdString();
        QTest::keyClick(d.focusWidget(), Qt::Key_Return);
    };
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(focus, "IDOK");
    EXPECT_EQ(dialog.Values().visaGenerator1, "28");
    EXPECT_EQ(dialog.Values().visaGenerator2, "27");
    EXPECT_EQ(dialog.Values().visaAnalyzer, "20");
    EXPECT_EQ(dialog.Values().useRfB, 1);
}

TEST_F(ConnectDialogTest, TheCheckBoxSwitchesTheGenerator2FieldWhichKeepsItsText) {
    Show();
    EXPECT_FALSE(Edit("IDC_1025")->isEnabled());
    QTest::mouseClick(RfB(), Qt::LeftButton);
    EXPECT_TRUE(Edit("IDC_1025")->isEnabled());
    Edit("IDC_1025")->setText(" TCPIP::gen2.lab::INSTR ");
    QTest::mouseClick(RfB(), Qt::LeftButton);
    EXPECT_FALSE(Edit("IDC_1025")->isEnabled());
    EXPECT_EQ(Edit("IDC_1025")->text(), " TCPIP::gen2.lab::INSTR ");

    // OK returns every text exactly as typed, the disabled one too.
    dialog.findChild<QPushButton*>("IDOK")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Values().visaGenerator2, " TCPIP::gen2.lab::INSTR ");
    EXPECT_EQ(dialog.Values().useRfB, 1);
}

TEST_F(ConnectDialogTest, TabGoesOkGenerator1AnalyzerGenerator2CheckBox) {
    dialog.Values().useRfB = 0;
    Show();
    ASSERT_EQ(FocusName(), "IDOK");
    std::vector<std::string> walked;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Tab);
        walked.push_back(FocusName());
    }
    EXPECT_EQ(walked,
              (std::vector<std::string>{"IDC_1023", "IDC_1024", "IDC_1025", "IDC_1026", "IDOK"}));

    // Space on the check box disables generator 2, which Tab then skips.
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Backtab);
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Space);
    EXPECT_FALSE(Edit("IDC_1025")->isEnabled());
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(FocusName(), "IDC_1024");
}

TEST_F(ConnectDialogTest, EscapeAndTheCloseBoxCancel) {
    Show();
    Edit("IDC_1024")->setText("21");
    QTest::keyClick(Edit("IDC_1024"), Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.Values().visaAnalyzer, "20");
}

// Through the main window: what the dialog's ending does to the settings and the connection.
TEST(ConnectDialogInTheWindow, ClosingWithoutOkReconnectsWithTheOldValuesAndOkValuesAreSaved) {
    TestApplication();
    MemorySettingsStore store;
    ModalDriver driver;
    driver.onConnect = [](CConnectDialog& d) {
        d.findChild<QLineEdit*>("IDC_1024")->setText("21");
        d.close();
    };
    auto window = std::make_unique<CMeasurementDialog>(store);
    window->show();
    EXPECT_EQ(window->Settings().VisaAnalyzer, "20");
    EXPECT_EQ(driver.MessageTexts().back(), "Cannot open device GPIB0::20::INSTR");

    // OK with RF B set: the generator 2 text typed before it was disabled is kept and saved.
    driver.seen.clear();
    driver.onConnect = [](CConnectDialog& d) {
        auto* rfB = d.findChild<QCheckBox*>("IDC_1026");
        QTest::mouseClick(rfB, Qt::LeftButton);
        d.findChild<QLineEdit*>("IDC_1025")->setText("TCPIP::gen2.lab::INSTR");
        QTest::mouseClick(rfB, Qt::LeftButton);
        d.findChild<QLineEdit*>("IDC_1023")->setText("29");
        d.findChild<QPushButton*>("IDOK")->click();
    };
    QTest::mouseClick(window->findChild<QPushButton*>("IDC_1022"), Qt::LeftButton);
    EXPECT_EQ(driver.MessageTexts(),
              (std::vector<std::string>{"Cannot open device GPIB0::29::INSTR",
                                        "Cannot open device GPIB0::20::INSTR"}));
    window.reset();
    EXPECT_EQ(store.Text("VisaGenerator1"), "29");
    EXPECT_EQ(store.Text("VisaGenerator2"), "TCPIP::gen2.lab::INSTR");
    EXPECT_EQ(std::get<std::uint32_t>(store.values.at("UseRF_B")), 1u);
}

}  // namespace
