// The status-bar line that tells the operator what became of the last command or setting written
// to a unit: sent, accepted, refused with the unit's exception code, or not answered.
#pragma once

#include <QString>
#include <cstdint>

#include "model/cmd_request.h"

namespace tessel {

struct WriteOutcomeLine {
  QString text;      // short, for the status-bar panel
  QString detail;    // the whole story, for the panel's tool tip
  bool bad = false;  // refused or unanswered: shown in red, with a beep
};

// Nothing (empty text) before the first write.
WriteOutcomeLine DescribeWrite(const TCmdOutcome& w, uint8_t language);

}  // namespace tessel
