#pragma once
// The iSCSI data of one collection: per initiator instance its record, portals, login statistics,
// sessions and connections, in the order WMI handed them out; and the writers that publish them
// under QZTLMStorage\iSCSI.

#include "iscsi_records.h"

#include <windows.h>

#include <cstdint>
#include <deque>
#include <vector>

struct ISCSI_INSTANCE_NODE {
    ISCSI_INSTANCE_RECORD Instance{};
    std::vector<ISCSI_PORTAL_RECORD> Portals;
    ISCSI_INITIATOR_RECORD Initiator{};
    std::vector<ISCSI_SESSION_RECORD> Sessions;
    std::vector<ISCSI_CONNECTION_RECORD> Connections;
};

struct ISCSI_LISTS {
    uint8_t Revision[3] = {1, 5, 0};
    uint32_t NextConnectionIndex = 0;
    // A deque: a node stays where it is while later instances are appended.
    std::deque<ISCSI_INSTANCE_NODE> Instances;
};

constexpr HRESULT ISCSI_NO_MEMORY = static_cast<HRESULT>(0xC0000017);

// Appends a zero-filled element at the list's tail; 0, or ISCSI_NO_MEMORY (nothing appended).
template <class List, class Element> HRESULT AppendListNode(List *list, Element **node)
{
    try {
        list->emplace_back();
    } catch (...) {
        *node = nullptr;
        return ISCSI_NO_MEMORY;
    }
    *node = &list->back();
    return 0;
}

// Makes the six record keys and writes "SoftwareRevisions". A Win32 code.
LONG BuildIscsiLists(ISCSI_LISTS *context);
LONG UdateIscsiVersions(const uint8_t revision[3]);
LONG CreateIscsiStorageKey(HKEY systemKey, int row);
void UpdateInstanceKeys(ISCSI_LISTS *context);
void UpdatePortalKeys(ISCSI_LISTS *context);
void UpdateNodeKeys(ISCSI_LISTS *context);
void UpdateInitiatorKeys(ISCSI_LISTS *context);
void UpdateSessionKeys(ISCSI_LISTS *context);
void UpdateConnectionKeys(ISCSI_LISTS *context);
void FreeIscsiLists(ISCSI_LISTS *context);

// Forgets the counts of the previous writes, as a new process starts (tests only).
void ResetIscsiKeyCountsForTests();

// ---- Readers of the initiator's WMI classes (over the connection of CoWMINameSpaceConnect).

// One WMI pass and, when it succeeded, the six key writers; the lists are freed afterwards.
void UpdateIscsiData(ISCSI_LISTS *context);
HRESULT wmiGetAllInstances(ISCSI_LISTS *context);
ISCSI_INSTANCE_NODE *FindIscsiInstance(const char *name, ISCSI_LISTS *context);
void CountInstancePortals(ISCSI_LISTS *context);
