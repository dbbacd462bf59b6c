#pragma once
// Windows' own NIC teams (LBFO), described only through WMI in ROOT\STANDARDCIMV2: the team
// interface (MSFT_NetLbfoTeamNic), the team (MSFT_NetLbfoTeam) and its members
// (MSFT_NetLbfoTeamMember). One connection for the life of the data-collection thread; each
// question runs its queries afresh. Data-collection thread only.

#include "nic_decode.h"
#include "wmi.h"

#include <cstdint>

// The fixed wait after every ExecQuery, on the seam's clock.
constexpr DWORD kLbfoQueryWaitMs = 120;
constexpr size_t kLbfoQueryChars = 300;
constexpr size_t kLbfoMemberQueryBytes = 128;
constexpr int kTeamNotFound = 55;

// Progress and failure texts of the LBFO code go here and nowhere further.
class CLbfoTrace {
public:
    void Open() {}
    void Write(const wchar_t *) {}
    void Close() {}
};

class CNetWMIClass {
public:
    HRESULT WBEMInit();
    void WBEMUninit();
    // The thread's stop event: a slow provider's answer is not waited for once it is set.
    void SetStopEvent(HANDLE stopEvent) { m_StopEvent = stopEvent; }

    int CollectWmiTeamData(const char *teamGuid, const wchar_t *primaryGuid, LBFOTEAMRECORD *record, int wantParent);
    int GetMemberRole(const char *memberGuid);

private:
    // Runs one WQL query with one escaped literal; false when it cannot be built or asked.
    bool Query(std::wstring_view prefix, std::wstring_view value, std::wstring_view suffix,
               size_t maxChars = kLbfoQueryChars);
    IWbemClassObject *Next();

    CLbfoTrace m_Trace;
    ComPtr<IWbemLocator> m_Locator;
    ComPtr<IWbemServices> m_Services;
    CWMIEnumerator m_Enumerator;
    HANDLE m_StopEvent = nullptr;
};

extern CNetWMIClass g_NetWMIClass;
// Set the first time any LBFO team interface answers; never cleared.
extern uint32_t g_LbfoTeamFound;

void getTeamMiniport(const wchar_t *instanceId, wchar_t guid[40]);
// nameSize: the bytes of teamName; the name is cut to fit and terminated.
uint32_t getTeamType(const char *teamGuid, uint32_t *loadBalancing, char *teamName, size_t nameSize);
int getTeamData(const char *teamGuid, TEAMDATA *team, uint32_t *teamType, uint32_t *loadBalancing, uint32_t *vlanId,
                wchar_t *interfaceName, wchar_t *parentGuid, const wchar_t *primaryGuid);
int getTeamVlanId(const char *teamGuid);
int getMemberRole(const char *memberGuid);
int getTeamVlanName(const char *guid, wchar_t *name);
