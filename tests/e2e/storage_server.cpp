#include "storage_server.h"

#include "fc_test_support.h"
#include "iscsi_cowmi.h"
#include "ide_layer.h"
#include "iscsi_fixture.h"
#include "sas_fabric.h"
#include "sim_ata_disk.h"
#include "sim_sas_devices.h"
#include "sim_xide_raid.h"
#include "storagesim.h"
#include "wmi_fakes.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kIdeEmbeddedSata = 0x2826;   // the CSMI SATA controller's board id
constexpr uint32_t kFcBoard = 0x32621D5A;
constexpr uint64_t kFcNode[2] = {0x200000109B11AA01ull, 0x200000109B11BB01ull};
constexpr uint64_t kFcPort[2] = {0x100000109B11AA01ull, 0x100000109B11BB01ull};
const wchar_t kIscsiInstance[] = L"ROOT\\ISCSIPRT\\0000_0";

// Every ATA disk of the server, also those behind a controller that the simulator does not hold
// itself: their command records are dropped after each cycle's report.
std::vector<std::weak_ptr<SimAtaDisk>> s_AtaDisks;

std::shared_ptr<SimAtaDisk> AtaDisk(const char *model, const char *serial, bool sata)
{
    auto disk = std::make_shared<SimAtaDisk>();
    s_AtaDisks.push_back(disk);
    disk->SetIdentity(model, serial, "F1", 1953525168);
    if (sata)
        disk->SetWord(76, 0x0006);
    return disk;
}

// The maker's wear log of a SAS solid-state drive: power-on hours, endurance used (in hundredths
// of a percent) and the log's version.
std::vector<uint8_t> SasWearLog(uint16_t hours, uint16_t used)
{
    std::vector<uint8_t> log(512, 0);
    log[18] = static_cast<uint8_t>(hours >> 8);
    log[19] = static_cast<uint8_t>(hours);
    log[26] = static_cast<uint8_t>(used >> 8);
    log[27] = static_cast<uint8_t>(used);
    std::memcpy(&log[64], "QZ03", 4);
    return log;
}

// A RAID configuration reply of one set over drives whose names (serials) and SAS addresses are
// given: RAID level byte, member count, then 136 bytes a member.
std::vector<uint8_t> RaidSet(uint8_t level, const std::vector<std::pair<std::string, uint64_t>> &members)
{
    std::vector<uint8_t> set(36 + members.size() * 136, 0);
    set[12] = level;
    set[15] = static_cast<uint8_t>(members.size());
    for (size_t i = 0; i < members.size(); ++i) {
        uint8_t *m = &set[36 + 136 * i];
        std::memcpy(m + 48, members[i].first.data(), members[i].first.size());
        if (members[i].second != 0)
            SimSasAddress(members[i].second, m + 88);
        m[105] = 1;
    }
    return set;
}

// The fabric tests' helper that makes an accepted adapter behind a port.
struct SasAdapters : sastest::SasFabricTest {
    using SasFabricTest::AdapterOn;
};

class Server {
public:
    StorageSim Sim;
    sastest::Adapter Sas0, Sas1;
    std::shared_ptr<SimScsiDisk> ExpanderDrive1, SolidState;
    std::vector<std::shared_ptr<SimAtaDisk>> CsmiDisks;   // their STP targets point at them
    HMODULE Library = nullptr;
    PFN_HbaFixtureSetScenario SetScenario = nullptr;
    FakeServices *Services = nullptr;
    FakeLocator *Locator = nullptr;
    size_t RequestsSeen = 0, OpensSeen = 0, AttemptsSeen = 0;

    void BuildSas()
    {
        using namespace sastest;
        // Adapter 0 (kind 3): SAS drives on phys 0 and 1, each a disk of the system, a SATA drive
        // on phy 2, and on the wide port of phys 4 to 7 an expander with four drives and their
        // enclosure on its virtual phy.
        Sas0 = SasAdapters::AdapterOn(Sim, 0, 3);
        for (uint8_t phy = 0; phy < 2; ++phy) {
            Sas0.AttachDrive(phy, 0x10 + phy, Disk(("SASA" + std::to_string(phy)).c_str()));
            Sas0.Csmi->ScsiAddresses[0x5000C50000000010ull + phy] = {0, 0, static_cast<uint8_t>(phy + 2), 0};
            Sim.AddPhysicalDrive(phy, 0, 0, static_cast<uint8_t>(phy + 2), 0);
        }
        auto sata = std::make_shared<SimSataBehindSas>(AtaDisk("QZ SATA DISK", "SATAA2", true));
        Sas0.AttachDrive(2, 0x12, sata, 1);

        constexpr uint8_t kBays = 4;
        auto expander = Expander(0x100);
        std::vector<uint8_t> config(16 + 4, 0), status(8 + 4 * (kBays + 1), 0), additional(8, 0);
        config[10] = 1;
        config[11] = 4;
        config[16] = 23;
        config[17] = kBays;
        config[3] = static_cast<uint8_t>(config.size() - 4);
        status[3] = static_cast<uint8_t>(status.size() - 4);
        for (uint8_t i = 0; i < kBays; ++i) {
            expander->SetPhy(i, 1, 8, Address(0x101 + i).data());
            auto drive = Disk(("SASE" + std::to_string(i)).c_str());
            if (i == 1)
                ExpanderDrive1 = drive;
            Sas0.Behind(4, 0x101 + i, drive);
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
        auto ses = Disk("SHELF-SN", "SHELF 4");
        ses->Peripheral = 13;
        ses->Raw[0x1C01] = config;
        ses->Raw[0x1C02] = status;
        ses->Raw[0x1C0A] = additional;
        expander->SetPhy(kBays, 1, 0, Address(0x180).data(), true);
        Sas0.Behind(4, 0x180, ses);
        Sas0.AttachExpander({4, 5, 6, 7}, expander);

        // Adapter 1 (kind 9): a RAID 1 set of the drives on phys 0 and 1, its volume a disk of the
        // system, and a solid-state drive with the wear log on phy 2.
        Sas1 = SasAdapters::AdapterOn(Sim, 1, 9);
        Sas1.Csmi->SetConnectorNames({"1I", "1I", "1I", "1I"});
        for (uint8_t phy = 0; phy < 2; ++phy)
            Sas1.AttachDrive(phy, 0x200 + phy, Disk(("SASB" + std::to_string(phy)).c_str()));
        SolidState = Disk("SASSSD2", "SIM400 SSD");
        SolidState->Rpm = 1;
        SolidState->LogPages = {0x00, 0x0D, 0x11, 0x2F, 0x36};
        SolidState->WearLog = SasWearLog(10000, 2500);
        Sas1.AttachDrive(2, 0x202, SolidState);
        Sas1.Csmi->SetRaid(1, 8);
        Sas1.Csmi->RaidConfigs[0] = RaidSet(2, {{"SASB0", 0x200}, {"SASB1", 0x201}});
        SimInquiryDevice volume;
        volume.TargetId = 1;
        volume.Inquiry = MakeInquiry(0, false, "QZ", "IR Volume", "1.0");
        Sas1.Port->Devices.push_back(volume);
        Sim.AddPhysicalDrive(2, 1, 0, 1, 0);
    }

    void BuildIde()
    {
        // A SATA controller known by its bus type, with a solid-state disk that lists the wear log.
        Sim.AddScsiPort(2, "storahci")->BusType = 11;
        auto ssd = AtaDisk("QZ SSD", "IDESSD0", true);
        ssd->SetWord(217, 1);
        std::vector<uint8_t> directory(512, 0);
        directory[0] = 1, directory[2 * 0xB6] = 1;
        ssd->Logs[{0, 0}] = directory;
        std::vector<uint8_t> wear(512, 0);
        std::memcpy(&wear[64], "QZ03", 4);
        ssd->Logs[{0xB6, 0}] = wear;
        Sim.AddPhysicalDrive(10, 2, 0, 0, 0)->Disk = ssd;

        // A CSMI SATA controller with two disks in a RAID 1 set.
        auto port = Sim.AddScsiPort(3, "iaStorE");
        port->Csmi = std::make_shared<SimCsmiController>();
        port->Csmi->SetConfig(kIdeEmbeddedSata, 3, 0, 31, 2, "CSMISN", {1, 0, 0, 0}, {0, 0, 0, 0});
        port->Csmi->SetStatus(1);
        std::vector<SimCsmiController::Phy> phys(2);
        for (uint8_t i = 0; i < 2; ++i) {
            phys[i].PhyIdentifier = i;
            phys[i].AttachedDeviceType = 0x10;
            phys[i].AttachedSasAddress[7] = static_cast<uint8_t>(i + 1);
            CsmiDisks.push_back(AtaDisk("QZ DISK", ("IDECS" + std::to_string(i)).c_str(), true));
            port->Csmi->Attach(i, phys[i].AttachedSasAddress, CsmiDisks.back()->StpTarget());
        }
        port->Csmi->SetPhys(phys);
        port->Csmi->SetRaid(1, 2);
        port->Csmi->RaidConfigs[0] = RaidSet(1, {{"IDECS0", 0}, {"IDECS1", 0}});
        Sim.AddPhysicalDrive(11, 3, 0, 0, 0);
    }

    bool BuildFc(const std::wstring &path)
    {
        Library = LoadLibraryW(path.c_str());
        if (Library == nullptr)
            return false;
        SetScenario = reinterpret_cast<PFN_HbaFixtureSetScenario>(
            reinterpret_cast<void *>(GetProcAddress(Library, "HbaFixtureSetScenario")));
        if (SetScenario == nullptr)
            return false;
        for (unsigned i = 0; i < 2; ++i) {
            auto device = std::make_shared<SimFcPort>();
            const uint8_t bus = static_cast<uint8_t>(5 + i);
            device->Slot = SimFcPort::SlotData{kFcBoard, 3, bus, 0, 0};
            Sim.AddDevice("\\\\.\\Scsi" + std::to_string(4 + i) + ":", device);
            SimPciDevice node;
            node.DeviceId = "PCI\\VEN_1D5A&DEV_0714&SUBSYS_32621D5A&REV_01\\4&" + std::to_string(bus) + "&0";
            node.Location = "PCI bus " + std::to_string(bus) + ", device 0, function 0";
            node.UiNumber = 1203 + i;
            Sim.AddPciDevice(node);
        }
        SetFcPorts(HBA_PORTSTATE_ONLINE);
        return true;
    }

    void SetFcPorts(uint32_t secondPortState)
    {
        using namespace fctest;
        std::vector<HBA_FIXTURE_ADAPTER> adapters;
        for (unsigned i = 0; i < 2; ++i) {
            AdapterSpec spec{"fc-" + std::to_string(i), kFcNode[i]};
            spec.Serial = "FCSN000" + std::to_string(i);
            spec.Ports = {Port(kFcNode[i], kFcPort[i], i == 1 ? secondPortState : HBA_PORTSTATE_ONLINE,
                               ("\\\\.\\Scsi" + std::to_string(4 + i) + ":").c_str())};
            adapters.push_back(Adapter(spec));
        }
        const HBA_FIXTURE_SCENARIO scenario = Scenario(adapters);
        SetScenario(&scenario);
    }

    void BuildIscsi()
    {
        Services = new FakeServices();
        // Classes the scenario does not hold are answered as Wine answers them: empty.
        Services->SetAbsentAsEmpty(true);
        Locator = new FakeLocator(Services);
        CoWMISetLocatorForTests(Locator);
        using namespace iscsitest;
        Services->SetClass(L"MSiSCSI_HBAInformation", {Hba(kIscsiInstance, L"Software Initiator")});
        Services->SetClass(L"MSiSCSI_PortalInfoClass",
                           {Holder(kIscsiInstance, L"PortalInfoCount", L"PortalInformation",
                                   {Portal(0, 0, Ipv4Address(0x050AA8C0))})});
        // The initiator has seen failed logins and failed sessions, and boots with header digests.
        Services->SetClass(L"MSiSCSI_InitiatorLoginStatistics",
                           {LoginStatistics(kIscsiInstance, {3, 6, 2, 7, 4, 9, 17, 5})});
        Services->SetClass(L"MSiSCSI_InitiatorInstanceStatistics", {InstanceStatistics(kIscsiInstance, 2, 5, 6, 8)});
        Services->SetClass(L"MSiSCSI_BootConfiguration", {BootConfiguration(kIscsiInstance, 1, 0)});
        SetSessions(2);
    }

    void SetSessions(int count)
    {
        using namespace iscsitest;
        std::vector<ComPtr<IWbemClassObject>> sessions;
        for (int i = 0; i < count; ++i) {
            const std::wstring target = L"iqn.2026-12.com.example:store" + std::to_wstring(i);
            sessions.push_back(Session(target.c_str(), {0x40, 0, 0, 0x23, 0, static_cast<uint8_t>(i + 1)},
                                       static_cast<uint16_t>(0x100 + i),
                                       {Connection(1, Ipv4Address(0x010AA8C0), Ipv4Address(0x050AA8C0))}));
        }
        Services->SetClass(L"MSiSCSI_InitiatorSessionInfo",
                           {Holder(kIscsiInstance, L"SessionCount", L"SessionsList", sessions)});
    }
};

Server *s_Server = nullptr;

} // namespace

bool InstallStorageServer(const std::wstring &library)
{
    static Server server;
    s_Server = &server;
    server.BuildSas();
    server.BuildIde();
    server.BuildIscsi();
    SetStoragePlatformForTest(&server.Sim);
    // The IDE device layer started with the program, on the system's own calls; it starts again
    // as a process that starts on this server does.
    IdeRestartForTest();
    return server.BuildFc(library);
}

void StorageServerBeforeCycle(int cycle)
{
    Server &s = *s_Server;
    s.RequestsSeen = s.Sim.Requests().size();
    s.OpensSeen = s.Sim.OpenCount();
    s.AttemptsSeen = s.Sim.OpenAttempts();
    if (cycle == 2) {
        s.ExpanderDrive1->IeCode = 0x5D;   // failure predicted
        s.SetFcPorts(HBA_PORTSTATE_LINKDOWN);
    } else if (cycle == 3) {
        s.Sas0.Detach(1);
        s.SolidState->WearLog = SasWearLog(1000, 9500);
        s.SetSessions(3);
    }
}

void StorageServerAfterCycle(FILE *report)
{
    Server &s = *s_Server;
    std::map<std::string, size_t> byKind;
    const std::vector<SimRequest> requests = s.Sim.Requests();
    for (size_t i = s.RequestsSeen; i < requests.size(); ++i) {
        const SimRequest &r = requests[i];
        char kind[32];
        if (r.CsmiCode != 0)
            std::snprintf(kind, sizeof kind, "csmi-%u", r.CsmiCode);
        else
            std::snprintf(kind, sizeof kind, "0x%lX", static_cast<unsigned long>(r.Code));
        ++byKind[kind];
    }
    byKind["open"] = s.Sim.OpenCount() - s.OpensSeen;
    byKind["open-attempt"] = s.Sim.OpenAttempts() - s.AttemptsSeen;
    for (const auto &[kind, count] : byKind)
        std::fprintf(report, "requests %s %zu\n", kind.c_str(), count);
    std::multiset<std::string> open;
    for (const std::string &path : s.Sim.OpenHandles())
        open.insert(path);
    for (const std::string &path : open)
        std::fprintf(report, "open %s\n", path.c_str());
    std::fprintf(report, "double-closes %zu\nunknown-handles %zu\n", s.Sim.DoubleCloses(), s.Sim.UnknownHandleUses());
    // The cycle is reported: a run of many cycles keeps no record of its requests and closed
    // handles (the benchmark reads this process's memory over a hundred cycles).
    s.Sim.ForgetHistory();
    for (const std::weak_ptr<SimAtaDisk> &weak : s_AtaDisks)
        if (const std::shared_ptr<SimAtaDisk> disk = weak.lock())
            disk->Commands.clear();
}
