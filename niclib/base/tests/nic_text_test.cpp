// Which interface-table rows the library models, and the bounds of outside texts.
#include "nic_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint32_t kGigabit = 1000000000;

TEST(IsRealInterfaceDescription, Table)
{
    struct Case {
        uint32_t type;
        uint32_t speed;
        const wchar_t *description;
        int real;
    };
    const Case cases[] = {
        {6, kGigabit, L"Intel(R) Ethernet Connection I217-LM", 1},
        {6, 0, L"Intel(R) Ethernet Connection I217-LM", 0}, // no link
        {24, 1073741824, L"Software Loopback Interface 1", 1},
        {24, 0, L"Software Loopback Interface 1", 1}, // the loopback passes by name
        {24, 0, L"lo", 0},                            // a loopback under another name needs a speed
        {24, 10000000, L"lo", 1},
        {71, kGigabit, L"Wireless adapter", 0},
        {23, kGigabit, L"PPP adapter", 0},
        {6, kGigabit, L"WAN Miniport (IP)", 0},
        {6, kGigabit, L"Some WAN adapter", 0},
        {6, kGigabit, L"Microsoft Hyper-V Network Adapter", 0},
        {6, kGigabit, L"NIC-WFP LightWeightFilter-0000", 0},
        {6, kGigabit, L"NIC-WFP Native MAC Layer LightWeight Filter-0000", 0},
        {6, kGigabit, L"Microsoft Virtual Network Switch Adapter", 0},
        {6, kGigabit, L"NIC-QoS Packet Scheduler-0000", 0},
        {6, kGigabit, L"Microsoft Network Adapter Multiplexor", 0},
        {6, kGigabit, L"Microsoft Network Adapter Multiplexor Driver #2", 1}, // exact match only
        {6, kGigabit, L"Microsoft Network Adapter Multiplexo", 1},
        {6, kGigabit, L"Microsoft Kernel Debug Network Adapter", 0},
        {6, kGigabit, L"Virtual Ethernet Adapter", 0},
        {6, kGigabit, L"virtual ethernet adapter", 1}, // the tests are case-sensitive
        {6, kGigabit, L"wan miniport", 1},
        {6, kGigabit, L"", 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.real, IsRealInterfaceDescription(c.type, c.speed, c.description))
            << c.type << " " << c.speed << " \"" << std::string(c.description, c.description + wcslen(c.description))
            << "\"";
}

TEST(InterfaceDescriptionLength, BoundedByNulDeclaredLengthAndField)
{
    uint8_t field[256];
    std::fill(std::begin(field), std::end(field), 'A');
    EXPECT_EQ(256u, InterfaceDescriptionLength(field, sizeof(field), 256));
    EXPECT_EQ(256u, InterfaceDescriptionLength(field, sizeof(field), 0xFFFFFFFF)); // never past the field
    EXPECT_EQ(10u, InterfaceDescriptionLength(field, sizeof(field), 10));
    EXPECT_EQ(0u, InterfaceDescriptionLength(field, sizeof(field), 0));
    field[5] = 0;
    EXPECT_EQ(5u, InterfaceDescriptionLength(field, sizeof(field), 256));
    EXPECT_EQ(3u, InterfaceDescriptionLength(field, sizeof(field), 3));
    EXPECT_EQ(0u, InterfaceDescriptionLength(nullptr, 256, 256));
}

TEST(FirstRegistryStringUnits, StopsAtNulOrTheDataEnd)
{
    struct Case {
        std::u16string data;
        size_t bytes;
        size_t units;
    };
    const Case cases[] = {
        {u"10.0.0.1", 18, 8},                     // REG_SZ with its NUL
        {u"10.0.0.1", 16, 8},                     // without a NUL
        {std::u16string(u"10.0.0.1\0" u"10.0.0.2\0\0", 20), 40, 8}, // REG_MULTI_SZ: the first string
        {u"10.0.0.1", 15, 7},                     // an odd byte is no character
        {u"", 0, 0},
        {u"", 1, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.units, FirstRegistryStringUnits(c.data.data(), c.bytes)) << c.bytes;
    EXPECT_EQ(0u, FirstRegistryStringUnits(nullptr, 8));
}

} // namespace
