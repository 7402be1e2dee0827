// The connect dialog (template 129): the resource strings of generator 1, the analyzer and
// generator 2, and whether RF B of generator 1 takes generator 2's place. It talks to no
// instrument. The caller sets Values(), runs it modally, and takes Values() back only when it
// ended with OK (a click on the check box reads the fields too, as the template's handler does).
//
// Object names (stable, for tests and scripted walkthroughs):
//   IDOK       OK, the default button
//   IDC_1023   generator 1 resource string
//   IDC_1024   analyzer resource string
//   IDC_1025   generator 2 resource string (disabled while the check box is set)
//   IDC_1026   check box "Use RF B of Generator 1"
//   IDC_HINT   the hint on resource strings
//   IDC_1023_LABEL, IDC_1024_LABEL, IDC_1025_LABEL  the fields' labels
#pragma once

#include <QDialog>

#include "instrument/Window.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace korvel {

class CConnectDialog : public QDialog {
    Q_OBJECT
public:
    enum ControlId : int {
        IDC_GENERATOR1 = 1023,
        IDC_ANALYZER = 1024,
        IDC_GENERATOR2 = 1025,
        IDC_USE_RF_B = 1026,
    };

    explicit CConnectDialog(QWidget* parent = nullptr);

    ConnectValues& Values() { return m_values; }
    const ConnectValues& Values() const { return m_values; }

    // The first show refreshes the controls from Values(), as the dialog's initialisation does.
    void setVisible(bool visible) override;
    // OK and the accept key: the fields are taken into Values() first (this cannot fail).
    void accept() override;

private:
    void Refresh();
    void ReadControls();
    void OnUseRfBClicked();

    ConnectValues m_values{"", "", "", 0};
    bool m_initialised = false;
    QPushButton* m_ok = nullptr;
    QLineEdit* m_generator1 = nullptr;
    QLineEdit* m_analyzer = nullptr;
    QLineEdit* m_generator2 = nullptr;
    QCheckBox* m_useRfB = nullptr;
};

}  // namespace korvel
