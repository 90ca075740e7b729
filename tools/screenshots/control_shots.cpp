// The device settings and control dialogs.
#include "shots.h"

namespace tessel::shots {

void RenderControlDialogs(int language, const std::string& port) {
  (void)language;
  (void)port;
}

}  // namespace tessel::shots
