#include "CConnectDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "DialogUnits.h"

namespace korvel {

namespace {
QLabel* AddStatic(QWidget* parent, const QString& name, const QString& text,
                  const DialogUnits& units, int x, int y, int width, int height) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    units.Place(label, x, y, width, height);
    return label;
}

QLineEdit* AddEdit(QWidget* parent, int id, const DialogUnits& units, int x, int y) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("IDC_%1").arg(id));
    units.Place(edit, x, y, 137, 14);
    return edit;
}
}  // namespace

CConnectDialog::CConnectDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Connect to VISA instruments"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogUnits::DialogFont());
    const DialogUnits units(font());
    setFixedSize(units.ToPixelsX(279), units.ToPixelsY(134));

    // Template order, which is also the tab order.
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("IDOK"));
    m_ok->setDefault(true);
    units.Place(m_ok, 117, 113, 50, 14);
    AddStatic(this, QStringLiteral("IDC_1023_LABEL"),
              QStringLiteral("VISA Resource String for Generator 1"), units, 6, 12, 125, 11);
    m_generator1 = AddEdit(this, IDC_GENERATOR1, units, 6, 24);
    AddStatic(this, QStringLiteral("IDC_1024_LABEL"),
              QStringLiteral("VISA Resource String for Analyzer"), units, 6, 78, 119, 11);
    m_analyzer = AddEdit(this, IDC_ANALYZER, units, 6, 90);
    AddStatic(this, QStringLiteral("IDC_HINT"),
              QStringLiteral("Type in a number -> GPIB address, a string without \"::INSTR\" is "
                             "used as a network address"),
              units, 151, 15, 121, 34)
        ->setWordWrap(true);
    AddStatic(this, QStringLiteral("IDC_1025_LABEL"),
              QStringLiteral("VISA Resource String for Generator 2"), units, 6, 42, 125, 11);
    m_generator2 = AddEdit(this, IDC_GENERATOR2, units, 6, 54);
    m_useRfB = new QCheckBox(QStringLiteral("Use RF B of Generator 1"), this);
    m_useRfB->setObjectName(QStringLiteral("IDC_%1").arg(IDC_USE_RF_B));
    units.Place(m_useRfB, 156, 54, 94, 10);

    setTabOrder(m_ok, m_generator1);
    setTabOrder(m_generator1, m_analyzer);
    setTabOrder(m_analyzer, m_generator2);
    setTabOrder(m_generator2, m_useRfB);

    connect(m_ok, &QPushButton::clicked, this, &CConnectDialog::accept);
    connect(m_useRfB, &QCheckBox::clicked, this, &CConnectDialog::OnUseRfBClicked);
}

void CConnectDialog::setVisible(bool visible) {
    if (visible && !m_initialised) {
        m_initialised = true;
        Refresh();
        m_generator2->setEnabled(m_values.useRfB == 0);
        m_ok->setFocus();
    }
    QDialog::setVisible(visible);
}

void CConnectDialog::accept() {
    ReadControls();
    QDialog::accept();
}

// Texts go both ways exactly as typed: no trimming, no case change.
void CConnectDialog::Refresh() {
    m_generator1->setText(QString::fromStdString(m_values.visaGenerator1));
    m_analyzer->setText(QString::fromStdString(m_values.visaAnalyzer));
    m_generator2->setText(QString::fromStdString(m_values.visaGenerator2));
    m_useRfB->setChecked(m_values.useRfB != 0);
}

void CConnectDialog::ReadControls() {
    m_values.visaGenerator1 = m_generator1->text().toStdString();
    m_values.visaAnalyzer = m_analyzer->text().toStdString();
    m_values.visaGenerator2 = m_generator2->text().toStdString();
    m_values.useRfB = m_useRfB->isChecked() ? 1 : 0;
}

// A disabled generator 2 field keeps its text; it is still returned with the other values.
void CConnectDialog::OnUseRfBClicked() {
    ReadControls();
    m_generator2->setEnabled(m_values.useRfB == 0);
}

}  // namespace korvel
