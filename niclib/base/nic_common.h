#pragma once
// What every part of the NIC library shares: its failure codes, its error report and its list
// nodes. The adapter model's own state across generations is the core's (nic_state.h).

#include "common_log.h"

#include <windows.h>

#include <cstdint>
#include <string>

// The library's own failure code for an allocation that failed.
constexpr DWORD kNicAllocationFailed = 0x84350101;
// The code that goes with the library's error texts to ZdtNicMgmtReportError.
constexpr DWORD kNicReportedError = 0x44350127;

// Export ordinals 1 and 2 (one function): report an error; it has no effect and returns 1.
extern "C" int ZdtNicMgmtReportError(int code, const void *text, int value);

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
