// What the screenshot program's parts share: where pictures go and a prepared program folder.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace tessel::shots {

// Shows the widget, lets it lay out and paint, and writes <out>/<name>.png (exits on failure).
void Save(QWidget* w, const QString& name);
// A program folder with settings (port, language, protocol) and three units in the device tree.
void PrepareHome(const std::string& home, const std::string& port, int language, int protocol);

// Each part renders its windows in one language; port is a pseudo-terminal that stays open.
void RenderSoftwarePara(int language, const std::string& port);
void RenderControlDialogs(int language, const std::string& port);

}  // namespace tessel::shots
