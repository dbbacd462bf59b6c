// The simulated storage server itself: its replies decode with the product's decoders, its
// handle book-keeping catches leaks and double closes, and each fault does what it says.
#include "csmi_reply.h"
#include "inquiry_walk.h"
#include "sim_usb_kit.h"
#include "storagesim.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr DWORD kInquiryData = 0x4100C;
constexpr DWORD kQueryProperty = 0x2D1400;
constexpr DWORD kGetAddress = 0x41018;
constexpr DWORD kMiniport = 0x4D008;

HANDLE Open(StorageSim &sim, const char *path)
{
    return sim.OpenDevice(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
}

TEST(StorageSim, InquiryDataWalksBackToTheDevicesGiven)
{
    StorageSim sim;
    auto port = sim.AddScsiPort(0);
    port->Buses = 2;
    port->Devices.push_back({0, 0, 0, 0, 1, MakeInquiry(5, true, "QZ", "DVD-ROM", "1.0")});
    port->Devices.push_back({0, 0, 1, 1, 1, MakeInquiry(7, false, "QZ", "DVD-ROM", "1.0")});
    port->Devices.push_back({1, 1, 0, 0, 0, MakeInquiry(0x1F, false, "  RAID  ", " DummyDevice", "1")});
    HANDLE handle = Open(sim, "\\\\.\\SCSI0:");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> reply(4096, 0);
    ULONG_PTR information = 0;
    ASSERT_EQ(sim.NativeDeviceControl(handle, kInquiryData, reply.data(), 4096, reply.data(), 4096, &information), 0);
    auto entries = WalkInquiryData(reply.data(), information);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Inquiry[0], 5);
    EXPECT_EQ(entries[0].Inquiry[1], 0x80);
    EXPECT_EQ(entries[1].Lun, 1);
    EXPECT_EQ(entries[2].Bus, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(entries[2].Inquiry + 8), 8), "  RAID  ");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(entries[2].Inquiry + 16), 16), " DummyDevice    ");
    // Too small a buffer: the driver refuses.
    EXPECT_LT(sim.NativeDeviceControl(handle, kInquiryData, reply.data(), 16, reply.data(), 16, &information), 0);
    EXPECT_TRUE(sim.CloseDevice(handle));
}

TEST(StorageSim, BusTypeAndScsiAddress)
{
    StorageSim sim;
    sim.AddScsiPort(1)->BusType = 11;
    sim.AddPhysicalDrive(0, 1, 0, 3, 0);
    HANDLE port = Open(sim, "\\\\.\\Scsi1:");
    uint32_t query[3] = {1, 0, 0};
    uint8_t descriptor[32] = {};
    DWORD returned = 0;
    ASSERT_TRUE(sim.DeviceControl(port, kQueryProperty, query, sizeof query, descriptor, sizeof descriptor, &returned));
    EXPECT_EQ(returned, 32u);
    EXPECT_EQ(descriptor[24], 11);
    HANDLE drive = Open(sim, "\\\\.\\PhysicalDrive0");
    uint8_t address[8] = {};
    ASSERT_TRUE(sim.DeviceControl(drive, kGetAddress, nullptr, 0, address, sizeof address, &returned));
    EXPECT_EQ(address[4], 1);
    EXPECT_EQ(address[6], 3);
    EXPECT_FALSE(sim.DeviceControl(drive, kInquiryData, nullptr, 0, address, sizeof address, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    sim.CloseDevice(port);
    sim.CloseDevice(drive);
}

TEST(StorageSim, HandlesAreTracked)
{
    StorageSim sim;
    sim.AddScsiPort(0);
    HANDLE a = Open(sim, "\\\\.\\Scsi0:");
    HANDLE b = Open(sim, "\\\\.\\Scsi0:");
    EXPECT_NE(a, b);
    EXPECT_EQ(Open(sim, "\\\\.\\Scsi1:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(sim.OpenCount(), 2u);
    EXPECT_TRUE(sim.CloseDevice(a));
    EXPECT_FALSE(sim.CloseDevice(a));
    EXPECT_EQ(sim.DoubleCloses(), 1u);
    DWORD returned = 0;
    EXPECT_FALSE(sim.DeviceControl(a, kInquiryData, nullptr, 0, nullptr, 0, &returned));  // used after close
    EXPECT_EQ(sim.UnknownHandleUses(), 1u);
    EXPECT_EQ(sim.OpenHandles(), std::vector<std::string>{"\\\\.\\scsi0:"});  // b leaked
    sim.CloseDevice(b);
    EXPECT_TRUE(sim.OpenHandles().empty());
}

// A handle opened without buffering takes only a sector-aligned buffer and whole sectors, as
// Windows refuses the rest; a buffered handle leaves the buffer's alignment alone.
TEST(StorageSim, UnbufferedReadsNeedSectorAlignment)
{
    StorageSim sim;
    sim.AddDevice("\\\\.\\PhysicalDrive7", std::make_shared<SimKitLogDisk>(std::vector<std::string>{"first"}, 4096));
    alignas(4096) static uint8_t area[8192];
    const struct {
        DWORD flags;
        size_t shift;   // bytes the buffer starts past a sector boundary
        DWORD size;
        DWORD error;    // 0: the read passes
    } cases[] = {
        {FILE_FLAG_NO_BUFFERING, 0, 4096, 0},
        {FILE_FLAG_NO_BUFFERING, 0, 512, 0},
        {FILE_FLAG_NO_BUFFERING, 1, 4096, ERROR_INVALID_PARAMETER},
        {FILE_FLAG_NO_BUFFERING, 8, 4096, ERROR_INVALID_PARAMETER},
        {FILE_FLAG_NO_BUFFERING, 256, 512, ERROR_INVALID_PARAMETER},
        {FILE_FLAG_NO_BUFFERING, 0, 4000, ERROR_INVALID_PARAMETER},
        {FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL, 4, 4096, ERROR_INVALID_PARAMETER},
        {FILE_ATTRIBUTE_NORMAL, 1, 4096, 0},
        {0, 8, 512, 0},
        {0, 0, 100, ERROR_INVALID_PARAMETER},   // a raw disk reads whole sectors, buffered or not
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << std::hex << c.flags << std::dec << " shift " << c.shift
                                        << " size " << c.size);
        HANDLE device = sim.OpenDevice("\\\\.\\PhysicalDrive7", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, c.flags);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        std::memset(area, 0xAA, sizeof area);
        DWORD read = 1234;
        SetLastError(0);
        const BOOL passed = sim.ReadDevice(device, area + c.shift, c.size, &read);
        EXPECT_EQ(passed != FALSE, c.error == 0);
        if (c.error == 0) {
            EXPECT_EQ(read, c.size);
            EXPECT_EQ(std::memcmp(area + c.shift, "first", 6), 0);
        } else {
            EXPECT_EQ(GetLastError(), c.error);
            EXPECT_EQ(read, 0u);
            EXPECT_EQ(area[c.shift], 0xAA);   // nothing written
        }
        sim.CloseDevice(device);
    }
    EXPECT_TRUE(sim.OpenHandles().empty());
}

TEST(StorageSim, FaultsHitTheRequestsTheyMatch)
{
    StorageSim sim;
    auto port = sim.AddScsiPort(0);
    port->Csmi = std::make_shared<SimCsmiController>();
    port->Csmi->SetStatus(1);
    HANDLE handle = Open(sim, "\\\\.\\Scsi0:");
    auto status = [&](DWORD *returned, uint32_t *returnCode, uint32_t *value) {
        std::vector<uint8_t> buffer(64, 0);
        std::memcpy(&buffer[4], "CSMIALL", 7);
        uint32_t code = 3;
        std::memcpy(&buffer[16], &code, 4);
        BOOL ok = sim.DeviceControl(handle, kMiniport, buffer.data(), 64, buffer.data(), 64, returned);
        std::memcpy(returnCode, &buffer[20], 4);
        std::memcpy(value, &buffer[28], 4);
        return ok;
    };
    DWORD returned = 0;
    uint32_t returnCode = 0, value = 0;
    ASSERT_TRUE(status(&returned, &returnCode, &value));
    EXPECT_EQ(value, 1u);

    sim.AddFault({.What = SimFault::Kind::Win32Error, .Path = "\\\\.\\SCSI0:", .CsmiCode = 3, .Error = 1117});
    EXPECT_FALSE(status(&returned, &returnCode, &value));
    EXPECT_EQ(GetLastError(), 1117u);
    sim.AddFault({.What = SimFault::Kind::ZeroTransfer, .Code = kMiniport});
    EXPECT_TRUE(status(&returned, &returnCode, &value));
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(value, 0u);
    sim.AddFault({.What = SimFault::Kind::ReturnCode, .ReturnCode = 3});
    EXPECT_TRUE(status(&returned, &returnCode, &value));
    EXPECT_EQ(returnCode, 3u);
    sim.AddFault({.What = SimFault::Kind::PatchBytes, .Patches = {{28, 2}}});
    EXPECT_TRUE(status(&returned, &returnCode, &value));
    EXPECT_EQ(value, 2u);
    sim.AddFault({.What = SimFault::Kind::RawReply, .Raw = std::vector<uint8_t>(30, 0xEE)});
    EXPECT_TRUE(status(&returned, &returnCode, &value));
    EXPECT_EQ(returned, 30u);
    EXPECT_EQ(returnCode, 0xEEEEEEEEu);
    // A fault for another control code or device leaves the request alone; every fault was used once.
    sim.AddFault({.What = SimFault::Kind::Win32Error, .CsmiCode = 20});
    sim.AddFault({.What = SimFault::Kind::Win32Error, .Path = "\\\\.\\Scsi5:"});
    EXPECT_TRUE(status(&returned, &returnCode, &value));
    EXPECT_EQ(value, 1u);
    sim.AddFault({.What = SimFault::Kind::OpenError, .Path = "\\\\.\\Scsi0:", .Error = ERROR_ACCESS_DENIED});
    EXPECT_EQ(Open(sim, "\\\\.\\Scsi0:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sim.CountRequests(kMiniport, 3), 7u);
    sim.CloseDevice(handle);
}

TEST(StorageSim, CsmiRepliesDecode)
{
    StorageSim sim;
    auto port = sim.AddScsiPort(0);
    auto csmi = port->Csmi = std::make_shared<SimCsmiController>();
    csmi->SetConfig(0x3229103C, 3, 5, 0, 1, "PDNLH0BRH5Z", {8, 32, 0, 0}, {1, 2, 3, 4});
    SimCsmiController::Phy phy;
    phy.PhyIdentifier = 4;
    phy.AttachedDeviceType = 0x20;
    phy.AttachedSasAddress[0] = 0x50;
    csmi->SetPhys({phy});
    HANDLE handle = Open(sim, "\\\\.\\Scsi0:");
    auto ask = [&](uint32_t code, size_t size) {
        std::vector<uint8_t> buffer(size, 0);
        std::memcpy(&buffer[4], code < 10 ? "CSMIALL" : "CSMISAS", 7);
        std::memcpy(&buffer[16], &code, 4);
        DWORD returned = 0;
        EXPECT_TRUE(sim.DeviceControl(handle, kMiniport, buffer.data(), static_cast<DWORD>(size), buffer.data(),
                                      static_cast<DWORD>(size), &returned));
        buffer.resize(returned);
        return buffer;
    };
    std::vector<uint8_t> reply = ask(2, 208);
    CSMI_CONTROLLER_CONFIG config;
    ASSERT_TRUE(DecodeCsmiControllerConfig(reply.data(), reply.size(), &config));
    EXPECT_EQ(config.BoardId, 0x3229103Cu);
    EXPECT_EQ(config.PciBus, 5);
    EXPECT_EQ(config.PciFunction, 1);
    EXPECT_STREQ(config.SerialNumber, "PDNLH0BRH5Z");
    EXPECT_EQ(config.Revision[1], 32);
    EXPECT_EQ(config.BiosRevision[3], 4);
    reply = ask(20, 2080);
    CSMI_PHY_INFO info;
    ASSERT_TRUE(DecodeCsmiPhyInfo(reply.data(), reply.size(), &info));
    EXPECT_EQ(info.NumberOfPhys, 1);
    EXPECT_EQ(info.Entities[0].Identify.PhyIdentifier, 4);
    EXPECT_EQ(info.Entities[0].Attached.DeviceType, 0x20);
    EXPECT_EQ(info.Entities[0].Attached.SasAddress[0], 0x50);
    reply = ask(11, 200);  // not set: the controller fails it
    uint32_t returnCode = 0;
    std::memcpy(&returnCode, &reply[20], 4);
    EXPECT_EQ(returnCode, 1u);
    sim.CloseDevice(handle);
}

TEST(StorageSim, PciTreeWithParentsAndPresence)
{
    StorageSim sim;
    int root = sim.AddPciDevice({"PCI\\VEN_8086&DEV_3C02\\3&1", "PCI bus 0, device 2, function 0", 0, "pci", -1});
    sim.AddPciDevice({"PCI\\VEN_103C&DEV_323A\\4&1", "PCI bus 3, device 0, function 0", 1, "zdtsas", root});
    SimPciDevice gone{"PCI\\VEN_1000&DEV_0001\\5&1", "", std::nullopt, "", root};
    gone.Present = false;
    sim.AddPciDevice(gone);
    ULONG size = 0;
    ASSERT_EQ(sim.GetDeviceIdListSize(&size, "PCI", CM_GETIDLIST_FILTER_ENUMERATOR | CM_GETIDLIST_FILTER_PRESENT), CR_SUCCESS);
    std::vector<char> list(size);
    ASSERT_EQ(sim.GetDeviceIdList("PCI", list.data(), size, CM_GETIDLIST_FILTER_ENUMERATOR | CM_GETIDLIST_FILTER_PRESENT),
              CR_SUCCESS);
    EXPECT_EQ(std::string(list.data()), "PCI\\VEN_8086&DEV_3C02\\3&1");
    EXPECT_EQ(std::string(list.data() + std::strlen(list.data()) + 1), "PCI\\VEN_103C&DEV_323A\\4&1");
    EXPECT_EQ(list[size - 1], '\0');
    ASSERT_EQ(sim.GetDeviceIdListSize(&size, "PCI", CM_GETIDLIST_FILTER_ENUMERATOR), CR_SUCCESS);
    EXPECT_EQ(size, list.size() + std::strlen("PCI\\VEN_1000&DEV_0001\\5&1") + 1);

    DEVINST child = 0, parent = 0;
    ASSERT_EQ(sim.LocateDevNode(&child, "pci\\ven_103c&dev_323a\\4&1", 0), CR_SUCCESS);
    ASSERT_EQ(sim.GetParent(&parent, child, 0), CR_SUCCESS);
    char id[200];
    ASSERT_EQ(sim.GetDeviceId(parent, id, sizeof id, 0), CR_SUCCESS);
    EXPECT_STREQ(id, "PCI\\VEN_8086&DEV_3C02\\3&1");
    EXPECT_NE(sim.GetParent(&parent, parent, 0), CR_SUCCESS);
    ULONG type = 0, length = 4;
    char small[4];
    EXPECT_EQ(sim.GetDevNodeRegistryProperty(child, CM_DRP_LOCATION_INFORMATION, &type, small, &length, 0), CR_BUFFER_SMALL);
    EXPECT_EQ(length, std::strlen("PCI bus 3, device 0, function 0") + 1);
}

} // namespace
