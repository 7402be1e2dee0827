// The program icon: two carriers of different phase, drawn at 32 x 32 and 16 x 16 pixels.
#pragma once

#include <QIcon>
#include <QPixmap>

QPixmap ProgramIconPixmap(int sizePx);
QIcon ProgramIcon();
