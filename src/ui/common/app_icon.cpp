#include "ui/common/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QStringList>

namespace tessel {

namespace {

// Everything is laid out on a 64 x 64 grid.
constexpr double kGrid = 64;
constexpr QRectF kTile{2, 2, 60, 60};
constexpr double kTileRadius = 12;
constexpr QRectF kBody{12, 20, 36, 24};  // the battery's outline, along its stroke's centre
constexpr double kBodyRadius = 3;
constexpr double kStroke = 4;
constexpr QRectF kTerminal{50, 27, 5, 10};
constexpr QPointF kBolt[] = {{33, 22}, {21, 34}, {29, 34}, {26, 42}, {39, 30}, {31, 30}};
const QColor kInk = Qt::white;

QString Num(double v) {
  return QString::number(v, 'g', 6);
}

}  // namespace

QImage DrawAppIcon(int size, const QColor& tile) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / kGrid, size / kGrid);
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(kTile, kTileRadius, kTileRadius);
  p.setBrush(kInk);
  p.drawRect(kTerminal);
  p.drawPolygon(QPolygonF(QList<QPointF>(std::begin(kBolt), std::end(kBolt))));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kInk, kStroke, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.drawRoundedRect(kBody, kBodyRadius, kBodyRadius);
  return image;
}

QIcon AppIcon(const QColor& tile) {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
    icon.addPixmap(QPixmap::fromImage(DrawAppIcon(size, tile)));
  return icon;
}

QString AppIconSvg(const QColor& tile) {
  QStringList bolt;
  for (const QPointF& pt : kBolt) bolt << Num(pt.x()) + "," + Num(pt.y());
  auto rect = [](const QRectF& r, double radius) {
    return QString(R"(x="%1" y="%2" width="%3" height="%4" rx="%5")")
        .arg(Num(r.x()), Num(r.y()), Num(r.width()), Num(r.height()), Num(radius));
  };
  return QString(R"(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">
  <rect %1 fill="%2"/>
  <rect %3 fill="#ffffff"/>
  <polygon points="%4" fill="#ffffff"/>
  <rect %5 fill="none" stroke="#ffffff" stroke-width="%6" stroke-linejoin="miter"/>
</svg>
)")
      .arg(rect(kTile, kTileRadius), tile.name(), rect(kTerminal, 0), bolt.join(' '),
           rect(kBody, kBodyRadius), Num(kStroke));
}

}  // namespace tessel
