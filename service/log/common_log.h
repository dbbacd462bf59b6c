#pragma once
// The text log that every module of a process writes through.
//
// One CCommonLog per binary (s_CommonLog); the service program and the NIC library each hold
// one and append to the same UTF-16 file, so every file operation of every process that shares
// a base path runs under one machine-wide named mutex. A caller writes one line as
//     Lock; SetFunction(L"Class::Method"); one LogX call; Unlock
// which the LOG_* macros below do in one statement.
//
// Configuration lives in HKLM\System\TLMLOGCFG and is read once, by LogInit.

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <string>

class CCommonLog {
public:
    // Levels; a message is written when the configured level is at most the message's level.
    static constexpr int kVerbose = 1;
    static constexpr int kInformation = 2;
    static constexpr int kWarning = 3;
    static constexpr int kError = 4;

    static constexpr int kDefaultLevel = kInformation;
    static constexpr DWORD kDefaultMaximumSize = 0x4000000;
    static constexpr DWORD kMinimumMaximumSize = 0x80000;
    static constexpr DWORD kMaximumMaximumSize = 0x8000000;
    // Where lines go when the named mutex cannot be made (relative: the current directory).
    static constexpr const wchar_t *kMutexErrorBasePath = L"CommonLog_MutexError";
    static constexpr DWORD kMutexErrorMaximumSize = 1024;
    // A message longer than this is cut (the line still ends with CR LF).
    static constexpr size_t kMaxMessageChars = 16384;
    // Result of a writer while the log has nowhere to write.
    static constexpr int kNotReady = ERROR_NOT_READY;

    CCommonLog();
    ~CCommonLog();
    CCommonLog(const CCommonLog &) = delete;
    CCommonLog &operator=(const CCommonLog &) = delete;

    // 0 when the log is ready (now or before), else a Win32 error; a failed call may be retried.
    int LogInit(const wchar_t *logName, const wchar_t *moduleName);

    // Reads System\TLMLOGCFG. Returns 0, or ERROR_INVALID_PARAMETER (87) when LogFolder, LogLevel
    // or LogMaxSize is missing or invalid; the outputs then hold what was valid and defaults.
    static int ReadConfig(const wchar_t *logName, const wchar_t *moduleName, std::wstring *folder, int *level,
                          DWORD *maximumSize);
    // The folder used when the configuration names none: %ProgramFiles%\Vostrel-Quinbar\TLM\Logs\.
    static std::wstring DefaultFolder();

    // The per-process lock that keeps the function name and the message of one caller together.
    void Lock();
    void Unlock();
    void SetFunction(const wchar_t *name);

    // Wide printf conventions: %s is a wide string, %hs a narrow one. 0 when the message was
    // filtered out or written, else the Win32 error of the write.
    int LogVerbose(const wchar_t *format, ...);
    int LogInformation(const wchar_t *format, ...);
    int LogWarning(const wchar_t *format, ...);
    int LogError(const wchar_t *format, ...);
    int LogV(int level, const wchar_t *format, va_list args);

    // Appends one line (prefix + message) at the given level, without the level filter.
    int WriteLine(const wchar_t *prefix, int level, const wchar_t *message);
    // Moves base path ".log" to ".lo_" when size reached the maximum. *file is the open ".log";
    // it is closed, and replaced by the new file when the move worked. Returns 0,
    // ERROR_PATH_NOT_FOUND (3) when the move failed (the old backup is then kept), or the error of
    // opening the new file.
    int RollOver(HANDLE *file, uint64_t size);

    // The level's name, padded to 11 characters; null outside 1..4.
    static const wchar_t *LevelName(int level);

    bool IsInitialized() const { return m_Initialized; }
    int GetLevel() const { return m_Level; }
    DWORD GetMaximumSize() const { return m_MaximumSize; }
    const std::wstring &GetBasePath() const { return m_BasePath; }
    const std::wstring &GetLogName() const { return m_LogName; }
    const std::wstring &GetModuleName() const { return m_ModuleName; }

private:
    int OpenLogFile(HANDLE *file, bool exclusive) const;
    int AppendLine(const wchar_t *text, int level, bool exclusive);

    int m_Level = kDefaultLevel;
    DWORD m_MaximumSize = kDefaultMaximumSize;
    std::wstring m_LogName;
    std::wstring m_BasePath;
    std::wstring m_ModuleName;
    std::wstring m_FunctionName;
    HANDLE m_FileMutex = nullptr;
    // Serialises the callers of this object (Lock/Unlock); recursive, like a mutex.
    CRITICAL_SECTION m_NameLock;
    // Serialises this process's writes whether or not the named mutex exists.
    CRITICAL_SECTION m_WriteLock;
    bool m_Initialized = false;
};

// The log of this binary. Each binary that links service_log gets its own instance.
extern CCommonLog s_CommonLog;

#define TLM_LOG_AT_(writer, function, ...)                                                                             \
    do {                                                                                                               \
        s_CommonLog.Lock();                                                                                            \
        s_CommonLog.SetFunction(function);                                                                             \
        s_CommonLog.writer(__VA_ARGS__);                                                                               \
        s_CommonLog.Unlock();                                                                                          \
    } while (0)

// One line of the given level, e.g. LOG_INFO(L"AXSESSION::OpenSession", L"opened %d", id).
#define LOG_VERBOSE(function, ...) TLM_LOG_AT_(LogVerbose, function, __VA_ARGS__)
#define LOG_INFO(function, ...) TLM_LOG_AT_(LogInformation, function, __VA_ARGS__)
#define LOG_WARNING(function, ...) TLM_LOG_AT_(LogWarning, function, __VA_ARGS__)
#define LOG_ERROR(function, ...) TLM_LOG_AT_(LogError, function, __VA_ARGS__)
