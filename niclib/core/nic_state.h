#pragma once
// The state of the adapter model that outlives one generation: the pass counter, the start stamp,
// the coming wait, the last conditions and the index counters.

#include "nic_common.h"

#include <cstdint>
#include <map>
#include <string>

// The pass counter of the current generation (advanced by each update).
extern uint32_t g_UpdatePass;
// The base of every adapter's LastChange: the tick count (in 10 ms units, the unit of the
// interface table's dwLastChange) when Win2KMain started.
extern uint32_t g_StartStamp;
// The collection thread's coming wait in milliseconds.
extern uint32_t g_PollTime;

// The last conditions of the adapter model, kept across generations and cleared by Win2KMain:
// of every team interface by its description, filled in the first pass after the start ...
extern std::map<std::string, int> g_LogicalAdapterConditionMap;
// ... and of every member NIC seen in that pass, by its device name (ANSI code page).
extern std::map<std::string, int> g_PhysicalAdapterConditionMap;

// The three index counters: each generation numbers its adapters from 1.
uint32_t GetNextLogicalAdapterIndex();
uint32_t GetNextPhysicalAdapterIndex();
uint32_t GetNextVlanIndex();
void ResetLogicalAdapterIndex();
void ResetPhysicalAdapterIndex();
void ResetVlanIndex();
