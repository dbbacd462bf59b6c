// Every drive and expander reply decoder over the same bytes, each given a copy of exactly the
// bytes returned: any reply decodes or is refused, and the serial stays inside its field.
#include "csmi_reply.h"
#include "scsi_reply.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> reply(data, data + size);
    const uint8_t *bytes = reply.data();
    SCSI_INQUIRY inquiry;
    DecodeScsiInquiry(bytes, size, &inquiry);
    char serial[41];
    std::memset(serial, 'x', sizeof serial);
    if (DecodeUnitSerial(bytes, size, serial, sizeof serial) && std::memchr(serial, 0, sizeof serial) == nullptr)
        std::abort();
    uint64_t lba = 0;
    uint32_t block = 0;
    if (DecodeReadCapacity10(bytes, size, &lba, &block))
        CapacityMiB(lba, block);
    if (DecodeReadCapacity16(bytes, size, &lba, &block))
        CapacityMiB(lba, block);
    bool disabled = false;
    DecodeIeModePage(bytes, size, &disabled);
    uint32_t rpm = 0;
    if (DecodeRotationPage(bytes, size, &rpm) && RotationClass(rpm) > 4)
        std::abort();
    uint8_t ie = 0;
    DecodeIeLog(bytes, size, &ie);
    uint32_t current = 0, reference = 0;
    DecodeTemperatureLog(bytes, size, &current, &reference);
    SCSI_LOG_PAGES pages;
    DecodeSupportedLogPages(bytes, size, &pages);
    uint32_t defects = 0;
    DecodeGrownDefects(bytes, size, &defects);
    uint8_t phys = 0;
    DecodeSmpReportGeneral(bytes, size, &phys);
    SMP_DISCOVER discover;
    DecodeSmpDiscover(bytes, size, &discover);
    SMP_MANUFACTURER manufacturer;
    if (DecodeSmpManufacturer(bytes, size, &manufacturer) && manufacturer.Product[16] != '\0')
        std::abort();
    CSMI_SCSI_ADDRESS address;
    DecodeCsmiScsiAddress(bytes, size, &address);
    char connector[5];
    if (DecodeCsmiConnectorName(bytes, size, size % 33, connector) && std::memchr(connector, 0, 5) == nullptr)
        std::abort();
    std::vector<CSMI_LOCATION_ENTRY> entries;
    if (DecodeCsmiLocation(bytes, size, &entries) && !entries.empty() && 35 + entries.size() * 96 > size)
        std::abort();
    uint8_t a = 0, b = 0;
    DecodeCsmiCarrierState(bytes, size, &a, &b);
    DecodeCsmiCarrierBytes(bytes, size, &a, &b);
    return 0;
}
