#include "sim_scsi_port.h"

#include "sim_csmi.h"

#include <cstring>

namespace {

constexpr DWORD kQueryProperty = 0x2D1400;
constexpr DWORD kGetInquiryData = 0x4100C;
constexpr DWORD kGetAddress = 0x41018;
constexpr DWORD kMiniport = 0x4D008;
constexpr DWORD kPassThroughDirect = 0x4D014;
constexpr uint32_t kStorageAdapterProperty = 1;

void PutU32(uint8_t *at, uint32_t value) { std::memcpy(at, &value, 4); }

void Blank(uint8_t *field, size_t size, const char *text)
{
    std::memset(field, ' ', size);
    size_t length = text ? std::strlen(text) : 0;
    std::memcpy(field, text, length < size ? length : size);
}

} // namespace

std::vector<uint8_t> MakeInquiry(uint8_t peripheralType, bool removable, const char *vendor, const char *product,
                                 const char *revision)
{
    std::vector<uint8_t> inquiry(36, 0);
    inquiry[0] = peripheralType;
    inquiry[1] = removable ? 0x80 : 0;
    inquiry[2] = 5;
    inquiry[3] = 2;
    inquiry[4] = 31;
    Blank(&inquiry[8], 8, vendor);
    Blank(&inquiry[16], 16, product);
    Blank(&inquiry[32], 4, revision);
    return inquiry;
}

std::vector<uint8_t> SimScsiPort::InquiryReply() const
{
    size_t at = 4 + 8 * size_t{Buses};
    std::vector<uint8_t> reply(at, 0);
    reply[0] = Buses;
    for (uint8_t bus = 0; bus < Buses; ++bus) {
        size_t previous = 0;
        uint8_t units = 0;
        for (const SimInquiryDevice &device : Devices) {
            if (device.Bus != bus)
                continue;
            size_t entry = reply.size();
            reply.resize(entry + 12 + ((device.Inquiry.size() + 3) & ~size_t{3}), 0);
            reply[entry] = device.PathId;
            reply[entry + 1] = device.TargetId;
            reply[entry + 2] = device.Lun;
            reply[entry + 3] = device.Claimed;
            PutU32(&reply[entry + 4], static_cast<uint32_t>(device.Inquiry.size()));
            if (!device.Inquiry.empty())
                std::memcpy(&reply[entry + 12], device.Inquiry.data(), device.Inquiry.size());
            if (units++ == 0)
                PutU32(&reply[4 + 8 * bus + 4], static_cast<uint32_t>(entry));
            else
                PutU32(&reply[previous + 8], static_cast<uint32_t>(entry));
            previous = entry;
        }
        reply[4 + 8 * bus] = units;
        reply[4 + 8 * bus + 1] = 7;
    }
    return reply;
}

DWORD SimScsiPort::Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned)
{
    *returned = 0;
    switch (code) {
    case kQueryProperty: {
        uint32_t property = 0;
        if (inSize < 8)
            return ERROR_INVALID_PARAMETER;
        std::memcpy(&property, in, 4);
        if (property != kStorageAdapterProperty)
            return ERROR_NOT_SUPPORTED;
        std::vector<uint8_t> descriptor(32, 0);
        PutU32(&descriptor[0], 32);
        PutU32(&descriptor[4], 32);
        PutU32(&descriptor[8], 0x20000);
        descriptor[24] = BusType;
        *returned = CopyReply(descriptor, out, outSize);
        return 0;
    }
    case kGetInquiryData: {
        std::vector<uint8_t> reply = InquiryReply();
        if (outSize < reply.size())
            return ERROR_INSUFFICIENT_BUFFER;
        *returned = CopyReply(reply, out, outSize);
        return 0;
    }
    case kPassThroughDirect: {
        if (!PassThrough)
            return ERROR_INVALID_FUNCTION;
        if (inSize < 6)
            return ERROR_INVALID_PARAMETER;
        const auto *request = static_cast<const uint8_t *>(in);
        PassThroughAddresses.push_back({request[3], request[4], request[5]});
        return PassThrough->Control(code, in, inSize, out, outSize, returned);
    }
    case kMiniport:
        if (!Csmi)
            return ERROR_INVALID_FUNCTION;
        if (in != out || inSize != outSize || inSize < SIM_CSMI_HEADER)
            return ERROR_INVALID_PARAMETER;
        return Csmi->Request(static_cast<uint8_t *>(out), outSize, returned);
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

DWORD SimPhysicalDrive::Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned)
{
    *returned = 0;
    if (code == kGetAddress && HasAddress) {
        std::vector<uint8_t> address = {8, 0, 0, 0, PortNumber, PathId, TargetId, Lun};
        if (outSize < address.size())
            return ERROR_INSUFFICIENT_BUFFER;
        *returned = CopyReply(address, out, outSize);
        return 0;
    }
    if (Disk)
        return Disk->Control(code, in, inSize, out, outSize, returned);
    return ERROR_INVALID_FUNCTION;
}
