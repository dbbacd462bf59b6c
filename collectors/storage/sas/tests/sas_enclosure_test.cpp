// Enclosures and tape devices on the SAS fabric: box records and their names, the states read
// from the enclosure pages, drives in bays, and what happens when they leave.
#include "sas_fabric.h"

#include <cstring>

using namespace sastest;

namespace {

struct Element {
    uint8_t type;
    std::vector<uint8_t> codes;   // overall element first
};

std::vector<uint8_t> ConfigPage(const std::vector<Element> &elements)
{
    std::vector<uint8_t> page(16 + 4 * elements.size(), 0);
    page[0] = 1;
    page[10] = static_cast<uint8_t>(elements.size());
    page[11] = 4;
    for (size_t i = 0; i < elements.size(); ++i) {
        page[16 + 4 * i] = elements[i].type;
        page[17 + 4 * i] = static_cast<uint8_t>(elements[i].codes.size() - 1);
    }
    page[3] = static_cast<uint8_t>(page.size() - 4);
    return page;
}

std::vector<uint8_t> StatusPage(const std::vector<Element> &elements)
{
    std::vector<uint8_t> page(8, 0);
    page[0] = 2;
    for (const Element &e : elements)
        for (uint8_t code : e.codes) {
            page.push_back(code);
            page.insert(page.end(), 3, 0);
        }
    page[2] = static_cast<uint8_t>((page.size() - 4) >> 8);
    page[3] = static_cast<uint8_t>(page.size() - 4);
    return page;
}

// Additional element status: one descriptor (with its bay number) per device address.
std::vector<uint8_t> AdditionalPage(const std::vector<std::pair<uint8_t, uint64_t>> &bays)
{
    std::vector<uint8_t> page(8, 0);
    page[0] = 10;
    for (auto [bay, address] : bays) {
        std::vector<uint8_t> d(8 + 28, 0);
        d[0] = 0x16;
        d[1] = static_cast<uint8_t>(d.size() - 2);
        d[4] = 1;
        d[7] = bay;
        d[8] = 0x10;
        d[11] = 8;
        d[8 + 4] = 0x50;   // the initiator's address: not zero
        SimSasAddress(address, &d[8 + 12]);
        page.insert(page.end(), d.begin(), d.end());
    }
    page[2] = static_cast<uint8_t>((page.size() - 4) >> 8);
    page[3] = static_cast<uint8_t>(page.size() - 4);
    return page;
}

std::shared_ptr<SimScsiDisk> Enclosure(const char *product, const char *serial, const std::vector<Element> &elements,
                                       const std::vector<std::pair<uint8_t, uint64_t>> &bays, bool bayStatus = false)
{
    auto ses = std::make_shared<SimScsiDisk>();
    ses->SetIdentity("QZ", product, "0102", serial);
    ses->Peripheral = 13;
    if (bayStatus)
        ses->Inquiry[54] = 0x04;
    ses->Raw[0x1C01] = ConfigPage(elements);
    ses->Raw[0x1C02] = StatusPage(elements);
    ses->Raw[0x1C0A] = AdditionalPage(bays);
    return ses;
}

class SasEnclosureTest : public SasFabricTest {
protected:
    // An expander on adapter phys 4 to 7 with drives on its phys 0 to n-1 and its enclosure on
    // the virtual phy after them.
    std::shared_ptr<SimSmpExpander> Shelf(Adapter &a, uint64_t base, std::shared_ptr<SimScsiDisk> ses,
                                          std::vector<std::shared_ptr<SimScsiDisk>> disks, uint8_t adapterPhy = 4)
    {
        auto expander = Expander(base);
        for (size_t i = 0; i < disks.size(); ++i) {
            expander->SetPhy(i, 1, 8, Address(base + 1 + i).data());
            a.Behind(adapterPhy, base + 1 + i, disks[i]);
        }
        expander->SetPhy(disks.size(), 1, 0, Address(base + 0x80).data(), true);
        a.Behind(adapterPhy, base + 0x80, ses);
        a.AttachExpander({adapterPhy}, expander);
        return expander;
    }
    std::vector<STORAGE_BOX_VALUE> Boxes()
    {
        std::vector<STORAGE_BOX_VALUE> out;
        for (SAS_HBA_NODE *hba = s_SasDiscovery.First; hba != nullptr; hba = hba->Next)
            for (SAS_BOX_NODE *box = hba->Boxes; box != nullptr; box = box->Next)
                out.push_back(box->Box.Value);
        return out;
    }
};

TEST_F(SasEnclosureTest, EnclosureBehindAnExpanderWithDrivesInItsBays)
{
    Adapter a = AddAdapter(0, 3);
    auto ses = Enclosure("SHELF 12", "ENC-SN-1", {{2, {0, 1, 2}}, {4, {0, 1}}, {23, {0, 1, 1}}},
                         {{5, 0x101}, {6, 0x102}});
    Shelf(a, 0x100, ses, {Disk("B5"), Disk("B6")});
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(2u, drives.size());
    std::vector<STORAGE_BOX_VALUE> boxes = Boxes();
    ASSERT_EQ(1u, boxes.size());
    const STORAGE_BOX_VALUE &v = boxes[0];
    EXPECT_EQ("Port 1I Box 1", std::string(v.BoxName));
    EXPECT_EQ("QZ", std::string(v.VendorId));
    EXPECT_EQ("SHELF 12", std::string(v.ProductId));
    EXPECT_EQ("0102", std::string(v.ProductRevision));
    EXPECT_EQ("ENC-SN-1", std::string(v.SerialNumber));
    EXPECT_EQ(2, v.BayCount);
    EXPECT_EQ(3, v.PowerSupplyStatus);      // one failed supply of two
    EXPECT_EQ(3, v.PowerSupplyCondition);
    EXPECT_EQ(4, v.FanStatus);              // no fans
    EXPECT_EQ(2, v.FanCondition);
    EXPECT_EQ(2, v.TemperatureStatus);
    EXPECT_EQ(3, v.Condition);
    EXPECT_EQ(2, v.Presence);
    EXPECT_EQ(1, v.BoxNumber);
    EXPECT_EQ("Port 1I Box 1 Bay 5", std::string(drives[0].LocationName));
    EXPECT_EQ("Port 1I Box 1 Bay 6", std::string(drives[1].LocationName));
    EXPECT_EQ("SHELF 12", std::string(drives[0].EnclosureProduct));
    EXPECT_EQ("ENC-SN-1", std::string(drives[1].EnclosureSerial));
    EXPECT_EQ(3, s_SasDiscovery.First->Record.OverallCondition);
    // The published box value is the record.
    std::vector<uint8_t> value(1024);
    DWORD size = static_cast<DWORD>(value.size());
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage\\StorageSystem\\Box", "Box000",
                                          RRF_RT_REG_BINARY, nullptr, value.data(), &size));
    ASSERT_EQ(sizeof(STORAGE_BOX_VALUE), size);
    EXPECT_EQ(0, std::memcmp(value.data(), &v, size));
}

TEST_F(SasEnclosureTest, TwoEnclosuresOnOnePortAndTheirDrives)
{
    Adapter a = AddAdapter(0, 3);
    auto first = Enclosure("SHELF A", "A-SN", {}, {{1, 0x101}});
    auto second = Enclosure("SHELF B", "B-SN", {}, {{1, 0x201}});
    Shelf(a, 0x100, first, {Disk("A1")}, 4);
    Shelf(a, 0x200, second, {Disk("B1")}, 5);
    a.AttachDrive(0, 0x70, Disk("LOOSE"));
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    std::vector<STORAGE_BOX_VALUE> boxes = Boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("Port 1I Box 1", std::string(boxes[0].BoxName));
    EXPECT_EQ("Port 1I Box 2", std::string(boxes[1].BoxName));
    ASSERT_EQ(3u, drives.size());
    EXPECT_EQ("", std::string(drives[0].EnclosureProduct));   // in no enclosure
    EXPECT_EQ("SHELF A", std::string(drives[1].EnclosureProduct));
    EXPECT_EQ("SHELF B", std::string(drives[2].EnclosureProduct));
    EXPECT_EQ("Port 1I Box 2 Bay 1", std::string(drives[2].LocationName));
    EXPECT_EQ(2, StorageBoxList.Count);
}

TEST_F(SasEnclosureTest, VanishingByKind)
{
    struct {
        uint8_t kind;
        const char *name;
        bool keptOnce;
    } cases[] = {{2, "Index 1 Box 1", false}, {3, "Port 1I Box 1", false}, {9, "Port 1I Box 1", true}};
    for (const auto &c : cases) {
        SetUp();
        StorageSim local;
        StorageSimScope inner(local);
        Adapter a = AdapterOn(local, 0, c.kind);
        a.Csmi->SetConnectorNames({"1I", "1I", "1I", "1I", "1I", "1I", "1I", "1I"});
        auto expander = Shelf(a, 0x100, Enclosure("SHELF", "S", {{3, {0, 1}}}, {}), {Disk("D")});
        Drives();
        std::vector<STORAGE_BOX_VALUE> boxes = Boxes();
        ASSERT_EQ(1u, boxes.size()) << int(c.kind);
        EXPECT_EQ(c.name, std::string(boxes[0].BoxName)) << int(c.kind);
        EXPECT_EQ(c.keptOnce ? 3 : 2, boxes[0].Presence) << int(c.kind);
        ASSERT_EQ(1, StorageBoxList.Count);
        expander->Phys[1].AttachedType = 0;   // the enclosure's phy goes away
        Drives();
        if (c.keptOnce) {
            ASSERT_EQ(1u, Boxes().size()) << int(c.kind);
            EXPECT_EQ(4, Boxes()[0].Presence);
            EXPECT_EQ(4, Boxes()[0].Condition);
            EXPECT_EQ(4, s_SasDiscovery.First->Record.OverallCondition);
            Drives();
        }
        EXPECT_TRUE(Boxes().empty()) << int(c.kind);
        EXPECT_EQ(0, StorageBoxList.Count) << int(c.kind);
        SasResetForTest();
    }
}

TEST_F(SasEnclosureTest, ExpanderEnclosureWithoutSesAnswersThroughSmp)
{
    Adapter a = AddAdapter(0, 3);
    for (uint8_t phys : {3, 0}) {
        SetUp();
        auto expander = Expander(0x100);
        for (uint8_t i = 0; i < phys; ++i)
            expander->SetPhy(i, 0, 0, Address(0).data());
        expander->SetPhy(phys, 1, 2, expander->SasAddress, false);
        // The enclosure's own device is the expander itself here (an SMP target on its virtual phy).
        expander->Phys[phys].Virtual = true;
        SimSasAddress(0x180, expander->Phys[phys].AttachedAddress);
        a.Behind(4, 0x180, expander);
        a.AttachExpander({4}, expander);
        Drives();
        std::vector<STORAGE_BOX_VALUE> boxes = Boxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ("SIM EXPANDER    ", std::string(boxes[0].ProductId));   // as the reply pads it
        // Bays: the virtual phy's number less two, never below none.
        EXPECT_EQ(phys >= 2 ? phys - 2 : 0, boxes[0].BayCount) << int(phys);
        SasResetForTest();
    }
}

TEST_F(SasEnclosureTest, BayStatusGivesTheCarrierState)
{
    Adapter a = AddAdapter(0, 3);
    auto ses = Enclosure("SHELF", "S", {{23, {0, 1, 2}}}, {{1, 0x101}, {2, 0x102}}, true);
    std::vector<uint8_t> carrier(16, 0);
    carrier[2] = 0x21;
    carrier[12] = 0x34;
    ses->Raw[0x2600] = carrier;
    Shelf(a, 0x100, ses, {Disk("C1"), Disk("C2")});
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(2u, drives.size());
    EXPECT_EQ(4, drives[0].CarrierState);
    EXPECT_EQ(0x21, drives[0].CarrierByteA);
    EXPECT_EQ(0x34, drives[0].CarrierByteB);
    EXPECT_EQ(3, drives[1].CarrierState);
    EXPECT_EQ(0, drives[1].CarrierByteA);
    // The drive was probed before the enclosure told its state: the fault shows from the next pass.
    EXPECT_EQ(2, drives[1].Status);
    drives = Drives();
    EXPECT_EQ(12, drives[1].Status);
    EXPECT_EQ(3, drives[1].Condition);
}

TEST_F(SasEnclosureTest, TapeDevices)
{
    Adapter a = AddAdapter(0, 3);
    auto tape = std::make_shared<SimScsiDisk>();
    tape->SetIdentity("OTHER", "TAPE DRIVE 5", "T001", "  TP-1 ");
    tape->Peripheral = 1;
    tape->Inquiry[41] = 0x0C;
    std::vector<uint8_t> page(116, ' ');
    page[0] = 1;
    std::memcpy(&page[8], "qz      ", 8);
    std::memcpy(&page[16], "ULTRA TAPE 7    ", 16);
    std::memcpy(&page[32], "U007", 4);
    tape->Raw[0x12CC] = page;
    a.AttachDrive(2, 0x90, tape);
    EXPECT_TRUE(Drives().empty());
    SAS_TAPE_NODE *node = s_SasDiscovery.First->Tapes;
    ASSERT_NE(nullptr, node);
    EXPECT_EQ(3u, node->Record.TapeIndex);
    EXPECT_EQ("Device 3", std::string(node->Record.Name));
    EXPECT_EQ("qz ULTRA TAPE 7", std::string(node->Record.Model));
    EXPECT_EQ("U007", std::string(node->Record.FirmwareRevision));
    EXPECT_EQ("TP-1", std::string(node->Record.SerialNumber));
    EXPECT_EQ(2, node->Record.Status);
    a.Detach(2);
    Drives();
    Drives();
    node = s_SasDiscovery.First->Tapes;
    ASSERT_NE(nullptr, node);   // kept while the adapter is there
    EXPECT_EQ(4, node->Record.Condition);
    EXPECT_EQ(3, node->Record.Status);
    EXPECT_EQ(4, s_SasDiscovery.First->Record.OverallCondition);
}

} // namespace
