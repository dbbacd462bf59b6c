#include "sim_nvme_disk.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD kQueryProperty = 0x2D1400;
constexpr DWORD kScsiPassThrough = 0x4D004;
constexpr DWORD kScsiPassThroughEx = 0x4D044;
constexpr uint32_t kDeviceProperty = 0;
constexpr uint32_t kAdapterProperty = 1;
constexpr uint32_t kProtocolSpecificProperty = 49;
constexpr uint8_t kBusTypeNvme = 17;
constexpr uint8_t kCheckCondition = 2;

uint32_t U32(const uint8_t *at) { uint32_t v; std::memcpy(&v, at, 4); return v; }
uint64_t U64(const uint8_t *at) { uint64_t v; std::memcpy(&v, at, 8); return v; }
void Put32(uint8_t *at, uint32_t value) { std::memcpy(at, &value, 4); }

void Field(std::vector<uint8_t> *data, size_t offset, size_t length, const std::string &text)
{
    std::memset(data->data() + offset, ' ', length);
    std::memcpy(data->data() + offset, text.data(), std::min(length, text.size()));
}

} // namespace

std::vector<uint8_t> MakeNvmeIdentify(const std::string &serial, const std::string &model, const std::string &firmware)
{
    std::vector<uint8_t> identify(4096, 0);
    identify[0] = 0x4D;
    identify[1] = 0x14;   // vendor ID
    Field(&identify, 4, 20, serial);
    Field(&identify, 24, 40, model);
    Field(&identify, 64, 8, firmware);
    return identify;
}

std::vector<uint8_t> MakeNvmeHealthLog(uint8_t percentageUsed, uint64_t powerOnHours, uint16_t kelvin)
{
    std::vector<uint8_t> log(512, 0);
    log[1] = static_cast<uint8_t>(kelvin);
    log[2] = static_cast<uint8_t>(kelvin >> 8);
    log[3] = 100;   // available spare
    log[5] = percentageUsed;
    std::memcpy(&log[128], &powerOnHours, 8);   // low half of the 128-bit count
    return log;
}

SimNvmeDisk::SimNvmeDisk(const std::string &serial, const std::string &model, const std::string &firmware)
    : Identify(MakeNvmeIdentify(serial, model, firmware)), HealthLog(MakeNvmeHealthLog(3, 1200))
{}

DWORD SimNvmeDisk::Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned)
{
    *returned = 0;
    const auto *request = static_cast<const uint8_t *>(in);
    auto *reply = static_cast<uint8_t *>(out);
    switch (code) {
    case kQueryProperty: {
        if (inSize < 8 || request == nullptr)
            return ERROR_INVALID_PARAMETER;
        const uint32_t property = U32(request);
        if (property == kProtocolSpecificProperty)
            return ProtocolQuery(request, inSize, reply, outSize, returned);
        if (U32(request + 4) != 0)   // only the standard query
            return ERROR_INVALID_FUNCTION;
        return Descriptor(property, reply, outSize, returned);
    }
    case kScsiPassThrough:
        return PassThrough(request, inSize, reply, outSize, returned);
    case kScsiPassThroughEx:
        return PassThroughEx(request, inSize, reply, outSize, returned);
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

DWORD SimNvmeDisk::ProtocolQuery(const uint8_t *in, DWORD inSize, uint8_t *out, DWORD outSize, DWORD *returned)
{
    if (!Nvme)
        return ERROR_NOT_SUPPORTED;
    // The query's 8 bytes, then the protocol-specific data: type, data type, request value and
    // sub-value, data offset (from the protocol data) and length.
    if (inSize < 48 || outSize < 48 || U32(in + 8) != 3)
        return ERROR_INVALID_PARAMETER;
    const uint32_t dataType = U32(in + 12), value = U32(in + 16), subValue = U32(in + 20);
    const uint32_t dataOffset = U32(in + 24), dataLength = U32(in + 28);
    const std::vector<uint8_t> *data = nullptr;
    if (dataType == 1 && value == 1) {
        data = &Identify;
    } else if (dataType == 2 && value == 2) {
        HealthSubValues.push_back(subValue);
        if (HealthLog.empty() || (HealthLogForAllNamespaces && subValue != 0xFFFFFFFF))
            return ERROR_INVALID_FUNCTION;
        data = &HealthLog;
    } else {
        return ERROR_NOT_SUPPORTED;
    }
    if (dataOffset < 40 || dataLength < data->size() || size_t{8} + dataOffset + data->size() > outSize)
        return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> protocol(in + 8, in + 48);
    Put32(&protocol[28], static_cast<uint32_t>(data->size()));
    std::memset(out, 0, outSize);
    Put32(out, 48);       // the data descriptor's version and size
    Put32(out + 4, 48);
    std::memcpy(out + 8, protocol.data(), protocol.size());
    std::memcpy(out + 8 + dataOffset, data->data(), data->size());
    *returned = static_cast<DWORD>(8 + dataOffset + data->size());
    return 0;
}

DWORD SimNvmeDisk::Descriptor(uint32_t property, uint8_t *out, DWORD outSize, DWORD *returned)
{
    if (!Descriptors || (property != kAdapterProperty && property != kDeviceProperty))
        return ERROR_NOT_SUPPORTED;
    std::vector<uint8_t> descriptor;
    if (property == kAdapterProperty) {
        descriptor.assign(std::max<uint32_t>(AdapterDescriptorBytes, 32), 0);
        descriptor[16] = 3;               // alignment mask
        descriptor[24] = kBusTypeNvme;
        descriptor[30] = SrbType;
        descriptor[31] = 1;               // BTL8 addresses
        descriptor.resize(AdapterDescriptorBytes);
        if (descriptor.size() >= 8)
            Put32(&descriptor[4], AdapterSizeClaimed != 0 ? AdapterSizeClaimed : AdapterDescriptorBytes);
    } else {
        descriptor.assign(48, 0);
        Put32(&descriptor[4], 48);
        descriptor[28] = kBusTypeNvme;
    }
    if (descriptor.size() >= 4)
        Put32(&descriptor[0], static_cast<uint32_t>(descriptor.size()));
    if (outSize < 8 && descriptor.size() > outSize)
        return ERROR_INSUFFICIENT_BUFFER;
    *returned = CopyReply(descriptor, out, outSize);
    return 0;
}

uint8_t SimNvmeDisk::Execute(const uint8_t *cdb, size_t cdbLength, std::vector<uint8_t> *data)
{
    data->clear();
    if (ScsiStatus != 0)
        return ScsiStatus;
    if (cdbLength < 10 || cdb[0] != 0x4D)
        return kCheckCondition;
    const uint8_t page = cdb[2] & 0x3F;
    const size_t allocation = static_cast<size_t>(cdb[7] << 8 | cdb[8]);
    if (page == 0x00) {
        data->assign({0x00, 0x00, 0x00, static_cast<uint8_t>(SupportedPages.size())});
        data->insert(data->end(), SupportedPages.begin(), SupportedPages.end());
    } else if (page == 0x0D && std::find(SupportedPages.begin(), SupportedPages.end(), 0x0D) != SupportedPages.end()) {
        // Parameter 0: the temperature; parameter 1: the reference temperature.
        *data = {0x0D, 0, 0, 0x0C, 0, 0, 0x03, 2, 0, Temperature, 0, 1, 0x03, 2, 0, ReferenceTemperature};
    } else {
        return kCheckCondition;
    }
    if (data->size() > allocation)
        data->resize(allocation);
    return 0;
}

DWORD SimNvmeDisk::PassThrough(const uint8_t *in, DWORD inSize, uint8_t *out, DWORD outSize, DWORD *returned)
{
    // SCSI_PASS_THROUGH: Length, ScsiStatus, PathId, TargetId, Lun, CdbLength, SenseInfoLength,
    // DataIn, DataTransferLength at 12, TimeOutValue at 16, DataBufferOffset at 24, Cdb at 36.
    if (in == nullptr || inSize < 56 || in[0] != 56 || in[1] != 0 || in[8] != 1 || in[6] > 16)
        return ERROR_INVALID_PARAMETER;
    ++ClassicPassThroughs;
    const uint32_t length = U32(in + 12);
    const uint64_t offset = U64(in + 24);
    if (offset < 56 || offset + length > outSize)
        return ERROR_INVALID_PARAMETER;
    LastTimeout = U32(in + 16);
    std::vector<uint8_t> header(in, in + 56), data;
    const uint8_t status = Execute(in + 36, in[6], &data);
    if (data.size() > length)
        data.resize(length);
    std::memcpy(out, header.data(), header.size());
    out[2] = status;
    Put32(out + 12, static_cast<uint32_t>(data.size()));
    if (!data.empty())
        std::memcpy(out + offset, data.data(), data.size());
    *returned = static_cast<DWORD>(offset + data.size());
    return 0;
}

DWORD SimNvmeDisk::PassThroughEx(const uint8_t *in, DWORD inSize, uint8_t *out, DWORD outSize, DWORD *returned)
{
    if (SrbType != 1)
        return ERROR_INVALID_FUNCTION;   // only drivers of extended SRBs take this form
    // SCSI_PASS_THROUGH_EX: Version, Length (64), CdbLength, StorAddressLength, ScsiStatus at 16,
    // DataDirection at 18, TimeOutValue at 20, StorAddressOffset at 24, DataInTransferLength at 36,
    // DataInBufferOffset at 48, Cdb at 56; a BTL8 address (type 1, length 4) at its offset.
    if (in == nullptr || inSize < 64 || U32(in) != 0 || U32(in + 4) != 64 || in[18] != 1)
        return ERROR_INVALID_PARAMETER;
    const uint32_t cdbLength = U32(in + 8), addressOffset = U32(in + 24), length = U32(in + 36);
    const uint64_t offset = U64(in + 48);
    if (cdbLength > 16 || 56 + cdbLength > inSize || addressOffset + 12 > inSize || U32(in + 12) < 12 ||
        in[addressOffset] != 1 || U32(in + addressOffset + 4) != 4 || offset + length > outSize || offset < 64)
        return ERROR_INVALID_PARAMETER;
    ++ExtendedPassThroughs;
    LastTimeout = U32(in + 20);
    std::vector<uint8_t> header(in, in + std::min<DWORD>(inSize, outSize)), data;
    const uint8_t status = Execute(in + 56, cdbLength, &data);
    if (data.size() > length)
        data.resize(length);
    std::memcpy(out, header.data(), header.size());
    out[16] = status;
    Put32(out + 36, static_cast<uint32_t>(data.size()));
    if (!data.empty())
        std::memcpy(out + offset, data.data(), data.size());
    *returned = static_cast<DWORD>(offset + data.size());
    return 0;
}
