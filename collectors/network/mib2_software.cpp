#include "mib2_software.h"

#include "ax_session.h"
#include "blackbox.h"
#include "common_log.h"
#include "driver_info.h"
#include "mib2_collector.h"
#include "registry.h"
#include "scheduler.h"
#include "store_writers.h"
#include "wmi.h"

#include <psapi.h>

#include <algorithm>
#include <cwchar>
#include <set>

namespace {

const MIBOID kHrSWRunOid{1, 3, 6, 1, 2, 1, 25, 4};
const MIBOID kHrSWRunEntryOid{1, 3, 6, 1, 2, 1, 25, 4, 2, 1};
const MIBOID kHrSWInstalledOid{1, 3, 6, 1, 2, 1, 25, 6};
const MIBOID kHrSWInstalledEntryOid{1, 3, 6, 1, 2, 1, 25, 6, 3, 1};

constexpr wchar_t kFirstDataCollectionDoneValue[] = L"FirstDataCollectionDone";
constexpr wchar_t kRelogSwOsValue[] = L"RelogBBForSwOs";
constexpr wchar_t kInstalledFunction[] = L"MIB2DataCollector::Collect_hrSwInstalled";
// The software list file is read up to this size; its parser bounds lines and items as well.
constexpr size_t kSoftwareListMaxBytes = 4 << 20;

enum : int32_t { kSwTypeOperatingSystem = 2, kSwTypeDeviceDriver = 3, kSwTypeApplication = 4 };

std::string Utf8(const std::wstring &wide)
{
    if (wide.empty())
        return std::string();
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(std::max(size, 0)), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr,
                            nullptr);
    return text;
}

// 8-bit texts of the system's code page (WMI's, the software list's) as UTF-8.
std::string AnsiToUtf8(const std::string &text)
{
    if (text.empty())
        return text;
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(size, 0)), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return Utf8(wide);
}

// A posted record's flags: the entry's, and which of the list's records is first and last.
uint16_t PostedFlags(const SOFTWARE_ENTRY &entry, size_t position, size_t count)
{
    return static_cast<uint16_t>(entry.flags | (position == 0 ? kSoftwareFlagFirst : 0) |
                                 (position + 1 == count ? kSoftwareFlagLast : 0));
}

bool SameTextNoCase(const std::string &a, const std::string &b)
{
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

SOFTWARE_DATE DateOfFile(HANDLE file)
{
    FILETIME written{};
    if (!GetFileTime(file, nullptr, nullptr, &written))
        return SOFTWARE_DATE{};
    SOFTWARE_DATE date = LocalDateOf(written);
    date.milliseconds = 0;
    return date;
}

// The last-write time of a file (not a directory) as local time; year 0 when it does not open.
SOFTWARE_DATE FileWriteDate(const std::string &ansiPath)
{
    HANDLE file = CreateFileA(ansiPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return SOFTWARE_DATE{};
    const SOFTWARE_DATE date = DateOfFile(file);
    CloseHandle(file);
    return date;
}

bool SystemEnumerate(std::vector<DWORD> *ids)
{
    return EnumerateProcessIds(&K32EnumProcesses, ids);
}

int SystemImagePath(DWORD id, std::wstring *path)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (process == nullptr)
        return 0;
    wchar_t buffer[1024];
    DWORD size = 1024;
    if (QueryFullProcessImageNameW(process, 0, buffer, &size))
        path->assign(buffer, size);
    CloseHandle(process);
    return 1;
}

} // namespace

bool EnumerateProcessIds(BOOL(WINAPI *enumProcesses)(DWORD *, DWORD, DWORD *), std::vector<DWORD> *ids)
{
    // Grown until the answer leaves room: a full buffer may have cut the list short.
    for (DWORD count = 1024; count <= kMaxProcessIds; count *= 2) {
        ids->assign(count, 0);
        DWORD bytes = 0;
        if (!enumProcesses(ids->data(), count * sizeof(DWORD), &bytes))
            return false;
        if (bytes < count * sizeof(DWORD)) {
            ids->resize(bytes / sizeof(DWORD));
            return true;
        }
    }
    return false;
}

const MIB2_PROCESS_SOURCE kSystemProcessSource = {&SystemEnumerate, &SystemImagePath};

SOFTWARE_DATE LocalDateOf(const FILETIME &utc)
{
    FILETIME local{};
    SYSTEMTIME time{};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time))
        return SOFTWARE_DATE{};
    return SOFTWARE_DATE{time.wYear,   time.wMonth,  time.wDay,         time.wHour,
                         time.wMinute, time.wSecond, time.wMilliseconds};
}

int GetProcessImagePath(DWORD *id, std::string *name, std::string *path, std::string *parameters, int *runType)
{
    name->clear();
    path->clear();
    parameters->clear();
    if (*id == 0) {
        *id = 1;
        *name = "System Idle Process";
        *path = "Path hidden by operating system.";
        *runType = 2;
        return 1;
    }
    if (*id == 4) {
        *name = "System";
        *runType = 2;
        wchar_t windows[256];
        const DWORD length = ExpandEnvironmentStringsW(L"%WINDIR%", windows, 256);
        if (length > 0 && length <= 256)
            *path = Utf8(windows) + "\\System32";
        return 1;
    }
    std::wstring image;
    if (!MIB2DataCollector::ProcessSource.imagePath(*id, &image))
        return 0;
    const size_t slash = image.rfind(L'\\');
    if (slash == std::wstring::npos) {
        *name = Utf8(image);
    } else {
        *name = Utf8(image.substr(slash + 1));
        *path = Utf8(image.substr(0, slash));
    }
    *runType = 4;
    return 1;
}

// ---- SubKeyEnumerator ---------------------------------------------------------------------------

SubKeyEnumerator::SubKeyEnumerator(HKEY root, const wchar_t *path, REGSAM access)
    : m_Parent(new CRegistry(root, path, access))
{
}

SubKeyEnumerator::~SubKeyEnumerator()
{
    delete m_Parent;
}

int SubKeyEnumerator::NextName(std::wstring *name)
{
    HKEY parent = m_Parent->GetHandle();
    if (parent == nullptr)
        return 0;
    wchar_t buffer[260];
    DWORD length = 260;
    const LSTATUS status = RegEnumKeyExW(parent, m_Index++, buffer, &length, nullptr, nullptr, nullptr, &m_LastWrite);
    if (status != ERROR_SUCCESS)
        return 0;
    name->assign(buffer, length);
    return 1;
}

int SubKeyEnumerator::Next(CRegistry *subKey)
{
    subKey->Close();
    std::wstring name;
    if (!NextName(&name))
        return 0;
    subKey->Open(m_Parent->GetHandle(), name.c_str(), m_Parent->GetAccess());
    return 1;
}

// ---- Sources of the installed software ----------------------------------------------------------

void ScanUninstallKey(REGSAM view, std::vector<SOFTWARE_ENTRY> *programs)
{
    SubKeyEnumerator subKeys(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_READ | view);
    std::set<std::wstring> seen;
    CRegistry subKey;
    while (subKeys.Next(&subKey)) {
        std::wstring displayName, uninstall, version, publisher;
        if (!subKey.GetString(L"DisplayName", &displayName) || displayName.empty() || !seen.insert(displayName).second)
            continue;
        if (!subKey.GetString(L"UninstallString", &uninstall) || uninstall.empty())
            continue;
        subKey.GetString(L"DisplayVersion", &version);
        subKey.GetString(L"Publisher", &publisher);

        SOFTWARE_ENTRY entry;
        entry.time = LocalDateOf(subKeys.GetLastWriteTime());
        // The name is read wide so that no character is lost on the way: the registered mark
        // becomes a blank and the rest is published as UTF-8, in lower case.
        std::wstring name = displayName;
        std::replace(name.begin(), name.end(), L'\u00AE', L' ');
        CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
        entry.name = Utf8(name);
        entry.second = Utf8(version);
        entry.publisher = Utf8(publisher);
        if (publisher == kMib2MakerNames.shortPublisher ||
            (publisher.size() >= 15 && wcsncmp(publisher.c_str(), kMib2MakerNames.longPublisher, 15) == 0))
            entry.flags |= kSoftwareFlagMaker;
        bool driverPackage = false;
        for (const char *fragment : kMib2MakerNames.driverFragments)
            driverPackage = driverPackage || entry.name.find(fragment) != std::string::npos;
        if (!driverPackage)
            programs->push_back(std::move(entry));
    }
}

void CollectHotFixes(std::vector<SOFTWARE_ENTRY> *updates)
{
    updates->clear();
    if (s_WMICimV2 == nullptr)
        return;
    CWMIEnumerator rows = s_WMICimV2->CreateInstanceEnum(L"Win32_QuickFixEngineering");
    while (IWbemClassObject *object = rows.Next()) {
        std::string description, id, installedOn;
        GetWMIString(object, L"Description", &description, true);
        GetWMIString(object, L"HotFixID", &id, true);
        GetWMIString(object, L"InstalledOn", &installedOn, true);
        if (description.empty() && id.empty())
            continue;
        SOFTWARE_ENTRY entry;
        entry.flags = description == "Service Pack" ? kSoftwareFlagServicePack : kSoftwareFlagOsUpdate;
        description = AnsiToUtf8(description);
        id = AnsiToUtf8(id);
        if (!description.empty() && !id.empty()) {
            entry.name = description + " (" + id + ")";
            entry.second = id;
        } else if (!id.empty()) {
            entry.name = "Hotfix " + id;
            entry.second = id;
        } else {
            entry.name = description;
            entry.second = "n/a";
        }
        const INSTALLED_ON on = ParseInstalledOn(installedOn);
        if (on.kind == INSTALLED_ON::Date) {
            entry.time = on.date;
        } else if (on.kind == INSTALLED_ON::FileTime) {
            FILETIME utc{static_cast<DWORD>(on.fileTime), static_cast<DWORD>(on.fileTime >> 32)};
            entry.time = LocalDateOf(utc);
            entry.time.milliseconds = 0;
        }
        updates->push_back(std::move(entry));
    }
}

void ReadSoftwareCollectionFile(std::vector<SOFTWARE_ENTRY> *items)
{
    wchar_t temp[1024];
    const DWORD length = GetEnvironmentVariableW(L"TEMP", temp, 1024);
    if (length == 0 || length + wcslen(kSoftwareListFileName) >= 1024)
        return;
    const std::wstring fileName = std::wstring(temp, length) + kSoftwareListFileName;
    HANDLE file = CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text;
    char buffer[65536];
    DWORD read = 0;
    while (text.size() < kSoftwareListMaxBytes && ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, std::min<size_t>(read, kSoftwareListMaxBytes - text.size()));
    CloseHandle(file);

    for (const SOFTWARE_LIST_ITEM &item : ParseSoftwareList(text)) {
        SOFTWARE_ENTRY entry;
        entry.name = AnsiToUtf8(item.name);
        entry.second = AnsiToUtf8(item.version);
        entry.publisher = AnsiToUtf8(item.publisher);
        // Dated by the install location when it names a file; a folder does not open as one, so
        // then by the program of a running process that lies in it. An empty location lies in
        // everything and dates nothing.
        if (!item.installLocation.empty()) {
            entry.time = FileWriteDate(item.installLocation);
            if (entry.time.year == 0 && s_WMICimV2 != nullptr) {
                CWMIEnumerator processes = s_WMICimV2->CreateInstanceEnum(L"Win32_Process");
                while (IWbemClassObject *object = processes.Next()) {
                    std::string executable;
                    if (GetWMIString(object, L"ExecutablePath", &executable, true) &&
                        executable.find(item.installLocation) != std::string::npos) {
                        entry.time = FileWriteDate(executable);
                        break;
                    }
                }
            }
        }
        items->push_back(std::move(entry));
    }
}

// ---- The collector's groups ---------------------------------------------------------------------

void MIB2DataCollector::Collect_hrSWRun(int, DATASTORE *staging)
{
    std::vector<DWORD> ids;
    if (!ProcessSource.enumerate(&ids))
        return;
    DATASTORE_CURSOR cursor(staging);
    if (cursor.Open(kHrSWRunOid, true))
        cursor.SetInteger(1, 4);
    DATASTORE_TABLE table(staging);
    if (!table.BeginTable(kHrSWRunEntryOid, 1, true))
        return;
    for (DWORD id : ids) {
        std::string name, path, parameters;
        int runType = 0;
        if (!GetProcessImagePath(&id, &name, &path, &parameters, &runType))
            continue;
        table.SetIndex(id);
        table.SetInteger(1, static_cast<int32_t>(id));
        table.SetString(2, name.c_str());
        table.SetOid(3, s_ZeroDotZeroOid);
        table.SetString(4, path.c_str());
        table.SetString(5, parameters.c_str());
        table.SetInteger(6, runType);
        table.SetInteger(7, 1);
    }
}

void MIB2DataCollector::CollectRunningDrivers()
{
    m_Drivers.clear();
    DRIVER_INFO_LIST drivers;
    drivers.GetSystemDrivers("running");
    for (const DRIVER_INFO &driver : drivers) {
        SOFTWARE_ENTRY entry;
        entry.name = AnsiToUtf8(driver.displayName);
        entry.time.year = static_cast<uint16_t>(driver.dateTime[0] << 8 | driver.dateTime[1]);
        entry.time.month = driver.dateTime[2];
        entry.time.day = driver.dateTime[3];
        entry.time.hour = driver.dateTime[4];
        entry.time.minute = driver.dateTime[5];
        entry.time.second = driver.dateTime[6];
        const bool listed = std::any_of(m_Programs.begin(), m_Programs.end(), [&](const SOFTWARE_ENTRY &program) {
            return SameTextNoCase(program.name, entry.name);
        });
        if (!listed)
            m_Drivers.push_back(std::move(entry));
    }
}

void MIB2DataCollector::Collect_hrSwInstalled(int firstRun, DATASTORE *staging)
{
    m_Programs.clear();
    m_Drivers.clear();
    ScanUninstallKey(0, &m_Programs);
    ScanUninstallKey(KEY_WOW64_32KEY, &m_Programs);
    CollectRunningDrivers();
    if (IsHotFixCollectionDue()) {
        CollectHotFixes(&m_OsUpdates);
        StampHotFixCollection(true);
    }

    const uint32_t now = static_cast<uint32_t>(GetTickCount64() / 10);
    DATASTORE_CURSOR cursor(staging);
    if (cursor.Open(kHrSWInstalledOid, true)) {
        cursor.SetTimeTicks(1, now);
        cursor.SetTimeTicks(2, now);
    }
    DATASTORE_TABLE table(staging);
    if (table.BeginTable(kHrSWInstalledEntryOid, 1, true)) {
        std::vector<SOFTWARE_ENTRY> fileItems;
        ReadSoftwareCollectionFile(&fileItems);
        uint32_t index = 1;
        auto write = [&](const std::vector<SOFTWARE_ENTRY> &entries, int32_t type) {
            for (const SOFTWARE_ENTRY &entry : entries) {
                uint8_t date[8];
                SoftwareDateAndTime(entry.time, date);
                table.SetIndex(index);
                table.SetInteger(1, static_cast<int32_t>(index));
                table.SetString(2, entry.name.c_str());
                table.SetOid(3, s_ZeroDotZeroOid);
                table.SetInteger(4, type);
                table.SetOctetString(5, sizeof date, date);
                ++index;
            }
        };
        write(m_Programs, kSwTypeApplication);
        write(m_OsUpdates, kSwTypeOperatingSystem);
        write(m_Drivers, kSwTypeDeviceDriver);
        write(fileItems, kSwTypeApplication);
    }

    DWORD firstDone = 0;
    CRegistry serviceKey(HKEY_LOCAL_MACHINE, kServiceKey, KEY_READ);
    if (!serviceKey.GetDword(kFirstDataCollectionDoneValue, &firstDone))
        firstDone = 0;
    CRegistry volatileKey(HKEY_LOCAL_MACHINE, kAgentXVolatileKey, MAXIMUM_ALLOWED);
    if (volatileKey.ValueExists(kRelogSwOsValue)) {
        LOG_VERBOSE(kInstalledFunction, L"Log Software and OS update again.");
        volatileKey.DeleteValue(kRelogSwOsValue);
        firstRun = 1;
        firstDone = 0;
    }
    if (firstRun && firstDone == 0) {
        for (size_t i = 0; i < m_Programs.size(); ++i) {
            const SOFTWARE_ENTRY &entry = m_Programs[i];
            PostSoftwareRecord(kBlackboxCodeSoftware, PostedFlags(entry, i, m_Programs.size()), entry.publisher.c_str(),
                               entry.name.c_str(), entry.second.c_str(), SoftwareDateText(entry.time).c_str());
        }
        for (size_t i = 0; i < m_OsUpdates.size(); ++i) {
            const SOFTWARE_ENTRY &entry = m_OsUpdates[i];
            PostOsUpdateRecord(kBlackboxCodeOsUpdate, PostedFlags(entry, i, m_OsUpdates.size()), entry.name.c_str(),
                               entry.second.c_str(), SoftwareDateText(entry.time).c_str());
        }
    }
    m_Programs.clear();
}
