#include "event_sink.h"

namespace eventsink {

HANDLE Register(const wchar_t *source)
{
    return RegisterEventSourceW(nullptr, source);
}

bool Report(HANDLE source, WORD type, WORD category, DWORD id, WORD count, const wchar_t **strings)
{
    return ReportEventW(source, type, category, id, nullptr, count, 0, count ? strings : nullptr, nullptr) != FALSE;
}

void Deregister(HANDLE source)
{
    DeregisterEventSource(source);
}

} // namespace eventsink
