// tesseld: the UPS and inverter monitor as a service, without windows and without Qt.
#include <fenv.h>

#include "service/daemon.h"

int main(int argc, char* argv[]) {
  // A division by zero anywhere gives an infinity or a NaN, never a trap.
  fedisableexcept(FE_ALL_EXCEPT);
  return tessel::RunDaemon(argc, argv);
}
