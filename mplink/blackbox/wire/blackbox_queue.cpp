#include "blackbox_queue.h"

#include <new>

bool BLACKBOX_QUEUE::Push(std::unique_ptr<BLACKBOX_RECORD> record)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    // Checked under the lock too, so that racing producers cannot overrun the bound.
    if (record == nullptr || !Accepting())
        return false;
    try {
        m_Records.push_back(std::move(record));
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (m_Records.size() >= kStopAcceptingAt)
        m_Accepting = 0;
    return true;
}

const BLACKBOX_RECORD *BLACKBOX_QUEUE::PeekOldest()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Records.empty() ? nullptr : m_Records.front().get();
}

void BLACKBOX_QUEUE::RemoveOldest()
{
    std::unique_ptr<BLACKBOX_RECORD> removed;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (m_Records.empty())
            return;
        removed = std::move(m_Records.front());
        m_Records.pop_front();
        if (!Accepting() && m_Records.size() < kAcceptAgainBelow)
            m_Accepting = 1;
    }
}

size_t BLACKBOX_QUEUE::Size()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Records.size();
}

void BLACKBOX_QUEUE::Clear()
{
    std::deque<std::unique_ptr<BLACKBOX_RECORD>> records;
    std::lock_guard<std::mutex> lock(m_Lock);
    records.swap(m_Records);
}
