#include "common_log.h"

#include <sddl.h>

#include <atomic>
#include <cwchar>
#include <new>

namespace {

constexpr wchar_t kConfigKey[] = L"System\\TLMLOGCFG";
constexpr wchar_t kDefaultSubFolder[] = L"\\Vostrel-Quinbar\\TLM\\Logs\\";
constexpr DWORD kProgramFilesMaxChars = 256;
// Guests denied; local system, administrators and network service allowed everything.
constexpr wchar_t kMutexSddl[] = L"D:(D;OICI;GA;;;BG)(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GA;;;NS)";
// Without the named mutex the file itself is the lock across processes: how long to wait for it.
constexpr int kExclusiveOpenTries = 200;
constexpr DWORD kExclusiveOpenPauseMs = 10;

constexpr const wchar_t *kLevelNames[] = {L"Verbose    ", L"Information", L"Warning    ", L"Error      "};

// The level this module announced last; a second LogInit at the same level stays quiet.
std::atomic<int> s_AnnouncedLevel{0};

struct KeyHolder {
    HKEY key = nullptr;
    KeyHolder() = default;
    KeyHolder(const KeyHolder &) = delete;
    KeyHolder &operator=(const KeyHolder &) = delete;
    ~KeyHolder()
    {
        if (key != nullptr)
            RegCloseKey(key);
    }
};

// A file handle that is closed when it goes out of scope; null means no file.
struct FileHolder {
    HANDLE handle = nullptr;
    FileHolder() = default;
    FileHolder(const FileHolder &) = delete;
    FileHolder &operator=(const FileHolder &) = delete;
    ~FileHolder()
    {
        if (handle != nullptr)
            CloseHandle(handle);
    }
};

struct LocalHolder {
    HLOCAL memory = nullptr;
    LocalHolder() = default;
    LocalHolder(const LocalHolder &) = delete;
    LocalHolder &operator=(const LocalHolder &) = delete;
    ~LocalHolder()
    {
        if (memory != nullptr)
            LocalFree(memory);
    }
};

class CriticalSectionHold {
public:
    explicit CriticalSectionHold(CRITICAL_SECTION *section) : m_Section(section) { EnterCriticalSection(section); }
    ~CriticalSectionHold() { LeaveCriticalSection(m_Section); }
    CriticalSectionHold(const CriticalSectionHold &) = delete;
    CriticalSectionHold &operator=(const CriticalSectionHold &) = delete;

private:
    CRITICAL_SECTION *m_Section;
};

std::wstring UpperCase(std::wstring text)
{
    if (!text.empty())
        CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

bool ReadDword(HKEY key, const std::wstring &name, DWORD *value)
{
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(&data), &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_DWORD || size != sizeof(data))
        return false;
    *value = data;
    return true;
}

bool ReadLevel(HKEY key, const std::wstring &name, int *level)
{
    DWORD value = 0;
    if (!ReadDword(key, name, &value) || value < CCommonLog::kVerbose || value > CCommonLog::kError)
        return false;
    *level = static_cast<int>(value);
    return true;
}

bool ReadMaximumSize(HKEY key, const std::wstring &name, DWORD *maximum)
{
    DWORD value = 0;
    if (!ReadDword(key, name, &value) || value < CCommonLog::kMinimumMaximumSize ||
        value > CCommonLog::kMaximumMaximumSize)
        return false;
    *maximum = value;
    return true;
}

// LogFolder: a string of at least one character, whole characters, NUL-terminated.
// Returns false when the value is missing or malformed; *folder is set only when it names one.
bool ReadFolder(HKEY key, std::wstring *folder)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, L"LogFolder", nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof(wchar_t) || size % sizeof(wchar_t) != 0)
        return false;

    std::wstring data(size / sizeof(wchar_t), L'\0');
    DWORD read = size;
    if (RegQueryValueExW(key, L"LogFolder", nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &read) !=
            ERROR_SUCCESS ||
        read != size || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false; // changed between the two reads
    if (data.back() != L'\0')
        return false;

    data.resize(wcslen(data.c_str()));
    if (!data.empty()) {
        if (data.back() != L'\\')
            data.push_back(L'\\');
        *folder = std::move(data);
    }
    return true;
}

std::wstring MutexName(const std::wstring &folder, const std::wstring &logName)
{
    std::wstring name;
    for (wchar_t c : folder + logName)
        if (c != L'\\')
            name.push_back(c);
    return L"Global\\" + UpperCase(std::move(name));
}

HANDLE OpenSharedFile(const std::wstring &path, DWORD share, DWORD flags)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, flags, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// Whether the log file of a folder can be opened (made when missing).
DWORD ProbeFolder(const std::wstring &folder, const std::wstring &logName)
{
    CreateDirectoryW(folder.c_str(), nullptr); // only the last level; the installer makes the rest
    FileHolder file;
    file.handle = OpenSharedFile(folder + logName + L".log", FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_ATTRIBUTE_NORMAL);
    return file.handle != nullptr ? ERROR_SUCCESS : GetLastError();
}

} // namespace

CCommonLog::CCommonLog()
{
    InitializeCriticalSection(&m_NameLock);
    InitializeCriticalSection(&m_WriteLock);
}

CCommonLog::~CCommonLog()
{
    if (m_FileMutex != nullptr)
        CloseHandle(m_FileMutex);
    DeleteCriticalSection(&m_WriteLock);
    DeleteCriticalSection(&m_NameLock);
}

const wchar_t *CCommonLog::LevelName(int level)
{
    if (level < kVerbose || level > kError)
        return nullptr;
    return kLevelNames[level - 1];
}

std::wstring CCommonLog::DefaultFolder()
{
    wchar_t programFiles[kProgramFilesMaxChars + 1] = {};
    DWORD needed = ExpandEnvironmentStringsW(L"%ProgramFiles%", programFiles, kProgramFilesMaxChars + 1);
    std::wstring folder;
    // An undefined variable comes back unexpanded; that is no folder.
    if (needed != 0 && needed <= kProgramFilesMaxChars + 1 && wcschr(programFiles, L'%') == nullptr)
        folder = programFiles;
    return folder + kDefaultSubFolder;
}

int CCommonLog::ReadConfig(const wchar_t *logName, const wchar_t *moduleName, std::wstring *folder, int *level,
                           DWORD *maximumSize)
{
    *folder = DefaultFolder();
    *level = kDefaultLevel;
    *maximumSize = kDefaultMaximumSize;
    const std::wstring log = UpperCase(logName != nullptr ? logName : L"");
    const std::wstring module = UpperCase(moduleName != nullptr ? moduleName : L"");

    KeyHolder key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_READ, &key.key) != ERROR_SUCCESS)
        return 0;

    int result = 0;
    if (!ReadFolder(key.key, folder))
        result = ERROR_INVALID_PARAMETER;

    // An override counts only under a valid general value: a typo in LogLevel must not leave a
    // stale per-module value in charge.
    if (ReadLevel(key.key, L"LogLevel", level)) {
        if (ReadLevel(key.key, L"LogLevel (" + log + L")", level))
            ReadLevel(key.key, L"LogLevel (" + log + L":" + module + L")", level);
    } else {
        result = ERROR_INVALID_PARAMETER;
    }

    if (ReadMaximumSize(key.key, L"LogMaxSize", maximumSize))
        ReadMaximumSize(key.key, L"LogMaxSize (" + log + L")", maximumSize);
    else
        result = ERROR_INVALID_PARAMETER;

    return result;
}

int CCommonLog::LogInit(const wchar_t *logName, const wchar_t *moduleName)
{
    if (m_Initialized)
        return 0;
    if (logName == nullptr || moduleName == nullptr)
        return ERROR_INVALID_PARAMETER;

    std::wstring folder;
    int level = kDefaultLevel;
    DWORD maximum = kDefaultMaximumSize;
    try {
        m_ModuleName = moduleName;
        ReadConfig(logName, moduleName, &folder, &level, &maximum);
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    if (m_FileMutex != nullptr) {
        CloseHandle(m_FileMutex);
        m_FileMutex = nullptr;
    }
    if (folder.empty())
        return ERROR_INVALID_PARAMETER;

    if (ProbeFolder(folder, logName) != ERROR_SUCCESS) {
        folder = DefaultFolder();
        if (DWORD error = ProbeFolder(folder, logName); error != ERROR_SUCCESS)
            return static_cast<int>(error);
    }

    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    LocalHolder descriptor;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kMutexSddl, SDDL_REVISION_1, &descriptor.memory, nullptr))
        attributes.lpSecurityDescriptor = descriptor.memory;
    m_FileMutex = CreateMutexW(&attributes, FALSE, MutexName(folder, logName).c_str());
    if (m_FileMutex == nullptr) {
        DWORD error = GetLastError();
        // Lines still go somewhere, serialised through the file itself (see WriteLine).
        m_BasePath = kMutexErrorBasePath;
        m_MaximumSize = kMutexErrorMaximumSize;
        return static_cast<int>(error);
    }

    m_LogName = logName;
    m_BasePath = folder + logName;
    m_Level = level;
    m_MaximumSize = maximum;
    m_Initialized = true;

    if (s_AnnouncedLevel.exchange(m_Level) != m_Level) {
        std::wstring levelName = LevelName(m_Level);
        levelName.resize(levelName.find_last_not_of(L' ') + 1);
        wchar_t message[512];
        _snwprintf(message, _countof(message) - 1,
                   L"A logging interface is initialized (Module=\"%s\" Level=%s size=%ld)", m_ModuleName.c_str(),
                   levelName.c_str(), static_cast<long>(m_MaximumSize));
        message[_countof(message) - 1] = L'\0';
        WriteLine(L"|CCommonLog::LogInit|, ", kInformation, message);
    }
    return 0;
}

void CCommonLog::Lock()
{
    EnterCriticalSection(&m_NameLock);
}

void CCommonLog::Unlock()
{
    LeaveCriticalSection(&m_NameLock);
}

void CCommonLog::SetFunction(const wchar_t *name)
{
    try {
        m_FunctionName = name != nullptr ? name : L"";
    } catch (const std::bad_alloc &) {
        m_FunctionName.clear();
    }
}

int CCommonLog::LogVerbose(const wchar_t *format, ...)
{
    va_list args;
    va_start(args, format);
    int result = LogV(kVerbose, format, args);
    va_end(args);
    return result;
}

int CCommonLog::LogInformation(const wchar_t *format, ...)
{
    va_list args;
    va_start(args, format);
    int result = LogV(kInformation, format, args);
    va_end(args);
    return result;
}

int CCommonLog::LogWarning(const wchar_t *format, ...)
{
    va_list args;
    va_start(args, format);
    int result = LogV(kWarning, format, args);
    va_end(args);
    return result;
}

int CCommonLog::LogError(const wchar_t *format, ...)
{
    va_list args;
    va_start(args, format);
    int result = LogV(kError, format, args);
    va_end(args);
    return result;
}

int CCommonLog::LogV(int level, const wchar_t *format, va_list args)
{
    if (m_Level > level)
        return 0;
    if (format == nullptr)
        format = L"";

    try {
        va_list measure;
        va_copy(measure, args);
        int needed = _vscwprintf(format, measure);
        va_end(measure);
        if (needed < 0)
            return ERROR_INVALID_PARAMETER;

        // The message is cut at the bound rather than overrunning anything.
        const size_t chars =
            needed < static_cast<int>(kMaxMessageChars) ? static_cast<size_t>(needed) : kMaxMessageChars;
        std::wstring message(chars, L'\0');
        if (chars != 0)
            _vsnwprintf(message.data(), chars, format, args);

        const std::wstring prefix = L"|" + m_FunctionName + L"|, ";
        return WriteLine(prefix.c_str(), level, message.c_str());
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

int CCommonLog::WriteLine(const wchar_t *prefix, int level, const wchar_t *message)
{
    if (LevelName(level) == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (m_BasePath.empty())
        return kNotReady;

    try {
        std::wstring text;
        if (prefix != nullptr && prefix[0] != L'\0')
            text = prefix;
        text += message != nullptr ? message : L"";

        CriticalSectionHold hold(&m_WriteLock);
        if (m_FileMutex == nullptr)
            return AppendLine(text.c_str(), level, true);

        DWORD wait = WaitForSingleObject(m_FileMutex, INFINITE);
        // An abandoned mutex is ours now; the holder died mid-line at worst.
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
            return wait == WAIT_FAILED ? static_cast<int>(GetLastError()) : static_cast<int>(wait);
        int result = AppendLine(text.c_str(), level, false);
        ReleaseMutex(m_FileMutex);
        return result;
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

int CCommonLog::OpenLogFile(HANDLE *file, bool exclusive) const
{
    const std::wstring path = m_BasePath + L".log";
    // Without the named mutex, other processes are kept out by the share mode instead.
    const DWORD share = exclusive ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL;
    for (int attempt = 0;; ++attempt) {
        *file = OpenSharedFile(path, share, flags);
        if (*file != nullptr)
            return 0;
        DWORD error = GetLastError();
        if (!exclusive || error != ERROR_SHARING_VIOLATION || attempt + 1 >= kExclusiveOpenTries)
            return static_cast<int>(error);
        Sleep(kExclusiveOpenPauseMs);
    }
}

int CCommonLog::AppendLine(const wchar_t *text, int level, bool exclusive)
{
    FileHolder file;
    if (int error = OpenLogFile(&file.handle, exclusive); error != 0)
        return error;

    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file.handle, &size))
        RollOver(&file.handle, static_cast<uint64_t>(size.QuadPart));
    if (file.handle == nullptr) {
        if (int error = OpenLogFile(&file.handle, exclusive); error != 0)
            return error;
    }

    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(file.handle, zero, nullptr, FILE_END))
        return static_cast<int>(GetLastError());

    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t head[64];
    _snwprintf(head, _countof(head) - 1, L"%02d/%02d/%d %02d:%02d:%02d.%03d, [%s], ", now.wMonth, now.wDay, now.wYear,
               now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, LevelName(level));
    head[_countof(head) - 1] = L'\0';
    const std::wstring line = head + std::wstring(text) + L"\r\n";

    const DWORD bytes = static_cast<DWORD>(line.size() * sizeof(wchar_t));
    DWORD written = 0;
    if (!WriteFile(file.handle, line.data(), bytes, &written, nullptr))
        return static_cast<int>(GetLastError());
    return written == bytes ? 0 : ERROR_WRITE_FAULT;
}

int CCommonLog::RollOver(HANDLE *file, uint64_t size)
{
    if (size < m_MaximumSize)
        return 0;

    if (*file != nullptr) {
        CloseHandle(*file);
        *file = nullptr;
    }
    const std::wstring current = m_BasePath + L".log";
    const std::wstring backup = m_BasePath + L".lo_";
    // One step, so that a move that fails leaves the previous backup in place.
    if (!MoveFileExW(current.c_str(), backup.c_str(), MOVEFILE_REPLACE_EXISTING))
        return ERROR_PATH_NOT_FOUND;

    const DWORD share = m_FileMutex == nullptr ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    *file = OpenSharedFile(current, share, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS);
    return *file != nullptr ? 0 : static_cast<int>(GetLastError());
}
