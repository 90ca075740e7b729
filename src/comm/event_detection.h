// Communication bookkeeping of a device record and the detection of state and alarm changes,
// which write events to the event log.
#pragma once

#include "log/event_log.h"
#include "model/clock.h"
#include "model/ups_info.h"

namespace tessel {

void NoteSent(TUpsInfo& u, TEventLog& log);
void NoteReceived(TUpsInfo& u);
void NoteAnswered(TUpsInfo& u, TEventLog& log);
void LogStateChange(TUpsInfo& u, TEventLog& log);
void LogAlarmChanges(TUpsInfo& u, TEventLog& log, const Clock& clock);

}  // namespace tessel
