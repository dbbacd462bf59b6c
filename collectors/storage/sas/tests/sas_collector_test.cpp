// The SAS collector: its two tables from the discovery engine, the drive traps it queues, and
// the group-5 condition that follows every SAS collection.
#include "sas_fabric.h"

#include "datastore.h"
#include "enterprise_arc.h"
#include "host_test_support.h"
#include "service_parameters.h"
#include "traps.h"
#include "zdtsas_collector.h"
#include "zdtscsi_collector.h"

#include <cstring>

using namespace sastest;
using namespace hosttest;

namespace {

SAS_PHYDRV_RECORD Drive(uint32_t index, const char *serial, uint8_t status, uint8_t wear = 1)
{
    SAS_PHYDRV_RECORD r;
    std::memset(&r, 0, sizeof r);
    r.AdapterIndex = 2;
    r.DriveIndex = index;
    r.Status = status;
    r.Condition = SasDriveCondition(status);
    r.WearStatus = wear;
    r.DriveType = 2;
    SasSetText(r.SerialNumber, serial);
    SasSetText(r.Model, "QZ      SIM300");
    SasSetText(r.FirmwareRevision, "A1B2");
    SasSetText(r.LocationName, "Port 1I Device " + std::to_string(index));
    SasSetText(r.AdapterLocation, "Slot 3");
    SasSetText(r.SasAddress, "5000C50000000070");
    return r;
}

SAS_PHYDRV_RECORD OnAdapter(uint32_t adapter, SAS_PHYDRV_RECORD r)
{
    r.AdapterIndex = adapter;
    return r;
}

class SasCollectorTest : public SasFabricTest {
protected:
    void SetUp() override
    {
        SasFabricTest::SetUp();
        s_ZDTSASDataCollector.ResetForTests();
        s_ServiceParameters.EnableTraps = 1;
        ASSERT_TRUE(InitDataStores());
        InitTraps();
    }
    void TearDown() override
    {
        // The staging store goes before the stores are ended: ending them deletes every store
        // still open, and the pointer would delete it a second time.
        staging.reset();
        TermTraps();
        TermDataStores();
        SasFabricTest::TearDown();
    }

    std::vector<RECORDED_PDU> Sent()
    {
        RecordingSession session;
        while (QueuedTrapCount() > 0)
            if (SendOneTrap(&session) != 0)
                break;
        return session.pdus;
    }

    // One collection as the scheduler runs it while no request for group 5 comes: the SCSI
    // collector collects beside this one on the first cycle only. The traps it queued.
    std::vector<RECORDED_PDU> Collect()
    {
        staging = std::make_unique<DATASTORE>(false);
        std::vector<DATACOLLECTOR *> due = {&s_ZDTSASDataCollector};
        if (firstRun)
            due.insert(due.begin(), &s_ZDTSCSIDataCollector);
        for (DATACOLLECTOR *c : due)
            c->StartCollection(firstRun, staging.get());
        for (DATACOLLECTOR *c : due) {
            c->PreCollect(firstRun, staging.get());
            c->Collect(firstRun, staging.get());
        }
        for (DATACOLLECTOR *c : due)
            c->EndCollection(firstRun, staging.get());
        firstRun = 0;
        return Sent();
    }

    // The traps of one change check from prev to next.
    std::vector<RECORDED_PDU> Check(std::vector<SAS_PHYDRV_RECORD> prev, const std::vector<SAS_PHYDRV_RECORD> &next)
    {
        s_ZDTSASDataCollector.ResetForTests();
        s_ZDTSASDataCollector.SavePreviousDrives(prev);
        s_ZDTSASDataCollector.CheckSasTraps(next);
        s_ZDTSASDataCollector.SavePreviousDrives(next);
        return Sent();
    }

    std::unique_ptr<DATASTORE> staging;
    int firstRun = 1;   // the first collection of a test is the service's first cycle
};

std::string Column(uint32_t column, uint32_t h, uint32_t d)
{
    return OidText(EnterpriseOid({5, 5, 2, 1, 1, column, h, d}));
}

TEST_F(SasCollectorTest, TrapsOfTheChangeCheck)
{
    struct Case {
        const char *name;
        std::vector<SAS_PHYDRV_RECORD> prev, next;
        // Trap number, drive index, status carried (-1: none), condition carried (a vanished
        // drive's trap keeps the condition it had), adapter index.
        struct Trap {
            uint32_t number, drive;
            int status, condition;
            uint32_t adapter = 2;
        };
        std::vector<Trap> traps;
    } cases[] = {
        {"first collection", {}, {Drive(1, "A", 2), Drive(2, "B", 3)}, {}},
        {"unchanged", {Drive(1, "A", 2)}, {Drive(1, "A", 2)}, {}},
        {"status 2 to 3", {Drive(1, "A", 2)}, {Drive(1, "A", 3)}, {{5022, 1, 3, 3}}},
        {"wear only", {Drive(1, "A", 2, 2)}, {Drive(1, "A", 2, 3)}, {{5026, 1, -1, 2}}},
        {"status and wear: one trap", {Drive(1, "A", 2, 2)}, {Drive(1, "A", 3, 3)}, {{5022, 1, 3, 3}}},
        {"case does not matter", {Drive(1, "abc", 2)}, {Drive(1, "ABC", 2)}, {}},
        {"the serial, not the row, is the drive", {Drive(1, "A", 2)}, {Drive(4, "a", 3)}, {{5022, 4, 3, 3}}},
        {"added", {Drive(1, "A", 2)}, {Drive(1, "A", 2), Drive(2, "B", 2)}, {{5022, 2, 2, 2}}},
        {"status 10 vanishes", {Drive(1, "A", 2), Drive(2, "B", 10)}, {Drive(1, "A", 2)}, {{5022, 2, 11, 3}}},
        {"status 12 vanishes", {Drive(1, "A", 2), Drive(2, "B", 12)}, {Drive(1, "A", 2)}, {{5022, 2, 13, 3}}},
        // A drive without a serial number is the drive of its row.
        {"no serial: status change", {Drive(1, "", 2), Drive(2, "B", 2)}, {Drive(1, "", 3), Drive(2, "B", 2)},
         {{5022, 1, 3, 3}}},
        {"no serial: wear change", {Drive(1, "", 2, 2)}, {Drive(1, "", 2, 3)}, {{5026, 1, -1, 2}}},
        {"no serial: two drives stay two", {Drive(1, "", 2), Drive(2, "", 3)}, {Drive(1, "", 2), Drive(2, "", 3)}, {}},
        {"no serial: added", {Drive(1, "A", 2)}, {Drive(1, "A", 2), Drive(3, "", 2)}, {{5022, 3, 2, 2}}},
        {"no serial: vanished", {Drive(1, "A", 2), Drive(3, "", 4)}, {Drive(1, "A", 2)}, {{5022, 3, 8, 4}}},
        {"no serial: another row is another drive", {Drive(1, "A", 2), Drive(2, "", 2)},
         {Drive(1, "A", 2), Drive(3, "", 2)}, {{5022, 3, 2, 2}, {5022, 2, 6, 2}}},
        {"a serial read at last is another drive", {Drive(1, "A", 2), Drive(2, "", 2)},
         {Drive(1, "A", 2), Drive(2, "B", 2)}, {{5022, 2, 2, 2}, {5022, 2, 6, 2}}},
        // Every adapter numbers its drives from 1: the adapter is part of the key.
        {"no serial: the same index on another adapter is another drive",
         {Drive(1, "", 3), OnAdapter(3, Drive(1, "", 2))},
         {Drive(1, "", 3), OnAdapter(3, Drive(1, "", 3))},
         {{5022, 1, 3, 3, 3}}},
        {"no serial: vanished while its index stays on another adapter",
         {Drive(1, "", 2), OnAdapter(3, Drive(1, "", 2))},
         {Drive(1, "", 2)},
         {{5022, 1, 6, 2, 3}}},
    };
    for (const Case &c : cases) {
        std::vector<RECORDED_PDU> pdus = Check(c.prev, c.next);
        ASSERT_EQ(c.traps.size(), pdus.size()) << c.name;
        for (size_t i = 0; i < pdus.size(); ++i) {
            const auto &v = pdus[i].varbinds;
            const auto &want = c.traps[i];
            const uint32_t trap = want.number;
            EXPECT_EQ(OidText(EnterpriseOid({0, trap})), OidText(v[0].oid)) << c.name;
            ASSERT_EQ(13u, v.size()) << c.name;   // snmpTrapOID and twelve
            const bool status = trap == 5022;
            // Which drive: its adapter and index from columns 1 and 2.
            const uint32_t h = static_cast<uint32_t>(v[5].integer);
            const uint32_t d = static_cast<uint32_t>(v[6].integer);
            EXPECT_EQ(want.adapter, h) << c.name;
            EXPECT_EQ(want.drive, d) << c.name;
            std::vector<std::string> names = {".1.3.6.1.2.1.1.5.0", OidText(EnterpriseOid({11, 2, 11, 1, 0})),
                                              OidText(EnterpriseOid({5, 5, 1, 1, 1, 2, h})), Column(3, h, d),
                                              Column(1, h, d), Column(2, h, d)};
            if (status)
                names.push_back(Column(5, h, d));
            for (uint32_t col : {16u, 4u, 7u, 10u, 17u})
                names.push_back(Column(col, h, d));
            if (!status)
                names.push_back(Column(19, h, d));
            for (size_t k = 0; k < names.size(); ++k)
                EXPECT_EQ(names[k], OidText(v[k + 1].name)) << c.name << " varbind " << k + 1;
            EXPECT_EQ("Slot 3", v[3].text) << c.name;
            EXPECT_EQ(want.condition << 2, v[2].integer) << c.name;
            if (status) {
                EXPECT_EQ(want.status, v[7].integer) << c.name;
            }
        }
    }
}

TEST_F(SasCollectorTest, AVanishedDriveIsReportedWithTheVanishedFormOfItsStatus)
{
    // The five statuses with a vanished form of their own; every other value of the byte, the
    // lost forms and the carrier fault among them, is reported as 13.
    const struct {
        uint8_t status, vanished;
    } ownForms[] = {{2, 6}, {3, 7}, {4, 8}, {5, 9}, {10, 11}};
    for (int status = 0; status <= 255; ++status) {
        int vanished = 13;
        for (const auto &f : ownForms)
            if (f.status == status)
                vanished = f.vanished;
        std::vector<RECORDED_PDU> pdus =
            Check({Drive(1, "STAYS", 2), Drive(7, "GONE", static_cast<uint8_t>(status))}, {Drive(1, "STAYS", 2)});
        ASSERT_EQ(1u, pdus.size()) << status;
        const auto &v = pdus[0].varbinds;
        ASSERT_EQ(13u, v.size()) << status;
        EXPECT_EQ(OidText(EnterpriseOid({0, 5022})), OidText(v[0].oid)) << status;
        EXPECT_EQ("GONE", v[11].text) << status;
        EXPECT_EQ(Column(5, 2, 7), OidText(v[7].name)) << status;
        EXPECT_EQ(vanished, v[7].integer) << status;
    }
}

TEST_F(SasCollectorTest, CollectionsOverAFabric)
{
    Adapter a = AddAdapter(3, 3);
    auto disk = Disk("S1");
    a.AttachDrive(0, 0x70, disk);
    a.AttachDrive(1, 0x71, Disk("S2"));
    EXPECT_TRUE(Collect().empty());
    ASSERT_EQ(2u, s_ZDTSASDataCollector.PreviousDrives().size());
    // The first cycle publishes group 5's revision.
    EXPECT_EQ(std::optional<int32_t>(1), IntAt(staging.get(), EnterpriseOid({5, 1, 1, 0})));
    EXPECT_EQ(std::optional<int32_t>(43), IntAt(staging.get(), EnterpriseOid({5, 1, 2, 0})));
    EXPECT_EQ(std::optional<std::string>("Slot 0"), TextAt(staging.get(), EnterpriseOid({5, 5, 1, 1, 1, 2, 3})));
    EXPECT_EQ(std::optional<int32_t>(3), IntAt(staging.get(), EnterpriseOid({5, 5, 1, 1, 1, 3, 3})));
    EXPECT_EQ(std::optional<std::string>("S2"), TextAt(staging.get(), EnterpriseOid({5, 5, 2, 1, 1, 10, 3, 2})));
    EXPECT_EQ(std::optional<std::string>("Port 2I Device 1"),
              TextAt(staging.get(), EnterpriseOid({5, 5, 2, 1, 1, 3, 3, 2})));
    EXPECT_EQ(std::optional<int32_t>(1024), IntAt(staging.get(), EnterpriseOid({5, 5, 2, 1, 1, 8, 3, 1})));
    EXPECT_EQ(2, s_ZDTSASDataCollector.Condition());
    EXPECT_EQ(std::optional<int32_t>(2), IntAt(staging.get(), EnterpriseOid({5, 1, 3, 0})));

    disk->IeCode = 0x5D;   // failure predicted: 2 to 3
    std::vector<RECORDED_PDU> pdus = Collect();
    ASSERT_EQ(1u, pdus.size());
    EXPECT_EQ(OidText(EnterpriseOid({0, 5022})), OidText(pdus[0].varbinds[0].oid));
    EXPECT_EQ(3, pdus[0].varbinds[7].integer);
    // The SAS collection raises group 5's condition; the group's condition object is the SCSI
    // collector's to publish (sas_group5_test.cpp follows it over the scheduler's cycles).
    EXPECT_EQ(3, s_ZDTSCSIDataCollector.Condition());
    EXPECT_EQ(3, s_ZDTSASDataCollector.Condition());
    EXPECT_EQ(std::nullopt, IntAt(staging.get(), EnterpriseOid({5, 1, 3, 0})));

    disk->IeCode = 0;
    EXPECT_EQ(1u, Collect().size());
    EXPECT_EQ(2, s_ZDTSASDataCollector.Condition());

    // The adapter goes away: both tables empty, but with no drive at all nothing is sent and the
    // drives are remembered as they were.
    sim.AddFault({SimFault::Kind::OpenError, "\\\\.\\Scsi3:", 0, 0, -1, ERROR_FILE_NOT_FOUND});
    EXPECT_TRUE(Collect().empty());
    EXPECT_EQ(std::nullopt, TextAt(staging.get(), EnterpriseOid({5, 5, 2, 1, 1, 10, 3, 2})));
    EXPECT_EQ(std::nullopt, TextAt(staging.get(), EnterpriseOid({5, 5, 1, 1, 1, 2, 3})));
    ASSERT_EQ(2u, s_ZDTSASDataCollector.PreviousDrives().size());
    EXPECT_EQ(2, s_ZDTSASDataCollector.PreviousDrives()[0].Status);

    // It comes back: the drive that is as it was sends nothing, the one that changed meanwhile
    // sends its new status.
    sim.ClearFaults();
    disk->IeCode = 0x5D;
    pdus = Collect();
    ASSERT_EQ(1u, pdus.size());
    EXPECT_EQ(3, pdus[0].varbinds[7].integer);
    EXPECT_EQ("S1", pdus[0].varbinds[11].text);
    EXPECT_EQ(std::optional<std::string>("S2"), TextAt(staging.get(), EnterpriseOid({5, 5, 2, 1, 1, 10, 3, 2})));
}

TEST_F(SasCollectorTest, FailedDiscoveryKeepsThePreviousDrivesAndSendsNothing)
{
    Adapter a = AddAdapter(0, 3);
    a.AttachDrive(0, 0x70, Disk("F1"));
    a.AttachDrive(1, 0x71, Disk("F2"));
    EXPECT_TRUE(Collect().empty());
    // A new adapter appears while nothing can be allocated: every export fails.
    Adapter b = AddAdapter(1, 3);
    SasFailAllocationsForTest(true);
    std::vector<RECORDED_PDU> pdus = Collect();
    SasFailAllocationsForTest(false);
    EXPECT_TRUE(pdus.empty());
    EXPECT_EQ(2u, s_ZDTSASDataCollector.PreviousDrives().size());
    EXPECT_EQ(std::nullopt, TextAt(staging.get(), EnterpriseOid({5, 5, 2, 1, 1, 10, 0, 1})));
    // Once discovery works again the same drives send nothing.
    EXPECT_TRUE(Collect().empty());
    EXPECT_EQ(std::optional<std::string>("F1"), TextAt(staging.get(), EnterpriseOid({5, 5, 2, 1, 1, 10, 0, 1})));
}

TEST_F(SasCollectorTest, RegistersItsRegions)
{
    RecordingSession session;
    EXPECT_EQ(0, s_ZDTSASDataCollector.Register(&session));
    EXPECT_EQ(0, s_ZDTSCSIDataCollector.Register(&session));
    ASSERT_EQ(2u, session.pdus.size());
    EXPECT_EQ(OidText(EnterpriseOid({5, 5})), OidText(session.pdus[0].subtree));
    EXPECT_EQ(OidText(EnterpriseOid({5, 1})), OidText(session.pdus[1].subtree));
    EXPECT_EQ(127, session.pdus[0].priority);
}

} // namespace
