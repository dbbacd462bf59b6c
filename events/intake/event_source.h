#pragma once
// The event message library and the event source of the service's hardware events.
//
// Before each hardware event the service makes sure that the message library lies in the system
// folder and that the event source is registered with it. Each step leaves an existing library
// or registration alone (installation may have put a newer one in place) and fails silently: the
// event is written all the same and the next event tries again.

#include <cstddef>

// Longest path handled, terminating NUL included.
constexpr size_t kEventSourcePathChars = 260;

// Copies the library from the "eventmsg" folder beside the executable's folder to the system
// folder when it is not there yet.
void InstallMessageDllIfNeeded(const wchar_t *fileName);
// The same for an executable at exePath (InstallMessageDllIfNeeded passes the running one).
void InstallMessageDllFrom(const wchar_t *exePath, const wchar_t *fileName);

// Creates HKLM\SYSTEM\CurrentControlSet\services\eventlog\System\<source> with the library as
// message and category file when the key does not exist.
void DefineEventSourceIfNeeded(const wchar_t *sourceName, const wchar_t *fileName);

// Where the library is copied from: <executable's folder>\..\eventmsg\<fileName>, e.g.
// C:\Apps\Agent\Service\qzrtlm.exe gives C:\Apps\Agent\eventmsg\EventLogMessages.dll. False, and
// an empty *out, when the executable lies in a root folder (it has no folder beside it) or when
// the path does not fit outChars.
bool MessageDllSourcePath(const wchar_t *exePath, const wchar_t *fileName, wchar_t *out, size_t outChars);

// "%SystemRoot%\System32\<fileName>" expanded; false when it does not fit outChars.
bool MessageDllTargetPath(const wchar_t *fileName, wchar_t *out, size_t outChars);
