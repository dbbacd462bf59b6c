#include "event_sink_recorder.h"

#include <atomic>
#include <mutex>
#include <string>

namespace eventsink {
namespace {

std::mutex g_Lock;
std::vector<Event> g_Events;
std::atomic<bool> g_RegisterFails{false};

struct RecorderSource {
    std::wstring name;
};

} // namespace

HANDLE Register(const wchar_t *source)
{
    if (g_RegisterFails || source == nullptr)
        return nullptr;
    return reinterpret_cast<HANDLE>(new RecorderSource{source});
}

bool Report(HANDLE source, WORD type, WORD category, DWORD id, WORD count, const wchar_t **strings)
{
    auto *recorder_source = reinterpret_cast<RecorderSource *>(source);
    if (recorder_source == nullptr)
        return false;
    Event event{recorder_source->name, type, category, id, {}};
    for (WORD i = 0; i < count && strings != nullptr; ++i)
        event.strings.emplace_back(strings[i] ? strings[i] : L"");
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Events.push_back(std::move(event));
    return true;
}

void Deregister(HANDLE source)
{
    delete reinterpret_cast<RecorderSource *>(source);
}

std::vector<Event> RecordedEvents()
{
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_Events;
}

void ClearRecordedEvents()
{
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Events.clear();
}

void SetRegisterFails(bool fails)
{
    g_RegisterFails = fails;
}

} // namespace eventsink
