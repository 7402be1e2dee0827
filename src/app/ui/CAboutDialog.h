// The about box (template 100): the program icon, the version text and OK. OK, Enter and
// Escape close it; it has no data of its own.
//
// Object names: "IDOK" (OK), "IDC_ICON" (icon), "IDC_VERSION" (version text).
#pragma once

#include <QDialog>

namespace korvel {

class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent = nullptr);
};

}  // namespace korvel
