// The device requests of one SAS collection on a reference server, against the figures recorded
// in collection_requests.md: a change that sends more of any kind fails here.
#include "sas_fabric.h"

#include "datastore.h"
#include "storage_io.h"
#include "zdtsas_collector.h"

#include <cstdio>
#include <map>

using namespace sastest;

namespace {

class SasReferenceServer : public SasFabricTest {
protected:
    std::vector<std::shared_ptr<SimScsiDisk>> disks;
};

TEST_F(SasReferenceServer, RequestsOfOneCollection)
{
    // Adapter 0 (kind 3): four drives on phys 0 to 3, and on the wide port of phys 4 to 7 an
    // expander with sixteen drives and the enclosure that holds them on its virtual phy.
    Adapter a = AddAdapter(0, 3);
    for (uint8_t phy = 0; phy < 4; ++phy) {
        disks.push_back(Disk(("A" + std::to_string(phy)).c_str()));
        a.AttachDrive(phy, 0x10 + phy, disks.back());
        // Each is a disk of the system.
        a.Csmi->ScsiAddresses[0x5000C50000000010ull + phy] = {0, 0, static_cast<uint8_t>(phy + 2), 0};
        sim.AddPhysicalDrive(2 + phy, 0, 0, static_cast<uint8_t>(phy + 2), 0);
    }
    auto expander = Expander(0x100);
    std::vector<uint8_t> config(16 + 4, 0), status(8 + 4 * 17, 0), additional(8, 0);
    config[10] = 1;
    config[11] = 4;
    config[16] = 23;
    config[17] = 16;
    config[3] = static_cast<uint8_t>(config.size() - 4);
    status[3] = static_cast<uint8_t>(status.size() - 4);
    for (uint8_t i = 0; i < 16; ++i) {
        expander->SetPhy(i, 1, 8, Address(0x101 + i).data());
        disks.push_back(Disk(("E" + std::to_string(i)).c_str()));
        a.Behind(4, 0x101 + i, disks.back());
        status[8 + 4 * (i + 1)] = 1;
        std::vector<uint8_t> d(8 + 28, 0);
        d[0] = 0x16;
        d[1] = static_cast<uint8_t>(d.size() - 2);
        d[4] = 1;
        d[7] = static_cast<uint8_t>(i + 1);
        d[8] = 0x10;
        d[11] = 8;
        d[12] = 0x50;
        SimSasAddress(0x101 + i, &d[20]);
        additional.insert(additional.end(), d.begin(), d.end());
    }
    additional[2] = static_cast<uint8_t>((additional.size() - 4) >> 8);
    additional[3] = static_cast<uint8_t>(additional.size() - 4);
    auto ses = Disk("SHELF-SN", "SHELF 16");
    ses->Peripheral = 13;
    ses->Raw[0x1C01] = config;
    ses->Raw[0x1C02] = status;
    ses->Raw[0x1C0A] = additional;
    expander->SetPhy(16, 1, 0, Address(0x180).data(), true);
    a.Behind(4, 0x180, ses);
    a.AttachExpander({4, 5, 6, 7}, expander);

    // Adapter 1 (kind 9): four drives, two of them a RAID 1 set, its volume a disk of the system.
    Adapter b = AddAdapter(1, 9);
    b.Csmi->SetConnectorNames({"1I", "1I", "1I", "1I"});
    for (uint8_t phy = 0; phy < 4; ++phy) {
        disks.push_back(Disk(("B" + std::to_string(phy)).c_str()));
        b.AttachDrive(phy, 0x200 + phy, disks.back());
    }
    b.Csmi->SetRaid(1, 8);
    std::vector<uint8_t> set(36 + 2 * 136, 0);
    set[12] = 2;
    set[15] = 2;
    for (int i = 0; i < 2; ++i) {
        uint8_t *m = &set[36 + 136 * i];
        m[48] = 'B';
        m[49] = static_cast<uint8_t>('0' + i);
        SimSasAddress(0x200 + i, m + 88);
        m[105] = 1;
    }
    b.Csmi->RaidConfigs[0] = set;
    SimInquiryDevice volume;
    volume.TargetId = 1;
    volume.Inquiry = MakeInquiry(0, false, "QZ", "IR Volume", "1.0");
    b.Port->Devices.push_back(volume);
    sim.AddPhysicalDrive(0, 1, 0, 1, 0);
    sim.AddPhysicalDrive(1, 0, 0, 2, 0);

    const size_t attemptsBefore = sim.OpenAttempts();
    const size_t opensBefore = sim.OpenCount();
    const size_t requestsBefore = sim.Requests().size();
    s_ZDTSASDataCollector.ResetForTests();
    DATASTORE staging(false);
    s_ZDTSASDataCollector.Collect(0, &staging);
    ASSERT_EQ(24u, s_ZDTSASDataCollector.PreviousDrives().size());

    std::map<std::string, size_t> byKind;
    std::vector<SimRequest> requests = sim.Requests();
    for (size_t i = requestsBefore; i < requests.size(); ++i) {
        const SimRequest &r = requests[i];
        char kind[32];
        if (r.CsmiCode != 0)
            std::snprintf(kind, sizeof kind, "csmi %u", r.CsmiCode);
        else
            std::snprintf(kind, sizeof kind, "0x%lX", static_cast<unsigned long>(r.Code));
        ++byKind[kind];
    }
    byKind["open"] = sim.OpenCount() - opensBefore;
    byKind["open attempt"] = sim.OpenAttempts() - attemptsBefore;
    const std::map<std::string, size_t> recorded = {
        {"open attempt", 1644}, {"open", 120},     {"0x4100C", 6},  {"0x41018", 108}, {"csmi 2", 24},
        {"csmi 3", 12},         {"csmi 10", 12},   {"csmi 11", 6},  {"csmi 20", 12},  {"csmi 23", 108},
        {"csmi 24", 746},       {"csmi 27", 144},  {"csmi 30", 24}, {"csmi 31", 30},  {"csmi 32", 48},
    };
    for (auto &[kind, n] : byKind) {
        auto limit = recorded.find(kind);
        ASSERT_NE(limit, recorded.end()) << "a request of a kind not recorded: " << kind << " x" << n;
        EXPECT_LE(n, limit->second) << kind;
    }
}

} // namespace
