// The iSCSI collector: its tables from the record keys, and the session-count traps.
#include "iscsi_fixture.h"

#include "datastore.h"
#include "host_test_support.h"
#include "service_parameters.h"
#include "storage_records.h"
#include "traps.h"
#include "zdtiscsi_collector.h"

#include <cstring>

using namespace iscsitest;
using namespace hosttest;

namespace {

std::string PhysicalDnsName()
{
    char name[260] = {};
    DWORD size = sizeof name;
    EXPECT_TRUE(GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, name, &size));
    return name;
}

class IscsiCollectorTest : public IscsiFixture {
protected:
    void SetUp() override
    {
        IscsiFixture::SetUp();
        s_ZDTiSCSIDataCollector.ResetForTests();
        s_ServiceParameters.EnableTraps = 1;
        ASSERT_TRUE(InitDataStores());
        InitTraps();
    }
    void TearDown() override
    {
        TermTraps();
        TermDataStores();
        IscsiFixture::TearDown();
    }

    // One collection with the initiator holding this many sessions; the traps it queued.
    std::vector<RECORDED_PDU> CollectWithSessions(int sessions)
    {
        std::vector<ComPtr<IWbemClassObject>> list;
        for (int i = 0; i < sessions; ++i)
            list.push_back(Session(L"t", {1, 2, 3, 4, 5, static_cast<uint8_t>(i)}, 1, {}));
        OneInstance(list);
        return Collect();
    }

    std::vector<RECORDED_PDU> Collect()
    {
        DATASTORE staging(false);
        s_ZDTiSCSIDataCollector.StartCollection(0, &staging);
        s_ZDTiSCSIDataCollector.Collect(0, &staging);
        condition = s_ZDTiSCSIDataCollector.Condition();
        description = TextAt(&staging, EnterpriseOid({169, 2, 2, 1, 1, 2, 0}));
        RecordingSession session;
        while (QueuedTrapCount() > 0)
            if (SendOneTrap(&session) != 0)
                break;
        return session.pdus;
    }

    uint8_t condition = 0;
    std::optional<std::string> description;
};

TEST_F(IscsiCollectorTest, SessionCountChangesGiveTraps)
{
    struct {
        int sessions;
        uint32_t trap;  // 0: none
    } steps[] = {{2, 0}, {3, 169001}, {1, 169002}, {1, 0}};
    for (const auto &step : steps) {
        std::vector<RECORDED_PDU> pdus = CollectWithSessions(step.sessions);
        if (step.trap == 0) {
            EXPECT_TRUE(pdus.empty()) << step.sessions;
            continue;
        }
        ASSERT_EQ(1u, pdus.size()) << step.sessions;
        const auto &varbinds = pdus[0].varbinds;
        ASSERT_EQ(4u, varbinds.size());
        EXPECT_EQ(OidText(EnterpriseOid({0, step.trap})), OidText(varbinds[0].oid));
        EXPECT_EQ(".1.3.6.1.2.1.1.5.0", OidText(varbinds[1].name));
        EXPECT_EQ(PhysicalDnsName(), varbinds[1].text);
        EXPECT_EQ(OidText(EnterpriseOid({11, 2, 11, 1, 0})), OidText(varbinds[2].name));
        EXPECT_EQ(4, varbinds[2].integer);
        EXPECT_EQ(OidText(EnterpriseOid({169, 2, 2, 1, 1, 2, 0})), OidText(varbinds[3].name));
        EXPECT_EQ("Software Initiator", varbinds[3].text);
    }
    EXPECT_EQ(2, condition);
    EXPECT_EQ(std::optional<std::string>("Software Initiator"), description);
}

TEST_F(IscsiCollectorTest, VanishingAndReturningInstance)
{
    EXPECT_TRUE(CollectWithSessions(1).empty());  // the first check sends nothing
    services->SetClass(L"MSiSCSI_HBAInformation", {});
    EXPECT_TRUE(Collect().empty());                 // gone: both counts 0
    EXPECT_EQ(0, condition);
    std::vector<RECORDED_PDU> back = CollectWithSessions(1);
    ASSERT_EQ(1u, back.size());
    EXPECT_EQ(OidText(EnterpriseOid({0, 169001})), OidText(back[0].varbinds[0].oid));
}

TEST_F(IscsiCollectorTest, NoInitiatorGivesEmptyTablesAndNoTrap)
{
    services->SetAbsentAsEmpty(true);
    DATASTORE staging(false);
    s_ZDTiSCSIDataCollector.StartCollection(0, &staging);
    s_ZDTiSCSIDataCollector.Collect(0, &staging);
    EXPECT_EQ(0, s_ZDTiSCSIDataCollector.Condition());
    EXPECT_EQ(0u, QueuedTrapCount());
    EXPECT_EQ(std::nullopt, TextAt(&staging, EnterpriseOid({169, 2, 2, 1, 1, 2, 0})));
}

TEST_F(IscsiCollectorTest, ChosenPositionStaysInsideTheList)
{
    // Three old instances, the last new one among them, one new instance with more sessions: the
    // position (old count - 1) lies past the new list and is kept inside it.
    auto record = [](const char *name, uint32_t sessions) {
        ISCSI_INSTANCE_RECORD r{};
        std::strcpy(r.InstanceName, name);
        std::strcpy(r.Description, name);
        r.NumberOfSessions = sessions;
        return r;
    };
    s_ZDTiSCSIDataCollector.CheckIscsiTraps({record("a", 0)}, {record("a", 0)});  // first check spent
    s_ZDTiSCSIDataCollector.CheckIscsiTraps({record("a", 0), record("b", 0), record("c", 1)}, {record("c", 4)});
    RecordingSession session;
    ASSERT_EQ(0, SendOneTrap(&session));
    ASSERT_EQ(1u, session.pdus.size());
    EXPECT_EQ("c", session.pdus[0].varbinds[3].text);
}

TEST_F(IscsiCollectorTest, RecordsReadByNumberAndWrongSizesSkipped)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage\\iSCSI\\Session", 0, nullptr,
                                             REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    for (int i : {10, 2, 1}) {
        ISCSI_SESSION_RECORD record{};
        record.SessionIndex = static_cast<uint32_t>(i);
        std::snprintf(record.TargetName, sizeof record.TargetName, "target-%d", i);
        const uint8_t isid[6] = {0x40, 0x00, 0x01, 0x37, 0x00, 0x80};
        std::memcpy(record.Isid, isid, 6);
        std::string name = "Session" + std::to_string(i);
        RegSetValueExA(key, name.c_str(), 0, REG_BINARY, reinterpret_cast<BYTE *>(&record), sizeof record);
    }
    uint8_t shortValue[10] = {};
    RegSetValueExA(key, "Session3", 0, REG_BINARY, shortValue, sizeof shortValue);
    RegCloseKey(key);

    std::vector<STORAGE_RECORD_VALUE> read;
    ASSERT_EQ(ERROR_SUCCESS, ReadStorageRecords(STORAGE_ROW_ISCSI_SESSION, "Session", RecordNumberBase::Decimal,
                                                sizeof(ISCSI_SESSION_RECORD), &read));
    ASSERT_EQ(3u, read.size());
    DATASTORE staging(false);
    s_ZDTiSCSIDataCollector.Collect_zdtIscsiSession(&staging);
    for (int i : {1, 2, 10})
        EXPECT_EQ(std::optional<std::string>("target-" + std::to_string(i)),
                  TextAt(&staging, EnterpriseOid({169, 2, 11, 1, 1, 6, static_cast<uint32_t>(i)})));
    EXPECT_EQ(std::nullopt, TextAt(&staging, EnterpriseOid({169, 2, 11, 1, 1, 6, 3})));
    EXPECT_EQ(std::optional<std::string>("400001370080"), TextAt(&staging, EnterpriseOid({169, 2, 11, 1, 1, 8, 1})));
}

TEST_F(IscsiCollectorTest, TwelveInstancesTakenInNumberOrder)
{
    // Wine enumerates Instance10 before Instance2: the last instance is still the twelfth.
    auto collect = [&](uint32_t lastSessions) {
        std::vector<ComPtr<IWbemClassObject>> hbas, infos;
        for (int i = 0; i < 12; ++i) {
            std::wstring name = L"ROOT\\ISCSIPRT\\" + std::to_wstring(i);
            std::wstring model = L"model-" + std::to_wstring(i);
            hbas.push_back(Hba(name.c_str(), model.c_str()));
            std::vector<ComPtr<IWbemClassObject>> sessions;
            for (uint32_t s = 0; i == 11 && s < lastSessions; ++s)
                sessions.push_back(Session(L"t", {1, 2, 3, 4, 5, static_cast<uint8_t>(s)}, 1, {}));
            infos.push_back(Holder(name.c_str(), L"SessionCount", L"SessionsList", sessions));
        }
        services->SetClass(L"MSiSCSI_HBAInformation", hbas);
        services->SetClass(L"MSiSCSI_InitiatorSessionInfo", infos);
        services->SetClass(L"MSiSCSI_PortalInfoClass", {});
        return Collect();
    };
    EXPECT_TRUE(collect(1).empty());
    std::vector<RECORDED_PDU> pdus = collect(2);
    ASSERT_EQ(1u, pdus.size());
    EXPECT_EQ(OidText(EnterpriseOid({169, 2, 2, 1, 1, 2, 11})), OidText(pdus[0].varbinds[3].name));
    EXPECT_EQ("model-11", pdus[0].varbinds[3].text);
}

TEST(IscsiRegisterTest, SixRegionsAndTheLastFailure)
{
    RecordingSession session;
    int call = 0;
    session.answer = [&](const RECORDED_PDU &) { return ++call == 2 ? 261 : (call == 5 ? 263 : 0); };
    EXPECT_EQ(263, s_ZDTiSCSIDataCollector.Register(&session));
    ASSERT_EQ(6u, session.pdus.size());
    EXPECT_EQ(OidText(EnterpriseOid({169, 1})), OidText(session.pdus[0].subtree));
    EXPECT_EQ(OidText(EnterpriseOid({169, 2, 12})), OidText(session.pdus[5].subtree));
    EXPECT_EQ(127, session.pdus[0].priority);
}

} // namespace
