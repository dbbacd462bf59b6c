#include "ses_decode.h"

#include "big_endian.h"

#include <cstring>

namespace {

constexpr uint8_t kPowerSupply = 2, kCooling = 3, kTemperature = 4, kArraySlot = 23;
constexpr size_t kMaxPage = 2048;

// The bytes of a page that count: its length field and what came back, whichever ends first.
size_t PageEnd(const ByteReader &reader)
{
    uint16_t length = 0;
    if (!BeU16(reader, 2, &length))
        return 0;
    size_t end = size_t{length} + 4;
    if (end > reader.Size())
        end = reader.Size();
    return end;
}

void Keep(uint8_t rank, uint8_t *high, uint8_t *low)
{
    if (rank == 0)
        return;
    if (rank > *high)
        *high = rank;
    if (rank < *low)
        *low = rank;
}

} // namespace

uint8_t SesPowerRank(uint8_t code)
{
    static const uint8_t kRanks[8] = {0, 2, 5, 4, 5, 3, 1, 1};
    return code < 8 ? kRanks[code] : 0;
}
uint8_t SesFanRank(uint8_t code)
{
    static const uint8_t kRanks[8] = {0, 3, 5, 4, 5, 5, 2, 2};
    return code < 8 ? kRanks[code] : 0;
}
uint8_t SesTemperatureRank(uint8_t code)
{
    static const uint8_t kRanks[8] = {0, 3, 5, 4, 5, 2, 2, 2};
    return code < 8 ? kRanks[code] : 0;
}

uint8_t SesPowerStatus(uint8_t h, uint8_t l)
{
    if (h == 5)
        return l == 5 ? 4 : 3;
    if (h == 4)
        return 3;
    if (h == 2)
        return 2;
    if (h == 1 && l != 5)
        return 1;
    return 5;
}
uint8_t SesPowerCondition(uint8_t status)
{
    return status == 4 ? 4 : status == 3 ? 3 : status == 1 ? 1 : 2;
}
uint8_t SesTemperatureStatus(uint8_t h, uint8_t l)
{
    if (h == 5)
        return l == 5 ? 4 : 3;
    if (h == 4)
        return 3;
    if (h == 3)
        return 2;
    if (h == 2)
        return 1;
    return 5;
}
uint8_t SesTemperatureCondition(uint8_t status)
{
    return status == 4 ? 4 : status == 3 ? 3 : status == 1 ? 1 : 2;
}
uint8_t SesFanStatus(uint8_t h, uint8_t l)
{
    if (h == 5)
        return l == 5 ? 3 : 5;
    if (h == 4)
        return 5;
    if (h == 3)
        return 2;
    if (h == 2)
        return 1;
    return 4;
}
uint8_t SesFanCondition(uint8_t status)
{
    return status == 3 ? 4 : status == 5 ? 3 : status == 1 ? 1 : 2;
}

bool DecodeSesStatus(const uint8_t *config, size_t configReturned, const uint8_t *status, size_t statusReturned,
                     SES_STATUS_SUMMARY *summary)
{
    ByteReader configPage(config, configReturned < kMaxPage ? configReturned : kMaxPage);
    ByteReader statusPage(status, statusReturned < kMaxPage ? statusReturned : kMaxPage);
    uint8_t headers = 0, descriptorLength = 0;
    if (!configPage.U8(10, &headers) || !configPage.U8(11, &descriptorLength))
        return false;
    SES_STATUS_SUMMARY out;
    const size_t configEnd = PageEnd(configPage);
    const size_t statusEnd = PageEnd(statusPage);
    size_t header = 12 + size_t{descriptorLength};
    size_t descriptor = 8;
    for (unsigned i = 0; i < headers; ++i, header += 4) {
        if (header + 4 > configEnd)
            break;
        uint8_t type = 0, count = 0;
        configPage.U8(header, &type);
        configPage.U8(header + 1, &count);
        if (type == kArraySlot) {
            out.HaveBays = true;
            out.BayCount = count;
        }
        for (unsigned j = 0; j <= count; ++j, descriptor += 4) {
            if (descriptor + 4 > statusEnd)
                break;
            uint8_t byte0 = 0;
            statusPage.U8(descriptor, &byte0);
            const uint8_t code = byte0 & 0x0F;
            if (type == kPowerSupply)
                Keep(SesPowerRank(code), &out.PowerHigh, &out.PowerLow);
            else if (type == kCooling)
                Keep(SesFanRank(code), &out.FanHigh, &out.FanLow);
            else if (type == kTemperature)
                Keep(SesTemperatureRank(code), &out.TemperatureHigh, &out.TemperatureLow);
            else if (type == kArraySlot && j < SES_BAY_SLOTS)
                out.BayStatus[j] = code;
        }
    }
    *summary = out;
    return true;
}

bool DecodeSesAdditional(const uint8_t *page, size_t returned, std::vector<SES_BAY_DEVICE> *devices)
{
    ByteReader reader(page, returned < kMaxPage ? returned : kMaxPage);
    if (!reader.Has(0, 4))
        return false;
    devices->clear();
    const size_t end = PageEnd(reader);
    uint32_t slot = 0;
    for (size_t at = 8; at + 2 <= end;) {
        uint8_t flags = 0, length = 0;
        reader.U8(at, &flags);
        reader.U8(at + 1, &length);
        const size_t next = at + size_t{length} + 2;
        const bool eip = (flags & 0x10) != 0;
        const size_t part = at + (eip ? 4 : 2);
        uint8_t descriptorType = 0;
        if (part + 4 <= next && part + 4 <= end && reader.U8(part + 1, &descriptorType) && descriptorType <= 63) {
            ++slot;
            uint8_t phys = 0, bay = 0;
            reader.U8(part, &phys);
            reader.U8(part + 3, &bay);
            size_t phy = part + (eip ? 4 : 2);
            for (unsigned p = 0; p < phys; ++p, phy += 28) {
                // A phy descriptor counts only when it lies wholly inside its descriptor and page.
                if (phy + 28 > next || phy + 28 > end)
                    break;
                SES_BAY_DEVICE device{};
                uint8_t attached[8] = {};
                reader.Bytes(phy + 4, attached, 8);
                static const uint8_t kZero[8] = {};
                if (std::memcmp(attached, kZero, 8) == 0)
                    continue;
                uint8_t byte0 = 0;
                reader.U8(phy, &byte0);
                reader.U8(phy + 3, &device.TargetFlags);
                reader.Bytes(phy + 12, device.SasAddress, 8);
                device.DeviceType = byte0 & 0x70;
                device.Slot = slot;
                device.BayNumber = bay != 0 ? bay : static_cast<uint8_t>(slot);
                devices->push_back(device);
            }
        }
        at = next;
    }
    return true;
}
