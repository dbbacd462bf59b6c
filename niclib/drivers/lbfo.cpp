#include "lbfo.h"

#include "nic_platform.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

CNetWMIClass g_NetWMIClass;
uint32_t g_LbfoTeamFound = 0;

namespace {

constexpr wchar_t kImplatPath[] = L"\\\\?\\compositebus#ms_implat_mp";

std::wstring Widen(const char *text)
{
    std::wstring wide;
    for (; text != nullptr && *text != 0; ++text)
        wide.push_back(static_cast<unsigned char>(*text));
    return wide;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

std::wstring Upper(std::wstring text)
{
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(towupper(c));
    return text;
}

// Copies at most chars - 1 characters and terminates.
template <class Char> void CopyWide(Char *out, size_t chars, const std::wstring &text)
{
    const size_t n = std::min(text.size(), chars - 1);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<Char>(text[i]);
    out[n] = 0;
}

std::wstring ToWide(const uint16_t *text, size_t chars)
{
    std::wstring wide;
    for (size_t i = 0; i < chars && text[i] != 0; ++i)
        wide.push_back(static_cast<wchar_t>(text[i]));
    return wide;
}

bool ReadBool(IWbemClassObject *row, const wchar_t *name, bool *value)
{
    VARIANT v;
    VariantInit(&v);
    bool read = SUCCEEDED(GetWMIProperty(row, name, &v)) && v.vt == VT_BOOL;
    if (read)
        *value = v.boolVal == VARIANT_TRUE;
    VariantClear(&v);
    return read;
}

bool ReadNumber(IWbemClassObject *row, const wchar_t *name, int64_t *value)
{
    uint32_t number = 0;
    if (!GetWMIUInt32(row, name, &number)) {
        int32_t signedNumber = 0;
        if (!GetWMIInt32(row, name, &signedNumber))
            return false;
        number = static_cast<uint32_t>(signedNumber);
    }
    *value = number;
    return true;
}

} // namespace

HRESULT CNetWMIClass::WBEMInit()
{
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(result))
        return result;
    result = Nic().CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                        RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(result) && result != RPC_E_TOO_LATE)
        return result;
    result = Nic().CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                    reinterpret_cast<void **>(m_Locator.Put()));
    if (FAILED(result))
        return result;
    CBstr path(L"ROOT\\STANDARDCIMV2");
    result = m_Locator->ConnectServer(path.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, m_Services.Put());
    if (FAILED(result))
        return result;
    return SetWMIProxyBlanket(m_Services.Get());
}

void CNetWMIClass::WBEMUninit()
{
    m_Enumerator.Release();
    m_Services.Reset();
    m_Locator.Reset();
    CoUninitialize();
}

bool CNetWMIClass::Query(std::wstring_view prefix, std::wstring_view value, std::wstring_view suffix, size_t maxChars)
{
    m_Enumerator.Release();
    std::wstring text;
    // A name or GUID that does not fit the query, or that would change it, is not found.
    if (!m_Services || !BuildWqlQuery(prefix, value, suffix, maxChars, &text))
        return false;
    CBstr language(L"WQL");
    CBstr query(text.c_str());
    ComPtr<IEnumWbemClassObject> enumerator;
    HRESULT result = m_Services->ExecQuery(language.Get(), query.Get(),
                                           WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                           enumerator.Put());
    Nic().Sleep(kLbfoQueryWaitMs);
    if (FAILED(result))
        return false;
    SetWMIProxyBlanket(enumerator.Get());
    m_Enumerator = CWMIEnumerator(enumerator.Detach());
    return true;
}

IWbemClassObject *CNetWMIClass::Next()
{
    return m_Enumerator.Next(m_StopEvent);
}

int CNetWMIClass::CollectWmiTeamData(const char *teamGuid, const wchar_t *primaryGuid, LBFOTEAMRECORD *record,
                                     int wantParent)
{
    static constexpr wchar_t kQuote[] = L"\"";
    const std::wstring guid = Widen(teamGuid);
    if (!Query(L"SELECT * FROM MSFT_NetLbfoTeamNic WHERE InstanceID = \"", guid, kQuote))
        return 0;
    IWbemClassObject *nic = Next();
    if (nic == nullptr) {
        m_Enumerator.Release();
        return 0;
    }
    g_LbfoTeamFound = 1;
    bool primary = false;
    record->primary = ReadBool(nic, L"Primary", &primary) && primary ? 1 : 0;
    int64_t vlan = 0;
    record->vlanId = ReadNumber(nic, L"VlanID", &vlan) ? static_cast<uint32_t>(vlan) : 0xFFFD;
    std::wstring text;
    if (GetWMIWideString(nic, L"Team", &text, false))
        CopyWide(record->teamName, 256, text);
    if (GetWMIWideString(nic, L"Name", &text, false))
        CopyWide(record->interfaceName, 256, text);
    const std::wstring teamName = ToWide(record->teamName, 256);

    if (!Query(L"SELECT * FROM MSFT_NetLbfoTeam WHERE Name = \"", teamName, kQuote))
        return 1;
    if (IWbemClassObject *team = Next()) {
        int64_t value = 0;
        if (ReadNumber(team, L"Status", &value))
            record->teamStatus = LbfoTeamStatus(value);
        if (ReadNumber(team, L"LoadBalancingAlgorithm", &value))
            record->loadBalancing = LbfoLoadBalancing(value);
        if (ReadNumber(team, L"TeamingMode", &value))
            record->teamType = LbfoTeamType(value);
    }

    if (!Query(L"SELECT * FROM MSFT_NetLbfoTeamMember WHERE Team = \"", teamName, kQuote))
        return 1;
    while (record->memberCount < kTeamMembers) {
        IWbemClassObject *member = Next();
        if (member == nullptr)
            break;
        int64_t reason = 0;
        const bool reasonRead = ReadNumber(member, L"FailureReason", &reason);
        if (reasonRead && reason == 6)
            continue;
        LBFOMEMBER &entry = record->members[record->memberCount];
        if (GetWMIWideString(member, L"InstanceID", &text, false))
            CopyWide(entry.name, kTeamMemberNameChars,
                     primaryGuid != nullptr ? Upper(text) : L"\\\\.\\" + Lower(text));
        int64_t mode = 0;
        const bool modeRead = ReadNumber(member, L"OperationalMode", &mode);
        entry.state = LbfoMemberState(modeRead, mode, reasonRead, reason);
        int64_t admin = 0;
        if (ReadNumber(member, L"AdministrativeMode", &admin)) {
            entry.active = admin == 0 ? 1 : 0;
            if (entry.state == 3)
                ++record->activeCount;
        }
        ++record->memberCount;
    }
    if (record->memberCount == 0)
        return 1;
    m_Enumerator.Release();

    if (wantParent != 0 && primaryGuid != nullptr) {
        std::wstring parent;
        if (record->memberCount < 2) {
            parent = ToWide(record->members[0].name, kTeamMemberNameChars);
        } else if (record->primary == 1) {
            parent = primaryGuid;
        } else if (Query(L"SELECT * FROM MSFT_NetLbfoTeamNic WHERE Team = \"", teamName, L"\" AND Primary = True")) {
            if (IWbemClassObject *first = Next()) {
                std::wstring instance;
                if (GetWMIWideString(first, L"InstanceID", &instance, false)) {
                    wchar_t found[40] = {};
                    getTeamMiniport(instance.c_str(), found);
                    parent = found;
                }
            }
            m_Enumerator.Release();
        }
        if (parent.empty())
            parent = primaryGuid;
        CopyWide(record->parentGuid, 40, parent);
    }
    return 1;
}

int CNetWMIClass::GetMemberRole(const char *memberGuid)
{
    int role = -1;
    // The query is built as 8-bit text of at most 128 bytes.
    if (!Query(L"SELECT * FROM MSFT_NetLbfoTeamMember WHERE InstanceID = \"", Widen(memberGuid), L"\"",
               kLbfoMemberQueryBytes - 1))
        return -1;
    if (IWbemClassObject *member = Next()) {
        int64_t admin = 0;
        if (ReadNumber(member, L"AdministrativeMode", &admin))
            role = admin == 0 ? 0 : admin == 1 ? 1 : -1;
        int64_t mode = 0;
        if (ReadNumber(member, L"OperationalMode", &mode) && mode == 4096)
            role = 4096;
    }
    m_Enumerator.Release();
    return role;
}

void getTeamMiniport(const wchar_t *instanceId, wchar_t guid[40])
{
    if (instanceId == nullptr)
        return;
    const std::wstring wanted = Lower(std::wstring(instanceId, wcsnlen(instanceId, 40)));
    HDEVINFO set = Nic().SetupDiGetClassDevsW(&kNdisLanClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return;
    std::wstring answer;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    for (DWORD index = 0; answer.empty() && Nic().SetupDiEnumDeviceInterfaces(set, nullptr, &kNdisLanClass, index, &data);
         ++index) {
        DWORD size = 0;
        if (Nic().SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            continue;
        std::vector<uint8_t> buffer(size + sizeof(wchar_t), 0);
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!Nic().SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr))
            continue;
        const std::wstring path = Lower(detail->DevicePath);
        if (path.find(kImplatPath) == std::wstring::npos || path.find(wanted) == std::wstring::npos)
            continue;
        const size_t brace = path.rfind(L'{');
        if (brace != std::wstring::npos)
            answer = std::wstring(detail->DevicePath).substr(brace, 39);
    }
    if (!answer.empty())
        CopyWide(guid, 40, answer);
    Nic().SetupDiDestroyDeviceInfoList(set);
}

uint32_t getTeamType(const char *teamGuid, uint32_t *loadBalancing, char *teamName, size_t nameSize)
{
    if (teamGuid == nullptr)
        return 0;
    LBFOTEAMRECORD record;
    std::memset(&record, 0, sizeof(record));
    if (!g_NetWMIClass.CollectWmiTeamData(teamGuid, nullptr, &record, 0))
        return 0;
    if (loadBalancing != nullptr)
        *loadBalancing = record.loadBalancing;
    if (teamName != nullptr && nameSize > 0) {
        // Cut to the caller's buffer and terminated there.
        const std::wstring name = ToWide(record.teamName, 256);
        const size_t n = std::min(name.size(), nameSize - 1);
        for (size_t i = 0; i < n; ++i)
            teamName[i] = static_cast<char>(name[i]);
        teamName[n] = 0;
    }
    return record.teamType;
}

int getTeamData(const char *teamGuid, TEAMDATA *team, uint32_t *teamType, uint32_t *loadBalancing, uint32_t *vlanId,
                wchar_t *interfaceName, wchar_t *parentGuid, const wchar_t *primaryGuid)
{
    if (teamGuid == nullptr || team == nullptr)
        return kTeamNotFound;
    LBFOTEAMRECORD record;
    std::memset(&record, 0, sizeof(record));
    if (!g_NetWMIClass.CollectWmiTeamData(teamGuid, primaryGuid, &record, parentGuid != nullptr ? 1 : 0))
        return kTeamNotFound;
    *team = TeamDataFromLbfo(record);
    if (teamType != nullptr)
        *teamType = record.teamType;
    if (loadBalancing != nullptr)
        *loadBalancing = record.loadBalancing;
    if (vlanId != nullptr)
        *vlanId = record.vlanId == 0 ? 0xFFFE : record.vlanId;
    if (interfaceName != nullptr)
        CopyWide(interfaceName, 256, ToWide(record.interfaceName, 256));
    if (parentGuid != nullptr)
        CopyWide(parentGuid, 40, Upper(ToWide(record.parentGuid, 40)));
    return 0;
}

int getTeamVlanId(const char *teamGuid)
{
    if (teamGuid == nullptr)
        return -1;
    LBFOTEAMRECORD record;
    std::memset(&record, 0, sizeof(record));
    if (!g_NetWMIClass.CollectWmiTeamData(teamGuid, nullptr, &record, 0))
        return -1;
    return record.vlanId == 0 ? 0xFFFE : static_cast<int>(record.vlanId);
}

int getMemberRole(const char *memberGuid)
{
    return memberGuid != nullptr ? g_NetWMIClass.GetMemberRole(memberGuid) : -1;
}

int getTeamVlanName(const char *, wchar_t *name)
{
    if (name != nullptr)
        wcscpy(name, L"empty");
    return 0;
}
