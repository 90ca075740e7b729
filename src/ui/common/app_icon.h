// The program's icon: a battery with a lightning bolt on a rounded tile whose colour can say how
// the units are. One geometry feeds both the painted icon (window, tray, the PNG sizes of the
// icon theme) and its SVG, so they cannot drift apart.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

namespace tessel {

inline const QColor kIconNormal{0x2e, 0x8b, 0x57};  // the tile when every unit is well

// The icon at size x size pixels, on a transparent ground, with the tile in the given colour.
QImage DrawAppIcon(int size, const QColor& tile = kIconNormal);
// The icon in the sizes a desktop asks for.
QIcon AppIcon(const QColor& tile = kIconNormal);
// The same drawing as a scalable picture.
QString AppIconSvg(const QColor& tile = kIconNormal);

}  // namespace tessel
