// Everything the running program shares, owned by start-up and passed by reference.
#pragma once

#include "model/cmd_request.h"
#include "model/comm_state.h"
#include "model/settings.h"
#include "model/ups_info.h"

namespace tessel {

struct Context {
  Settings settings;
  DeviceModel model;
  CommState comm;
  CmdRequests cmd;
};

}  // namespace tessel
