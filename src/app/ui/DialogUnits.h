// Dialog units: the window templates give positions in units of the dialog font, a quarter of
// its average character width across and an eighth of its character height down.
#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace korvel {

class DialogUnits {
public:
    // The dialog font of the templates, 8 points: the platform's sans serif stands in for the
    // Windows shell dialog font.
    static QFont DialogFont();

    explicit DialogUnits(const QFont& font);

    // Width of the 52 Latin letters / 52, rounded, as Windows computes dialog base units.
    int AverageCharWidth() const { return m_averageCharWidth; }
    // Ascent plus descent, without leading.
    int CharHeight() const { return m_charHeight; }

    int ToPixelsX(int dluX) const;
    int ToPixelsY(int dluY) const;
    // Each of x, y, width and height is converted and rounded on its own, as the dialog
    // manager places template controls.
    QRect ToPixels(int x, int y, int width, int height) const;
    // Places widget at the template rectangle.
    void Place(QWidget* widget, int x, int y, int width, int height) const;

private:
    int m_averageCharWidth;
    int m_charHeight;
};

}  // namespace korvel
