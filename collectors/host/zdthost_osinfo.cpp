// The operating-system group: facts read once per process, scalars in the first cycle, the type
// code in the registry for the software inventory, and the "OS Info" black-box record.
#include "zdthost_collector.h"

#include "common_log.h"
#include "enterprise_arc.h"
#include "host_text.h"
#include "blackbox.h"
#include "registry.h"
#include "scheduler.h"
#include "store_writers.h"
#include "wmi.h"

#include <vector>

namespace {

constexpr wchar_t kOperatingSystemQuery[] = L"SELECT * FROM Win32_OperatingSystem";
constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr wchar_t kHostOsTypeKey[] = L"SYSTEM\\ZORUROvid";
constexpr size_t kTextBufferSize = 260;

struct HOST_OS_STATE {
    bool factsRead = false;
    HOST_OS_FACTS facts;
    bool osInfoLogged = false;
    std::string hostOsName = "Windows";
};
HOST_OS_STATE s_HostOs;

// The first Win32_OperatingSystem object of a query (null without one); the enumerator owns it.
IWbemClassObject *FirstOperatingSystem(CWMIEnumerator *rows)
{
    if (s_WMICimV2 == nullptr)
        return nullptr;
    *rows = s_WMICimV2->ExecQuery(kOperatingSystemQuery);
    return rows->Next();
}

void ReadOsFacts()
{
    HOST_OS_FACTS &facts = s_HostOs.facts;
    CWMIEnumerator rows;
    if (IWbemClassObject *os = FirstOperatingSystem(&rows)) {
        std::string version;
        GetWMIString(os, L"Version", &version, true);
        SplitOsVersion(version.c_str(), &facts.major, &facts.minor);
        std::string build;
        GetWMIString(os, L"BuildNumber", &build, true);
        facts.build = static_cast<uint32_t>(ParseLeadingInt(build.c_str()));
        GetWMIUInt16(os, L"ServicePackMajorVersion", &facts.servicePackMajor);
        uint32_t productType = 0;
        if (GetWMIUInt32(os, L"ProductType", &productType))
            facts.productType = static_cast<uint8_t>(productType);
    }
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    facts.architecture = system.wProcessorArchitecture;
    s_HostOs.factsRead = true;
}

// A registry text in the ANSI code page, at most 259 bytes; empty when it cannot be read.
std::string AnsiRegistryText(CRegistry &key, const wchar_t *name)
{
    std::wstring wide;
    if (!key.GetString(name, &wide))
        return std::string();
    char buffer[kTextBufferSize];
    WideToNarrowBuffer(buffer, sizeof buffer, wide.c_str(), static_cast<int>(wide.size()), CP_ACP);
    return buffer;
}

bool HostFlagSet(CRegistry &key, const wchar_t *name)
{
    DWORD value = 0;
    return key.GetDword(name, &value) && value != 0;
}

} // namespace

const HOST_OS_FACTS &GetHostOsFacts()
{
    return s_HostOs.facts;
}

void ForgetHostOsFacts()
{
    s_HostOs = HOST_OS_STATE();
}

const std::string &HostOsName()
{
    return s_HostOs.hostOsName;
}

std::string GetHostOsName()
{
    std::string narrow;
    std::wstring wide;
    {
        CWMIEnumerator rows;
        if (IWbemClassObject *os = FirstOperatingSystem(&rows)) {
            GetWMIString(os, L"Caption", &narrow, false);
            GetWMIWideString(os, L"Caption", &wide, false);
        }
    }
    LOG_VERBOSE(L"GetHostOsName", L"GetHostOsName ascii: %hs", narrow.c_str());
    LOG_VERBOSE(L"GetHostOsName", L"GetHostOsName wide: %s", wide.c_str());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes > 0) {
        std::vector<char> utf8(static_cast<size_t>(bytes) + 1, '\0');
        if (WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), bytes, nullptr, nullptr) == bytes) {
            s_HostOs.hostOsName = utf8.data();
            return s_HostOs.hostOsName;
        }
    }
    return narrow;
}

std::string FormatOsVersion(bool withBuild)
{
    const HOST_OS_FACTS &facts = s_HostOs.facts;
    std::string text;
    if (withBuild)
        FormatString(text, "%d.%d.%d", static_cast<int>(facts.major), static_cast<int>(facts.minor),
                     static_cast<int>(facts.build));
    else
        FormatString(text, "%d.%d", static_cast<int>(facts.major), static_cast<int>(facts.minor));
    return text;
}

std::string GetOsBuildString()
{
    std::string text;
    FormatString(text, "Build %d", static_cast<int>(s_HostOs.facts.build));
    CRegistry key(HKEY_LOCAL_MACHINE, kCurrentVersionKey, KEY_READ);
    std::wstring type;
    if (key.GetString(L"CurrentType", &type)) {
        char buffer[kTextBufferSize];
        WideToNarrowBuffer(buffer, sizeof buffer, type.c_str(), static_cast<int>(type.size()), CP_ACP);
        AppendText(text, " ");
        AppendText(text, buffer);
    }
    return text;
}

int32_t GetHostOsType()
{
    const int32_t code = HostOsTypeCode(s_HostOs.facts, s_HostOs.hostOsName.c_str());
    CRegistry key(HKEY_LOCAL_MACHINE, kHostOsTypeKey);
    if (!key.SetDword(L"HostOsType", static_cast<DWORD>(code)))
        LOG_ERROR(L"GetHostOsType", L"GetOsType: Registry write failed.");
    return code;
}

std::string GetHostComputerName()
{
    char name[kTextBufferSize] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size))
        return "Unknown";
    return std::string(name, strnlen(name, sizeof name));
}

std::string GetSystemDescription()
{
    CRegistry processor(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", KEY_READ);
    CRegistry system(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System", KEY_READ);
    CRegistry version(HKEY_LOCAL_MACHINE, kCurrentVersionKey, KEY_READ);

    std::string windowsVersion;
    DWORD major = 0, minor = 0;
    if (version.GetDword(L"CurrentMajorVersionNumber", &major) && version.GetDword(L"CurrentMinorVersionNumber", &minor))
        FormatString(windowsVersion, "%d.%d", static_cast<int>(major), static_cast<int>(minor));
    else
        windowsVersion = AnsiRegistryText(version, L"CurrentVersion");

    std::string text = "Hardware: ";
    text += AnsiRegistryText(processor, L"Identifier");
    text += " ";
    text += AnsiRegistryText(system, L"Identifier");
    text += " - Software: Windows Version ";
    text += windowsVersion;
    text += " (Build ";
    text += AnsiRegistryText(version, L"CurrentBuild");
    text += " ";
    text += AnsiRegistryText(version, L"CurrentType");
    text += ")";
    // The description has room for 259 bytes; a longer one keeps its beginning.
    if (text.size() > kTextBufferSize - 1)
        text.resize(kTextBufferSize - 1);
    return text;
}

void ZDTHOSTDataCollector::Collect_zdtHoInfo(int firstRun, DATASTORE *staging)
{
    if (!s_HostOs.factsRead)
        ReadOsFacts();

    if (firstRun) {
        LOG_VERBOSE(L"ZDTHOSTDataCollector::Collect_zdtHoInfo", L"ZDTHOSTDataCollector::Collect_zdtHoInfo");
        DATASTORE_CURSOR cursor(staging);
        if (cursor.Open(EnterpriseOid({11, 2, 2}), true)) {
            cursor.SetString(1, GetHostOsName().c_str());
            cursor.SetString(2, FormatOsVersion(true).c_str());
            cursor.SetString(3, GetOsBuildString().c_str());
            cursor.SetInteger(4, GetHostOsType());
            cursor.SetInteger(5, 3);
            cursor.SetString(12, GetHostComputerName().c_str());
            cursor.SetString(13, GetSystemDescription().c_str());
        }
    }

    // The scheduler resets these flags only after this collector has collected, so a flag set at
    // any time between two host collections is seen here.
    {
        CRegistry host(HKEY_LOCAL_MACHINE, kHostStateKey);
        host.Create();
        if (HostFlagSet(host, L"KWBCleared"))
            s_HostOs.osInfoLogged = false;
        if (HostFlagSet(host, L"KWBDisabledThenEnabled"))
            s_HostOs.osInfoLogged = false;
    }
    {
        // Opened, never created: the key is the black box's to create, as a volatile key.
        CRegistry volatileData(HKEY_LOCAL_MACHINE, kVolatileDataKey);
        if (volatileData.ValueExists(L"RelogBBForOsInfo")) {
            LOG_VERBOSE(L"ZDTHOSTDataCollector::Collect_zdtHoInfo", L"Log OS Info again.");
            volatileData.DeleteValue(L"RelogBBForOsInfo");
            s_HostOs.osInfoLogged = false;
        }
    }

    if (!s_HostOs.osInfoLogged) {
        LOG_VERBOSE(L"ZDTHOSTDataCollector::Collect_zdtHoInfo",
                    L"ZDTHOSTDataCollector::Collect_zdtHoInfo: Logging OsInformation to Blackbox");
        const HOST_OS_FACTS &facts = s_HostOs.facts;
        const std::string name = GetHostOsName();
        const std::string version = FormatOsVersion(true);
        const uint16_t words[4] = {static_cast<uint16_t>(facts.major), static_cast<uint16_t>(facts.minor),
                                   static_cast<uint16_t>(facts.build), 0};
        PostOsInfoRecord(0, 0, facts.architecture != 0 ? 64 : 32, name.c_str(), version.c_str(), words,
                         facts.servicePackMajor);
        s_HostOs.osInfoLogged = true;
    }
}
