#pragma once

// The program's icon, drawn rather than loaded so the program carries no
// image files.

#include <QIcon>
#include <QPixmap>

namespace larkspool {

QPixmap ProgramPixmap(int Size);
QIcon ProgramIcon();

} // namespace larkspool
