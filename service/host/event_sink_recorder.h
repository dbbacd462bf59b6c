#pragma once
// The recorder that unit tests link in place of the event log: every reported event is kept in
// memory, in order.

#include "event_sink.h"

#include <vector>

namespace eventsink {

std::vector<Event> RecordedEvents();
// What each Report call was given, beside the event made of it: the event keeps only `count`
// strings, so it cannot show a string array passed with a count of zero.
struct ReportArguments {
    WORD count = 0;
    const wchar_t **strings = nullptr;
};
std::vector<ReportArguments> RecordedArguments();
void ClearRecordedEvents();
// Makes the next Register calls fail (as with a source that cannot be registered).
void SetRegisterFails(bool fails);

} // namespace eventsink
