#include "DialogUnits.h"

#include <QFontMetrics>
#include <QWidget>

namespace korvel {

QFont DialogUnits::DialogFont() {
    QFont font;
#ifdef Q_OS_WIN
    // The shell's dialog font is an alias (of Tahoma) that the font database may not list by
    // that name; Tahoma behind it keeps the same face and metrics either way.
    font.setFamilies({QStringLiteral("MS Shell Dlg 2"), QStringLiteral("Tahoma")});
#else
    // DejaVu Sans is Debian's sans serif; every template text fits with it. A face of Arial's
    // metrics would not do: its average width rounds down (6.4 to 6 pixels), which leaves
    // "GetPhaseSingle" wider than its button. Elsewhere the desktop's sans serif is taken.
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
#endif
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_averageCharWidth = (width / 26 + 1) / 2;
    m_charHeight = metrics.ascent() + metrics.descent();
}

namespace {
// MulDiv: rounded to the nearest integer, halves away from zero.
int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}
}  // namespace

int DialogUnits::ToPixelsX(int dluX) const {
    return MulDiv(dluX, m_averageCharWidth, 4);
}

int DialogUnits::ToPixelsY(int dluY) const {
    return MulDiv(dluY, m_charHeight, 8);
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const {
    return QRect(ToPixelsX(x), ToPixelsY(y), ToPixelsX(width), ToPixelsY(height));
}

void DialogUnits::Place(QWidget* widget, int x, int y, int width, int height) const {
    widget->setGeometry(ToPixels(x, y, width, height));
}

}  // namespace korvel
