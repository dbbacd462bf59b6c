// Enclosure pages: the rank tables and the statuses made from them, the bay slots, and walks that
// a page's own lengths cannot lead outside it.
#include "ses_decode.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Element {
    uint8_t type;
    std::vector<uint8_t> codes;   // overall element first
};

// A configuration page with the given elements and the status page that goes with it.
void Pages(const std::vector<Element> &elements, std::vector<uint8_t> *config, std::vector<uint8_t> *status)
{
    config->assign(16 + 4 * elements.size(), 0);
    (*config)[10] = static_cast<uint8_t>(elements.size());
    (*config)[11] = 4;
    status->assign(8, 0);
    for (size_t i = 0; i < elements.size(); ++i) {
        (*config)[16 + 4 * i] = elements[i].type;
        (*config)[17 + 4 * i] = static_cast<uint8_t>(elements[i].codes.size() - 1);
        for (uint8_t code : elements[i].codes) {
            status->push_back(code);
            status->insert(status->end(), 3, 0);
        }
    }
    (*config)[3] = static_cast<uint8_t>(config->size() - 4);
    (*status)[2] = static_cast<uint8_t>((status->size() - 4) >> 8);
    (*status)[3] = static_cast<uint8_t>(status->size() - 4);
}

SES_STATUS_SUMMARY Walk(const std::vector<Element> &elements)
{
    std::vector<uint8_t> config, status;
    Pages(elements, &config, &status);
    SES_STATUS_SUMMARY summary;
    EXPECT_TRUE(DecodeSesStatus(config.data(), config.size(), status.data(), status.size(), &summary));
    return summary;
}

TEST(SesDecode, StatusesFromTheElements)
{
    struct {
        const char *name;
        std::vector<Element> elements;
        uint8_t power, powerCondition, fan, fanCondition, temperature, temperatureCondition;
    } cases[] = {
        {"nothing", {}, 5, 2, 4, 2, 5, 2},
        {"all ok", {{2, {0, 1, 1}}, {3, {0, 1}}, {4, {0, 1}}}, 2, 2, 2, 2, 2, 2},
        {"one failed supply of two", {{2, {0, 1, 2}}}, 3, 3, 4, 2, 5, 2},
        {"two failed supplies", {{2, {0, 2, 4}}}, 4, 4, 4, 2, 5, 2},
        {"supply not installed", {{2, {0, 5}}}, 5, 2, 4, 2, 5, 2},
        {"supply unknown", {{2, {0, 6}}}, 1, 1, 4, 2, 5, 2},
        {"non-critical fan", {{3, {0, 1, 3}}}, 5, 2, 5, 3, 5, 2},
        {"all fans critical", {{3, {2, 2}}}, 5, 2, 3, 4, 5, 2},
        {"hot sensor", {{4, {0, 1, 3}}}, 5, 2, 4, 2, 3, 3},
        {"every sensor critical", {{4, {4, 2}}}, 5, 2, 4, 2, 4, 4},
        {"codes 8 to 15 skipped", {{2, {0, 9, 15}}, {4, {8}}}, 5, 2, 4, 2, 5, 2},
    };
    for (const auto &c : cases) {
        SES_STATUS_SUMMARY s = Walk(c.elements);
        uint8_t power = SesPowerStatus(s.PowerHigh, s.PowerLow);
        uint8_t fan = SesFanStatus(s.FanHigh, s.FanLow);
        uint8_t temperature = SesTemperatureStatus(s.TemperatureHigh, s.TemperatureLow);
        EXPECT_EQ(c.power, power) << c.name;
        EXPECT_EQ(c.powerCondition, SesPowerCondition(power)) << c.name;
        EXPECT_EQ(c.fan, fan) << c.name;
        EXPECT_EQ(c.fanCondition, SesFanCondition(fan)) << c.name;
        EXPECT_EQ(c.temperature, temperature) << c.name;
        EXPECT_EQ(c.temperatureCondition, SesTemperatureCondition(temperature)) << c.name;
    }
}

TEST(SesDecode, BaySlotsAndShortPages)
{
    SES_STATUS_SUMMARY s = Walk({{2, {0, 1}}, {23, {0, 1, 2, 5}}});
    EXPECT_TRUE(s.HaveBays);
    EXPECT_EQ(3, s.BayCount);
    EXPECT_EQ(1, s.BayStatus[1]);
    EXPECT_EQ(2, s.BayStatus[2]);
    EXPECT_EQ(5, s.BayStatus[3]);

    // 255 slots fit the array; a status page that ends early ends the walk there.
    std::vector<uint8_t> codes(256, 1);
    std::vector<uint8_t> config, status;
    Pages({{23, codes}, {2, {0, 2}}}, &config, &status);
    SES_STATUS_SUMMARY full;
    ASSERT_TRUE(DecodeSesStatus(config.data(), config.size(), status.data(), status.size(), &full));
    EXPECT_EQ(255, full.BayCount);
    EXPECT_EQ(1, full.BayStatus[255]);
    EXPECT_EQ(5, full.PowerHigh);
    SES_STATUS_SUMMARY cut;
    ASSERT_TRUE(DecodeSesStatus(config.data(), config.size(), status.data(), 8 + 4 * 100, &cut));
    EXPECT_EQ(0, cut.BayStatus[100]);
    EXPECT_EQ(1, cut.PowerHigh);
    // The page's own length counts as well as the bytes returned.
    status[2] = 0;
    status[3] = 12;
    ASSERT_TRUE(DecodeSesStatus(config.data(), config.size(), status.data(), status.size(), &cut));
    EXPECT_EQ(1, cut.BayStatus[1]);
    EXPECT_EQ(0, cut.BayStatus[2]);
    SES_STATUS_SUMMARY none;
    EXPECT_FALSE(DecodeSesStatus(config.data(), 11, status.data(), status.size(), &none));
}

std::vector<uint8_t> Descriptor(bool eip, uint8_t bay, std::vector<std::pair<uint8_t, uint8_t>> phys,
                                uint8_t descriptorType = 0)
{
    std::vector<uint8_t> d(eip ? 4 : 2, 0);
    d[0] = eip ? 0x16 : 0x06;
    std::vector<uint8_t> part(eip ? 4 : 2, 0);
    part[0] = static_cast<uint8_t>(phys.size());
    part[1] = static_cast<uint8_t>(descriptorType << 6);
    if (part.size() > 3)
        part[3] = bay;
    for (auto [attached, device] : phys) {
        std::vector<uint8_t> phy(28, 0);
        phy[0] = 0x10;
        phy[3] = 8;
        phy[11] = attached;
        phy[19] = device;
        part.insert(part.end(), phy.begin(), phy.end());
    }
    d.insert(d.end(), part.begin(), part.end());
    d[1] = static_cast<uint8_t>(d.size() - 2);
    return d;
}

TEST(SesDecode, AdditionalElementStatus)
{
    std::vector<uint8_t> page(8, 0);
    page[0] = 10;
    for (const auto &d : {Descriptor(true, 7, {{1, 0xA1}}), Descriptor(false, 0, {{0, 0xA2}, {1, 0xA3}}),
                          Descriptor(true, 0, {{1, 0xA4}}, 1), Descriptor(true, 0, {{1, 0xA5}})})
        page.insert(page.end(), d.begin(), d.end());
    page[2] = static_cast<uint8_t>((page.size() - 4) >> 8);
    page[3] = static_cast<uint8_t>(page.size() - 4);
    std::vector<SES_BAY_DEVICE> devices;
    ASSERT_TRUE(DecodeSesAdditional(page.data(), page.size(), &devices));
    ASSERT_EQ(3u, devices.size());
    EXPECT_EQ(1u, devices[0].Slot);
    EXPECT_EQ(7, devices[0].BayNumber);
    EXPECT_EQ(0xA1, devices[0].SasAddress[7]);
    EXPECT_EQ(2u, devices[1].Slot);   // no bay byte without EIP: the slot count names it
    EXPECT_EQ(2, devices[1].BayNumber);
    EXPECT_EQ(0xA3, devices[1].SasAddress[7]);
    EXPECT_EQ(3u, devices[2].Slot);   // the part of another descriptor type did not count
    EXPECT_EQ(0x10, devices[2].DeviceType);
    EXPECT_EQ(8, devices[2].TargetFlags);
    // A descriptor whose length reaches past the page: its phys are not read.
    std::vector<uint8_t> cut(page.begin(), page.end() - 10);
    ASSERT_TRUE(DecodeSesAdditional(cut.data(), cut.size(), &devices));
    EXPECT_EQ(2u, devices.size());
    // A descriptor that claims the rest of the page ends the walk after its own phys.
    page[8 + 1] = 250;
    ASSERT_TRUE(DecodeSesAdditional(page.data(), page.size(), &devices));
    ASSERT_EQ(1u, devices.size());
    EXPECT_EQ(0xA1, devices[0].SasAddress[7]);
}

} // namespace
