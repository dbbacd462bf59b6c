#pragma once
// Small helpers the channel tests share.

#include "byte_reader.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

// Sets a named time-out for one test and puts the old value back after it.
template <class T> class ScopedValue {
public:
    ScopedValue(std::atomic<T> &value, T replacement) : m_Value(value), m_Old(value.exchange(replacement)) {}
    ~ScopedValue() { m_Value = m_Old; }
    ScopedValue(const ScopedValue &) = delete;
    ScopedValue &operator=(const ScopedValue &) = delete;

private:
    std::atomic<T> &m_Value;
    T m_Old;
};

class Stopwatch {
public:
    ULONGLONG ElapsedMs() const { return GetTickCount64() - m_Start; }

private:
    ULONGLONG m_Start = GetTickCount64();
};

// Polls until done() holds; false once timeoutMs went by first.
inline bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs = 30000)
{
    ULONGLONG start = GetTickCount64();
    while (!done()) {
        if (GetTickCount64() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

// A black-box request as the health log feeder sends it: 1008 bytes, service word 0x11.
inline std::vector<uint8_t> BlackboxRequest(uint16_t sequence, uint32_t service, uint32_t command,
                                            uint32_t handle = 0)
{
    std::vector<uint8_t> request(1008, 0);
    PutU16(request.data(), 1008);
    PutU16(request.data() + 2, sequence);
    PutU16(request.data() + 6, 0x11);
    PutU32(request.data() + 8, service);
    PutU32(request.data() + 12, command);
    PutU32(request.data() + 16, handle);
    return request;
}

// A packet of the given size whose bytes say which one it is.
inline std::vector<uint8_t> NumberedPacket(uint16_t sequence, uint16_t command, size_t size)
{
    std::vector<uint8_t> packet(size < 8 ? 8 : size, 0);
    PutU16(packet.data(), static_cast<uint16_t>(packet.size()));
    PutU16(packet.data() + 2, sequence);
    PutU16(packet.data() + 4, command);
    for (size_t i = 8; i < packet.size(); ++i)
        packet[i] = static_cast<uint8_t>(sequence * 31 + i);
    return packet;
}
