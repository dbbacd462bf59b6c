#include "trap.h"

#include "common_log.h"

#include <new>

namespace {

bool Matches(const ADAPTERCONDITION &entry, unsigned slot, unsigned segment, int bus, int device, int function)
{
    return entry.slot == static_cast<int>(slot) && entry.segment == static_cast<int>(segment) && entry.bus == bus &&
           entry.device == device && entry.function == function;
}

} // namespace

CTrap::~CTrap()
{
    if (m_File != INVALID_HANDLE_VALUE) {
        FlushFileBuffers(m_File);
        CloseHandle(m_File);
    }
    FreeList(m_CurrentHead);
    FreeList(m_PreviousHead);
}

void CTrap::FreeList(ADAPTERCONDITIONNODE *head)
{
    while (head != nullptr) {
        ADAPTERCONDITIONNODE *next = head->next;
        DeleteListNode(head);
        head = next;
    }
}

void CTrap::ReInit()
{
    FreeList(m_PreviousHead);
    m_PreviousHead = m_CurrentHead;
    m_CurrentHead = nullptr;
    m_CurrentTail = nullptr;
}

ADAPTERCONDITIONNODE *CTrap::FindConditionNode(ADAPTERCONDITIONNODE *first, unsigned slot, unsigned segment, int bus,
                                              int device, int function)
{
    for (ADAPTERCONDITIONNODE *node = first; node != nullptr; node = node->next)
        if (Matches(*node->object, slot, segment, bus, device, function))
            return node;
    return nullptr;
}

ADAPTERCONDITIONNODE *CTrap::AllocateConditionNode()
{
    ADAPTERCONDITION *entry = new (std::nothrow) ADAPTERCONDITION{};
    if (entry == nullptr) {
        LOG_WARNING(L"CTrap::AllocateConditionNode", L"Failed to allocate ADAPTERCONDITION");
        return nullptr;
    }
    ADAPTERCONDITIONNODE *node = new (std::nothrow) ADAPTERCONDITIONNODE;
    if (node == nullptr) {
        LOG_WARNING(L"CTrap::AllocateConditionNode", L"Failed to allocate ADAPTERCONDITIONNODE");
        delete entry;
        return nullptr;
    }
    InitListNode(node, entry, static_cast<ADAPTERCONDITIONNODE *>(nullptr));
    return node;
}

int CTrap::AddAdapterToStateTable(unsigned slot, unsigned segment, int bus, int device, int function)
{
    ADAPTERCONDITIONNODE *found = nullptr;
    for (ADAPTERCONDITIONNODE **link = &m_PreviousHead; *link != nullptr; link = &(*link)->next) {
        if (Matches(*(*link)->object, slot, segment, bus, device, function)) {
            found = *link;
            *link = found->next; // claimed by this generation
            break;
        }
    }
    if (found == nullptr) {
        found = AllocateConditionNode();
        if (found == nullptr)
            return 1;
        *found->object = ADAPTERCONDITION{static_cast<int>(slot), static_cast<int>(segment), bus, device, function, 1};
    }
    SetListNodeNext(found, static_cast<ADAPTERCONDITIONNODE *>(nullptr));
    if (m_CurrentTail != nullptr)
        SetListNodeNext(m_CurrentTail, found);
    else
        m_CurrentHead = found;
    m_CurrentTail = found;

    const ADAPTERCONDITION &entry = *found->object;
    LOG_INFO(L"CTrap::AddAdapterToStateTable", L"Slot: %d Segment: %d Bus: %d Device: %d Function: %d Condition: %d",
             entry.slot, entry.segment, entry.bus, entry.device, entry.function, entry.condition);
    return entry.condition;
}

void CTrap::SetAdapterCondition(unsigned slot, unsigned segment, int bus, int device, int function, int condition)
{
    LOG_INFO(L"CTrap::SetAdapterCondition", L"Slot: %d Segment: %d Bus: %d Device: %d Function: %d Condition: %d",
             static_cast<int>(slot), static_cast<int>(segment), bus, device, function, condition);
    ADAPTERCONDITIONNODE *node = FindConditionNode(m_CurrentHead, slot, segment, bus, device, function);
    if (node == nullptr) {
        LOG_WARNING(L"CTrap::SetAdapterCondition", L"Failed to find adapter Slot: %d Segment: %d Bus: %d Device: %d Function: %d",
                    static_cast<int>(slot), static_cast<int>(segment), bus, device, function);
        return;
    }
    node->object->condition = condition;
}
