#pragma once
// Hardware event intake: one channel packet of command 149 becomes one Windows event under the
// service's event source, unless the three legacy agent services all run (they report the same
// hardware events themselves).
//
// Everything runs on the caller's thread (the transport's receive thread), one entry at a time,
// and nothing is remembered between entries.

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The event source of the service's hardware events and the library holding their texts.
constexpr wchar_t kKdlEventSource[] = L"NDX Velmarine Management Service";
constexpr wchar_t kMessageLibraryName[] = L"EventLogMessages.dll";

// Checked in this order; the first that is not running lets the entry through.
constexpr const wchar_t *kLegacyAgentServices[] = {L"VaZiVivi", L"ZiDeZidi", L"TessaronMonitor"};

// The insertion strings of one event: slot 0 is unused; slots 1 to 4 hold the event number, the
// class, the code and the decoded text. An empty slot passes an empty string.
struct KdlInsertionStrings {
    static constexpr size_t kSlots = 5;
    static constexpr size_t kChars = 2048;
    wchar_t Slot[kSlots][kChars] = {};
};

// Entry point for a received packet of command 149: received is the number of bytes that arrived.
void ProcessKdlEvent(const uint8_t *packet, size_t received);

// True only when the service control manager reports the service as SERVICE_RUNNING; a service
// that cannot be opened or queried counts as not running.
bool IsServiceRunning(const wchar_t *serviceName);

// Decodes the packet's entry and reports it. An entry whose header is incomplete, or whose size
// does not fit the bytes received, is dropped with a log line.
void TranslateKdlEvent(const uint8_t *packet, size_t received);

// Writes the event with the type of its identifier and category 6.
void ReportKdlEvent(DWORD eventId, const KdlInsertionStrings &strings);

// Makes sure of the message library and the event source, then writes the event with the
// strings up to the last non-empty slot.
void LogKDLEventToWEL(WORD eventType, WORD category, DWORD eventId, const KdlInsertionStrings &strings);
