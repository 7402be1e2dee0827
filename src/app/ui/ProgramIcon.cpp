#include "ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <numbers>

namespace korvel {

QPixmap ProgramIconPixmap(int sizePx) {
    QPixmap pixmap(sizePx, sizePx);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 128));
    painter.drawRoundedRect(QRectF(0.5, 0.5, sizePx - 1.0, sizePx - 1.0), sizePx / 8.0,
                            sizePx / 8.0);

    const double middle = sizePx / 2.0;
    const double amplitude = sizePx * 0.3;
    auto wave = [&](double phaseRad) {
        QPainterPath path;
        for (int x = 1; x < sizePx - 1; ++x) {
            const double y =
                middle -
                amplitude * std::sin(2.0 * std::numbers::pi * (x - 1) / (sizePx - 3) + phaseRad);
            if (x == 1)
                path.moveTo(x, y);
            else
                path.lineTo(x, y);
        }
        return path;
    };
    painter.setBrush(Qt::NoBrush);
    const double penWidth = sizePx >= 32 ? 2.0 : 1.2;
    painter.setPen(QPen(QColor(255, 255, 0), penWidth));
    painter.drawPath(wave(0.0));
    painter.setPen(QPen(QColor(0, 255, 255), penWidth));
    painter.drawPath(wave(std::numbers::pi * 0.6));
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    icon.addPixmap(ProgramIconPixmap(32));
    icon.addPixmap(ProgramIconPixmap(16));
    return icon;
}

}  // namespace korvel
