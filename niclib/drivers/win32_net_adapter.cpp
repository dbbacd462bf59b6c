#include "win32_net_adapter.h"

#include "miniport.h"
#include "registry_key.h"

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>
#include <vector>

namespace {

void FreeText(wchar_t *&text)
{
    delete[] text;
    text = nullptr;
}

void KeepText(wchar_t *&field, const wchar_t *text)
{
    FreeText(field);
    field = DuplicateText(text);
}

// A text property into a buffer of kDevicePropertyBytes; the text is terminated inside it.
CONFIGRET ReadTextProperty(DEVINST device, ULONG property, std::vector<wchar_t> *text)
{
    text->assign(kDevicePropertyBytes / sizeof(wchar_t) + 1, L'\0');
    ULONG length = kDevicePropertyBytes;
    return Nic().CM_Get_DevNode_Registry_PropertyW(device, property, nullptr, text->data(), &length, 0);
}

// A text property of any size: a size query that must answer CR_BUFFER_SMALL, then the read into
// a buffer with room for a terminator. *sizeResult is the size query's answer.
CONFIGRET ReadSizedProperty(DEVINST device, ULONG property, std::vector<wchar_t> *text, CONFIGRET *sizeResult = nullptr)
{
    ULONG length = 0;
    CONFIGRET result = Nic().CM_Get_DevNode_Registry_PropertyW(device, property, nullptr, nullptr, &length, 0);
    if (sizeResult != nullptr)
        *sizeResult = result;
    if (result != CR_BUFFER_SMALL)
        return result == CR_SUCCESS ? CR_FAILURE : result;
    text->assign(length / sizeof(wchar_t) + 2, L'\0');
    return Nic().CM_Get_DevNode_Registry_PropertyW(device, property, nullptr, text->data(), &length, 0);
}

bool ReadNumberProperty(DEVINST device, ULONG property, DWORD *value)
{
    DWORD number = 0;
    ULONG length = sizeof(number);
    if (Nic().CM_Get_DevNode_Registry_PropertyW(device, property, nullptr, &number, &length, 0) != CR_SUCCESS)
        return false;
    *value = number;
    return true;
}

std::wstring Upper(const wchar_t *text)
{
    std::wstring upper = text != nullptr ? text : L"";
    for (wchar_t &c : upper)
        c = static_cast<wchar_t>(std::towupper(c));
    return upper;
}

// A REG_SZ value of an open key as text; false when it cannot be read.
bool ReadStringValue(HKEY key, const wchar_t *name, std::wstring *text)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer.data()), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    text->assign(buffer.data(), wcsnlen(buffer.data(), size / sizeof(wchar_t)));
    return true;
}

bool ReadDwordValue(HKEY key, const wchar_t *name, DWORD *value)
{
    DWORD type = REG_NONE;
    DWORD number = 0;
    DWORD size = sizeof(number);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&number), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(number))
        return false;
    *value = number;
    return true;
}

// Where the bus devices that enumerate NIC functions are registered, searched in this order.
constexpr const wchar_t *kEnumRoots[] = {
    L"SYSTEM\\CurrentControlSet\\Enum\\PCI",
    L"SYSTEM\\CurrentControlSet\\Enum\\b06bdrv",
    L"SYSTEM\\CurrentControlSet\\Enum\\ebdrv",
    L"SYSTEM\\CurrentControlSet\\Enum\\qebdrv",
    L"SYSTEM\\CurrentControlSet\\Enum\\MLX4",
    L"SYSTEM\\CurrentControlSet\\Enum\\IBA",
    L"SYSTEM\\CurrentControlSet\\Enum\\IBA\\ConnectX-3_IPoIB",
    L"SYSTEM\\CurrentControlSet\\Enum\\IBA\\ConnectX-3Pro_IPoIB",
};

} // namespace

CWin32NetAdapter::CWin32NetAdapter() = default;

CWin32NetAdapter::~CWin32NetAdapter()
{
    FreeText(m_ServiceName);
    FreeText(m_InstanceId);
    FreeText(m_FriendlyName);
    FreeText(m_NetCfgInstanceId);
}

int CWin32NetAdapter::Init(const wchar_t *instanceId)
{
    if (instanceId == nullptr)
        return 0;
    DEVINST device = 0;
    if (Nic().CM_Locate_DevNodeW(&device, const_cast<DEVINSTID_W>(instanceId), CM_LOCATE_DEVNODE_NORMAL) !=
        CR_SUCCESS)
        return 0;
    std::vector<wchar_t> text;
    if (ReadTextProperty(device, CM_DRP_SERVICE, &text) != CR_SUCCESS)
        return 0;
    KeepText(m_ServiceName, text.data());

    const std::wstring upper = Upper(instanceId);
    KeepText(m_InstanceId, upper.c_str());

    const HARDWAREIDINFO id = ClassifyHardwareId(upper);
    if (id.family == HardwareIdFamily::kRejected)
        return 0;
    bool mellanox = false;
    bool haveLocation = false;
    std::vector<wchar_t> location;
    uint32_t mellanoxPort = 0;
    switch (id.family) {
    case HardwareIdFamily::kMgmtUsb:
    case HardwareIdFamily::kPci:
    case HardwareIdFamily::kVirtualBus:
        m_PciId = id.pciId;
        m_SubsystemId = id.subsystemId;
        break;
    case HardwareIdFamily::kSolarflare:
        Get_SolarFlareSkiffInfo(device);
        break;
    case HardwareIdFamily::kMellanox: {
        mellanox = true;
        DEVINST parent = 0;
        if (Nic().CM_Get_Parent(&parent, device, 0) != CR_SUCCESS)
            break;
        if (ReadSizedProperty(device, CM_DRP_LOCATION_INFORMATION, &location) == CR_SUCCESS) {
            haveLocation = true;
            mellanoxPort = MellanoxLocationPort(location.data());
        }
        DWORD slot = 0;
        if (ReadNumberProperty(parent, CM_DRP_UI_NUMBER, &slot))
            m_UINumber = static_cast<int32_t>(slot);
        std::vector<wchar_t> hardwareId;
        if (ReadSizedProperty(parent, CM_DRP_HARDWAREID, &hardwareId) == CR_SUCCESS)
            ParsePciHardwareId(Upper(hardwareId.data()), &m_PciId, &m_SubsystemId);
        break;
    }
    default:
        ZdtNicMgmtReportError(static_cast<int>(kNicReportedError), m_InstanceId, 0);
        return 0;
    }

    ReadNetCfgInstanceId(device);

    if (id.isSolarflare && !id.isPciId)
        return 1;
    if (id.isMgmtUsb && !id.isPciId) {
        m_UINumber = 0;
        m_Port = 0;
        if (m_FriendlyName == nullptr)
            KeepText(m_FriendlyName, kMgmtUsbAdapterName);
        return 1;
    }

    DWORD slot = 0;
    if (ReadNumberProperty(device, CM_DRP_UI_NUMBER, &slot)) {
        if (m_UINumber == -1 && !mellanox)
            m_UINumber = static_cast<int32_t>(slot);
        else
            m_Port = static_cast<int32_t>(slot);
    } else if (m_UINumber == -1) {
        m_UINumber = GetUINumberFromEnum();
    } else {
        m_Port = static_cast<int32_t>(mellanoxPort);
    }

    if (ReadTextProperty(device, CM_DRP_FRIENDLYNAME, &text) == CR_SUCCESS)
        KeepText(m_FriendlyName, text.data());
    if (m_FriendlyName == nullptr && ReadTextProperty(device, CM_DRP_SERVICE, &text) == CR_SUCCESS)
        KeepText(m_FriendlyName, text.data());

    if (!haveLocation && ReadTextProperty(device, CM_DRP_LOCATION_INFORMATION, &location) == CR_SUCCESS)
        haveLocation = true;
    if (haveLocation) {
        const LOCATIONINFO place = ParseLocationText(location.data(), mellanox);
        m_Segment = place.segment;
        m_Bus = place.bus;
        m_Device = place.device;
        m_Function = place.function;
        if (place.hasPort)
            m_Port = place.port;
        if (mellanox) {
            DWORD index = 0;
            if (ReadNumberProperty(device, CM_DRP_UI_NUMBER, &index)) {
                m_Function = index - 1;
            } else {
                HKEY key = nullptr;
                if (Nic().CM_Open_DevNode_Key(device, KEY_READ, 0, RegDisposition_OpenExisting, &key,
                                              CM_REGISTRY_HARDWARE) == CR_SUCCESS) {
                    if (ReadDwordValue(key, L"InstanceIndex", &index))
                        m_Function = index - 1;
                    RegCloseKey(key);
                }
            }
        }
    }
    return 1;
}

void CWin32NetAdapter::ReadNetCfgInstanceId(DEVINST device)
{
    HKEY key = nullptr;
    if (Nic().CM_Open_DevNode_Key(device, KEY_READ, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_SOFTWARE) !=
        CR_SUCCESS)
        return;
    if (m_NetCfgInstanceId == nullptr) {
        BYTE probe[sizeof(wchar_t)] = {};
        DWORD size = 0;
        DWORD type = REG_NONE;
        if (RegQueryValueExW(key, L"NetCfgInstanceId", nullptr, &type, probe, &size) == ERROR_MORE_DATA && size > 0) {
            // Room for a terminator the stored value may lack.
            const size_t chars = size / sizeof(wchar_t) + 1;
            wchar_t *text = new (std::nothrow) wchar_t[chars]();
            if (text != nullptr) {
                DWORD read = static_cast<DWORD>((chars - 1) * sizeof(wchar_t));
                if (RegQueryValueExW(key, L"NetCfgInstanceId", nullptr, &type, reinterpret_cast<BYTE *>(text), &read) ==
                    ERROR_SUCCESS) {
                    text[chars - 1] = L'\0';
                    m_NetCfgInstanceId = text;
                } else {
                    delete[] text;
                }
            }
        }
    }
    RegCloseKey(key);
}

int CWin32NetAdapter::Get_SolarFlareSkiffInfo(DEVINST device)
{
    static constexpr wchar_t kFunction[] = L"CWin32NetAdapter::Get_SolarFlareSkiffInfo";
    LOG_INFO(kFunction, L"Retrieving SFSkiff info");
    DEVINST parent = 0;
    if (Nic().CM_Get_Parent(&parent, device, 0) != CR_SUCCESS)
        return 1;
    std::vector<wchar_t> text;
    CONFIGRET sizeResult = CR_SUCCESS;
    CONFIGRET result = ReadSizedProperty(parent, CM_DRP_LOCATION_INFORMATION, &text, &sizeResult);
    if (sizeResult != CR_BUFFER_SMALL)
        return 1;
    if (result == CR_SUCCESS && ParseSolarflareLocation(text.data(), &m_Bus, &m_Device, &m_Function))
        m_Segment = 0;

    DWORD slot = 0;
    ULONG length = sizeof(slot);
    result = Nic().CM_Get_DevNode_Registry_PropertyW(parent, CM_DRP_UI_NUMBER, nullptr, &slot, &length, 0);
    if (result == CR_SUCCESS)
        m_UINumber = static_cast<int32_t>(slot);
    else
        LOG_VERBOSE(kFunction, L"CM_DRP_UI_NUMBER Error %d", static_cast<int>(result));

    result = ReadSizedProperty(parent, CM_DRP_HARDWAREID, &text, &sizeResult);
    if (sizeResult == CR_BUFFER_SMALL) {
        if (result != CR_SUCCESS)
            LOG_WARNING(kFunction, L"Can't retrieve CM_DRP_HARDWAREID. Return code: %d", static_cast<int>(result));
        else if (!ParsePciHardwareId(Upper(text.data()), &m_PciId, &m_SubsystemId))
            LOG_WARNING(kFunction, L"CM_DRP_HARDWAREID isn't matching.");
    }

    if (ReadTextProperty(device, CM_DRP_FRIENDLYNAME, &text) == CR_SUCCESS ||
        ReadTextProperty(device, CM_DRP_DEVICEDESC, &text) == CR_SUCCESS) {
        if (m_FriendlyName == nullptr)
            KeepText(m_FriendlyName, text.data());
    }
    return 1;
}

int32_t CWin32NetAdapter::GetUINumberFromEnum()
{
    static constexpr wchar_t kFunction[] = L"CWin32NetAdapter::GetUINumberFromEnum";
    const std::wstring instance = m_InstanceId != nullptr ? m_InstanceId : L"";
    DWORD result = 0;
    bool first = true;
    for (const wchar_t *root : kEnumRoots) {
        if (result != 0)
            break;
        CRegistryKey rootKey = g_LocalMachineKey.OpenKey(root, KEY_READ, 0, first ? 1 : 0);
        first = false;
        if (!rootKey.IsOpen())
            continue;
        for (rootKey.EnumSubKey(); result == 0 && rootKey.GetError() == ERROR_SUCCESS; rootKey.EnumSubKey()) {
            CRegistryKey deviceKey = rootKey.OpenKey(rootKey.GetEnumName(), KEY_READ, 0, 0);
            if (!deviceKey.IsOpen())
                continue;
            for (deviceKey.EnumSubKey(); result == 0 && deviceKey.GetError() == ERROR_SUCCESS; deviceKey.EnumSubKey()) {
                CRegistryKey instanceKey = deviceKey.OpenKey(deviceKey.GetEnumName(), KEY_READ, 0, 0);
                if (!instanceKey.IsOpen())
                    continue;
                std::wstring prefix;
                if (!ReadStringValue(instanceKey.GetHandle(), L"ParentIdPrefix", &prefix))
                    continue;
                prefix = Upper(prefix.c_str());
                // An empty prefix would be found in every instance ID.
                if (prefix.empty() || instance.find(prefix) == std::wstring::npos)
                    continue;
                DWORD slot = 0;
                if (ReadDwordValue(instanceKey.GetHandle(), L"UINumber", &slot))
                    result = slot;
                LOG_VERBOSE(kFunction, L"ParentIdPrefix: %s UINumber: %d", prefix.c_str(), static_cast<int>(result));
                if (result != 0)
                    break;
            }
        }
    }
    return static_cast<int32_t>(result);
}

int CWin32NetAdapter::GetResources(ADAPTERRESOURCES *resources) const
{
    resources->ioBase = 0;
    resources->memoryBase = 0;
    bool haveIo = false;
    bool haveMemory = false;
    for (uint32_t i = 0; i < m_BaseAddressCount && i < kBaseAddressWords; ++i) {
        const uint32_t word = m_BaseAddress[i];
        LOG_VERBOSE(L"CWin32NetAdapter::GetResources", L"addr: %d", static_cast<int>(word));
        if ((word & 1) != 0 && !haveIo) {
            resources->ioBase = word & ~1u;
            haveIo = true;
        } else if ((word & 1) == 0 && word != 0 && !haveMemory) {
            resources->memoryBase = word;
            haveMemory = true;
        }
    }
    resources->resourceWord = m_ResourceWord;
    resources->uiNumber = m_UINumber;
    resources->segment = m_Segment;
    resources->bus = m_Bus;
    resources->device = m_Device;
    resources->function = m_Function;
    resources->port = m_Port;
    resources->pciId = m_PciId;
    resources->subsystemId = m_SubsystemId;
    resources->friendlyName = m_FriendlyName;
    return 1;
}

int CWin32NetAdapter::GetServiceName(wchar_t **serviceName) const
{
    *serviceName = DuplicateText(m_ServiceName != nullptr ? m_ServiceName : L"");
    if (*serviceName == nullptr) {
        LOG_WARNING(L"CWin32NetAdapter::GetServiceName", L"Can't allocate ServiceName. Return code: %d",
                    static_cast<int>(GetLastError()));
        return 0;
    }
    return 1;
}

CWin32NetAdapterList::~CWin32NetAdapterList()
{
    WIN32NETADAPTERNODE *node = m_First;
    while (node != nullptr) {
        WIN32NETADAPTERNODE *next = node->next;
        delete node->adapter;
        delete node;
        node = next;
    }
    delete[] m_DeviceIds;
}

int CWin32NetAdapterList::Init()
{
    static constexpr wchar_t kFunction[] = L"CWin32NetAdapterList::Init";
    constexpr ULONG kFlags = CM_GETIDLIST_FILTER_CLASS | CM_GETIDLIST_FILTER_PRESENT;
    ULONG length = 0;
    const CONFIGRET sizeResult = Nic().CM_Get_Device_ID_List_SizeW(&length, kNetClassGuidText, kFlags);
    if (sizeResult != CR_SUCCESS) {
        // No devices known is no adapter resources, not a failed model.
        LOG_VERBOSE(kFunction, L"CM_Get_Device_ID_List_SizeW returned: %d", static_cast<int>(sizeResult));
        return 1;
    }
    // An empty list (some systems answer size 0 for it) has no adapters.
    if (length == 0)
        return 1;
    m_DeviceIds = new (std::nothrow) wchar_t[static_cast<size_t>(length) + 2]();
    if (m_DeviceIds == nullptr)
        return 1;
    if (Nic().CM_Get_Device_ID_ListW(kNetClassGuidText, m_DeviceIds, length, kFlags) != CR_SUCCESS) {
        ZdtNicMgmtReportError(static_cast<int>(kNicReportedError),
                              L"CWin32NetAdapterList::Init: CM_Get_Device_ID_ListW failed: ",
                              static_cast<int>(GetLastError()));
        delete[] m_DeviceIds;
        m_DeviceIds = nullptr;
        return 0;
    }
    AllocateWin32NetAdapterNodes();
    delete[] m_DeviceIds;
    m_DeviceIds = nullptr;
    return 1;
}

int CWin32NetAdapterList::AllocateWin32NetAdapterNodes()
{
    if (m_DeviceIds == nullptr)
        return 1;
    // The list ends with an empty entry; the two NULs after the answer stop a list that lacks it.
    for (const wchar_t *id = m_DeviceIds; *id != L'\0'; id += wcslen(id) + 1) {
        WIN32NETADAPTERNODE *node = new (std::nothrow) WIN32NETADAPTERNODE;
        if (node == nullptr)
            continue;
        node->adapter = new (std::nothrow) CWin32NetAdapter;
        if (node->adapter == nullptr || node->adapter->Init(id) == 0) {
            delete node->adapter;
            delete node;
            continue;
        }
        if (m_Last != nullptr)
            m_Last->next = node;
        else
            m_First = node;
        m_Last = node;
        ++m_Count;
    }
    return 1;
}

const CWin32NetAdapter *CWin32NetAdapterList::Find(const CMiniport &miniport) const
{
    const wchar_t *guid = miniport.GetGuid();
    if (guid == nullptr)
        return nullptr;
    for (const WIN32NETADAPTERNODE *node = m_First; node != nullptr; node = node->next) {
        const wchar_t *id = node->adapter->GetNetCfgInstanceId();
        if (id != nullptr && _wcsicmp(id, guid) == 0)
            return node->adapter;
    }
    return nullptr;
}

int CWin32NetAdapterList::GetResources(const CMiniport &miniport, ADAPTERRESOURCES *resources) const
{
    const CWin32NetAdapter *adapter = Find(miniport);
    return adapter != nullptr ? adapter->GetResources(resources) : 0;
}

int CWin32NetAdapterList::GetServiceName(const CMiniport &miniport, wchar_t **serviceName) const
{
    const CWin32NetAdapter *adapter = Find(miniport);
    return adapter != nullptr ? adapter->GetServiceName(serviceName) : 0;
}
