// The running-software table: the catalogue drivers found on disk and the maker's running
// processes, without the drivers Windows reports as stopped; and the system-driver list.
#include "driver_info.h"

#include "common_log.h"
#include "enterprise_arc.h"
#include "file_version.h"
#include "store_writers.h"
#include "wmi.h"
#include "zdthost_collector.h"
#include "zdthost_software.h"

#include <psapi.h>

#include <set>

namespace {

std::string WmiText(IWbemClassObject *object, const wchar_t *name)
{
    std::string text;
    if (!GetWMIString(object, name, &text, false))
        text.clear();
    return text;
}

} // namespace

FILE_DATE LocalFileDate(const std::string &path)
{
    FILE_DATE date;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return date;
    FILETIME written = {};
    SYSTEMTIME universal = {}, local = {};
    if (GetFileTime(file, nullptr, nullptr, &written) && FileTimeToSystemTime(&written, &universal) &&
        SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        date = FileDateOf(local);
    CloseHandle(file);
    return date;
}

void DRIVER_INFO_LIST::GetRunningSoftwareCandidates()
{
    clear();
    for (SW_VER_ENTRY *row = g_SwVerTable; row != nullptr && row->type != 0; ++row) {
        if (row->fileName == nullptr || row->description == nullptr || row->status == 0 || row->status == 3 ||
            row->path.empty() || row->type != 2)
            continue;
        DRIVER_INFO entry;
        entry.name = row->fileName;
        entry.displayName = row->productName;
        entry.description = row->fileDescription;
        entry.path = row->fileDescription;
        entry.kind = 1;
        entry.runState = 2;
        DateToOctets(LocalFileDate(row->path), entry.dateTime);
        CFileVersionInfo info(row->path.c_str());
        if (info.Load())
            entry.version = row->fixedVersion;
        push_back(std::move(entry));
    }
    DRIVER_INFO_LIST processes;
    processes.GetMakerProcesses();
    insert(end(), processes.begin(), processes.end());
}

uint32_t DRIVER_INFO_LIST::GetMakerProcesses()
{
    clear();
    DWORD identifiers[1024];
    DWORD bytes = 0;
    if (!K32EnumProcesses(identifiers, sizeof identifiers, &bytes))
        return ERROR_NO_DATA;
    std::set<std::string> seen;
    if (s_WMICimV2 != nullptr) {
        CWMIEnumerator rows = s_WMICimV2->ExecQuery(L"SELECT * FROM Win32_Process");
        while (IWbemClassObject *object = rows.Next()) {
            std::string name = WmiText(object, L"Name");
            LowerAsciiInPlace(name);
            if (name == "system" || name == "[system process]" || !seen.insert(name).second)
                continue;
            std::string executable = WmiText(object, L"ExecutablePath");
            DRIVER_INFO entry;
            entry.name = name;
            entry.kind = 1;
            entry.runState = 2;
            CFileVersionInfo info(executable.c_str());
            if (!executable.empty() && info.Load()) {
                info.GetFixedVersion(entry.version);
                info.GetFileDescription(entry.description);
                entry.path = entry.description;
                info.GetProductName(entry.displayName);
            } else {
                entry.displayName = entry.description = entry.path = executable;
            }
            DateToOctets(LocalFileDate(executable), entry.dateTime);
            LowerAsciiInPlace(executable);
            LowerAsciiInPlace(entry.displayName);
            if (ContainsAnyKeyword({executable}, kMakerPathKeywords, std::size(kMakerPathKeywords)) ||
                ContainsAnyKeyword({entry.displayName}, kMakerProductKeywords, std::size(kMakerProductKeywords)))
                push_back(std::move(entry));
        }
    }
    return empty() ? ERROR_NO_DATA : 0;
}

void DRIVER_INFO_LIST::GetSystemDrivers(std::string stateWord)
{
    clear();
    if (s_WMICimV2 == nullptr)
        return;
    const bool onlyRunning = EqualsNoCase(stateWord, std::string("running"));
    const bool onlyStopped = EqualsNoCase(stateWord, std::string("stopped"));
    CWMIEnumerator rows = s_WMICimV2->CreateInstanceEnum(L"Win32_SystemDriver");
    while (IWbemClassObject *object = rows.Next()) {
        DRIVER_INFO entry;
        entry.runState = EqualsNoCase(WmiText(object, L"State"), std::string("running")) ? 2 : 0;
        entry.name = WmiText(object, L"Name");
        entry.displayName = WmiText(object, L"DisplayName");
        entry.description = entry.displayName;
        entry.path = WmiText(object, L"PathName");
        DateToOctets(LocalFileDate(entry.path), entry.dateTime);
        CFileVersionInfo info(entry.path.c_str());
        if (!entry.path.empty() && info.Load())
            info.GetProductVersion(entry.version);
        if ((!onlyRunning || entry.runState == 2) && (!onlyStopped || entry.runState != 2))
            push_back(std::move(entry));
    }
}

void ZDTHOSTDataCollector::Collect_zdtHoSwRunning(int, DATASTORE *staging)
{
    LOG_VERBOSE(L"ZDTHOSTDataCollector::Collect_zdtHoSwRunning", L"ZDTHOSTDataCollector::Collect_zdtHoSwRunning\n");
    DRIVER_INFO_LIST candidates, stopped, result;
    candidates.GetRunningSoftwareCandidates();
    stopped.GetSystemDrivers("stopped");
    for (DRIVER_INFO &candidate : candidates) {
        bool isStopped = false;
        for (const DRIVER_INFO &driver : stopped)
            isStopped = isStopped || EqualsNoCase(candidate.name, driver.name + ".sys");
        if (!isStopped)
            result.push_back(std::move(candidate));
    }
    DATASTORE_TABLE table(staging);
    if (!table.BeginTable(EnterpriseOid({11, 2, 6, 1, 1}), 1, true))
        return;
    uint32_t n = 0;
    for (DRIVER_INFO &entry : result) {
        table.SetIndex(n);
        entry.name = RunningSoftwareText(entry.name, entry.displayName);
        entry.description = RunningSoftwareText(entry.description, entry.displayName);
        table.SetInteger(1, static_cast<int32_t>(n));
        table.SetString(2, entry.name.c_str());
        table.SetString(3, entry.description.c_str());
        table.SetString(4, entry.version.c_str());
        table.SetOctetString(5, 7, entry.dateTime);
        table.SetInteger(6, entry.kind);
        table.SetInteger(7, entry.runState);
        ++n;
    }
}
