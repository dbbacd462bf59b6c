#pragma once
// The Windows event log, seen through the three calls the service makes of it.
//
// The product links the implementation that calls RegisterEventSourceW, ReportEventW and
// DeregisterEventSource (event_sink_win32.cpp). The simulation build links one that appends each
// event to a text file beside the program (event_sink_file.cpp), since Wine's event log keeps
// nothing; unit tests link a recorder (event_sink_recorder.cpp). Which one is fixed at link time.

#include <windows.h>

#include <string>
#include <vector>

namespace eventsink {

// Returns a handle for the source, or null when it cannot be registered.
HANDLE Register(const wchar_t *source);
// Writes one event; the string array is read only when count is nonzero.
bool Report(HANDLE source, WORD type, WORD category, DWORD id, WORD count, const wchar_t **strings);
void Deregister(HANDLE source);

// One event as the file writer and the recorder keep it.
struct Event {
    std::wstring source;
    WORD type = 0;
    WORD category = 0;
    DWORD id = 0;
    std::vector<std::wstring> strings;
};

// For writers that keep events themselves (file, recorder): a source handle that only holds the
// source name, and the event a Report call describes. MakeEvent returns false for a null handle.
HANDLE NewNamedSource(const wchar_t *source);
void DeleteNamedSource(HANDLE source);
bool MakeEvent(HANDLE source, WORD type, WORD category, DWORD id, WORD count, const wchar_t **strings, Event *event);

// The file writer's line for an event: "0x%08X<TAB>type<TAB>category<TAB>source<TAB>strings...",
// UTF-8, with tab, newline, carriage return and backslash escaped; and its parser (for tests and
// tools that read the file back). ParseLine returns false for a line that is not an event.
std::string FormatLine(const Event &event);
bool ParseLine(const std::string &line, Event *event);

} // namespace eventsink
