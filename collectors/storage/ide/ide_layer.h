#pragma once
// The IDE/ATA device layer: one module state, found once at start (static initialisation of the
// service program, from the IDE collector's constructor) and refreshed and republished under
// QZTLMStorage\Ide each time the collector asks for its controllers or disks.

#include "ide_records.h"

#include <windows.h>

// Start of the layer: a Win32 code (the collector ignores it).
LONG IdeInit();
// The controllers' records (699 bytes each) / the disks' records (406 bytes each), after a
// refresh. count missing, or positive with no destination: ERROR_INVALID_DATA. A count of 0 or
// less is set to the number there is; otherwise at most count records are copied into the
// destination, which is zero-filled first so records not filled read valid 0.
LONG IdeGetControllers(IDE_CONTROLLER_RECORD *destination, int *count);
LONG IdeGetDisks(IDE_DISK_RECORD *destination, int *count);

// Tests only: static initialisation starts the layer before a test can install the simulated
// server. Reset forgets everything found (closing its handles) and the publish counters;
// restart resets and starts again, returning IdeInit's result.
void IdeResetForTest();
LONG IdeRestartForTest();
// Tests only: the result of the last start (-1 before any).
LONG IdeInitResultForTest();
// Tests only: the overall condition of the last refresh.
uint8_t IdeOverallConditionForTest();
