#include "scsi_reply.h"

#include "big_endian.h"

#include <cstring>

bool DecodeScsiInquiry(const uint8_t *data, size_t returned, SCSI_INQUIRY *inquiry)
{
    ByteReader reader(data, returned);
    SCSI_INQUIRY out{};
    if (!reader.U8(0, &out.Peripheral) || !reader.Bytes(8, out.Vendor, 8) || !reader.Bytes(16, out.Product, 16) ||
        !reader.Bytes(32, out.Revision, 4))
        return false;
    out.HasByte54 = reader.U8(54, &out.Byte54);
    *inquiry = out;
    return true;
}

bool DecodeUnitSerial(const uint8_t *data, size_t returned, char *out, size_t capacity)
{
    ByteReader reader(data, returned);
    uint8_t pageLength = 0;
    if (capacity == 0 || !reader.U8(3, &pageLength))
        return false;
    // The serial ends with the page, or earlier when the device returned less than it announced.
    size_t end = 4 + size_t{pageLength};
    if (end > reader.Size())
        end = reader.Size();
    size_t length = 0;
    for (size_t at = 4; at < end && length + 1 < capacity; ++at) {
        uint8_t byte = 0;
        reader.U8(at, &byte);
        if (byte != ' ')
            out[length++] = static_cast<char>(byte);
    }
    out[length] = '\0';
    return true;
}

bool DecodeReadCapacity10(const uint8_t *data, size_t returned, uint64_t *lastLba, uint32_t *blockLength)
{
    ByteReader reader(data, returned);
    uint32_t lba = 0, block = 0;
    if (!BeU32(reader, 0, &lba) || !BeU32(reader, 4, &block))
        return false;
    *lastLba = lba;
    *blockLength = block;
    return true;
}

bool DecodeReadCapacity16(const uint8_t *data, size_t returned, uint64_t *lastLba, uint32_t *blockLength)
{
    ByteReader reader(data, returned);
    uint32_t high = 0, low = 0, block = 0;
    if (!BeU32(reader, 0, &high) || !BeU32(reader, 4, &low) || !BeU32(reader, 8, &block))
        return false;
    *lastLba = (uint64_t{high} << 32) | low;
    *blockLength = block;
    return true;
}

uint32_t CapacityMiB(uint64_t lastLba, uint32_t blockLength)
{
    constexpr uint32_t kMiB = 1048576;
    if (blockLength == 0 || blockLength > kMiB)
        return 0;
    // A last LBA of all ones has no next block: the count would wrap to 0.
    if (lastLba == UINT64_MAX)
        return static_cast<uint32_t>((lastLba / (kMiB / blockLength)));
    return static_cast<uint32_t>((lastLba + 1) / (kMiB / blockLength));
}

bool DecodeIeModePage(const uint8_t *data, size_t returned, bool *disabled)
{
    ByteReader reader(data, returned);
    uint8_t flags = 0;
    if (!reader.U8(6, &flags))
        return false;
    *disabled = (flags & 0x08) != 0;
    return true;
}

bool DecodeRotationPage(const uint8_t *data, size_t returned, uint32_t *rpm)
{
    ByteReader reader(data, returned);
    uint8_t pageLength = 0;
    if (!reader.U8(5, &pageLength))
        return false;
    if (pageLength < 22) {
        *rpm = 0;
        return true;
    }
    uint16_t rate = 0;
    if (!BeU16(reader, 24, &rate))
        return false;
    *rpm = rate;
    return true;
}

uint8_t RotationClass(uint32_t rpm)
{
    if (rpm > 6800 && rpm < 7600)
        return 2;
    if (rpm > 9500 && rpm < 10600)
        return 3;
    if (rpm > 14250 && rpm < 15800)
        return 4;
    return 1;
}

bool DecodeIeLog(const uint8_t *data, size_t returned, uint8_t *result)
{
    ByteReader reader(data, returned);
    uint8_t code = 0, qualifier = 0;
    if (!reader.U8(8, &code) || !reader.U8(9, &qualifier))
        return false;
    *result = code == 0x5D ? static_cast<uint8_t>(3 + (qualifier >> 4)) : 2;
    return true;
}

bool DecodeTemperatureLog(const uint8_t *data, size_t returned, uint32_t *current, uint32_t *reference)
{
    ByteReader reader(data, returned);
    uint8_t now = 0, limit = 0;
    if (!reader.U8(9, &now) || !reader.U8(15, &limit))
        return false;
    *current = now;
    *reference = limit;
    return true;
}

bool DecodeSupportedLogPages(const uint8_t *data, size_t returned, SCSI_LOG_PAGES *pages)
{
    ByteReader reader(data, returned);
    uint16_t length = 0;
    if (!BeU16(reader, 2, &length))
        return false;
    SCSI_LOG_PAGES out{};
    for (size_t i = 0; i < length; ++i) {
        uint8_t code = 0;
        if (!reader.U8(4 + i, &code))
            break;
        if ((code & 0x3F) == 0x11)
            out.SolidState = true;
        if ((code & 0x3F) == 0x36)
            out.WearLog = true;
    }
    *pages = out;
    return true;
}

bool DecodeGrownDefects(const uint8_t *data, size_t returned, uint32_t *count)
{
    ByteReader reader(data, returned);
    uint8_t format = 0;
    uint16_t length = 0;
    if (!reader.U8(1, &format) || !BeU16(reader, 2, &length))
        return false;
    switch (format & 7) {
    case 0:
    case 6:
        *count = length / 4u;
        break;
    case 4:
    case 5:
        *count = length / 8u;
        break;
    default:
        *count = 0;
    }
    return true;
}

bool DecodeSmpReportGeneral(const uint8_t *response, size_t returned, uint8_t *phys)
{
    ByteReader reader(response, returned);
    return reader.U8(9, phys);
}

bool DecodeSmpDiscover(const uint8_t *response, size_t returned, SMP_DISCOVER *discover)
{
    ByteReader reader(response, returned);
    SMP_DISCOVER out{};
    uint8_t type = 0, flags = 0, virtualByte = 0;
    if (!reader.U8(12, &type) || !reader.U8(15, &flags) || !reader.Bytes(16, out.SasAddress, 8) ||
        !reader.Bytes(24, out.AttachedSasAddress, 8))
        return false;
    out.AttachedDeviceByte = type & 0x70;
    out.AttachedDeviceType = (type >> 4) & 7;
    out.TargetFlags = flags & 0x0F;
    // Replies of older expanders end before byte 43: no virtual phy then.
    out.VirtualPhy = reader.U8(43, &virtualByte) && (virtualByte & 0x80) != 0;
    *discover = out;
    return true;
}

bool DecodeSmpManufacturer(const uint8_t *response, size_t returned, SMP_MANUFACTURER *info)
{
    ByteReader reader(response, returned);
    SMP_MANUFACTURER out{};
    if (!TextField(reader, 12, 8, out.Vendor, sizeof out.Vendor) ||
        !TextField(reader, 20, 16, out.Product, sizeof out.Product) ||
        !TextField(reader, 36, 4, out.Revision, sizeof out.Revision))
        return false;
    *info = out;
    return true;
}
