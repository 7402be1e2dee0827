// Colours, pens and axis ranges shared by the sweep and the continuous plot.
#pragma once

#include <QColor>
#include <QString>

class QValueAxis;

namespace korvel {

// Colour of level line index out of count: distinct colours for a few lines, a blue-to-red
// gradient when there are too many to tell apart by colour.
QColor LevelColour(int index, int count);

// [low, high] widened by fraction of its span on each side (a fixed amount when it has none),
// labelled at round values. Phase axes spanning more than half a turn are labelled at
// multiples of 45 degrees, so that the 360 degree jumps of an unwrap fall on grid lines.
void SetPaddedRange(QValueAxis& axis, double low, double high, double fraction,
                    bool degrees = false);

// Text of a number for titles: at most decimals places, trailing zeros dropped.
QString ShortNumber(double value, int decimals);

}  // namespace korvel
