#include "event_sink_recorder.h"

#include <atomic>
#include <mutex>
#include <string>

namespace eventsink {
namespace {

std::mutex g_Lock;
std::vector<Event> g_Events;
std::vector<ReportArguments> g_Arguments;
std::atomic<bool> g_RegisterFails{false};

} // namespace

HANDLE Register(const wchar_t *source)
{
    return g_RegisterFails ? nullptr : NewNamedSource(source);
}

bool Report(HANDLE source, WORD type, WORD category, DWORD id, WORD count, const wchar_t **strings)
{
    {
        std::lock_guard<std::mutex> hold(g_Lock);
        g_Arguments.push_back(ReportArguments{count, strings});
    }
    Event event;
    if (!MakeEvent(source, type, category, id, count, strings, &event))
        return false;
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Events.push_back(std::move(event));
    return true;
}

void Deregister(HANDLE source)
{
    DeleteNamedSource(source);
}

std::vector<Event> RecordedEvents()
{
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_Events;
}

std::vector<ReportArguments> RecordedArguments()
{
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_Arguments;
}

void ClearRecordedEvents()
{
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Events.clear();
    g_Arguments.clear();
}

void SetRegisterFails(bool fails)
{
    g_RegisterFails = fails;
}

} // namespace eventsink
