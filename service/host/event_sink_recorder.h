#pragma once
// The recorder that unit tests link in place of the event log: every reported event is kept in
// memory, in order.

#include "event_sink.h"

#include <vector>

namespace eventsink {

std::vector<Event> RecordedEvents();
void ClearRecordedEvents();
// Makes the next Register calls fail (as with a source that cannot be registered).
void SetRegisterFails(bool fails);

} // namespace eventsink
