// The software inventory: the installed services and drivers, the catalogue resolved against
// them and the file system, the software-version group, and the black-box driver and service
// records.
#include "zdthost_software.h"

#include "blackbox.h"
#include "common_log.h"
#include "driver_info.h"
#include "enterprise_arc.h"
#include "file_version.h"
#include "host_text.h"
#include "registry.h"
#include "store_writers.h"
#include "zdthost_collector.h"

#include <memory>

SW_VER_ENTRY *g_SwVerTable = g_ShippedSwVerTable;
std::vector<SW_VER_EXTRA> g_SwVerExtra;
bool g_DriversAndServicesLogged = false;
std::function<std::vector<PCI_FUNCTION>()> s_PciFunctionSource = PresentPciFunctions;

namespace {

constexpr wchar_t kParametersKey[] = L"SYSTEM\\CurrentControlSet\\services\\ndxtlm\\Parameters";
constexpr DWORD kParametersAccess = 0x2001F;
constexpr DWORD kPathChars = 260;
constexpr DWORD kServiceTypeAll = 0x13F;
constexpr DWORD kDriverBits = 0x1 | 0x2 | 0x4 | 0x8;
constexpr DWORD kLoggedDriverBits = 0x1 | 0x2 | 0x8;
constexpr DWORD kLoggedServiceBits = 0x10 | 0x20;

std::wstring WideFromAnsi(const std::string &text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

bool ExpandAnsi(const char *text, std::string *expansion)
{
    char buffer[kPathChars] = {};
    const DWORD length = ExpandEnvironmentStringsA(text, buffer, kPathChars);
    if (length == 0 || length > kPathChars)
        return false;
    expansion->assign(buffer);
    return true;
}

std::string LowerCopy(std::string text)
{
    LowerAsciiInPlace(text);
    return text;
}

const char *StateWord(uint32_t state)
{
    static const char *const kWords[] = {"Unknown",          "Stopped",       "Start Pending", "Stop Pending",
                                         "Running",          "Continue Pending", "Pause Pending", "Paused"};
    return state < 8 ? kWords[state] : "Unknown";
}

bool Running(const SERVICE_INFO &service)
{
    return service.currentState == SERVICE_RUNNING;
}

void ReadServiceFile(SERVICE_INFO &service)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    FILETIME local = {};
    if (GetFileAttributesExA(service.path.c_str(), GetFileExInfoStandard, &attributes) &&
        FileTimeToLocalFileTime(&attributes.ftLastWriteTime, &local))
        FileTimeToSystemTime(&local, &service.fileTime);

    CFileVersionInfo info(service.path.c_str());
    if (!info.Load())
        return;
    info.GetCompanyName(service.company);
    info.GetProductName(service.productName);
    info.GetFixedProductVersion(service.fixedProductVersion);
    info.GetProductVersion(service.productVersion);
    info.GetFileDescription(service.fileDescription);
    info.GetFixedVersion(service.fixedFileVersion);
    info.GetFileVersion(service.fileVersion);
}

// The catalogue's rows up to the terminating one.
template <class F> void ForEachRow(F &&visit)
{
    for (SW_VER_ENTRY *row = g_SwVerTable; row != nullptr && row->type != 0; ++row)
        visit(*row);
}

void ResolveFromService(SW_VER_ENTRY &row, const SERVICE_INFO &service)
{
    row.status = Running(service) ? 2 : 3;
    row.path = service.path;
    row.version = service.fileVersion;
    row.fixedVersion = service.fixedFileVersion;
    row.company = service.company;
    row.productName = service.productName;
    row.fileDescription = service.fileDescription;
    DateToOctets(FileDateOf(service.fileTime), row.dateTime);
}

bool IsMakerService(const SERVICE_INFO &service, CFileVersionInfo &info)
{
    std::string company, product, description;
    info.GetCompanyName(company);
    info.GetProductName(product);
    info.GetFileDescription(description);
    return ContainsAnyKeyword({service.path, LowerCopy(company), LowerCopy(product), LowerCopy(description)},
                              kMakerNameKeywords, std::size(kMakerNameKeywords));
}

SW_VER_EXTRA ExtraFromService(const SERVICE_INFO &service)
{
    SW_VER_EXTRA extra;
    if (service.path.find(".sys") != std::string::npos)
        extra.type = 2;
    if (service.path.find(".exe") != std::string::npos)
        extra.type = 5;
    extra.fileName = service.name + (extra.type == 2 ? ".sys" : ".exe");
    extra.description = service.productName;
    extra.defaultPath = service.path;
    extra.status = 2;
    extra.path = service.path;
    extra.version = service.fileVersion;
    extra.fixedVersion = service.fixedFileVersion;
    DateToOctets(FileDateOf(service.fileTime), extra.dateTime);
    extra.company = service.company;
    extra.productName = service.productName;
    extra.fileDescription = service.fileDescription;
    return extra;
}

void DumpServices(const SERVICE_LIST &services)
{
    constexpr wchar_t kFunction[] = L"CollectSoftwareVersions";
    LOG_INFO(kFunction, L"CollectSoftwareVersions: Dump current all service list");
    for (size_t k = 0; k < services.size(); ++k) {
        const SERVICE_INFO &service = services[k];
        LOG_INFO(kFunction, L"    Id: %d,\tName: %hs,\tState: %hs,\tDisplayName: %hs,\tPath: %hs", static_cast<int>(k),
                 service.name.c_str(), StateWord(service.currentState), service.displayName.c_str(),
                 service.path.c_str());
    }
}

std::wstring DumpLine(const SW_VER_ENTRY &row, const SERVICE_LIST &services)
{
    wchar_t line[1024];
    if (row.status == 2) {
        std::string expansion;
        if (row.defaultPath != nullptr && ExpandAnsi(row.defaultPath, &expansion))
            for (size_t k = 0; k < services.size(); ++k)
                if (EqualsNoCase(services[k].path, expansion)) {
                    _snwprintf_s(line, std::size(line), _TRUNCATE, L"        Id: %d,\tName: %hs,\tLocation: %hs",
                                 static_cast<int>(k), row.fileName, row.path.c_str());
                    return line;
                }
        _snwprintf_s(line, std::size(line), _TRUNCATE, L"        Id: N/A,\tName: %hs,\tLocation: %hs", row.fileName,
                     row.path.c_str());
        return line;
    }
    _snwprintf_s(line, std::size(line), _TRUNCATE, L"        Name: %hs,\tLocation: %hs", row.fileName, row.path.c_str());
    return line;
}

void DumpCatalogue(const SERVICE_LIST &services)
{
    constexpr wchar_t kFunction[] = L"CollectSoftwareVersions";
    std::vector<std::wstring> loaded, notLoaded, others;
    ForEachRow([&](SW_VER_ENTRY &row) {
        (row.status == 2 ? loaded : row.status == 3 ? notLoaded : others).push_back(DumpLine(row, services));
    });
    LOG_INFO(kFunction, L"CollectSoftwareVersions: Dump local DB (g_SwVerTable)");
    LOG_INFO(kFunction, L"    Found and update to MIB later (Status = Loaded)");
    for (const std::wstring &line : loaded)
        LOG_INFO(kFunction, L"%ls", line.c_str());
    LOG_INFO(kFunction, L"    Others (Status = Not Loaded)");
    for (const std::wstring &line : notLoaded)
        LOG_INFO(kFunction, L"%ls", line.c_str());
    LOG_INFO(kFunction, L"    Others (Status = Others)");
    for (const std::wstring &line : others)
        LOG_INFO(kFunction, L"%ls", line.c_str());
}

void DumpKeywords()
{
    std::wstring line = L"CollectSoftwareVersions: dump include keyword ";
    for (size_t k = 0; k < std::size(kMakerNameKeywords); ++k)
        line += (k == 0 ? L"'" : L",'") + WideFromAnsi(kMakerNameKeywords[k]) + L"'";
    line += L" in all service list";
    LOG_INFO(L"CollectSoftwareVersions", L"%ls", line.c_str());
}

void ConsultRelogRequests()
{
    CRegistry host(HKEY_LOCAL_MACHINE, kBlackBoxHostKey);
    if (host.Create()) {
        if (ReadRegistryDword(host, L"KWBCleared").value_or(0) != 0)
            g_DriversAndServicesLogged = false;
        if (ReadRegistryDword(host, L"KWBDisabledThenEnabled").value_or(0) != 0)
            g_DriversAndServicesLogged = false;
    }
    // Only looked at and deleted: the key stays the black box's to create volatile.
    CRegistry volatileData(HKEY_LOCAL_MACHINE, kBlackBoxVolatileKey);
    if (volatileData.ValueExists(L"RelogBBForServiceDriver")) {
        LOG_VERBOSE(L"CollectSoftwareVersions", L"Log Services and Drivers again.");
        volatileData.DeleteValue(L"RelogBBForServiceDriver");
        g_DriversAndServicesLogged = false;
    }
}

template <class ROW> void WriteSoftwareRow(DATASTORE_TABLE &table, uint32_t n, ROW &row, const char *fileName,
                                           const char *catalogueDescription)
{
    // The adjusted description stays in the row: the running-software table reads it next.
    row.fileDescription = SoftwareDescription(row.fileDescription, row.productName, "");
    const std::string description = !row.fileDescription.empty() ? row.fileDescription
                                    : catalogueDescription != nullptr ? catalogueDescription
                                                                      : "";
    table.SetIndex(n);
    table.SetInteger(1, static_cast<int32_t>(n));
    table.SetInteger(2, row.status);
    table.SetInteger(3, row.type);
    table.SetString(4, fileName);
    table.SetString(5, description.c_str());
    table.SetOctetString(6, 7, row.dateTime);
    table.SetString(7, row.path.c_str());
    table.SetString(8, row.version.c_str());
    table.SetString(9, row.fixedVersion.c_str());
}

} // namespace

FILE_DATE FileDateOf(const SYSTEMTIME &time)
{
    return FILE_DATE{time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

// ---- Services and drivers ----------------------------------------------------------------------

int ResolveServiceBinaryPath(SERVICE_INFO &service)
{
    service.path.clear();
    CRegistry key((L"CCS:Services\\" + WideFromAnsi(service.name)).c_str(), KEY_READ);
    if (!key.Open())
        return 0;
    std::wstring image;
    if (!key.GetString(L"ImagePath", &image))
        image.clear();

    IMAGE_PATH_IO io;
    io.expand = [](const std::wstring &text) -> std::optional<std::wstring> {
        wchar_t buffer[kPathChars] = {};
        const DWORD length = ExpandEnvironmentStringsW(text.c_str(), buffer, kPathChars);
        if (length == 0 || length > kPathChars)
            return std::nullopt;
        return std::wstring(buffer);
    };
    io.exists = [](const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; };
    io.serviceDll = [&key]() -> std::optional<std::wstring> {
        std::wstring dll;
        if (key.GetString(L"ServiceDll", &dll))
            return dll;
        CRegistry parameters(key.GetHandle(), L"Parameters", KEY_READ);
        if (parameters.GetString(L"ServiceDll", &dll))
            return dll;
        return std::nullopt;
    };
    const std::optional<std::wstring> path =
        ResolveImagePath((service.serviceType & kDriverBits) != 0, WideFromAnsi(service.name), image, io);
    if (!path)
        return 0;
    service.path = NarrowFromWide(*path);
    return 1;
}

void SERVICE_LIST::EnumerateServices(uint32_t serviceType)
{
    clear();
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, GENERIC_READ);
    if (manager == nullptr)
        return;
    std::unique_ptr<BYTE[]> buffer;
    DWORD size = 0, needed = 0, count = 0;
    BOOL listed = FALSE;
    for (;;) {
        listed = EnumServicesStatusExA(manager, SC_ENUM_PROCESS_INFO, serviceType, SERVICE_STATE_ALL, buffer.get(),
                                       size, &needed, &count, nullptr, nullptr);
        if (listed || GetLastError() != ERROR_MORE_DATA)
            break;
        size += needed;
        buffer.reset(new (std::nothrow) BYTE[size]);
        if (!buffer)
            break;
    }
    if (listed && buffer) {
        const auto *entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSA *>(buffer.get());
        for (DWORD i = 0; i < count; ++i) {
            SERVICE_INFO service;
            service.serviceType = entries[i].ServiceStatusProcess.dwServiceType;
            service.currentState = entries[i].ServiceStatusProcess.dwCurrentState;
            service.name = entries[i].lpServiceName != nullptr ? entries[i].lpServiceName : "";
            service.displayName = entries[i].lpDisplayName != nullptr ? entries[i].lpDisplayName : "";
            if (!ResolveServiceBinaryPath(service))
                continue;
            ReadServiceFile(service);
            push_back(std::move(service));
        }
    }
    CloseServiceHandle(manager);
}

// ---- Catalogue ---------------------------------------------------------------------------------

int GetOsTypefromRegistry()
{
    CRegistry key(HKEY_LOCAL_MACHINE, L"SYSTEM\\ZORUROvid", KEY_READ);
    DWORD type = 0;
    if (!key.GetDword(L"HostOsType", &type)) {
        LOG_ERROR(L"GetOsTypefromRegistry", L"GetOsType: Registry read failed.");
        return 0;
    }
    return static_cast<int>(type);
}

int GetBiosServerGeneration()
{
    CRegistry key(HKEY_LOCAL_MACHINE, L"HARDWARE\\Description\\System\\BIOS", KEY_READ);
    std::wstring product;
    if (!key.GetString(L"SystemProductName", &product))
        product.clear();
    return ServerGenerationFromProduct(product, kGenerationMarker);
}

void SW_VER_ENTRY::Reset()
{
    status = 1;
    path.clear();
    version.clear();
    fixedVersion.clear();
    company.clear();
    productName.clear();
    fileDescription.clear();
    std::fill(std::begin(dateTime), std::end(dateTime), uint8_t{0});
}

void SW_VER_ENTRY::UpdateSoftwareBasedOnKeyFile()
{
    status = 1;
    if (osFilter != 0 && !OsFilterApplies(osFilter, GetOsTypefromRegistry()))
        return;
    if (generation != 0 && GetBiosServerGeneration() != generation)
        return;
    std::string expansion;
    if (!ExpandAnsi(defaultPath, &expansion))
        return;
    path = expansion;
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    if (!GetFileAttributesExA(expansion.c_str(), GetFileExInfoStandard, &attributes)) {
        status = 3;
        return;
    }
    status = 2;
    LOG_VERBOSE(L"UpdateSoftwareBasedOnKeyFile", L"UpdateSoftwareBasedOnKeyFile: %hs = %hs\n", fileName,
                expansion.c_str());
    DateToOctets(LocalFileDate(path), dateTime);
    CFileVersionInfo info(path.c_str());
    if (!info.Load())
        return;
    info.GetFixedVersion(fixedVersion);
    version = fixedVersion;
    info.GetCompanyName(company);
    info.GetProductName(productName);
    info.GetFileDescription(fileDescription);
}

void LogDriversAndServicesToBlackBox(const SERVICE_LIST &services)
{
    constexpr wchar_t kFunction[] = L"LogDriversAndServicesToBlackBox";
    std::vector<const SERVICE_INFO *> drivers, running;
    for (const SERVICE_INFO &service : services) {
        if (!Running(service))
            continue;
        if (service.serviceType & kLoggedDriverBits)
            drivers.push_back(&service);
        else if (service.serviceType & kLoggedServiceBits)
            running.push_back(&service);
    }
    const std::vector<PCI_FUNCTION> functions = s_PciFunctionSource ? s_PciFunctionSource() : std::vector<PCI_FUNCTION>();
    for (size_t i = 0; i < drivers.size(); ++i) {
        const SERVICE_INFO &driver = *drivers[i];
        LOG_VERBOSE(kFunction, L"LogDriversAndServicesToBlackBox: Driver %hs = %hs (%hs)\n", driver.name.c_str(),
                    driver.path.c_str(), driver.fixedFileVersion.c_str());
        const std::string date = DateToRecordText(FileDateOf(driver.fileTime));
        const std::string locations = PciLocationsOf(driver.name, functions);
        PostDriverRecord(kBlackboxCodeDriver, FirstLastFlags(i, drivers.size()), driver.name.c_str(),
                         driver.path.c_str(), driver.fixedFileVersion.c_str(), date.c_str(), driver.company.c_str(),
                         locations.c_str());
    }
    for (size_t j = 0; j < running.size(); ++j) {
        const SERVICE_INFO &service = *running[j];
        LOG_VERBOSE(kFunction, L"LogDriversAndServicesToBlackBox: Service %hs = %hs (%hs)\n", service.name.c_str(),
                    service.path.c_str(), service.fixedFileVersion.c_str());
        const std::string date = DateToRecordText(FileDateOf(service.fileTime));
        PostServiceRecord(kBlackboxCodeService, FirstLastFlags(j, running.size()), service.name.c_str(),
                          service.path.c_str(), service.fixedFileVersion.c_str(), date.c_str(),
                          service.company.c_str());
    }
}

void CollectSoftwareVersions()
{
    constexpr wchar_t kFunction[] = L"CollectSoftwareVersions";
    CRegistry parameters(HKEY_LOCAL_MACHINE, kParametersKey, kParametersAccess);
    const bool dump = parameters.Open() && ReadRegistryDword(parameters, L"EnableHoSwVerTableDumpOnce").value_or(0) != 0;

    ForEachRow([](SW_VER_ENTRY &row) { row.Reset(); });

    SERVICE_LIST services;
    services.EnumerateServices(kServiceTypeAll);

    for (const SERVICE_INFO &service : services) {
        const std::string lowered = LowerCopy(service.path);
        for (SW_VER_ENTRY *row = g_SwVerTable; row != nullptr && row->type != 0; ++row) {
            if (row->defaultPath != nullptr && row->defaultPath[0] != '\0')
                continue;
            if (row->fileName == nullptr || lowered.find(LowerCopy(row->fileName)) == std::string::npos)
                continue;
            LOG_VERBOSE(kFunction, L"CollectSoftwareVersions: %hs = %hs\n", row->fileName, service.path.c_str());
            ResolveFromService(*row, service);
            break;
        }
    }

    ForEachRow([&](SW_VER_ENTRY &row) {
        if (row.defaultPath == nullptr || row.defaultPath[0] == '\0' || !row.path.empty())
            return;
        std::string expansion;
        if (!ExpandAnsi(row.defaultPath, &expansion))
            return;
        if (LowerCopy(expansion).find(".sys") != std::string::npos) {
            bool loaded = false;
            for (const SERVICE_INFO &service : services)
                loaded = loaded || (Running(service) && EqualsNoCase(service.path, expansion));
            if (!loaded)
                return;
        }
        row.UpdateSoftwareBasedOnKeyFile();
    });

    if (dump) {
        DumpServices(services);
        DumpCatalogue(services);
        DumpKeywords();
    }

    g_SwVerExtra.clear();
    for (size_t k = 0; k < services.size(); ++k) {
        SERVICE_INFO &service = services[k];
        if (!Running(service))
            continue;
        LowerAsciiInPlace(service.path);
        if (service.path.find(".sys") == std::string::npos && service.path.find(".exe") == std::string::npos)
            continue;
        CFileVersionInfo info(service.path.c_str());
        if (!info.Load() || !IsMakerService(service, info))
            continue;
        g_SwVerExtra.push_back(ExtraFromService(service));
        if (dump)
            LOG_INFO(kFunction, L"    Id:%d,\tName: %hs,\tPath: %hs", static_cast<int>(k), service.name.c_str(),
                     service.path.c_str());
    }
    if (dump)
        parameters.SetDword(L"EnableHoSwVerTableDumpOnce", 0);

    ConsultRelogRequests();
    if (!g_DriversAndServicesLogged) {
        LogDriversAndServicesToBlackBox(services);
        g_DriversAndServicesLogged = true;
    }
}

void ZDTHOSTDataCollector::Collect_zdtHoSwVer(int, DATASTORE *staging)
{
    LOG_VERBOSE(L"ZDTHOSTDataCollector::Collect_zdtHoSwVer", L"ZDTHOSTDataCollector::Collect_zdtHoSwVer\n");
    CollectSoftwareVersions();

    DATASTORE_CURSOR cursor(staging);
    if (cursor.Open(EnterpriseOid({11, 2, 7}), true)) {
        cursor.SetInteger(1, -1);
        cursor.SetString(3, "10.100.0.0");
    }
    DATASTORE_TABLE table(staging);
    if (!table.BeginTable(EnterpriseOid({11, 2, 7, 2, 1}), 1, true))
        return;
    uint32_t n = 0;
    ForEachRow([&](SW_VER_ENTRY &row) {
        if (row.status == 2)
            WriteSoftwareRow(table, n++, row, row.fileName, row.description);
    });
    for (SW_VER_EXTRA &extra : g_SwVerExtra) {
        if (extra.status != 2)
            continue;
        bool catalogued = false;
        ForEachRow([&](SW_VER_ENTRY &row) {
            catalogued = catalogued || (row.fileName != nullptr && EqualsNoCase(std::string(row.fileName), extra.fileName));
        });
        if (!catalogued)
            WriteSoftwareRow(table, n++, extra, extra.fileName.c_str(), extra.description.c_str());
    }
}
