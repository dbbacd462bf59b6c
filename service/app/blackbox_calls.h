#pragma once
// The black-box feeder as the program's start, stop and watchers call it. One place, so the
// calls name the feeder's entry points the same way everywhere.

#include <cstdint>

bool StartBlackBoxFeeder();            // the "BB" step of the start
void StopBlackBoxFeeder();
void PostBootRecord();                 // "OS Boot", once per boot of the operating system
int PostShutdownRecord();              // "OS Shutdown"
// flags: 128 link up, 0 link down; description: 8-bit text, cut to 255 characters by the feeder.
void PostLinkRecord(uint32_t interfaceIndex, uint16_t flags, const char *description);
