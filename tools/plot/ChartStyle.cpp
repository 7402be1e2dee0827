#include "ChartStyle.h"

#include <QString>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <iterator>

namespace korvel {

QColor LevelColour(int index, int count) {
    static const QColor kDistinct[] = {
        QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
        QColor(0x94, 0x67, 0xbd), QColor(0xff, 0x7f, 0x0e), QColor(0x8c, 0x56, 0x4b),
        QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf),
    };
    constexpr int kDistinctCount = static_cast<int>(std::size(kDistinct));
    if (count <= kDistinctCount)
        return kDistinct[index % kDistinctCount];
    const double t = count > 1 ? static_cast<double>(index) / (count - 1) : 0.0;
    return QColor::fromHsvF(static_cast<float>((1.0 - t) * 0.66), 0.85f, 0.8f);  // blue to red
}

void SetPaddedRange(QValueAxis& axis, double low, double high, double fraction, bool degrees) {
    constexpr double kMostTicks = 9.0;
    if (!std::isfinite(low) || !std::isfinite(high) || low > high) {
        low = 0.0;
        high = 1.0;
    }
    const double span = high - low;
    const double pad = span > 0.0 ? span * fraction : std::max(0.5, std::fabs(low) * 0.01);
    low -= pad;
    high += pad;

    double step = 0.0;
    if (degrees && high - low > 180.0) {
        step = 45.0;
        while ((high - low) / step > kMostTicks)
            step *= 2.0;
    } else {
        const double decade = std::pow(10.0, std::floor(std::log10((high - low) / kMostTicks)));
        for (double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
            step = m * decade;
            if ((high - low) / step <= kMostTicks)
                break;
        }
    }
    axis.setRange(low, high);
    axis.setTickType(QValueAxis::TicksDynamic);
    axis.setTickAnchor(0.0);
    axis.setTickInterval(step);
}

QString ShortNumber(double value, int decimals) {
    QString text = QString::number(value, 'f', decimals);
    if (text.contains('.')) {
        while (text.endsWith('0'))
            text.chop(1);
        if (text.endsWith('.'))
            text.chop(1);
    }
    if (text == "-0")
        text = "0";
    return text;
}

}  // namespace korvel
