// PCIe disks: NVMe identify and health data, LOG SENSE pages, pass-through forms, descriptors,
// the controller association and location, the ratings and the trap decisions.
#include "stdeq_maker_ids.h"
#include "stdeq_pcie_rules.h"

#include "smbios_samples.h"
#include "smbios_table.h"

#include <gtest/gtest.h>

#if __has_include(<nvme/types.h>)
#include <nvme/types.h>
#define HAVE_NVME_TYPES 1
#endif

#include <cstring>
#include <string>
#include <vector>

namespace {

void Put(std::vector<uint8_t> *data, size_t offset, const std::string &text)
{
    std::memcpy(data->data() + offset, text.data(), text.size());
}

TEST(StdeqNvme, IdentifyFieldsWithoutBlanks)
{
    std::vector<uint8_t> identify(kNvmeIdentifyBytes, 0);
    Put(&identify, 4, "  S4EVNX0M123456    ");
    Put(&identify, 24, "Vendor NVMe Disk 960GB                  ");
    Put(&identify, 64, "1B2QEXM7");
    NVME_IDENTITY id = ParseNvmeIdentify(identify.data(), identify.size());
    EXPECT_EQ("S4EVNX0M123456", id.Serial);
    EXPECT_EQ("Vendor NVMe Disk 960GB", id.Model);
    EXPECT_EQ("1B2QEXM7", id.Firmware);

    // A NUL inside a field ends it; all blanks give an empty text.
    Put(&identify, 64, std::string("AB\0CD  ", 8));
    Put(&identify, 4, std::string(20, ' '));
    id = ParseNvmeIdentify(identify.data(), identify.size());
    EXPECT_EQ("AB", id.Firmware);
    EXPECT_EQ("", id.Serial);

    // Data that ends inside the model keeps the serial only.
    id = ParseNvmeIdentify(identify.data(), 50);
    EXPECT_EQ("", id.Model);
    EXPECT_EQ("", id.Firmware);
    EXPECT_EQ(NVME_IDENTITY{}.Model, ParseNvmeIdentify(nullptr, 4096).Model);
}

#ifdef HAVE_NVME_TYPES
// The offsets read are those of the NVMe structures as libnvme declares them.
TEST(StdeqNvme, OffsetsMatchTheNvmeStructures)
{
    nvme_id_ctrl ctrl{};
    std::memcpy(ctrl.sn, "SERIAL-0001         ", 20);
    std::memcpy(ctrl.mn, "MODEL X                                 ", 40);
    std::memcpy(ctrl.fr, "FW01    ", 8);
    const NVME_IDENTITY id = ParseNvmeIdentify(reinterpret_cast<const uint8_t *>(&ctrl), sizeof ctrl);
    EXPECT_EQ("SERIAL-0001", id.Serial);
    EXPECT_EQ("MODEL X", id.Model);
    EXPECT_EQ("FW01", id.Firmware);

    nvme_smart_log log{};
    log.percent_used = 97;
    log.power_on_hours[0] = 0x10;
    log.power_on_hours[1] = 0x27;
    log.power_on_hours[4] = 0xFF;  // above the low 32 bits: not kept
    static_assert(sizeof log == kNvmeHealthLogBytes, "health log size");
    PCIE_DISK_INFO disk;
    ASSERT_TRUE(ApplyNvmeHealthLog(reinterpret_cast<const uint8_t *>(&log), sizeof log, &disk));
    EXPECT_EQ(0x2710u, disk.PowerOnHours);
    EXPECT_EQ(97, disk.PercentageUsed);
    EXPECT_EQ(4, disk.HealthCode);
}
#endif

TEST(StdeqNvme, HealthCodeFromPercentageUsed)
{
    const std::pair<int32_t, uint8_t> cases[] = {{0, 2}, {94, 2}, {95, 4}, {97, 4}, {98, 5},
                                                 {99, 5}, {100, 6}, {255, 6}};
    for (const auto &[used, code] : cases) {
        std::vector<uint8_t> log(kNvmeHealthLogBytes, 0);
        log[5] = static_cast<uint8_t>(used);
        PCIE_DISK_INFO disk;
        ASSERT_TRUE(ApplyNvmeHealthLog(log.data(), log.size(), &disk));
        EXPECT_EQ(code, disk.HealthCode) << used;
        EXPECT_EQ(used, disk.PercentageUsed);
    }
    // A log too short for the power-on hours is not read.
    std::vector<uint8_t> shortLog(143, 0x55);
    PCIE_DISK_INFO disk;
    EXPECT_FALSE(ApplyNvmeHealthLog(shortLog.data(), shortLog.size(), &disk));
    EXPECT_EQ(1, disk.HealthCode);
    EXPECT_EQ(-1, disk.PercentageUsed);
    EXPECT_EQ(0xFFFFFFFFu, disk.PowerOnHours);
}

TEST(StdeqLogSense, SupportedPagesAndTemperature)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> data;
        bool parsed;
        std::vector<uint8_t> pages;
    } cases[] = {
        {"length 12, data cut at 16", {0, 0, 0, 12, 0x00, 0x02, 0x03, 0x0D, 0x0E, 0x0F, 0x10, 0x15, 0x18, 0x2F, 0x30, 0x31},
         true, {0x00, 0x02, 0x03, 0x0D, 0x0E, 0x0F, 0x10, 0x15, 0x18, 0x2F, 0x30, 0x31}},
        {"length 3", {0, 0, 0, 3, 0x00, 0x0D, 0x2F, 0x31}, true, {0x00, 0x0D, 0x2F}},
        {"length past the data", {0, 0, 0x01, 0x00, 0x00, 0x0D}, true, {0x00, 0x0D}},
        {"length 0", {0, 0, 0, 0, 0x0D}, true, {}},
        {"header cut", {0, 0, 0}, false, {}},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> pages = {0x99};
        EXPECT_EQ(c.parsed, ParseSupportedLogPages(c.data.data(), c.data.size(), &pages)) << c.what;
        if (c.parsed) {
            EXPECT_EQ(c.pages, pages) << c.what;
        }
    }

    const std::vector<uint8_t> page = {0x0D, 0, 0, 0x0C, 0, 0, 3, 2, 0, 41, 0, 1, 3, 2, 0, 70};
    int32_t temperature = 0, reference = 0;
    ParseTemperatureLogPage(page.data(), page.size(), &temperature, &reference);
    EXPECT_EQ(41, temperature);
    EXPECT_EQ(70, reference);
    temperature = reference = 0;
    ParseTemperatureLogPage(page.data(), 10, &temperature, &reference);
    EXPECT_EQ(41, temperature);
    EXPECT_EQ(0, reference);
}

TEST(StdeqPassThrough, BothFormsLaidOut)
{
    uint8_t buffer[kPassThroughBufferBytes];
    BuildPassThrough(0, kTemperatureLogPageCdb, 30, buffer);
    PASS_THROUGH_FORM form = PassThroughForm(0);
    EXPECT_EQ(0x4D004u, form.ControlCode);
    EXPECT_EQ(56u, form.InputBytes);
    EXPECT_EQ(108u, form.OutputBytes);
    EXPECT_EQ(56, buffer[0]);
    EXPECT_EQ(1, buffer[4]);    // target
    EXPECT_EQ(10, buffer[6]);   // CDB length
    EXPECT_EQ(32, buffer[7]);   // sense length
    EXPECT_EQ(1, buffer[8]);    // data in
    EXPECT_EQ(16, buffer[12]);  // data length
    EXPECT_EQ(30, buffer[16]);  // time-out
    EXPECT_EQ(92, buffer[24]);  // data offset
    EXPECT_EQ(60, buffer[32]);  // sense offset
    EXPECT_EQ(0, std::memcmp(buffer + 36, kTemperatureLogPageCdb, 10));

    // Any SRB type but 1 takes the classic form.
    EXPECT_EQ(0x4D004u, PassThroughForm(2).ControlCode);
    BuildPassThrough(1, kSupportedLogPagesCdb, 10, buffer);
    form = PassThroughForm(1);
    EXPECT_EQ(0x4D044u, form.ControlCode);
    EXPECT_EQ(664u, form.InputBytes);
    EXPECT_EQ(168u, form.OutputBytes);
    EXPECT_EQ(152u, form.DataOffset);
    EXPECT_EQ(16u, form.StatusOffset);
    const std::vector<std::pair<size_t, uint8_t>> ex = {
        {4, 64}, {8, 10}, {12, 16}, {17, 32}, {18, 1}, {20, 10}, {24, 104}, {28, 120}, {36, 16}, {48, 152},
        {104, 1}, {108, 4}, {112, 0}, {113, 1}, {114, 0}};
    for (const auto &[offset, value] : ex)
        EXPECT_EQ(value, buffer[offset]) << offset;
    EXPECT_EQ(0, std::memcmp(buffer + 56, kSupportedLogPagesCdb, 10));
}

TEST(StdeqDescriptors, AdapterFieldsOnlyWhereTheDescriptorReaches)
{
    std::vector<uint8_t> descriptor(32, 0);
    descriptor[4] = 32;
    descriptor[16] = 3;   // alignment mask
    descriptor[30] = 1;   // SRB type
    const struct {
        size_t size;
        uint32_t mask, srb;
    } cases[] = {{32, 3, 1}, {31, 3, 1}, {30, 3, 0}, {20, 3, 0}, {19, 0, 0}, {0, 0, 0}};
    for (const auto &c : cases) {
        const STORAGE_ADAPTER_INFO info = ParseAdapterDescriptor(descriptor.data(), c.size);
        EXPECT_EQ(c.mask, info.AlignmentMask) << c.size;
        EXPECT_EQ(c.srb, info.SrbType) << c.size;
    }
    EXPECT_EQ(32u, DescriptorSize(descriptor.data(), 8));
    EXPECT_EQ(0u, DescriptorSize(descriptor.data(), 7));
}

TEST(StdeqController, CollapseAndAntecedent)
{
    const std::pair<std::string, std::string> collapse[] = {
        {"\\\\host\\\\root", "\\\\host\\root"},
        {"a\\\\b\\\\\\c", "a\\b\\\\c"},
        {"\\", "\\"},
        {"", ""},
    };
    for (const auto &[in, out] : collapse) {
        std::string text = in;
        CollapseRepeatedSeparator(&text, "\\");
        EXPECT_EQ(out, text) << in;
    }

    const struct {
        std::string antecedent;
        std::optional<std::string> id;
    } cases[] = {
        {"\\\\SRV\\root\\cimv2:Win32_SCSIController.DeviceID=\"PCI\\\\VEN_144D&DEV_A808&SUBSYS_A801144D&REV_00\\\\4&2B\"",
         "pci\\ven_144d&dev_a808&subsys_a801144d&rev_00\\4&2b"},
        {"Win32_SCSIController.DeviceID=\"\"", std::nullopt},
        {"no equals sign \"PCI\\\\VEN_1\"", std::nullopt},
        {"DeviceID=PCI\\\\VEN_1", std::nullopt},
        {"DeviceID=\"PCI\\\\VEN_1", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.id, ControllerIdFromAntecedent(c.antecedent)) << c.antecedent;
}

TEST(StdeqController, SubsystemAndExclusion)
{
    const struct {
        std::string id;
        std::optional<uint32_t> subsystem;
    } cases[] = {
        {"pci\\ven_144d&dev_a808&subsys_a801144d&rev_00\\4&2b", 0xA801144Du},
        {"pci\\ven_8086&dev_0953&subsys_37021f7a", 0x37021F7Au},
        {"pci\\ven_8086&dev_0953", std::nullopt},
        {"scsi\\disk&ven_nvme", std::nullopt},
        {"pci\\ven_&dev_1&subsys_2", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.subsystem, ControllerSubsystem(c.id)) << c.id;

    for (uint32_t excluded : kExcludedPcieSubsystems) {
        EXPECT_TRUE(IsExcludedPcieSubsystem(excluded));
        EXPECT_EQ(kMakerPciVendorId, excluded & 0xFFFF);
    }
    EXPECT_FALSE(IsExcludedPcieSubsystem(0xA801144D));
    EXPECT_FALSE(IsExcludedPcieSubsystem(kMakerPciVendorId));
}

TEST(StdeqController, LocationInformation)
{
    const struct {
        const char *text;
        bool read;
        int32_t bus, device, function;
    } cases[] = {
        {"@System32\\drivers\\pci.sys,#65536;PCI bus %1, device %2, function %3;(3,0,0)", true, 3, 0, 0},
        {"PCI Slot 4 (129, 0, 1)", true, 129, 0, 1},
        {"(7)", true, 7, -1, -1},
        {"PCI bus 3, device 0, function 0", false, -1, -1, -1},
        {"(a,b,c)", false, -1, -1, -1},
        {"(3,0,0", false, -1, -1, -1},
        {"() (1,2,3)", false, -1, -1, -1},
    };
    for (const auto &c : cases) {
        int32_t bus = -1, device = -1, function = -1;
        EXPECT_EQ(c.read, ParsePcieLocation(c.text, strlen(c.text), &bus, &device, &function)) << c.text;
        EXPECT_EQ(c.bus, bus) << c.text;
        EXPECT_EQ(c.device, device) << c.text;
        EXPECT_EQ(c.function, function) << c.text;
    }
    // Bounded by the size given: the ")" lies past it.
    int32_t bus = -1, device = -1, function = -1;
    EXPECT_FALSE(ParsePcieLocation("(3,0,0)", 6, &bus, &device, &function));
}

// A system slot at bus . devfn and a location record naming it; the record's string 1 at 31.
SampleStructure Slot(uint16_t handle, uint8_t bus, uint8_t devfn, int length = 0x11)
{
    std::vector<uint8_t> body = {1, 0xB6, 0x0D, 4, 0x08, 1, 0, 0x04, 0x01, 0, 0, bus, devfn};
    body.resize(static_cast<size_t>(length - 4));
    return {9, handle, body, {"SLOT"}};
}
SampleStructure LocationRecord(uint16_t handle, uint16_t slotHandle, const char *text, int length = 32)
{
    std::vector<uint8_t> body(static_cast<size_t>(length - 4), 0);
    body[0] = static_cast<uint8_t>(slotHandle);
    body[1] = static_cast<uint8_t>(slotHandle >> 8);
    if (length > 31)
        body[31 - 4] = 1;
    return {203, handle, body, {text}};
}

TEST(StdeqController, LocationTextFromSmbios)
{
    const struct {
        const char *what;
        std::vector<SampleStructure> structures;
        std::string text;
    } cases[] = {
        {"slot and record", {Slot(0x900, 3, 0x00), LocationRecord(0xCB0, 0x900, "Bay 1")}, "Bay 1"},
        {"first slot at the address wins",
         {Slot(0x900, 3, 0x00), Slot(0x901, 3, 0x00), LocationRecord(0xCB0, 0x901, "Bay 2"),
          LocationRecord(0xCB1, 0x900, "Bay 1")},
         "Bay 1"},
        {"function must match", {Slot(0x900, 3, 0x01), LocationRecord(0xCB0, 0x900, "Bay 1")}, ""},
        {"slot without address fields", {Slot(0x900, 0, 0x00, 13), LocationRecord(0xCB0, 0x900, "Bay 1")}, ""},
        {"record too short for its string number",
         {Slot(0x900, 3, 0x00), LocationRecord(0xCB0, 0x900, "Short", 31), LocationRecord(0xCB1, 0x900, "Bay 3")},
         "Bay 3"},
        {"no record", {Slot(0x900, 3, 0x00)}, ""},
    };
    for (const auto &c : cases) {
        const CSMBIOSTable table(BuildCopy(BuildStructures(c.structures)));
        ASSERT_TRUE(table.IsValid()) << c.what;
        EXPECT_EQ(c.text, PcieDiskLocationText(table, 3, 0, 0)) << c.what;
    }
    EXPECT_EQ("", PcieDiskLocationText(CSMBIOSTable(std::vector<uint8_t>{}), 3, 0, 0));
}

TEST(StdeqRatings, ConditionStatusAndHealthClasses)
{
    const struct {
        const char *status;
        uint8_t health;
        int32_t condition, code;
    } cases[] = {
        {"OK", 2, 2, 2},          {"ok", 1, 2, 2},         {"Degraded", 2, 3, 3}, {"OK", 4, 3, 2},
        {"Pred Fail", 2, 3, 3},   {"Error", 2, 3, 4},      {"STRESSED", 2, 3, 4}, {"NonRecover", 2, 3, 4},
        {"No Contact", 2, 3, 4},  {"Lost Comm", 2, 3, 4},  {"", 2, 3, 1},         {"Unknown", 6, 3, 1},
        {"oK ", 2, 3, 1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.condition, PcieDiskCondition(c.status, c.health)) << c.status << " " << int(c.health);
        EXPECT_EQ(c.code, ControllerStatusCode(c.status)) << c.status;
    }
    const std::pair<uint8_t, int32_t> classes[] = {{0, 1}, {1, 1}, {2, 2}, {3, 3}, {4, 3}, {5, 3}, {6, 4}, {7, 1}};
    for (const auto &[health, cls] : classes)
        EXPECT_EQ(cls, HealthCodeClass(health)) << int(health);
}

PCIE_DISK_INFO Disk(const char *serial, int32_t temperature, int32_t reference, const char *status = "OK",
                    uint8_t health = 2)
{
    PCIE_DISK_INFO disk;
    disk.SerialNumber = serial;
    disk.Temperature = temperature;
    disk.ReferenceTemperature = reference;
    disk.ControllerStatus = status;
    disk.HealthCode = health;
    return disk;
}

TEST(StdeqTraps, DecisionsForADiskSeenAgain)
{
    const struct {
        const char *what;
        PCIE_DISK_INFO previous, current;
        std::vector<unsigned> traps;
    } cases[] = {
        {"steady and cool", Disk("A", 40, 55), Disk("A", 41, 55), {}},
        {"stays hot", Disk("A", 60, 55), Disk("A", 60, 55), {1015}},
        {"reaches the reference", Disk("A", 50, 55), Disk("A", 55, 55), {1015}},
        {"cools below", Disk("A", 60, 55), Disk("A", 50, 55), {1016}},
        {"earlier reference counts", Disk("A", 60, 55), Disk("A", 57, 60), {1015}},
        {"status changes", Disk("A", 40, 55, "OK"), Disk("A", 40, 55, "Degraded"), {1017}},
        {"status case changes", Disk("A", 40, 55, "OK"), Disk("A", 40, 55, "ok"), {1017}},
        {"health changes", Disk("A", 40, 55, "OK", 2), Disk("A", 40, 55, "OK", 6), {1018}},
        {"all at once", Disk("A", 40, 55, "OK", 2), Disk("A", 70, 55, "Error", 5), {1015, 1017, 1018}},
        {"another serial", Disk("A", 60, 55), Disk("B", 60, 55, "Error", 6), {}},
        {"reference not read", Disk("A", 0, 0), Disk("A", 0, 0), {}},
        {"reference 255", Disk("A", 60, 255), Disk("A", 60, 255), {}},
        {"temperature 255", Disk("A", 40, 55), Disk("A", 255, 55), {}},
        {"from 255 down", Disk("A", 255, 55), Disk("A", 40, 55), {}},
        {"negative below", Disk("A", 60, 55), Disk("A", -5, 55), {1016}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.traps, PcieDiskTraps(c.previous, c.current)) << c.what;
}

TEST(StdeqTraps, Flags)
{
    EXPECT_EQ(16, PcieDiskTrapFlags(1015, Disk("A", 60, 55)));
    EXPECT_EQ(8, PcieDiskTrapFlags(1016, Disk("A", 50, 55)));
    EXPECT_EQ(12, PcieDiskTrapFlags(1017, Disk("A", 50, 55, "Degraded")));
    EXPECT_EQ(16, PcieDiskTrapFlags(1017, Disk("A", 50, 55, "Lost Comm")));
    EXPECT_EQ(4, PcieDiskTrapFlags(1017, Disk("A", 50, 55, "Starting")));
    EXPECT_EQ(16, PcieDiskTrapFlags(1018, Disk("A", 50, 55, "OK", 6)));
    EXPECT_EQ(12, PcieDiskTrapFlags(1018, Disk("A", 50, 55, "OK", 4)));
    EXPECT_EQ(8, PcieDiskTrapFlags(1018, Disk("A", 50, 55, "OK", 2)));
}

} // namespace

namespace {

// The bay sample that the SMBIOS tests also hand to dmidecode, whose reading of the slots'
// addresses stdeq_slot_dmidecode.sh compares with ours.
TEST(StdeqController, LocationTextOfTheBaySample)
{
    const CSMBIOSTable table(SampleNamed("pcie-disk-slots").copy);
    ASSERT_TRUE(table.IsValid());
    EXPECT_EQ("Front bay 1", PcieDiskLocationText(table, 3, 0, 0));
    // Bay 2 (4:01.2) has only a record too short for its location string.
    EXPECT_EQ("", PcieDiskLocationText(table, 4, 1, 2));
}

} // namespace
