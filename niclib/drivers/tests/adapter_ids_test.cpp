// The readers of configuration-manager texts: instance IDs, location texts and their numbers.
#include "adapter_ids.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Narrow(std::wstring_view text)
{
    return std::string(text.begin(), text.end());
}

TEST(GetNextNumber, FirstDecimalNumberAndWhereItEnds)
{
    struct Case {
        std::wstring_view text;
        int32_t number;
        size_t consumed; // 99: not written
    };
    const Case cases[] = {
        {L"", -1, 99},
        {L"bus , device", -1, 99},
        {L"bus 4, device 0", 4, 5},
        {L"12", 12, 2},
        {L"-5x", 5, 2},                       // the sign is not part of the number
        {L"\x0663" L"7", 7, 2},               // only ASCII digits count
        {L"x99999999999999999999", 0x7FFFFFFF, 21}, // too large: the largest value, every digit consumed
        {L"2147483647", 0x7FFFFFFF, 10},
    };
    for (const Case &c : cases) {
        size_t consumed = 99;
        EXPECT_EQ(c.number, GetNextNumber(c.text, &consumed)) << Narrow(c.text);
        EXPECT_EQ(c.consumed, consumed) << Narrow(c.text);
    }
    size_t consumed = 7;
    EXPECT_EQ(-1, GetNextNumber(static_cast<const wchar_t *>(nullptr), &consumed));
    EXPECT_EQ(7u, consumed);
}

TEST(ClassifyHardwareId, FamiliesAndIdentity)
{
    using F = HardwareIdFamily;
    struct Case {
        std::wstring_view id;
        F family;
        uint32_t pciId;
        uint32_t subsystemId;
    };
    const Case cases[] = {
        {L"PCI\\VEN_8086&DEV_1572&SUBSYS_00088086&REV_01\\4&2A5B&0&0008", F::kPci, 0x80861572, 0x00088086},
        {L"B06BDRV\\L2ND&PCI_164E14E4&SUBSYS_1917103C&REV_10\\5&1&0&0", F::kVirtualBus, 0x164E14E4, 0x1917103C},
        {L"EBDRV\\L2ND&PCI_16A114E4&SUBSYS_3382103C&REV_00\\1", F::kVirtualBus, 0x16A114E4, 0x3382103C},
        {L"QEBDRV\\L2ND&PCI_8070077&SUBSYS_00011077&REV_02\\1", F::kVirtualBus, 0x08070077, 0x00011077},
        {L"MLX4\\CONNECTX-3_ETH\\6&1&0", F::kMellanox, 0, 0},
        {L"MLX4\\CONNECTX-3PRO_ETH\\6&1&0", F::kMellanox, 0, 0},
        {L"IBA\\IPOIB\\7&1", F::kMellanox, 0, 0},
        {L"IBA\\CONNECTX-3_IPOIB\\7&1", F::kMellanox, 0, 0},
        {L"SFVMK\\VEN_1924&DEV_0A03\\5&1", F::kSolarflare, 0, 0},
        {L"PCI\\VEN_1924&DEV_0A03&SUBSYS_1A021924&REV_02\\1", F::kPci, 0x19240A03, 0x1A021924},
        {L"USB\\VID_1B1F&PID_0E21\\0123", F::kMgmtUsb, 0x1B1F0E21, 0},
        {L"USB\\VID_1B1F&PID_0E22\\0123", F::kRejected, 0, 0},
        {L"ROOT\\NET\\0000", F::kRejected, 0, 0},
        {L"PCI\\VEN_8086&DEV_1572\\3&1", F::kUnparsed, 0, 0}, // accepted family, too few fields
        {L"B06BDRV\\L2ND&PCI_ZZ", F::kUnparsed, 0, 0},
    };
    for (const Case &c : cases) {
        const HARDWAREIDINFO info = ClassifyHardwareId(c.id);
        EXPECT_EQ(c.family, info.family) << Narrow(c.id);
        EXPECT_EQ(c.pciId, info.pciId) << Narrow(c.id);
        EXPECT_EQ(c.subsystemId, info.subsystemId) << Narrow(c.id);
        EXPECT_EQ(c.family == F::kPci, info.isPciId) << Narrow(c.id);
    }
}

TEST(LocationText, NumbersGiveTheBusPosition)
{
    struct Case {
        std::wstring_view text;
        bool mellanox;
        uint32_t segment, bus, device, function;
        bool hasPort;
        int32_t port;
    };
    const Case cases[] = {
        {L"PCI bus 4, device 0, function 1", false, 0, 4, 0, 1, false, -1},
        {L"PCI Segment 1 bus 4, device 0, function 1", false, 1, 4, 0, 1, false, -1},
        {L"MLX4 bus 5, device 0, function 0, port 2", true, 0, 5, 0, 0, true, 2},
        {L"MLX4 bus 5, device 0", true, 0, 5, 0, 0xFFFFFFFF, false, -1},
        {L"MLX", true, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, false, -1}, // shorter than the skipped part
        {L"", false, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, false, -1},
        {L"bus 1 2 3 4 5 6", false, 1, 2, 3, 4, false, -1},
    };
    for (const Case &c : cases) {
        const LOCATIONINFO info = ParseLocationText(c.text, c.mellanox);
        EXPECT_EQ(c.segment, info.segment) << Narrow(c.text);
        EXPECT_EQ(c.bus, info.bus) << Narrow(c.text);
        EXPECT_EQ(c.device, info.device) << Narrow(c.text);
        EXPECT_EQ(c.function, info.function) << Narrow(c.text);
        EXPECT_EQ(c.hasPort, info.hasPort) << Narrow(c.text);
        EXPECT_EQ(c.port, info.port) << Narrow(c.text);
    }
}

TEST(LocationText, MellanoxPortAndSolarflareParent)
{
    EXPECT_EQ(2u, MellanoxLocationPort(L"MLX4 bus 5, device 0, function 0, port 2"));
    EXPECT_EQ(0x1Au, MellanoxLocationPort(L"MLX4 bus 0x5, device 0, function 0, port 1a"));
    EXPECT_EQ(0u, MellanoxLocationPort(L"MLX4 bus 5, device 0, function 0"));
    EXPECT_EQ(0u, MellanoxLocationPort(L"PCI bus 5, device 0, function 0, port 2"));

    uint32_t bus = 9, device = 9, function = 9;
    EXPECT_TRUE(ParseSolarflareLocation(L"PCI bus 3, device 0, function 1", &bus, &device, &function));
    EXPECT_EQ(3u, bus);
    EXPECT_EQ(0u, device);
    EXPECT_EQ(1u, function);
    bus = device = function = 9;
    EXPECT_FALSE(ParseSolarflareLocation(L"PCI bus 3, device 0", &bus, &device, &function));
    EXPECT_EQ(9u, bus);
}

} // namespace
