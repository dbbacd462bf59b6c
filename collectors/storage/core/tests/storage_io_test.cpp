#include "storage_io.h"
#include "storagesim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class StorageIoTest : public ::testing::Test {
protected:
    StorageIoTest() : m_Scope(m_Sim)
    {
        m_Port = m_Sim.AddScsiPort(2);
        m_Csmi = std::make_shared<SimCsmiController>();
        m_Port->Csmi = m_Csmi;
    }
    void TearDown() override
    {
        if (m_Record.Handle != nullptr && m_Record.Handle != INVALID_HANDLE_VALUE)
            m_Sim.CloseDevice(m_Record.Handle);
        EXPECT_TRUE(m_Sim.OpenHandles().empty());
        EXPECT_EQ(m_Sim.DoubleCloses(), 0u);
    }
    HANDLE Open()
    {
        EXPECT_EQ(OpenScsiPort(2, &m_Record), 0);
        return m_Record.Handle;
    }

    StorageSim m_Sim;
    StorageSimScope m_Scope;
    std::shared_ptr<SimScsiPort> m_Port;
    std::shared_ptr<SimCsmiController> m_Csmi;
    SCSI_PORT_RECORD m_Record = {nullptr};
};

TEST_F(StorageIoTest, SignatureByControlCode)
{
    struct Case {
        uint32_t code;
        const char *signature;
    } cases[] = {{1, "CSMIALL"}, {4, "CSMIALL"}, {10, "CSMIARY"}, {15, "CSMIARY"}, {20, "CSMISAS"},
                 {36, "CSMISAS"}, {60, "CSMIPHY"}, {5, "OWN"},      {16, "OWN"},     {0, "OWN"}};
    for (const Case &c : cases) {
        std::vector<uint8_t> buffer(64, 0);
        std::memcpy(&buffer[4], "OWN", 3);
        CsmiIoctl(nullptr, c.code, buffer.data(), static_cast<uint32_t>(buffer.size()), nullptr);
        EXPECT_STREQ(reinterpret_cast<const char *>(&buffer[4]), c.signature) << c.code;
        uint32_t headerLength = 0, code = 0;
        std::memcpy(&headerLength, &buffer[0], 4);
        std::memcpy(&code, &buffer[16], 4);
        EXPECT_EQ(headerLength, 28u);
        EXPECT_EQ(code, c.code);
    }
}

TEST_F(StorageIoTest, ResultsOfTheCall)
{
    HANDLE port = Open();
    m_Csmi->SetStatus(1);
    std::vector<uint8_t> buffer(CSMI_CNTLR_STATUS_BUFFER_SIZE, 0);
    EXPECT_EQ(CsmiGetControllerStatus(port, buffer.data()), 0);
    uint32_t length = 0, timeout = 0, status = 0;
    std::memcpy(&timeout, &buffer[12], 4);
    std::memcpy(&length, &buffer[24], 4);
    std::memcpy(&status, &buffer[28], 4);
    EXPECT_EQ(timeout, 60u);
    EXPECT_EQ(length, 36u);
    EXPECT_EQ(status, 1u);

    m_Sim.AddFault({.What = SimFault::Kind::ReturnCode, .CsmiCode = 3, .ReturnCode = 1});
    EXPECT_EQ(CsmiGetControllerStatus(port, buffer.data()), -1);
    m_Sim.AddFault({.What = SimFault::Kind::Win32Error, .CsmiCode = 3, .Error = ERROR_IO_DEVICE});
    EXPECT_EQ(CsmiGetControllerStatus(port, buffer.data()), ERROR_IO_DEVICE);
    EXPECT_EQ(CsmiGetControllerStatus(port, buffer.data()), 0);
    // A code the controller does not implement: ReturnCode 1 from the controller itself.
    std::vector<uint8_t> raid(CSMI_RAID_INFO_BUFFER_SIZE, 0);
    EXPECT_EQ(CsmiGetRaidInfo(port, raid.data()), -1);
    EXPECT_EQ(CsmiIoctl(port, 2, buffer.data(), 27, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(m_Sim.CountRequests(IOCTL_SCSI_MINIPORT_CODE, 3), 4u);
}

// A target that answers pass-through with what a test sets.
struct ScriptedTarget : SimSasTarget {
    uint8_t scsiStatus = 0;
    uint8_t smpResult = 0;
    DWORD replyBytes = 0;   // 0: the whole buffer
    DWORD Ssp(uint8_t *buffer, DWORD size) override
    {
        buffer[105] = scsiStatus;
        if (size > 368)
            buffer[368] = 0xAB;
        return replyBytes ? replyBytes : size;
    }
    DWORD Stp(uint8_t *buffer, DWORD size) override
    {
        buffer[76] = 0x34;
        return replyBytes ? replyBytes : size;
    }
    DWORD Smp(uint8_t *buffer, DWORD size) override
    {
        buffer[1074] = smpResult;
        return size;
    }
};

TEST_F(StorageIoTest, PassThroughFailureRulesAndReturnedLengths)
{
    HANDLE port = Open();
    const uint8_t address[8] = {0x50, 0, 0, 0, 0, 0, 0, 1};
    auto target = std::make_shared<ScriptedTarget>();
    m_Csmi->Attach(3, address, target);
    auto request = [&](uint32_t frame, size_t lengthAt, uint32_t dataLength) {
        std::vector<uint8_t> buffer(frame + dataLength, 0);
        buffer[28] = 3;
        std::memcpy(&buffer[32], address, 8);
        std::memcpy(&buffer[lengthAt], &dataLength, 4);
        return buffer;
    };

    std::vector<uint8_t> ssp = request(CSMI_SSP_FRAME_SIZE, CSMI_SSP_DATA_LENGTH_OFFSET, 512);
    uint32_t data = 99;
    EXPECT_EQ(CsmiSspPassthrough(port, ssp.data(), &data), 0);
    EXPECT_EQ(data, 512u);
    EXPECT_EQ(ssp[CSMI_SSP_DATA_OFFSET], 0xAB);
    target->replyBytes = 100;  // shorter than the frame
    EXPECT_EQ(CsmiSspPassthrough(port, ssp.data(), &data), 0);
    EXPECT_EQ(data, 0u);
    target->replyBytes = 0;
    target->scsiStatus = 2;    // CHECK CONDITION
    EXPECT_EQ(CsmiSspPassthrough(port, ssp.data(), &data), -2);
    target->scsiStatus = 0;
    m_Sim.AddFault({.What = SimFault::Kind::PatchBytes, .CsmiCode = 24, .Patches = {{CSMI_SSP_CONNECTION_STATUS_OFFSET, 1}}});
    EXPECT_EQ(CsmiSspPassthrough(port, ssp.data(), nullptr), -2);

    std::vector<uint8_t> stp = request(CSMI_STP_FRAME_SIZE, CSMI_STP_DATA_LENGTH_OFFSET, 512);
    EXPECT_EQ(CsmiStpPassthrough(port, stp.data(), &data), 0);
    EXPECT_EQ(data, 512u);
    EXPECT_EQ(stp[CSMI_STP_STATUS_FIS_OFFSET], 0x34);
    target->replyBytes = 12;
    EXPECT_EQ(CsmiStpPassthrough(port, stp.data(), &data), 0);
    EXPECT_EQ(data, 0u);

    std::vector<uint8_t> smp(CSMI_SMP_BUFFER_SIZE, 0);
    smp[28] = 3;
    std::memcpy(&smp[32], address, 8);
    EXPECT_EQ(CsmiSmpPassthrough(port, smp.data()), 0);
    target->smpResult = 0x10;
    EXPECT_EQ(CsmiSmpPassthrough(port, smp.data()), -2);
    smp[28] = 4;               // nobody on that phy: the connection fails
    target->smpResult = 0;
    EXPECT_EQ(CsmiSmpPassthrough(port, smp.data()), -2);

    // A data length that does not fit the call's 32-bit size is refused before the call.
    std::vector<uint8_t> huge = request(CSMI_SSP_FRAME_SIZE, CSMI_SSP_DATA_LENGTH_OFFSET, 0);
    uint32_t tooLong = 0xFFFFFFF0u;
    std::memcpy(&huge[CSMI_SSP_DATA_LENGTH_OFFSET], &tooLong, 4);
    EXPECT_EQ(CsmiSspPassthrough(port, huge.data(), &data), ERROR_INVALID_PARAMETER);
}

TEST_F(StorageIoTest, OpenScsiPortResults)
{
    EXPECT_EQ(OpenScsiPort(2, nullptr), -1);
    SCSI_PORT_RECORD missing = {nullptr};
    EXPECT_EQ(OpenScsiPort(9, &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.Handle, INVALID_HANDLE_VALUE);
    HANDLE port = Open();
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_Sim.OpenHandles(), std::vector<std::string>{"\\\\.\\scsi2:"});
}

TEST_F(StorageIoTest, SlotNumberByPciLocation)
{
    int bridge = m_Sim.AddPciDevice({"PCI\\VEN_8086&DEV_3C02\\3&1", "PCI bus 0, device 2, function 0", 0, "pci", -1});
    m_Sim.AddPciDevice({"PCI\\VEN_103C&DEV_323A\\4&1", "PCI bus 3, device 0, function 1", 5, "zdtsas", bridge});
    m_Sim.AddPciDevice({"PCI\\VEN_1000&DEV_0072\\4&2", "PCI BUS 7, DEVICE 4", std::nullopt, "zdtsas", bridge});
    m_Sim.AddPciDevice({"ROOT\\VEN_1000\\0000", "PCI bus 9, device 9, function 9", 8, "x", -1});
    struct Case {
        unsigned bus, device, function;
        int result;
        uint32_t slot;
    } cases[] = {
        {3, 0, 1, 0, 5},
        {259, 0, 1, 0, 5},         // low bytes only
        {7, 4, 0, 0, 0},           // no "function ", no UI number
        {3, 0, 0, ERROR_NOT_FOUND, 77},
        {9, 9, 9, ERROR_NOT_FOUND, 77},  // not a PCI\VEN_ device
    };
    for (const Case &c : cases) {
        uint32_t slot = 77;
        EXPECT_EQ(GetPciSlotNumber(c.bus, c.device, c.function, &slot), c.result) << c.bus;
        EXPECT_EQ(slot, c.slot) << c.bus;
    }
}

TEST_F(StorageIoTest, PciLocationOfAScsiPortByDriverAndOrdinal)
{
    m_Sim.AddPciDevice({"PCI\\VEN_103C&DEV_323A\\4&1", "PCI bus 3, device 0, function 0", 1, "ZdtSas", -1});
    m_Sim.AddPciDevice({"PCI\\VEN_8086&DEV_1C02\\3&2", "PCI bus 0, device 31, function 2", 0, "iaStorE", -1});
    m_Sim.AddPciDevice({"PCI\\VEN_103C&DEV_323A\\4&2", "PCI bus 4, device 0, function 0", 2, "zdtsas", -1});
    m_Sim.SetDeviceMapDriver(2, "zdtsas");
    uint8_t bus = 0, device = 0, function = 0;
    EXPECT_EQ(GetScsiPortPciLocation(&bus, &device, &function, 2, 1), 0);
    EXPECT_EQ(bus, 4);
    EXPECT_EQ(device, 0);
    EXPECT_EQ(GetScsiPortPciLocation(&bus, &device, &function, 2, 0), 0);
    EXPECT_EQ(bus, 3);
    EXPECT_EQ(GetScsiPortPciLocation(&bus, &device, &function, 2, 2), 0);
    EXPECT_EQ(bus, 255);
    // No "Driver" value for port 5.
    EXPECT_EQ(GetScsiPortPciLocation(&bus, &device, &function, 5, 0), 0);
    EXPECT_EQ(bus, 255);
    EXPECT_EQ(device, 255);
    EXPECT_EQ(function, 255);
    EXPECT_EQ(GetScsiPortPciLocation(nullptr, &device, &function, 2, 0), ERROR_INVALID_DATA);
}

TEST_F(StorageIoTest, ReadPhysicalMemoryMapsFromThePageBoundary)
{
    std::vector<uint8_t> rom(0x10000, 0);
    rom[0] = 0x55;
    rom[1] = 0xAA;
    rom[0xFFFF] = 0x77;
    m_Sim.AddMemoryWindow(0xC0800, rom);
    std::vector<uint8_t> out(0x10000, 0);
    EXPECT_NE(ReadPhysicalMemory(0xC0800, 0x10000, out.data()), 0);  // no section yet
    m_Sim.SetPhysicalMemory(true);
    ASSERT_EQ(ReadPhysicalMemory(0xC0800, 0x10000, out.data()), 0);
    EXPECT_EQ(m_Sim.LastMapOffset(), 0xC0000u);
    EXPECT_EQ(m_Sim.LastMapSize(), 0x10800u);
    EXPECT_EQ(out[0], 0x55);
    EXPECT_EQ(out[1], 0xAA);
    EXPECT_EQ(out[0xFFFF], 0x77);
}

TEST(SasAlloc, ZeroFilledAndFreed)
{
    void *pointer = nullptr;
    ASSERT_EQ(SasAlloc(4096, &pointer), 0u);
    ASSERT_NE(pointer, nullptr);
    const auto *bytes = static_cast<const uint8_t *>(pointer);
    EXPECT_TRUE(std::all_of(bytes, bytes + 4096, [](uint8_t b) { return b == 0; }));
    SasFree(pointer);
    SasFree(nullptr);
    void *tooBig = reinterpret_cast<void *>(1);
    EXPECT_NE(SasAlloc(SIZE_MAX / 2, &tooBig), 0u);
    EXPECT_EQ(tooBig, nullptr);
}

} // namespace
