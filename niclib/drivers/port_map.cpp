// The SMBIOS port map: the table through WMI, the server's product name and bay, and a walk of
// the network-class devices with their location, slot and partition probe.
#include "port_map.h"

#include "nic_common.h"
#include "partition_probe.h"
#include "port_map_text.h"
#include "wmi.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <memory>
#include <new>
#include <vector>

CPortMap g_PortMap;

PortMapProductData g_PortMapProductData = {kPortMapFirstBladeModel, kPortMapFirstBladeParentId, kPortMapSecondBladeModel};
PortMapPreset g_PortMapPreset;

namespace {

constexpr wchar_t kNetworkClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr ULONG kPresentClassDevices = CM_GETIDLIST_FILTER_CLASS | CM_GETIDLIST_FILTER_PRESENT;

bool StartsWithNoCase(const std::wstring &text, const wchar_t *prefix)
{
    size_t i = 0;
    for (; prefix[i] != 0; ++i)
        if (i >= text.size() || towlower(text[i]) != towlower(prefix[i]))
            return false;
    return true;
}

bool StartsWithAny(const std::wstring &text, std::initializer_list<const wchar_t *> prefixes)
{
    for (const wchar_t *prefix : prefixes)
        if (StartsWithNoCase(text, prefix))
            return true;
    return false;
}

// A text property of a device node into a buffer of the given size; false when unread.
bool ReadText(DEVINST device, ULONG property, std::wstring *text, ULONG bytes = kPortMapPropertyBytes)
{
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    ULONG length = bytes;
    if (Nic().CM_Get_DevNode_Registry_PropertyW(device, property, nullptr, buffer.data(), &length, 0) != CR_SUCCESS)
        return false;
    buffer.back() = L'\0';
    *text = buffer.data();
    return true;
}

CONFIGRET ReadNumber(DEVINST device, ULONG property, uint32_t *value)
{
    DWORD number = 0;
    ULONG length = sizeof(number);
    CONFIGRET result = Nic().CM_Get_DevNode_Registry_PropertyW(device, property, nullptr, &number, &length, 0);
    if (result == CR_SUCCESS)
        *value = number;
    return result;
}

// The size query of a property: CR_BUFFER_SMALL when it exists.
CONFIGRET SizeOf(DEVINST device, ULONG property)
{
    ULONG length = 0;
    return Nic().CM_Get_DevNode_Registry_PropertyW(device, property, nullptr, nullptr, &length, 0);
}

// The text after its first four characters ("MLX4" and the like), only when it has them.
std::wstring AfterPrefix(const std::wstring &text)
{
    return text.size() >= 4 ? text.substr(4) : std::wstring();
}

bool ReadInteger(IWbemClassObject *instance, const wchar_t *name, uint32_t *value, HRESULT *error)
{
    CVariant v;
    HRESULT result = instance->Get(name, 0, v.Get(), nullptr, nullptr);
    if (SUCCEEDED(result) && v.Get()->vt == VT_BOOL) {
        *value = v.Get()->boolVal != VARIANT_FALSE ? 1 : 0;
        return true;
    }
    if (SUCCEEDED(result))
        result = VariantChangeType(v.Get(), v.Get(), 0, VT_UI4);
    if (FAILED(result) || v.Get()->vt != VT_UI4) {
        *error = FAILED(result) ? result : static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH);
        return false;
    }
    *value = v.Get()->ulVal;
    return true;
}

} // namespace

CPortMap::CPortMap() = default;
CPortMap::~CPortMap() = default;

void CPortMap::Reset()
{
    m_Smbios.reset();
    m_Ports.clear();
    m_ServerBay = 0;
    m_BayInfo = 0;
    m_ServerName = "Unknown";
    m_Devices.clear();
    m_Initialized = 0;
}

DWORD CPortMap::Init()
{
    static constexpr wchar_t kFunction[] = L"CPortMap::Init";
    LOG_INFO(kFunction, L"Initializing port map.");
    Reset();
    m_Initialized = 1;
    for (const auto &preset : g_PortMapPreset.entries) {
        const PORTMAPLOCATION &at = preset.first;
        m_Ports[static_cast<uint32_t>(at.segment)][static_cast<uint32_t>(at.bus)][static_cast<uint32_t>(at.device)]
               [static_cast<uint32_t>(at.function)][static_cast<uint32_t>(at.location)] = preset.second;
    }
    m_BayInfo = g_PortMapPreset.bayInfo;
    DWORD result = GetSMBIOSTableFromWMI();
    if (result != 0) {
        LOG_WARNING(kFunction, L"GetSMBIOSTableFromWMI returned %d", static_cast<int>(result));
        return result;
    }
    GetServerBayNumber();
    result = GetSystemInfo();
    if (result != 0) {
        LOG_WARNING(kFunction, L"GetServerSystemInfo returned %d", static_cast<int>(result));
        return result;
    }
    GetAdapterList();
    return 0;
}

DWORD CPortMap::GetSMBIOSTableFromWMI()
{
    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
    if (FAILED(Nic().CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_ALL, IID_IWbemLocator,
                                      reinterpret_cast<void **>(locator.Put()))))
        return 2;
    CBstr path(L"\\\\.\\root\\wmi");
    if (FAILED(locator->ConnectServer(path.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.Put())))
        return 2;
    auto blanket = [](IUnknown *proxy) {
        return CoSetProxyBlanket(proxy, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    };
    if (FAILED(blanket(services.Get())))
        return 2;
    CBstr className(L"MSSmBios_RawSMBiosTables");
    ComPtr<IEnumWbemClassObject> instances;
    if (FAILED(services->CreateInstanceEnum(className.Get(), WBEM_FLAG_SHALLOW, nullptr, instances.Put()))) {
        LOG_WARNING(L"CPortMap::GetSMBIOSTableFromWMI", L"Can't retrieve raw SMBIOS table. Return code: %d", 2);
        return 2;
    }
    if (FAILED(blanket(instances.Get())))
        return 2;
    ComPtr<IWbemClassObject> instance;
    ULONG returned = 0;
    HRESULT result = instances->Next(kPortMapSmbiosWaitMs, 1, instance.Put(), &returned);
    if (result != WBEM_S_NO_ERROR || returned != 1 || !instance)
        return 2;
    return GetSMBIOSProperties(instance.Get());
}

DWORD CPortMap::GetSMBIOSProperties(IWbemClassObject *instance)
{
    static constexpr wchar_t kFunction[] = L"CPortMap::GetSMBIOSProperties";
    if (instance == nullptr)
        return 2;
    std::vector<uint8_t> copy(sizeof(SMBIOS_RAW_HEADER), 0);
    {
        // Only an array of bytes is a table (Wine answers VT_NULL).
        CVariant data;
        HRESULT result = instance->Get(L"SMBiosData", 0, data.Get(), nullptr, nullptr);
        const VARIANT &v = *data.Get();
        LONG lower = 0;
        LONG upper = -1;
        if (SUCCEEDED(result) && (v.vt != (VT_ARRAY | VT_UI1) || v.parray == nullptr ||
                                  SafeArrayGetDim(v.parray) != 1))
            result = WBEM_E_TYPE_MISMATCH;
        if (SUCCEEDED(result))
            result = SafeArrayGetLBound(v.parray, 1, &lower);
        if (SUCCEEDED(result))
            result = SafeArrayGetUBound(v.parray, 1, &upper);
        if (FAILED(result)) {
            LOG_WARNING(kFunction, L"Can't get data from SMBIOS table. Return code: 0x%X", static_cast<unsigned>(result));
            return 2;
        }
        const size_t count = upper >= lower ? static_cast<size_t>(static_cast<int64_t>(upper) - lower + 1) : 0;
        void *bytes = nullptr;
        if (count > 0 && SUCCEEDED(SafeArrayAccessData(v.parray, &bytes))) {
            copy.insert(copy.end(), static_cast<const uint8_t *>(bytes), static_cast<const uint8_t *>(bytes) + count);
            SafeArrayUnaccessData(v.parray);
        }
    }
    SMBIOS_RAW_HEADER header = {};
    uint32_t value = 0;
    HRESULT error = S_OK;
    if (!ReadInteger(instance, L"Size", &value, &error)) {
        LOG_WARNING(kFunction, L"Can't determine SMBIOS length. Return code: 0x%X", static_cast<unsigned>(error));
        return 2;
    }
    // The structures are what the array holds, whatever length is claimed.
    header.Length = static_cast<uint32_t>(std::min<size_t>(value, copy.size() - sizeof(header)));
    if (!ReadInteger(instance, L"Used20CallingMethod", &value, &error)) {
        LOG_WARNING(kFunction, L"Can't get STR_USED_20_METHOD. Return code: 0x%X", static_cast<unsigned>(error));
        return 2;
    }
    header.Used20CallingMethod = value != 0 ? 1 : 0;
    const struct {
        const wchar_t *name;
        const wchar_t *message;
        uint8_t *field;
    } versions[] = {
        {L"SmbiosMajorVersion", L"Can't get STR_SMBIOS_MAJOR_VER. Return code: 0x%X", &header.MajorVersion},
        {L"SmbiosMinorVersion", L"Can't get STR_SMBIOS_MINOR_VER. Return code: 0x%X", &header.MinorVersion},
        {L"DmiRevision", L"Can't get STR_SMBIOS_DMI_REV. Return code: 0x%X", &header.DmiRevision},
    };
    for (const auto &version : versions) {
        if (!ReadInteger(instance, version.name, &value, &error)) {
            LOG_WARNING(kFunction, version.message, static_cast<unsigned>(error));
            return 2;
        }
        *version.field = static_cast<uint8_t>(value);
    }
    std::memcpy(copy.data(), &header, sizeof(header));
    m_Smbios.reset(new (std::nothrow) CSMBIOSTable(std::move(copy)));
    return m_Smbios ? 0 : 2;
}

int CPortMap::GetNextSmbiosStructure(const uint8_t **cursor) const
{
    return m_Smbios && m_Smbios->NextStructure(cursor) ? 1 : 0;
}

int CPortMap::FindSmbiosStructure(uint8_t type, unsigned index, const uint8_t **structure) const
{
    const uint8_t *found = m_Smbios ? m_Smbios->FindStructure(type, index) : nullptr;
    if (found == nullptr)
        return 0;
    *structure = found;
    return 1;
}

std::string CPortMap::GetSmbiosString(const uint8_t *structure, unsigned number) const
{
    return m_Smbios ? m_Smbios->GetString(structure, number) : "";
}

void CPortMap::GetServerBayNumber()
{
    static constexpr wchar_t kFunction[] = L"CPortMap::GetServerBayNumber";
    const PortMapSmbiosFacts facts = m_Smbios ? ReadPortMapSmbiosFacts(*m_Smbios) : PortMapSmbiosFacts();
    if (!facts.hasRackInfo) {
        LOG_WARNING(kFunction, L"Can't parse smbios rack info.");
        return;
    }
    m_ServerBay = facts.serverBay;
    LOG_VERBOSE(kFunction, L"Server Bay Number: %d", static_cast<int>(m_ServerBay));
}

DWORD CPortMap::GetSystemInfo()
{
    static constexpr wchar_t kFunction[] = L"CPortMap::GetSystemInfo";
    const PortMapSmbiosFacts facts = m_Smbios ? ReadPortMapSmbiosFacts(*m_Smbios) : PortMapSmbiosFacts();
    if (!facts.hasSystemInfo) {
        LOG_WARNING(kFunction, L"Failed to get SMBIOS_SYSTEM_INFO_DATA");
        return 2;
    }
    m_ServerName = facts.productName;
    LOG_INFO(kFunction, L"Server name: %hs", m_ServerName.c_str());
    return 0;
}

DWORD CPortMap::GetAdapterList()
{
    ULONG size = 0;
    if (Nic().CM_Get_Device_ID_List_SizeW(&size, kNetworkClass, kPresentClassDevices) != CR_SUCCESS || size == 0)
        return 0;
    std::unique_ptr<wchar_t[]> list(new (std::nothrow) wchar_t[size + 1]());
    if (!list || Nic().CM_Get_Device_ID_ListW(kNetworkClass, list.get(), size, kPresentClassDevices) != CR_SUCCESS)
        return 0;
    list[size] = L'\0';
    for (wchar_t *id = list.get(); id < list.get() + size && *id != 0; id += wcslen(id) + 1) {
        PORTMAPDEVICE facts;
        DEVINST device = 0;
        if (Nic().CM_Locate_DevNodeW(&device, id, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
            continue;
        if (!ReadText(device, CM_DRP_SERVICE, &facts.serviceName) ||
            !ReadText(device, CM_DRP_DEVICEDESC, &facts.description))
            continue;
        GetSegBusDeviceFunctionNumber(device, facts.serviceName.c_str(), &facts);

        ULONG chars = 0;
        if (Nic().CM_Get_Device_Interface_List_SizeW(&chars, const_cast<GUID *>(&kNdisLanClass), id,
                                                      CM_GET_DEVICE_INTERFACE_LIST_PRESENT) == CR_SUCCESS &&
            chars > 0) {
            std::vector<wchar_t> paths(chars + 1, L'\0');
            if (Nic().CM_Get_Device_Interface_ListW(const_cast<GUID *>(&kNdisLanClass), id, paths.data(), chars,
                                                    CM_GET_DEVICE_INTERFACE_LIST_PRESENT) == CR_SUCCESS) {
                paths.back() = L'\0';
                std::wstring first = paths.data();
                if (first.size() > kPortMapInterfacePathChars)
                    first.resize(kPortMapInterfacePathChars);
                for (wchar_t &c : first)
                    c = static_cast<wchar_t>(towlower(c));
                facts.interfacePath = first;
            }
        }
        facts.slot = GetSlotNumber(device, &facts.portLike, facts.serviceName.c_str());
        facts.partitioned = IsThisAPartitionedAdapter(facts.serviceName.c_str(), device, facts.interfacePath.c_str());
        m_Devices.push_back(std::move(facts));
    }
    return 0;
}

DWORD CPortMap::GetSegBusDeviceFunctionNumber(DEVINST device, const wchar_t *serviceName, PORTMAPDEVICE *facts)
{
    static constexpr wchar_t kFunction[] = L"CPortMap::GetSegBusDeviceFunctionNumber";
    const std::wstring service = serviceName != nullptr ? serviceName : L"";
    const bool viaParent = StartsWithAny(service, {L"MLX4", L"xoib62", L"ipoib6x", L"mlx4eth62", L"SFCNDIS", L"mlx4eth63"});
    const bool portIndex = StartsWithAny(service, {L"ipoib6x", L"mlx4eth62", L"mlx4eth63"});
    std::wstring location;
    if (viaParent) {
        DEVINST parent = 0;
        if (Nic().CM_Get_Parent(&parent, device, 0) != CR_SUCCESS) {
            LOG_WARNING(kFunction, L"CM_Get_Parent failed");
            return 2;
        }
        CONFIGRET result = SizeOf(parent, CM_DRP_LOCATION_INFORMATION);
        if (result != CR_BUFFER_SMALL) {
            LOG_WARNING(kFunction, L"CM_Get_DevNode_Registry_Property-2 returned %d", static_cast<int>(result));
            return 2;
        }
        std::wstring text;
        if (!ReadText(parent, CM_DRP_LOCATION_INFORMATION, &text)) {
            LOG_WARNING(kFunction, L"CM_Get_DevNode_Registry_Property-1 returned %d", static_cast<int>(CR_FAILURE));
            return 2;
        }
        location = StartsWithNoCase(service, L"SFCNDIS") ? text : AfterPrefix(text);
    } else if (!ReadText(device, CM_DRP_LOCATION_INFORMATION, &location)) {
        return 2;
    }

    int32_t numbers[4];
    if (ParsePortMapLocation(location.c_str(), location.size(), numbers)) {
        facts->segment = numbers[0];
        facts->bus = numbers[1];
        facts->device = numbers[2];
        facts->function = numbers[3];
    }
    if (portIndex) {
        uint32_t ui = 0;
        if (ReadNumber(device, CM_DRP_UI_NUMBER, &ui) == CR_SUCCESS) {
            if (ui != 0)
                facts->function = static_cast<int32_t>(ui) - 1;
        } else {
            HKEY key = nullptr;
            if (Nic().CM_Open_DevNode_Key(device, KEY_READ, 0, RegDisposition_OpenExisting, &key,
                                          CM_REGISTRY_HARDWARE) == CR_SUCCESS) {
                DWORD index = 0;
                DWORD type = 0;
                DWORD bytes = sizeof(index);
                if (RegQueryValueExW(key, L"InstanceIndex", nullptr, &type, reinterpret_cast<BYTE *>(&index), &bytes) ==
                        ERROR_SUCCESS &&
                    type == REG_DWORD && bytes == sizeof(index))
                    facts->function = static_cast<int32_t>(index) - 1;
                else
                    index = 0;
                LOG_VERBOSE(kFunction, L"InstanceIndex: %d", static_cast<int>(index));
                RegCloseKey(key);
            }
        }
    }
    return 0;
}

int32_t CPortMap::GetSlotNumber(DEVINST device, int32_t *portLike, const wchar_t *serviceName)
{
    static constexpr wchar_t kFunction[] = L"CPortMap::GetSlotNumber";
    *portLike = -1;
    const std::string server = GetServerName();
    if (device == 0)
        return 0;
    const std::wstring service = serviceName != nullptr ? serviceName : L"";
    const PortMapProductData &product = g_PortMapProductData;
    uint32_t ui = 0;
    const bool uiRead = ReadNumber(device, CM_DRP_UI_NUMBER, &ui) == CR_SUCCESS;
    bool found = false;
    uint32_t slot = 0;
    if (StartsWithAny(service, {L"MLX4", L"xoib62", L"ipoib6x", L"SFCNDIS"})) {
        if (StartsWithNoCase(service, L"xoib62")) {
            std::wstring text;
            if (ReadText(device, CM_DRP_LOCATION_INFORMATION, &text)) {
                const std::wstring rest = AfterPrefix(text);
                size_t position = 0;
                long number = -1;
                for (int i = 0; i < 4 && position <= rest.size(); ++i) {
                    size_t consumed = 0;
                    number = PortMapNextNumber(rest.c_str() + position, rest.size() - position, &consumed);
                    if (number == -1)
                        break;
                    position += consumed;
                }
                *portLike = number > INT32_MAX ? INT32_MAX : static_cast<int32_t>(number);
            }
        } else if (uiRead) {
            *portLike = static_cast<int32_t>(ui);
        }
        DEVINST parent = 0;
        CONFIGRET result = Nic().CM_Get_Parent(&parent, device, 0);
        if (result != CR_SUCCESS) {
            LOG_WARNING(kFunction, L"CM_Get_Parent returned %d", static_cast<int>(result));
        } else if ((result = SizeOf(parent, CM_DRP_UI_NUMBER)) == CR_BUFFER_SMALL) {
            uint32_t parentUi = 0;
            result = ReadNumber(parent, CM_DRP_UI_NUMBER, &parentUi);
            if (result == CR_SUCCESS) {
                found = true;
                slot = parentUi;
            } else {
                LOG_WARNING(kFunction, L"CM_Get_DevNode_Registry_Property(CM_DRP_UI_NUMBER) returned %d",
                            static_cast<int>(result));
            }
        } else if (!product.firstBladeModel.empty() && server == product.firstBladeModel &&
                   !product.firstBladeParentId.empty()) {
            wchar_t parentId[MAX_DEVICE_ID_LEN + 1] = {};
            if (Nic().CM_Get_Device_IDW(parent, parentId, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS &&
                StartsWithNoCase(parentId, product.firstBladeParentId.c_str())) {
                found = true;
                slot = 1;
            }
        }
    } else if (uiRead) {
        found = true;
        slot = ui;
    }
    if (!found) {
        LOG_VERBOSE(kFunction, L"CM_Get_DevNode_Registry_PropertyW returned %d. ServiceName: %s", 2, service.c_str());
        return 0;
    }
    int32_t number = static_cast<int32_t>(slot & 0xFF);
    if (!product.secondBladeModel.empty() && server == product.secondBladeModel) {
        if (number == 4)
            number = 6;
        else if (number == 6)
            number = 4;
    }
    LOG_VERBOSE(kFunction, L"Return code: STATUS_PRTMAP_NO_ERROR SlotNumber: %d", static_cast<int>(number));
    return number;
}

bool CPortMap::IsThisAPartitionedAdapter(const wchar_t *serviceName, DEVINST device, const wchar_t *interfacePath)
{
    static constexpr wchar_t kFunction[] = L"CPortMap::IsThisAPartitionedAdapter";
    if (serviceName == nullptr)
        return false;
    const std::wstring service = serviceName;
    auto is = [&service](std::initializer_list<const wchar_t *> names) {
        for (const wchar_t *name : names)
            if (service == name)
                return true;
        return false;
    };
    int32_t value = -1;
    if (is({L"mlx4eth6", L"ipoib6x"})) {
        GetMellanoxPartitionValue(&value, interfacePath);
        if (value > 1) {
            LOG_VERBOSE(kFunction, L"This is a Partitioned Mellanox adapter.");
            return true;
        }
    } else if (is({L"be2net"})) {
        GetEmulexPartitionValue(&value, interfacePath);
        if (value > 0) {
            LOG_VERBOSE(kFunction, L"This is a Partitioned Emulex adapter.");
            return true;
        }
    } else if (is({L"NXND6QZ", L"NXND5QZ", L"QLNDNIC"})) {
        GetQlogicPartitionValue(&value, interfacePath);
        if (value > 1) {
            LOG_VERBOSE(kFunction, L"This is a Partitioned Qlogic adapter.");
            return true;
        }
    } else if (is({L"l2nd", L"BXOIS"})) {
        if (GetBroadcomPartitionValue(device, &value) == 0 && value != 0) {
            LOG_VERBOSE(kFunction, L"This is a Partitioned Broadcom adapter.");
            return true;
        }
    }
    return false;
}

int CPortMap::GetPortInfo(int32_t segment, int32_t bus, int32_t device, int32_t function, int32_t location,
                          int32_t *slotOrMezzanine, int32_t *serverBay, int32_t *port, int32_t *virtualPort)
{
    static constexpr wchar_t kFunction[] = L"CPortMap::GetPortInfo";
    LOG_VERBOSE(kFunction, L"Retrieving nic port info...");
    *slotOrMezzanine = -1;
    *serverBay = -1;
    *port = -1;
    if (m_Initialized == 0) {
        LOG_VERBOSE(kFunction, L"Initializing nic port.");
        Init();
    }
    const uint32_t keys[5] = {static_cast<uint32_t>(segment), static_cast<uint32_t>(bus),
                              static_cast<uint32_t>(device), static_cast<uint32_t>(function),
                              static_cast<uint32_t>(location)};
    int missing = 0;
    const PORTMAPENTRY *entry = nullptr;
    auto segments = m_Ports.find(keys[0]);
    if (segments != m_Ports.end()) {
        missing = 1;
        auto buses = segments->second.find(keys[1]);
        if (buses != segments->second.end()) {
            missing = 2;
            auto devices = buses->second.find(keys[2]);
            if (devices != buses->second.end()) {
                missing = 3;
                auto functions = devices->second.find(keys[3]);
                if (functions != devices->second.end()) {
                    missing = 4;
                    auto locations = functions->second.find(keys[4]);
                    if (locations != functions->second.end())
                        entry = &locations->second;
                }
            }
        }
    }
    if (entry != nullptr) {
        *slotOrMezzanine = entry->slotOrMezzanine;
        *serverBay = entry->serverBay;
        *port = entry->port;
        *virtualPort = entry->virtualPort;
        LOG_VERBOSE(kFunction, L"Segment Num: %d Bus: %d Device: %d Function: %d", static_cast<int>(segment),
                    static_cast<int>(bus), static_cast<int>(device), static_cast<int>(function));
        LOG_VERBOSE(kFunction, L"SlotOrMEZZNumber: %d SWBayNumber: %d PortNumber: %d VirtualPortNumber: %d",
                    static_cast<int>(*slotOrMezzanine), static_cast<int>(*serverBay), static_cast<int>(*port),
                    static_cast<int>(*virtualPort));
        return 1;
    }
    LOG_VERBOSE(kFunction, L"Cannot find Port mapping entry for..");
    static const wchar_t *const kLevels[5] = {L"SegmentNumber: %d", L"BusNumber: %d", L"DeviceNumber: %d",
                                              L"FunctionNumber: %d", L"LocationNumber: %d"};
    const int32_t values[5] = {segment, bus, device, function, location};
    for (int level = missing; level < 5; ++level)
        LOG_VERBOSE(kFunction, kLevels[level], static_cast<int>(values[level]));
    return 0;
}

std::string CPortMap::GetServerName()
{
    if (m_Initialized == 0)
        Init();
    return m_ServerName;
}

uint32_t CPortMap::GetBayInfoFlag()
{
    if (m_Initialized == 0)
        Init();
    return m_BayInfo;
}

int PortMapInit()
{
    return g_PortMap.Init() == 0 ? 1 : 0;
}

int PortMapGetPortInfo(int32_t segment, int32_t bus, int32_t device, int32_t function, int32_t location,
                       int32_t *slotOrMezzanine, int32_t *serverBay, int32_t *port, int32_t *virtualPort)
{
    return g_PortMap.GetPortInfo(segment, bus, device, function, location, slotOrMezzanine, serverBay, port,
                                 virtualPort);
}

uint32_t PortMapGetBayInfoFlag()
{
    return g_PortMap.GetBayInfoFlag();
}
