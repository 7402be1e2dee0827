// The three windows against their templates: sizes converted from dialog units with the dialog
// font's metrics (computed here independently), and every text inside its control with the fonts
// of this machine.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <cmath>
#include <string>

#include "GuiTestSupport.h"
#include "app/ui/CAboutDialog.h"
#include "app/ui/CConnectDialog.h"
#include "app/ui/CMeasurementDialog.h"
#include "tests/support/MemorySettingsStore.h"

using namespace korvel;

namespace {

// The base units, computed here the way Windows computes them for a dialog font.
struct BaseUnits {
    int x, y;
    explicit BaseUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        x = static_cast<int>(std::lround(
            metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") /
            52.0));
        y = metrics.ascent() + metrics.descent();
    }
    int X(int dlu) const { return static_cast<int>(std::lround(dlu * x / 4.0)); }
    int Y(int dlu) const { return static_cast<int>(std::lround(dlu * y / 8.0)); }
};

// The window's size in dialog units, converted with its font's base units.
void ExpectSize(QWidget& window, int widthDlu, int heightDlu) {
    const BaseUnits units(window.font());
    EXPECT_NEAR(window.width(), units.X(widthDlu), 1);
    EXPECT_NEAR(window.height(), units.Y(heightDlu), 1);
}

// Every text of window lies inside the part of its control that shows text.
void ExpectTextsFit(QWidget& window) {
    window.ensurePolished();
    for (QWidget* w : window.findChildren<QWidget*>()) {
        w->ensurePolished();
        const QFontMetrics metrics(w->font());
        const std::string name = w->objectName().toStdString();
        const bool push = qobject_cast<QPushButton*>(w) != nullptr;
        if (auto* button = qobject_cast<QAbstractButton*>(w); push || qobject_cast<QCheckBox*>(w)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QRect contents = button->style()->subElementRect(
                push ? QStyle::SE_PushButtonContents : QStyle::SE_CheckBoxContents, &option,
                button);
            EXPECT_LE(metrics.horizontalAdvance(button->text()), contents.width()) << name;
            EXPECT_LE(metrics.height(), push ? contents.height() : button->height()) << name;
        } else if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty()) {
            const QRect contents = label->contentsRect();
            const QRect needed =
                label->wordWrap()
                    ? metrics.boundingRect(contents, Qt::TextWordWrap | label->alignment(),
                                           label->text())
                    : metrics.boundingRect(label->text());
            EXPECT_LE(needed.width(), contents.width())
                << name << ": " << label->text().toStdString();
            EXPECT_LE(label->wordWrap() ? needed.height() : metrics.height(), contents.height())
                << name << ": " << label->text().toStdString();
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            EXPECT_LE(metrics.horizontalAdvance(group->title()) + metrics.averageCharWidth() * 2,
                      group->width())
                << name;
        } else if (auto* edit = qobject_cast<QLineEdit*>(w); edit && !edit->text().isEmpty()) {
            const QRect contents = edit->contentsRect().marginsRemoved(edit->textMargins());
            EXPECT_LE(metrics.horizontalAdvance(edit->text()), contents.width()) << name;
            EXPECT_LE(metrics.tightBoundingRect(edit->text()).height(), contents.height()) << name;
        }
    }
}

class WindowAccess : public CMeasurementDialog {
public:
    using CMeasurementDialog::CMeasurementDialog;
    void SetTexts(const std::string& connection, const std::string& status) {
        m_instruments.connectionText = connection;
        m_statusText = status;
    }
};

TEST(DialogGeometry, MainWindowMatchesTemplate102AndEveryTextFits) {
    TestApplication();
    MemorySettingsStore store;
    WindowAccess window(store);
    ExpectSize(window, 407, 298);

    // A label ends before the field it names.
    for (int id : {1000, 1001, 1002, 1003, 1004, 1005, 1016, 1017, 1018, 1019, 1020}) {
        const QString name = CMeasurementDialog::ControlName(id);
        EXPECT_LT(window.findChild<QWidget*>(name + "_LABEL")->geometry().right(),
                  window.findChild<QWidget*>(name)->geometry().left())
            << id;
    }

    // Texts as they stand at start, and the longest the procedures write: three identification
    // lines, and the status line's longest message.
    window.SetTexts(
        "Maltoven,VRQ200A,100023,4.70\nMaltoven,VRT100A,100057,3.20\nMaltoven,ZAS26,101077,1.91",
        "Error writing PhaseLogCont.csv (opended with another program?)");
    window.Refresh();
    window.findChild<QLineEdit*>("IDC_1011")->setText("359.999");
    window.findChild<QLineEdit*>("IDC_1000")->setText("2000.5");
    ExpectTextsFit(window);

    // The phase display's font is given by its cell height, in the metric-compatible face.
    const QFont phaseFont = window.findChild<QLineEdit*>("IDC_1011")->font();
    EXPECT_EQ(QFontInfo(phaseFont).family(), "Liberation Sans");
    EXPECT_NEAR(QFontMetrics(phaseFont).ascent() + QFontMetrics(phaseFont).descent(), 85, 1);
}

TEST(DialogGeometry, ConnectDialogAndAboutBoxMatchTemplates129And100AndEveryTextFits) {
    TestApplication();
    CConnectDialog dialog;
    dialog.Values() = {"TCPIP::127.0.0.1::hislip0::INSTR", "27", "20", 1};
    ExpectSize(dialog, 279, 134);
    ExpectTextsFit(dialog);

    // An icon keeps its image's own size.
    CAboutDialog about;
    ExpectSize(about, 235, 55);
    EXPECT_EQ(about.findChild<QWidget*>("IDC_ICON")->size(), QSize(32, 32));
    ExpectTextsFit(about);
}

}  // namespace
