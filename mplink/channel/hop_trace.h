#pragma once
// Time stamps at the hops of a request through the channel, for the benchmark build only.
//
// TLM_HOP("name") compiles to nothing unless TLM_HOP_TRACE is defined, which only the benchmark
// build does: the shipped binaries carry no trace. In a traced build each process appends
// "name ticks" lines (QueryPerformanceCounter, which every process of one machine shares) to
// <TLM_HOP_TRACE_FILE>.<pid>, buffered so that the trace costs no system call per hop; the
// benchmark's script merges the files of all processes and turns them into a per-hop table.

#ifdef TLM_HOP_TRACE

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace hoptrace {

class Log {
public:
    static Log &Instance()
    {
        static Log log;
        return log;
    }

    void Mark(const char *name)
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        AcquireSRWLockExclusive(&m_Lock);
        m_Records[m_Count].name = name;
        m_Records[m_Count].ticks = now.QuadPart;
        if (++m_Count == kRecords)
            FlushLocked();
        ReleaseSRWLockExclusive(&m_Lock);
    }

    ~Log()
    {
        AcquireSRWLockExclusive(&m_Lock);
        FlushLocked();
        ReleaseSRWLockExclusive(&m_Lock);
        if (m_File != INVALID_HANDLE_VALUE)
            CloseHandle(m_File);
    }

private:
    static constexpr size_t kRecords = 256;
    struct Record {
        const char *name;
        LONGLONG ticks;
    };

    Log()
    {
        const char *base = std::getenv("TLM_HOP_TRACE_FILE");
        if (base == nullptr || *base == '\0')
            return;
        char path[MAX_PATH];
        std::snprintf(path, sizeof path, "%s.%lu", base, GetCurrentProcessId());
        m_File = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
        if (m_File == INVALID_HANDLE_VALUE)
            return;
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        char line[64];
        int length = std::snprintf(line, sizeof line, "frequency %lld\n", frequency.QuadPart);
        DWORD written = 0;
        WriteFile(m_File, line, static_cast<DWORD>(length), &written, nullptr);
    }

    void FlushLocked()
    {
        if (m_File != INVALID_HANDLE_VALUE && m_Count != 0) {
            static char text[kRecords * 64];
            size_t used = 0;
            for (size_t i = 0; i < m_Count; ++i)
                used += static_cast<size_t>(std::snprintf(text + used, sizeof text - used, "%s %lld\n",
                                                          m_Records[i].name, m_Records[i].ticks));
            DWORD written = 0;
            WriteFile(m_File, text, static_cast<DWORD>(used), &written, nullptr);
        }
        m_Count = 0;
    }

    SRWLOCK m_Lock = SRWLOCK_INIT;
    HANDLE m_File = INVALID_HANDLE_VALUE;
    Record m_Records[kRecords] = {};
    size_t m_Count = 0;
};

} // namespace hoptrace

#define TLM_HOP(name) ::hoptrace::Log::Instance().Mark(name)

#else

#define TLM_HOP(name) ((void)0)

#endif
