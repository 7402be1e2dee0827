#include "CAboutDialog.h"

#include <QLabel>
#include <QPushButton>

#include "DialogUnits.h"
#include "ProgramIcon.h"

namespace korvel {

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(
        QString::fromUtf8("Info \xC3\xBC"
                          "ber Korvel"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogUnits::DialogFont());
    const DialogUnits units(font());
    setFixedSize(units.ToPixelsX(235), units.ToPixelsY(55));

    // An icon control keeps its image's own size; only its position is in dialog units.
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("IDC_ICON"));
    icon->setPixmap(ProgramIconPixmap(32));
    icon->setGeometry(units.ToPixelsX(11), units.ToPixelsY(17), 32, 32);

    auto* version = new QLabel(QStringLiteral("Korvel Version 1.0"), this);
    version->setObjectName(QStringLiteral("IDC_VERSION"));
    version->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    units.Place(version, 40, 10, 119, 8);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setDefault(true);
    units.Place(ok, 178, 7, 50, 16);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
}

}  // namespace korvel
