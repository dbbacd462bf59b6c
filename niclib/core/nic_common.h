#pragma once
// What every part of the NIC library shares: its failure code, its exports, its list nodes and
// the globals that outlive one generation of the adapter model.

#include "common_log.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

// The library's text log: the log object of this binary (LOG_* write through it), initialised
// by Win2KMain with log name "TLM" and module "NETVARDL".
extern CCommonLog &g_CommonLog;

// The library's own failure code for an allocation that failed.
constexpr DWORD kNicAllocationFailed = 0x84350101;
// The code that goes with the library's error texts to ZdtNicMgmtReportError.
constexpr DWORD kNicReportedError = 0x44350127;

extern "C" {
// Ordinals 1 and 2 (one function): report an error; it has no effect and returns 1.
int ZdtNicMgmtReportError(int code, const void *text, int value);
// Ordinal 3: the library's entry; returns 0 once the collection thread has ended.
int Win2KMain(int argc, char **argv);
}

// One node form for every list of the library: next node and object. A node owns its object.
template <class T> struct LISTNODE {
    LISTNODE *next;
    T *object;
};

template <class T> void InitListNode(LISTNODE<T> *node, T *object, LISTNODE<T> *next)
{
    node->object = object;
    node->next = next;
}

template <class T> void SetListNodeNext(LISTNODE<T> *node, LISTNODE<T> *next)
{
    node->next = next;
}

template <class T> void DeleteListNode(LISTNODE<T> *node)
{
    delete node->object;
    delete node;
}

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
