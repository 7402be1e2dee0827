// The program icon: two carriers of different phase, drawn at 32 x 32 and 16 x 16 pixels.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace korvel {

QPixmap ProgramIconPixmap(int sizePx);
QIcon ProgramIcon();

}  // namespace korvel
