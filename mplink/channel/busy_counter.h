#pragma once
// The simulated channel's busy tokens (see pipeproto::BusyCounterName): a LONG in a named shared
// section, made by the simulator and opened by the pipe backend.

#include "pipe_protocol.h"
#include "unique_handle.h"

#include <windows.h>

#include <string>

class BusyCounter {
public:
    BusyCounter() = default;
    ~BusyCounter() { Reset(); }
    BusyCounter(const BusyCounter &) = delete;
    BusyCounter &operator=(const BusyCounter &) = delete;

    // The simulator's side: makes the section (its count starts at 0).
    bool Create(const std::wstring &name)
    {
        Reset();
        m_Section.Reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           pipeproto::kBusyCounterBytes, name.c_str()));
        return Map();
    }
    // The backend's side: false when no simulator made one.
    bool Open(const std::wstring &name)
    {
        Reset();
        m_Section.Reset(OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str()));
        return Map();
    }
    void Add(LONG tokens)
    {
        if (m_Count != nullptr)
            InterlockedExchangeAdd(m_Count, tokens);
    }
    // Takes one token when there is one.
    bool Take()
    {
        if (m_Count == nullptr)
            return false;
        LONG count = *m_Count;
        while (count > 0) {
            LONG seen = InterlockedCompareExchange(m_Count, count - 1, count);
            if (seen == count)
                return true;
            count = seen;
        }
        return false;
    }

private:
    bool Map()
    {
        if (!m_Section)
            return false;
        m_Count = static_cast<volatile LONG *>(
            MapViewOfFile(m_Section.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
        if (m_Count == nullptr)
            m_Section.Reset();
        return m_Count != nullptr;
    }
    void Reset()
    {
        if (m_Count != nullptr)
            UnmapViewOfFile(const_cast<LONG *>(m_Count));
        m_Count = nullptr;
        m_Section.Reset();
    }

    UniqueHandle m_Section;
    volatile LONG *m_Count = nullptr;
};
