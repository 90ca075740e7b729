// The software parameter dialog.
#include "shots.h"

namespace tessel::shots {

void RenderSoftwarePara(int language, const std::string& port) {
  (void)language;
  (void)port;
}

}  // namespace tessel::shots
