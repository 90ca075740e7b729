// tessel-icon: writes the program's icon for the desktop's icon theme into a folder laid out as
// <folder>/hicolor/<size>x<size>/apps/tessel.png and <folder>/hicolor/scalable/apps/tessel.svg.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "ui/common/app_icon.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: tessel-icon FOLDER\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]) + "/hicolor/";
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString dir = root + QString("%1x%1/apps").arg(size);
    if (!QDir().mkpath(dir) || !tessel::DrawAppIcon(size).save(dir + "/tessel.png")) {
      std::fprintf(stderr, "tessel-icon: cannot write %s/tessel.png\n", qPrintable(dir));
      return 1;
    }
  }
  const QString dir = root + "scalable/apps";
  QFile svg(dir + "/tessel.svg");
  if (!QDir().mkpath(dir) || !svg.open(QIODevice::WriteOnly) ||
      svg.write(tessel::AppIconSvg().toUtf8()) < 0) {
    std::fprintf(stderr, "tessel-icon: cannot write %s\n", qPrintable(svg.fileName()));
    return 1;
  }
  return 0;
}
