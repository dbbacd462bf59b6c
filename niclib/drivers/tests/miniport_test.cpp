// The miniport object and its NDIS queries on described drivers.
#include "miniport_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace nictest;

namespace {

constexpr wchar_t kGuid[] = L"{11111111-2222-3333-4444-555555555555}";
constexpr wchar_t kDevice[] = L"\\\\.\\{11111111-2222-3333-4444-555555555555}";
constexpr wchar_t kTeamGuid[] = L"{99999999-2222-3333-4444-555555555555}";
constexpr wchar_t kClassGuid[] = L"{ad498944-762f-11d0-8dcb-00c04fc3358c}";
constexpr wchar_t kTeamPath[] = L"\\\\?\\compositebus#ms_implat_mp#{99999999-2222-3333-4444-555555555555}#"
                                L"{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{11111111-2222-3333-4444-555555555555}";
constexpr wchar_t kPath[] = L"\\\\?\\pci#ven_8086&dev_1533#3&1#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\"
                            L"{11111111-2222-3333-4444-555555555555}";

std::vector<uint8_t> Word(uint32_t value, size_t bytes = 4)
{
    std::vector<uint8_t> data(bytes, 0);
    std::memcpy(data.data(), &value, 4);
    return data;
}

class MiniportTest : public MiniportTestBase {
protected:
    void Answer(const std::wstring &path, uint32_t oid, std::vector<uint8_t> data, uint32_t status = 0,
                uint32_t ioctl = kIoctlNdisQueryGlobalStats)
    {
        fixture.Host().ndis.push_back({path, ioctl, oid, status, std::move(data)});
    }
    DWORD InitMiniport(CMiniport &miniport, const wchar_t *path = kPath)
    {
        return miniport.Init(path, kDevice, (wcslen(kDevice) + 1) * sizeof(wchar_t), nullptr);
    }
    unsigned Queries(uint32_t oid) const { return fixture.NdisQueries(kDevice, kIoctlNdisQueryGlobalStats, oid); }
};

TEST_F(MiniportTest, MediaDecideWhetherTheMiniportIsKept)
{
    struct Case {
        bool answered;
        uint32_t medium;
        DWORD result;
        DWORD addressLength;
    };
    const Case cases[] = {
        {true, 0, 0, 6},                 // 802.3: both addresses read
        {true, 1, 0, 0},                 // 802.5: kept, no address queries
        {true, 5, ERROR_INVALID_DATA, 0}, // another medium
        {false, 0, 50, 0},               // the query failed with the driver's error
    };
    for (const Case &c : cases) {
        NicFixture local;
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaInUse, c.answered ? 0u : 50u,
                                     Word(c.medium, 8)});
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOid8023CurrentAddress, 0,
                                     {0, 0x11, 0x22, 0x33, 0x44, 0x55, 0xEE, 0xEE}}); // 8 bytes returned
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOid8023PermanentAddress, 0,
                                     {0, 0x11, 0x22, 0x33, 0x44, 0x56}});
        local.Install();
        CMiniport miniport;
        EXPECT_EQ(c.result, InitMiniport(miniport)) << c.medium;
        EXPECT_EQ(c.addressLength, miniport.GetPhysAddrLength()) << c.medium;
        const unsigned addressQueries = local.NdisQueries(kDevice, kIoctlNdisQueryGlobalStats, kOid8023CurrentAddress);
        EXPECT_EQ(c.addressLength != 0 ? 1u : 0u, addressQueries) << c.medium;
        if (c.result == 0) {
            EXPECT_STREQ(kGuid, miniport.GetGuid());
            const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, 0x44, 0x55};
            EXPECT_EQ(c.addressLength == 6, miniport.IsCurrentPhysAddr(mac, 6));
        }
        fixture.Install();
    }
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CMiniport::SetCurrentPhysAddr"), L"UNKNOWN Medium: 1"));
}

TEST_F(MiniportTest, TeamGuidTextOnlyFromAFullGuidInThePath)
{
    Answer(kDevice, kOidGenMediaInUse, Word(1, 8));
    struct Case {
        const wchar_t *path;
        const wchar_t *teamGuid;
    };
    const Case cases[] = {
        {kPath, kClassGuid},   // the first "{" of a LAN interface path is its class
        {kTeamPath, kTeamGuid},
        {L"\\\\?\\root#net#0000", nullptr},
        {L"\\\\?\\root#net#{1234}", nullptr}, // a short "{" names nothing
        {nullptr, nullptr},
    };
    for (const Case &c : cases) {
        CMiniport miniport;
        ASSERT_EQ(0u, InitMiniport(miniport, c.path));
        if (c.teamGuid == nullptr)
            EXPECT_EQ(nullptr, miniport.GetTeamGuid());
        else
            EXPECT_STREQ(c.teamGuid, miniport.GetTeamGuid());
    }
}

TEST_F(MiniportTest, CopyTakesIdentityButNotPartNumberVlanOrStability)
{
    Answer(kDevice, kOidGenMediaInUse, Word(0, 8));
    Answer(kDevice, kOid8023CurrentAddress, {1, 2, 3, 4, 5, 6});
    Answer(kDevice, kOid8023PermanentAddress, {1, 2, 3, 4, 5, 7});
    CMiniport source;
    ASSERT_EQ(0u, InitMiniport(source));
    source.SetPCIDeviceID(0x80861533);
    source.SetSubsystemID(0x00011028);
    source.SetLogicalIndex(7);
    source.SetAssigned(1);
    source.SetConditionStable(0);
    CMiniport copy;
    copy = source;
    EXPECT_STREQ(kDevice, copy.GetDeviceName());
    EXPECT_STREQ(kGuid, copy.GetGuid());
    EXPECT_STREQ(kClassGuid, copy.GetTeamGuid());
    EXPECT_EQ(0x80861533u, copy.GetPCIDeviceID());
    EXPECT_EQ(0x00011028u, copy.GetSubsystemID());
    EXPECT_EQ(7, copy.GetLogicalIndex());
    EXPECT_EQ(1, copy.GetAssigned());
    EXPECT_EQ(1, copy.GetConditionStable()); // not copied
    uint8_t mac[6] = {};
    EXPECT_TRUE(copy.GetPermPhysAddr(mac, 6));
    EXPECT_EQ(7, mac[5]);
    EXPECT_EQ(source.GetTeamMemberCount(), copy.GetTeamMemberCount());
    EXPECT_EQ(nullptr, copy.GetVlanName());
    EXPECT_STREQ(L"", copy.GetPartNumber());
}

TEST_F(MiniportTest, OnlyTheFirstFailureOfAMiniportIsLogged)
{
    uint8_t buffer[8];
    DWORD returned = 0;
    // A device that cannot be opened: 31, and no line of the query layer.
    CMiniport absent;
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), absent.NdisIoctl(kOidGenMediaConnectStatus, buffer, 8, &returned));
    EXPECT_TRUE(LogMessages(s_LogPath, L"CMiniport::NdisIoctl").empty());
    EXPECT_EQ(0u, absent.GetFailureLogged());

    struct Case {
        uint32_t oid;
        size_t lines;
    };
    const Case cases[] = {{kOidGenMediaConnectStatus, 2}, {0xFF020295, 1}};
    for (const Case &c : cases) {
        NicFixture local;
        // A plain NIC whose driver answers everything Init asks.
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaInUse, 0, Word(1, 8)});
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenVendorDescription, 0,
                                     {'I', 'n', 't', 'e', 'l', 0}});
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidTeamVlanId, 0, Word(0)});
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidTeamVlanName, 0, {}});
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, c.oid, 50, {}});
        local.Install();
        ConfigureVerboseLog(L"nic-miniport-log");
        CMiniport miniport;
        ASSERT_EQ(0u, InitMiniport(miniport)); // 802.5: no address queries, nothing failed yet
        EXPECT_EQ(50u, miniport.NdisIoctl(c.oid, buffer, 8, &returned));
        EXPECT_EQ(50u, miniport.NdisIoctl(c.oid, buffer, 8, &returned));
        EXPECT_EQ(50u, miniport.NdisIoctl(kOidGenMediaConnectStatus, buffer, 8, &returned));
        const auto messages = LogMessages(s_LogPath, L"CMiniport::NdisIoctl");
        EXPECT_EQ(c.lines, messages.size()) << std::hex << c.oid;
        wchar_t first[80];
        swprintf(first, 80, L"Failed oid: 0x%X error: 50 type: 0", c.oid);
        EXPECT_EQ(1u, CountOf(messages, first));
        fixture.Install();
    }
}

TEST_F(MiniportTest, IntelRequestsThroughTheControlDeviceAndWithout)
{
    constexpr uint32_t kDuplexOid = 0xFF0201EA;
    struct Case {
        bool controlDevice;
        uint32_t status;       // of the private request
        bool directFirmware;   // the miniport answers the firmware OID itself
        uint32_t oid;
        DWORD callerSize;
        DWORD result;
        uint8_t firstByte;     // of the caller's buffer afterwards (preset 0xCC)
    };
    const Case cases[] = {
        {true, 0, false, kDuplexOid, 8, 0, 0x02},                          // the answer
        {true, 5, false, kDuplexOid, 8, 5, 0xCC},                          // refused: that error, buffer kept
        {false, 0, false, kDuplexOid, 8, ERROR_NOT_SUPPORTED, 0xCC},       // no control device
        {false, 0, true, kOidIntelFirmwareVersion, 72, 0, 0x09},           // firmware directly
        {false, 0, true, kOidIntelFirmwareVersion, 64, 0, 0xCC},           // caller too small: nothing copied
        {false, 0, false, kOidIntelFirmwareVersion, 72, ERROR_NOT_SUPPORTED, 0xCC},
    };
    for (const Case &c : cases) {
        NicFixture local;
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaInUse, 0, Word(1, 8)});
        if (c.controlDevice) {
            local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidIntelControlDevice, 0,
                                         {'I', 'N', 'T', 'C', 0}});
            std::vector<uint8_t> reply(12 + 8, 0);
            std::memcpy(reply.data(), &c.oid, 4);
            std::memcpy(reply.data() + 4, &c.status, 4);
            reply[12] = 0x02;
            local.Host().ndis.push_back({L"\\\\.\\INTC", kIoctlVendorPrivateRequest, c.oid, 0, reply});
        }
        if (c.directFirmware) {
            std::vector<uint8_t> firmware(72, 0x09);
            local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidIntelFirmwareVersion, 0, firmware});
        }
        local.Install();
        CMiniport miniport;
        ASSERT_EQ(0u, InitMiniport(miniport));
        std::vector<uint8_t> buffer(c.callerSize, 0xCC);
        DWORD returned = 0;
        EXPECT_EQ(c.result, miniport.IntelNdisIoctl(c.oid, buffer.data(), c.callerSize, &returned))
            << std::hex << c.oid << " " << c.controlDevice << " " << c.status;
        EXPECT_EQ(c.firstByte, buffer[0]) << std::hex << c.oid << " " << c.controlDevice << " " << c.status;
        if (c.controlDevice) {
            EXPECT_EQ(1u, local.DeviceOpens(L"\\\\.\\INTC"));
        }
        fixture.Install();
    }
}

TEST_F(MiniportTest, GenericConditionAndTheLinkQueryThatStopsAfterAFailure)
{
    struct Case {
        bool answered;
        uint64_t status;
        uint32_t condition;
    };
    const Case cases[] = {{true, 0, 2}, {true, 1, 4}, {false, 0, 1}};
    for (const Case &c : cases) {
        NicFixture local;
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaInUse, 0, Word(1, 8)});
        std::vector<uint8_t> answer(8, 0);
        std::memcpy(answer.data(), &c.status, 8);
        local.Host().ndis.push_back(
            {kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaConnectStatus, c.answered ? 0u : 31u, answer});
        local.Install();
        CMiniport miniport;
        ASSERT_EQ(0u, InitMiniport(miniport));
        MINIPORTDYNAMICDATA data = {3, 1, 0};
        miniport.GetGenericCondition(&data);
        EXPECT_EQ(c.condition, data.condition);
        // Asked again: a link that failed once is not asked any more.
        data.condition = 3;
        EXPECT_EQ(0u, miniport.GetGenericCondition(&data));
        EXPECT_EQ(c.condition, data.condition);
        EXPECT_EQ(c.answered ? 2u : 1u,
                  local.NdisQueries(kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaConnectStatus));
        fixture.Install();
    }
}

TEST_F(MiniportTest, StatisticsWalkFillsWhatAnswersAndGoesOn)
{
    Answer(kDevice, kOidGenMediaInUse, Word(1, 8));
    Answer(kDevice, 0x00020101, Word(42));
    Answer(kDevice, 0x00020102, {}, 50);
    CMiniport miniport;
    ASSERT_EQ(0u, InitMiniport(miniport));
    uint32_t values[3] = {7, 7, 7};
    const OIDSTATENTRY rows[] = {{0x00020101, &values[0], 4}, {0x00020102, &values[1], 4}, {0xFF010266, &values[2], 4}};
    EXPECT_EQ(0u, miniport.UpdateEthernetXmitStats(rows, 3));
    EXPECT_EQ(42u, values[0]);
    EXPECT_EQ(7u, values[1]);
    EXPECT_EQ(7u, values[2]);
    const auto messages = LogMessages(s_LogPath, L"CMiniport::UpdateEthernetXmitStats");
    EXPECT_EQ(1u, CountOf(messages, L"success with oid: 0x20101 index: 0"));
    EXPECT_EQ(1u, CountOf(messages, L"Error in MANDATORY oid: 0x20102 index: 1"));
    EXPECT_EQ(1u, CountOf(messages, L"Error in OPTIONAL oid: 0xFF010266 index: 2"));
}

} // namespace
