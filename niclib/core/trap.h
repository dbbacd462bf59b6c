#pragma once
// The last known condition of every physical adapter, kept across generations of the adapter
// model: a new generation's adapters start from the conditions the old one left.

#include "nic_common.h"

struct ADAPTERCONDITION {
    int slot;
    int segment;
    int bus;
    int device;
    int function;
    int condition; // 1 other, 2 ok, 3 degraded, 4 failed
};

using ADAPTERCONDITIONNODE = LISTNODE<ADAPTERCONDITION>;

class CTrap {
public:
    CTrap() = default;
    virtual ~CTrap();
    CTrap(const CTrap &) = delete;
    CTrap &operator=(const CTrap &) = delete;

    // The current generation's entries become the previous ones; those of the generation before
    // that are freed.
    void ReInit();
    // Registers an adapter of a new generation; returns its remembered condition (1 when new).
    int AddAdapterToStateTable(unsigned slot, unsigned segment, int bus, int device, int function);
    void SetAdapterCondition(unsigned slot, unsigned segment, int bus, int device, int function, int condition);
    static ADAPTERCONDITIONNODE *FindConditionNode(ADAPTERCONDITIONNODE *first, unsigned slot, unsigned segment, int bus,
                                                   int device, int function);
    static ADAPTERCONDITIONNODE *AllocateConditionNode();

    // For tests: the lists in order.
    ADAPTERCONDITIONNODE *GetCurrentHead() const { return m_CurrentHead; }
    ADAPTERCONDITIONNODE *GetPreviousHead() const { return m_PreviousHead; }

private:
    static void FreeList(ADAPTERCONDITIONNODE *head);

    HANDLE m_File = INVALID_HANDLE_VALUE; // nothing opens it; kept closed
    ADAPTERCONDITIONNODE *m_CurrentHead = nullptr;
    ADAPTERCONDITIONNODE *m_CurrentTail = nullptr;
    ADAPTERCONDITIONNODE *m_PreviousHead = nullptr;
};
