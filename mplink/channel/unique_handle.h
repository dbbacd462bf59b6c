#pragma once
// Owners of kernel handles: closed exactly once, when the owner goes.

#include <windows.h>

#include <utility>

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_Handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    UniqueHandle(UniqueHandle &&other) noexcept : m_Handle(std::exchange(other.m_Handle, nullptr)) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.m_Handle, nullptr));
        return *this;
    }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const { return m_Handle; }
    explicit operator bool() const { return m_Handle != nullptr; }
    HANDLE Release() { return std::exchange(m_Handle, nullptr); }
    void Reset(HANDLE handle = nullptr)
    {
        if (handle == INVALID_HANDLE_VALUE)
            handle = nullptr;
        HANDLE old = std::exchange(m_Handle, handle);
        if (old != nullptr)
            CloseHandle(old);
    }

private:
    HANDLE m_Handle = nullptr;
};

// Exclusive hold of an SRW lock for one scope.
class SrwExclusive {
public:
    explicit SrwExclusive(SRWLOCK *lock) : m_Lock(lock) { AcquireSRWLockExclusive(m_Lock); }
    ~SrwExclusive() { ReleaseSRWLockExclusive(m_Lock); }
    SrwExclusive(const SrwExclusive &) = delete;
    SrwExclusive &operator=(const SrwExclusive &) = delete;

private:
    SRWLOCK *m_Lock;
};
