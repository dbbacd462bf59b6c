// Network-class interfaces and the miniport list on described device trees and drivers.
#include "miniport_test_support.h"

#include "lbfo.h"
#include "netclass.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace nictest;

namespace {

constexpr wchar_t kNetClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kLanClass[] = L"{ad498944-762f-11d0-8dcb-00c04fc3358c}";

std::wstring Guid(int n)
{
    wchar_t text[40];
    swprintf(text, 40, L"{%08X-0000-0000-0000-000000000000}", n);
    return text;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

TEST(NetClassPatterns, AdmittedPaths)
{
    wchar_t usb[64];
    swprintf(usb, 64, L"\\\\?\\usb#vid_%04x&pid_%04x#1#", kMgmtProcessorUsbVendorId, kMgmtProcessorUsbProductId);
    struct Case {
        std::wstring path;
        int pattern;
    };
    const Case cases[] = {
        {L"\\\\?\\pci#ven_8086&dev_1533#3&1#{x}\\{g}", 1},
        {L"\\\\?\\root#net#0000#{x}\\{g}", 3},
        {L"\\\\?\\swd#msrras#ms_ndiswanip#{x}\\{g}", 0}, // a WAN miniport
        {usb, 16},
        {L"\\\\?\\usb#vid_0000&pid_0000#1#", 0},
        {L"\\\\?\\compositebus#ms_implat_mp#1#{x}\\{g}", 17},
        {L"\\\\?\\root#ms_bridgemp#0000#{x}\\{g}", 18},
        {L"x#ndis&ven_1924&dev_0903#", 15},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.pattern, AdmittedPathPattern(c.path)) << std::string(c.path.begin(), c.path.end());
}

class ListTest : public MiniportTestBase {
protected:
    void Device(const std::wstring &id, std::vector<std::wstring> lan, const wchar_t *klass = kNetClass)
    {
        NicHostDevice device;
        device.id = id;
        device.classGuid = klass;
        device.lanInterfaces = std::move(lan);
        fixture.Host().devices.push_back(device);
    }
    static std::wstring PciPath(int n)
    {
        wchar_t text[160];
        swprintf(text, 160, L"\\\\?\\PCI#VEN_8086&DEV_1533#3&%d#%ls\\%ls", n, kLanClass, Guid(n).c_str());
        return text;
    }
    void Answer(const std::wstring &path, uint32_t oid, std::vector<uint8_t> data, uint32_t status = 0)
    {
        fixture.Host().ndis.push_back({path, kIoctlNdisQueryGlobalStats, oid, status, std::move(data)});
    }
    // A driver at "\\.\{guid}" with medium 802.3, this MAC, description and VLAN id.
    void Driver(int n, uint8_t mac, const char *description, uint32_t vlan, uint64_t link)
    {
        const std::wstring path = L"\\\\.\\" + Lower(Guid(n));
        Answer(path, kOidGenMediaInUse, std::vector<uint8_t>(8, 0));
        Answer(path, kOidGenVendorDescription, std::vector<uint8_t>(description, description + strlen(description) + 1));
        Answer(path, kOid8023CurrentAddress, {0, 1, 2, 3, 4, mac});
        Answer(path, kOid8023PermanentAddress, {0, 1, 2, 3, 4, mac});
        std::vector<uint8_t> v(4);
        std::memcpy(v.data(), &vlan, 4);
        Answer(path, kOidTeamVlanId, v);
        Answer(path, kOidTeamVlanName, {});
        std::vector<uint8_t> l(8);
        std::memcpy(l.data(), &link, 8);
        Answer(path, kOidGenMediaConnectStatus, l);
        TEAMDATA empty;
        std::memset(&empty, 0, sizeof(empty));
        const auto *bytes = reinterpret_cast<const uint8_t *>(&empty);
        Answer(path, kOidTeamRecord, std::vector<uint8_t>(bytes, bytes + sizeof(empty)));
    }
};

TEST_F(ListTest, InterfacesOfPresentNetworkDevicesFirstOnly)
{
    Device(L"PCI\\VEN_8086&DEV_1533\\3&1", {PciPath(1), PciPath(9)});
    Device(L"PCI\\VEN_8086&DEV_1533\\3&2", {PciPath(2)}, L"{4d36e97d-e325-11ce-bfc1-08002be10318}"); // not network
    Device(L"SWD\\MSRRAS\\MS_NDISWANIP", {L"\\\\?\\SWD#MSRRAS#MS_NDISWANIP#{x}\\{w}"});
    CNetClassIfList list;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), list.Init()); // the last device was excluded
    ASSERT_EQ(1u, list.GetCount());
    const CNetClassIf *netIf = list.GetFirst()->object;
    EXPECT_STREQ(Lower(Guid(1)).c_str(), netIf->GetName());
    std::vector<wchar_t> name(netIf->GetDeviceNameSize() / sizeof(wchar_t), L'#');
    EXPECT_EQ(0u, netIf->GetDeviceName(name.data()));
    EXPECT_EQ(L"\\\\.\\" + Lower(Guid(1)), std::wstring(name.data()));
    EXPECT_EQ(L'#', name.back()); // one spare character after the NUL
    EXPECT_EQ(kNicAllocationFailed, netIf->GetDeviceName(nullptr));
    const auto messages = LogMessages(s_LogPath, L"CNetClassIfList::MyGetDeviceIfDetail");
    EXPECT_EQ(1u, CountOf(messages, L"Excluding: \\\\?\\swd#msrras#ms_ndiswanip#{x}\\{w}"));
}

TEST_F(ListTest, EmptyDeviceTreeGivesEightAndFailingInterfacesZero)
{
    CMiniportList empty;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), empty.Init());
    EXPECT_EQ(0u, empty.GetCount());

    Device(L"PCI\\A", {PciPath(1)}); // no driver answers: Init fails (31 on open)
    CMiniportList failing;
    EXPECT_EQ(0u, failing.Init());
    EXPECT_EQ(0u, failing.GetCount());
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CMiniportList::Init"), L"non-physical adapter Init returned: 31"));
}

TEST_F(ListTest, AssignMiniportMatrix)
{
    // Row MAC ..:07. A plain NIC (1), a team interface without VLAN (2, NTID), and a VLAN of a
    // team (3, NTID VLAN 5, only for the VLAN row ..:08).
    struct Case {
        const char *what;
        uint64_t teamLink;    // 0 connected (condition 2), 1 not (4)
        bool rowHasAddress;
        bool rowNamesTeam;
        int expected;         // the GUID number matched, 0 none
    };
    const Case cases[] = {
        {"team up without address is fake: the plain NIC", 0, false, true, 1},
        {"team down is matched by its GUID", 1, false, true, 2},
        {"team up with an address", 0, true, true, 2},
        {"team without its GUID in the row name: the plain NIC", 1, false, false, 1},
    };
    for (const Case &c : cases) {
        NicFixture local;
        fixture.Host().devices.clear();
        fixture.Host().ndis.clear();
        Device(L"PCI\\A", {PciPath(1)});
        Device(L"ROOT\\NET\\0000", {L"\\\\?\\ROOT#NET#0000#{x}\\" + Guid(2)});
        Driver(1, 7, "Intel", 0, 0);
        Driver(2, 7, "Network Teaming Intermediate Driver (NTID)", 0, c.teamLink);
        local.Host() = fixture.Host();
        if (c.rowHasAddress)
            local.Host().addresses.push_back({5, 0x0100000A, 0x00FFFFFF});
        local.Install();
        CMiniportList list;
        ASSERT_EQ(0u, list.Init()) << c.what;
        ASSERT_EQ(2u, list.GetCount()) << c.what;
        MIB_IFROW row = {};
        row.dwIndex = 5;
        const std::wstring rowName = L"\\DEVICE\\TCPIP_" + (c.rowNamesTeam ? Guid(2) : Guid(3));
        wcsncpy(row.wszName, rowName.c_str(), MAX_INTERFACE_NAME_LEN - 1);
        const uint8_t mac[6] = {0, 1, 2, 3, 4, 7};
        std::memcpy(row.bPhysAddr, mac, 6);
        row.dwPhysAddrLen = 6;
        MIB_IPADDRTABLE *table = nullptr;
        std::vector<uint8_t> storage(sizeof(MIB_IPADDRTABLE) + 4 * sizeof(MIB_IPADDRROW));
        table = reinterpret_cast<MIB_IPADDRTABLE *>(storage.data());
        ULONG size = static_cast<ULONG>(storage.size());
        ASSERT_EQ(0u, Nic().GetIpAddrTable(table, &size, FALSE));
        CMiniport *matched = list.AssignMiniport(&row, table);
        ASSERT_NE(nullptr, matched) << c.what;
        EXPECT_STREQ(Lower(Guid(c.expected)).c_str(), matched->GetGuid()) << c.what;
        EXPECT_EQ(1, matched->GetAssigned());
        EXPECT_EQ(5, matched->GetLogicalIndex());
        EXPECT_EQ(matched, list.FindMiniportByPhysAddr(5, mac, 6));
        // Each miniport is matched once: the row again finds the other or none.
        CMiniport *second = list.AssignMiniport(&row, table);
        EXPECT_NE(matched, second) << c.what;
        const uint8_t other[6] = {9, 9, 9, 9, 9, 9};
        std::memcpy(row.bPhysAddr, other, 6);
        EXPECT_EQ(nullptr, list.AssignMiniport(&row, table));
        fixture.Install();
    }
}

TEST_F(ListTest, TeamVlanIsMatchedWhateverItsLinkAndLosesStability)
{
    Device(L"ROOT\\NET\\0001", {L"\\\\?\\ROOT#NET#0001#{x}\\" + Guid(3)});
    Driver(3, 8, "Network Teaming Intermediate Driver (NTID)", 5, 0);
    fixture.Host().interfaces.clear();
    CMiniportList list;
    ASSERT_EQ(0u, list.Init());
    MIB_IFROW row = {};
    row.dwIndex = 9;
    wcsncpy(row.wszName, (L"\\DEVICE\\TCPIP_" + Guid(3)).c_str(), MAX_INTERFACE_NAME_LEN - 1);
    const uint8_t mac[6] = {0, 1, 2, 3, 4, 8};
    std::memcpy(row.bPhysAddr, mac, 6);
    row.dwPhysAddrLen = 6;
    CMiniport *matched = list.AssignMiniport(&row, nullptr); // no address table: no address
    ASSERT_NE(nullptr, matched);
    EXPECT_EQ(5, matched->GetVlanId());
    EXPECT_EQ(0, matched->GetConditionStable());
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CMiniportList::AssignMiniport"), L"Found a fake nic. status: 2"));
}

TEST_F(ListTest, AddressRowsAnyNonZeroCounts)
{
    std::vector<uint8_t> storage(sizeof(MIB_IPADDRTABLE) + 4 * sizeof(MIB_IPADDRROW), 0);
    auto *table = reinterpret_cast<MIB_IPADDRTABLE *>(storage.data());
    table->dwNumEntries = 3;
    table->table[0] = {0, 4, 0, 0, 0, 0, 0};
    table->table[1] = {0x0100000A, 4, 0, 0, 0, 0, 0};
    table->table[2] = {0x0200000A, 6, 0, 0, 0, 0, 0};
    DWORD addresses[3] = {};
    EXPECT_EQ(0u, GetIPbyIfIndex(4, addresses, table)); // the first row is 0.0.0.0, the second is not
    EXPECT_EQ(0x0100000Au, addresses[1]);
    EXPECT_EQ(2u, GetIPbyIfIndex(5, addresses, table));
    EXPECT_EQ(2u, GetIPbyIfIndex(4, addresses, nullptr));
}

TEST_F(ListTest, LbfoPrimaryMiniportFromTheCompositeBusPath)
{
    Device(L"COMPOSITEBUS\\MS_IMPLAT_MP\\1",
           {L"\\\\?\\compositebus#ms_implat_mp#{inst-1}#" + std::wstring(kLanClass) + L"\\" + Guid(7)});
    wchar_t guid[40] = L"untouched";
    getTeamMiniport(L"{INST-1}", guid);
    EXPECT_STREQ(Guid(7).c_str(), guid);
    wchar_t none[40] = L"untouched";
    getTeamMiniport(L"{inst-2}", none);
    EXPECT_STREQ(L"untouched", none);
    EXPECT_EQ(0u, fixture.OpenDeviceInfoSets());
}

// One list build of eight miniports (one interface dropped on the way) with a QLMAPI that answers
// neither 0 nor 51: one bring-up of the vendor library for the whole build.
TEST_F(ListTest, EightMiniportListWithFailingQlmapi)
{
    AddVendorModule(L"qlmapia.dll", s_Qlmapi);
    s_Qlmapi.repeat = 3;
    Device(L"PCI\\DROPPED", {PciPath(100)}); // no driver: dropped
    for (int n = 1; n <= 8; ++n) {
        Device(L"PCI\\N" + std::to_wstring(n), {PciPath(n)});
        Driver(n, static_cast<uint8_t>(n), "Intel", 0, 0);
    }
    const uint64_t start = fixture.Ticks();
    {
        CMiniportList list;
        ASSERT_EQ(0u, list.Init());
        EXPECT_EQ(8u, list.GetCount());
    }
    EXPECT_EQ(kQlmapiInitAttempts, s_Qlmapi.initCalls);
    EXPECT_EQ(1u, fixture.ModuleLoads(L"qlmapia.dll"));
    const uint64_t waited = fixture.Ticks() - start;
    EXPECT_EQ((kQlmapiInitAttempts - 1) * kVendorInitRetryMs, waited);
    RecordProperty("simulated_wait_ms", static_cast<int>(waited));
    RecordProperty("qlmapi_bring_ups", 1);
}

} // namespace
