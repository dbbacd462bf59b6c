#include "sim_sas_devices.h"

#include <cstring>

namespace {

constexpr size_t kSspFrame = 372;
constexpr size_t kSspDataLength = 96;
constexpr size_t kSspConnection = 100;
constexpr size_t kSspStatus = 105;
constexpr size_t kSspDataBytes = 364;
constexpr size_t kSspData = 368;
constexpr size_t kSspCdb = 52;
constexpr uint8_t kCheckCondition = 2;

constexpr size_t kSmpRequest = 44;
constexpr size_t kSmpConnection = 1064;
constexpr size_t kSmpResponseBytes = 1068;
constexpr size_t kSmpResponse = 1072;
constexpr size_t kSmpBuffer = 2092;

void PutBe16(std::vector<uint8_t> &data, size_t at, uint32_t value)
{
    data[at] = static_cast<uint8_t>(value >> 8);
    data[at + 1] = static_cast<uint8_t>(value);
}
void PutBe32(std::vector<uint8_t> &data, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        data[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}
void PutText(std::vector<uint8_t> &data, size_t at, size_t length, const std::string &text)
{
    for (size_t i = 0; i < length; ++i)
        data[at + i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
}

uint32_t Key(const uint8_t *cdb)
{
    uint8_t page = 0;
    switch (cdb[0]) {
    case 0x12: page = (cdb[1] & 1) ? cdb[2] : 0; break;
    case 0x1A: page = cdb[2] & 0x3F; break;
    case 0x4D: page = cdb[2] & 0x3F; break;
    case 0x9E: page = cdb[1] & 0x1F; break;
    case 0x1C: page = cdb[2]; break;
    default: break;
    }
    return uint32_t{cdb[0]} << 8 | page;
}

// An ATA text field of IDENTIFY (words swapped), trailing spaces kept.
std::string AtaText(const std::vector<uint8_t> &identify, size_t word, size_t words)
{
    std::string text;
    for (size_t i = 0; i < 2 * words; ++i)
        text += static_cast<char>(identify[2 * word + (i ^ 1)]);
    return text;
}

} // namespace

void SimSasAddress(uint64_t n, uint8_t out[8])
{
    uint64_t value = 0x5000C50000000000ull + n;
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<uint8_t>(value >> (56 - 8 * i));
}

SimScsiDisk::SimScsiDisk() : Inquiry(116, 0) {}

void SimScsiDisk::SetIdentity(const char *vendor, const char *product, const char *revision, const char *serial)
{
    Inquiry[2] = 6;
    Inquiry[3] = 2;
    Inquiry[4] = 111;
    PutText(Inquiry, 8, 8, vendor);
    PutText(Inquiry, 16, 16, product);
    PutText(Inquiry, 32, 4, revision);
    Serial = serial;
}

size_t SimScsiDisk::CountCommands(uint8_t opcode) const
{
    size_t count = 0;
    for (const SimScsiCommand &command : Commands)
        count += command.Opcode == opcode;
    return count;
}

bool SimScsiDisk::Answer(const uint8_t *cdb, std::vector<uint8_t> *data)
{
    std::vector<uint8_t> &out = *data;
    switch (cdb[0]) {
    case 0x12:
        if ((cdb[1] & 1) == 0) {
            out = Inquiry;
            out[0] = Peripheral;
            return true;
        }
        if (cdb[2] == 0x80) {
            out.assign(4 + Serial.size(), 0);
            out[1] = 0x80;
            out[3] = static_cast<uint8_t>(Serial.size());
            std::memcpy(&out[4], Serial.data(), Serial.size());
            return true;
        }
        return false;
    case 0x25:
        out.assign(8, 0);
        PutBe32(out, 0, LastLba > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(LastLba));
        PutBe32(out, 4, BlockLength);
        return true;
    case 0x9E:
        out.assign(32, 0);
        PutBe32(out, 0, static_cast<uint32_t>(LastLba >> 32));
        PutBe32(out, 4, static_cast<uint32_t>(LastLba));
        PutBe32(out, 8, BlockLength);
        return true;
    case 0x1A:
        if ((cdb[2] & 0x3F) == 0x1C) {
            out.assign(16, 0);
            out[4] = 0x1C;
            out[5] = 10;
            out[6] = IeDisabled ? 0x08 : 0x00;
            return true;
        }
        if ((cdb[2] & 0x3F) == 0x04) {
            out.assign(28, 0);
            out[4] = 0x04;
            out[5] = 22;
            PutBe16(out, 24, Rpm);
            return true;
        }
        return false;
    case 0x4D:
        switch (cdb[2] & 0x3F) {
        case 0x00:
            out.assign(4 + LogPages.size(), 0);
            PutBe16(out, 2, static_cast<uint32_t>(LogPages.size()));
            std::memcpy(&out[4], LogPages.data(), LogPages.size());
            return true;
        case 0x0D:
            out.assign(16, 0);
            out[0] = 0x0D;
            out[3] = 12;
            out[9] = Temperature;
            out[15] = ReferenceTemperature;
            return true;
        case 0x2F:
            out.assign(12, 0);
            out[0] = 0x2F;
            out[3] = 8;
            out[8] = IeCode;
            out[9] = IeQualifier;
            return true;
        case 0x36:
            if (WearLog.empty())
                return false;
            out = WearLog;
            return true;
        default:
            return false;
        }
    case 0x37:
        out.assign(4, 0);
        out[1] = DefectFormat;
        PutBe16(out, 2, DefectListLength);
        return true;
    default:
        return false;
    }
}

DWORD SimScsiDisk::Ssp(uint8_t *buffer, DWORD size)
{
    if (size < kSspFrame)
        return 0;
    const uint8_t *cdb = buffer + kSspCdb;
    Commands.push_back({cdb[0], static_cast<uint8_t>(Key(cdb) & 0xFF)});
    uint32_t length = 0;
    std::memcpy(&length, buffer + kSspDataLength, 4);
    if (length > size - kSspFrame)
        length = size - kSspFrame;
    std::vector<uint8_t> data;
    uint32_t key = Key(cdb);
    bool ok = !Fail.count(key);
    if (ok) {
        auto raw = Raw.find(key);
        ok = raw != Raw.end() ? (data = raw->second, true) : Answer(cdb, &data);
    }
    buffer[kSspConnection] = 0;
    if (!ok) {
        buffer[kSspStatus] = kCheckCondition;
        uint32_t none = 0;
        std::memcpy(buffer + kSspDataBytes, &none, 4);
        return static_cast<DWORD>(kSspFrame);
    }
    uint32_t count = data.size() < length ? static_cast<uint32_t>(data.size()) : length;
    buffer[kSspStatus] = 0;
    std::memcpy(buffer + kSspDataBytes, &count, 4);
    if (count != 0)
        std::memcpy(buffer + kSspData, data.data(), count);
    return static_cast<DWORD>(kSspFrame + count);
}

SimSataBehindSas::SimSataBehindSas(std::shared_ptr<SimAtaDisk> disk) : Disk(std::move(disk)), m_Stp(Disk->StpTarget())
{
    Rpm = 0;
}

DWORD SimSataBehindSas::Stp(uint8_t *buffer, DWORD size)
{
    return m_Stp->Stp(buffer, size);
}

bool SimSataBehindSas::Answer(const uint8_t *cdb, std::vector<uint8_t> *data)
{
    const std::vector<uint8_t> &id = Disk->Identify;
    auto word = [&](size_t w) { return static_cast<uint32_t>(id[2 * w] | id[2 * w + 1] << 8); };
    std::vector<uint8_t> &out = *data;
    switch (cdb[0]) {
    case 0x12:
        if ((cdb[1] & 1) == 0) {
            out.assign(116, 0);
            out[4] = 111;
            PutText(out, 8, 8, "ATA");
            PutText(out, 16, 16, AtaText(id, 27, 8));
            PutText(out, 32, 4, AtaText(id, 23, 2));
            return true;
        }
        if (cdb[2] == 0x80) {
            std::string serial = AtaText(id, 10, 10);
            out.assign(4 + serial.size(), 0);
            out[1] = 0x80;
            out[3] = static_cast<uint8_t>(serial.size());
            std::memcpy(&out[4], serial.data(), serial.size());
            return true;
        }
        return false;
    case 0x25:
    case 0x9E: {
        uint64_t sectors = 0;
        for (size_t i = 0; i < 4; ++i)
            sectors |= uint64_t{word(100 + i)} << (16 * i);
        LastLba = sectors == 0 ? 0 : sectors - 1;
        BlockLength = 512;
        return SimScsiDisk::Answer(cdb, data);
    }
    case 0x4D:
        if ((cdb[2] & 0x3F) == 0x2F) {
            IeCode = Disk->Exceeded ? 0x5D : 0;
            return SimScsiDisk::Answer(cdb, data);
        }
        return (cdb[2] & 0x3F) == 0x0D && SimScsiDisk::Answer(cdb, data);
    case 0x1A:
        return (cdb[2] & 0x3F) == 0x1C && SimScsiDisk::Answer(cdb, data);
    default:
        return false;
    }
}

void SimSmpExpander::SetPhy(size_t phy, uint8_t type, uint8_t flags, const uint8_t address[8], bool isVirtual)
{
    if (Phys.size() <= phy)
        Phys.resize(phy + 1);
    Phys[phy].AttachedType = type;
    Phys[phy].TargetFlags = flags;
    std::memcpy(Phys[phy].AttachedAddress, address, 8);
    Phys[phy].Virtual = isVirtual;
}

DWORD SimSmpExpander::Smp(uint8_t *buffer, DWORD size)
{
    if (size < kSmpBuffer)
        return 0;
    ++Requests;
    const uint8_t function = buffer[kSmpRequest + 1];
    std::vector<uint8_t> response(56, 0);
    response[0] = 0x41;
    response[1] = function;
    auto raw = Raw.find(function);
    if (raw != Raw.end()) {
        response = raw->second;
    } else if (function == 0x00) {
        response[9] = static_cast<uint8_t>(Phys.size());
    } else if (function == 0x10) {
        const uint8_t phy = buffer[kSmpRequest + 9];
        if (phy >= Phys.size()) {
            response[2] = 0x10;   // phy does not exist
        } else {
            const Phy &p = Phys[phy];
            response[9] = phy;
            response[12] = static_cast<uint8_t>(p.AttachedType << 4);
            response[15] = p.TargetFlags;
            std::memcpy(&response[16], SasAddress, 8);
            std::memcpy(&response[24], p.AttachedAddress, 8);
            response[43] = p.Virtual ? 0x80 : 0;
        }
    } else if (function == 0x01) {
        PutText(response, 12, 8, Vendor);
        PutText(response, 20, 16, Product);
        PutText(response, 36, 4, Revision);
    } else {
        response[2] = 0x01;   // unknown function
    }
    buffer[kSmpConnection] = 0;
    uint32_t count = static_cast<uint32_t>(response.size() < 1020 ? response.size() : 1020);
    std::memcpy(buffer + kSmpResponseBytes, &count, 4);
    std::memcpy(buffer + kSmpResponse, response.data(), count);
    return size;
}
