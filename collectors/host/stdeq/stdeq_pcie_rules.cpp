#include "stdeq_pcie_rules.h"

#include "byte_reader.h"
#include "smbios_string.h"
#include "smbios_table.h"
#include "stdeq_maker_ids.h"
#include "stdeq_pci_rules.h"

#include <cctype>
#include <climits>
#include <cstring>

const uint8_t kSupportedLogPagesCdb[10] = {0x4D, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00};
const uint8_t kTemperatureLogPageCdb[10] = {0x4D, 0x00, 0x4D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00};

namespace {

// A fixed text field, cut at its first NUL, without blanks at either end; empty when the field
// is not wholly inside the data.
std::string TrimmedField(const ByteReader &reader, size_t offset, size_t length)
{
    const uint8_t *at = reader.At(offset, length);
    if (at == nullptr)
        return {};
    const void *nul = std::memchr(at, '\0', length);
    std::string text(reinterpret_cast<const char *>(at),
                     nul ? static_cast<size_t>(static_cast<const uint8_t *>(nul) - at) : length);
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool EqualsNoCase(const std::string &a, const char *b)
{
    const size_t length = std::strlen(b);
    if (a.size() != length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Up to eight hexadecimal digits at text[*at]; false when there is none.
bool Hex(const std::string &text, size_t *at, uint32_t *value)
{
    uint32_t result = 0;
    size_t read = 0;
    while (*at < text.size() && read < 8 && std::isxdigit(static_cast<unsigned char>(text[*at]))) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[(*at)++])));
        result = result << 4 | static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
        ++read;
    }
    *value = result;
    return read != 0;
}

bool Literal(const std::string &text, size_t *at, const char *literal)
{
    const size_t length = std::strlen(literal);
    if (text.compare(*at, length, literal) != 0)
        return false;
    *at += length;
    return true;
}

} // namespace

NVME_IDENTITY ParseNvmeIdentify(const uint8_t *data, size_t size)
{
    const ByteReader reader(data, size);
    NVME_IDENTITY identity;
    identity.Serial = TrimmedField(reader, 4, 20);
    identity.Model = TrimmedField(reader, 24, 40);
    identity.Firmware = TrimmedField(reader, 64, 8);
    return identity;
}

uint8_t NvmeHealthCode(int32_t percentageUsed)
{
    if (percentageUsed >= 100)
        return 6;
    if (percentageUsed >= 98)
        return 5;
    if (percentageUsed >= 95)
        return 4;
    return 2;
}

bool ApplyNvmeHealthLog(const uint8_t *data, size_t size, PCIE_DISK_INFO *disk)
{
    const ByteReader reader(data, size);
    uint8_t used = 0;
    uint32_t hours = 0;
    if (!reader.Has(128, 16) || !reader.U8(5, &used) || !reader.U32(128, &hours))
        return false;
    disk->PowerOnHours = hours;
    disk->PercentageUsed = used;
    disk->HealthCode = NvmeHealthCode(used);
    return true;
}

bool ParseSupportedLogPages(const uint8_t *data, size_t size, std::vector<uint8_t> *pages)
{
    const ByteReader reader(data, size);
    const uint8_t *header = reader.At(2, 2);
    if (header == nullptr)
        return false;
    const size_t length = static_cast<size_t>(header[0] << 8 | header[1]);
    pages->clear();
    uint8_t code = 0;
    for (size_t i = 0; i < length && reader.U8(4 + i, &code); ++i)
        pages->push_back(code);
    return true;
}

void ParseTemperatureLogPage(const uint8_t *data, size_t size, int32_t *temperature, int32_t *reference)
{
    const ByteReader reader(data, size);
    uint8_t value = 0;
    if (reader.U8(9, &value))
        *temperature = value;
    if (reader.U8(15, &value))
        *reference = value;
}

PASS_THROUGH_FORM PassThroughForm(uint32_t srbType)
{
    if (srbType == kSrbTypeScsiRequestBlockEx)
        return {IOCTL_SCSI_PASS_THROUGH_EX_CODE, 664, 168, 16, 152};
    return {IOCTL_SCSI_PASS_THROUGH_CODE, 56, 108, 2, 92};
}

void BuildPassThrough(uint32_t srbType, const uint8_t cdb[10], uint32_t timeoutSeconds, uint8_t *buffer)
{
    std::memset(buffer, 0, kPassThroughBufferBytes);
    if (srbType == kSrbTypeScsiRequestBlockEx) {
        // The extended form: its header, a BTL8 address at 104, sense at 120, data in at 152.
        PutU32(buffer + 4, 64);
        PutU32(buffer + 8, 10);
        PutU32(buffer + 12, 16);
        buffer[17] = 32;
        buffer[18] = 1;
        PutU32(buffer + 20, timeoutSeconds);
        PutU32(buffer + 24, 104);
        PutU32(buffer + 28, 120);
        PutU32(buffer + 36, kLogSenseBytes);
        PutU32(buffer + 48, 152);
        std::memcpy(buffer + 56, cdb, 10);
        PutU16(buffer + 104, 1);
        PutU32(buffer + 108, 4);
        buffer[113] = 1;
        return;
    }
    // The classic form: sense at 60, data at 92.
    PutU16(buffer, 56);
    buffer[4] = 1;
    buffer[6] = 10;
    buffer[7] = 32;
    buffer[8] = 1;
    PutU32(buffer + 12, kLogSenseBytes);
    PutU32(buffer + 16, timeoutSeconds);
    PutU32(buffer + 24, 92);
    PutU32(buffer + 32, 60);
    std::memcpy(buffer + 36, cdb, 10);
}

uint32_t DescriptorSize(const uint8_t *header, size_t size)
{
    uint32_t value = 0;
    return ByteReader(header, size).U32(4, &value) ? value : 0;
}

STORAGE_ADAPTER_INFO ParseAdapterDescriptor(const uint8_t *descriptor, size_t size)
{
    const ByteReader reader(descriptor, size);
    STORAGE_ADAPTER_INFO info;
    reader.U32(16, &info.AlignmentMask);
    uint8_t srb = 0;
    if (reader.U8(30, &srb))
        info.SrbType = srb;
    return info;
}

void CollapseRepeatedSeparator(std::string *text, const char *separator)
{
    if (separator == nullptr || separator[0] == '\0')
        return;
    const char c = separator[0];
    for (size_t at = text->find(c, 1); at != std::string::npos; at = text->find(c, at + 1))
        if (at + 1 < text->size() && (*text)[at + 1] == c)
            text->erase(at + 1, 1);
}

std::string LowerText(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::optional<std::string> ControllerIdFromAntecedent(const std::string &antecedent)
{
    std::string text = LowerText(antecedent);
    CollapseRepeatedSeparator(&text, "\\");
    const size_t equals = text.find('=');
    if (equals == std::string::npos)
        return std::nullopt;
    text.erase(0, equals + 1);
    const size_t open = text.find('"');
    if (open == std::string::npos)
        return std::nullopt;
    text.erase(open, 1);
    const size_t close = text.find('"', open);
    if (close == std::string::npos)
        return std::nullopt;
    text.erase(close);
    // An empty ID would be found inside every controller's.
    if (text.empty())
        return std::nullopt;
    return text;
}

std::optional<uint32_t> ControllerSubsystem(const std::string &controllerId)
{
    size_t at = 0;
    uint32_t vendor = 0, device = 0, subsystem = 0;
    if (Literal(controllerId, &at, "pci\\ven_") && Hex(controllerId, &at, &vendor) &&
        Literal(controllerId, &at, "&dev_") && Hex(controllerId, &at, &device) &&
        Literal(controllerId, &at, "&subsys_") && Hex(controllerId, &at, &subsystem))
        return subsystem;
    return std::nullopt;
}

bool IsExcludedPcieSubsystem(uint32_t subsystem)
{
    for (uint32_t excluded : kExcludedPcieSubsystems)
        if (subsystem == excluded)
            return true;
    return false;
}

bool ParsePcieLocation(const char *text, size_t size, int32_t *bus, int32_t *device, int32_t *function)
{
    if (text == nullptr)
        return false;
    const size_t length = strnlen(text, size);
    const std::string value(text, length);
    const size_t open = value.find('(');
    if (open == std::string::npos)
        return false;
    const size_t close = value.find(')', open + 1);
    if (close == std::string::npos)
        return false;
    int32_t *outputs[] = {bus, device, function};
    size_t read = 0;
    int32_t numbers[3] = {};
    for (size_t at = open + 1; at < close && read < 3;) {
        if (value[at] == ',' || value[at] == ' ') {
            ++at;
            continue;
        }
        bool negative = false;
        if (value[at] == '-' || value[at] == '+')
            negative = value[at++] == '-';
        if (at >= close || !std::isdigit(static_cast<unsigned char>(value[at])))
            break;
        long long number = 0;
        while (at < close && std::isdigit(static_cast<unsigned char>(value[at]))) {
            number = number * 10 + (value[at++] - '0');
            if (number > INT_MAX)
                number = INT_MAX;
        }
        numbers[read++] = static_cast<int32_t>(negative ? -number : number);
    }
    for (size_t i = 0; i < read; ++i)
        *outputs[i] = numbers[i];
    return read != 0;
}

std::string PcieDiskLocationText(const CSMBIOSTable &table, int32_t bus, int32_t device, int32_t function)
{
    if (!table.IsValid())
        return {};
    std::optional<uint16_t> handle;
    for (const uint8_t *structure = nullptr; !handle && table.NextStructure(&structure);) {
        SMBIOS_SLOT slot;
        if (ReadSystemSlot(structure, structure[1], &slot) && slot.HasAddress && slot.Bus == bus &&
            slot.Device == device && slot.Function == function)
            handle = static_cast<uint16_t>(structure[2] | structure[3] << 8);
    }
    if (!handle)
        return {};
    // The location record: the slot's handle at 4, the location string's number at 31.
    constexpr size_t kLocationStringOffset = 31;
    for (const uint8_t *structure = nullptr; table.NextStructure(&structure);) {
        if (structure[0] != 203 || structure[1] <= kLocationStringOffset)
            continue;
        if ((structure[4] | structure[5] << 8) == *handle)
            return SmbiosStringAt(table, structure, kLocationStringOffset);
    }
    return {};
}

int32_t PcieDiskCondition(const std::string &controllerStatus, uint8_t healthCode)
{
    if (healthCode > 2)
        return 3;
    return EqualsNoCase(controllerStatus, "ok") ? 2 : 3;
}

int32_t ControllerStatusCode(const std::string &status)
{
    if (EqualsNoCase(status, "ok"))
        return 2;
    for (const char *text : {"degraded", "pred fail"})
        if (EqualsNoCase(status, text))
            return 3;
    for (const char *text : {"error", "stressed", "nonrecover", "no contact", "lost comm"})
        if (EqualsNoCase(status, text))
            return 4;
    return 1;
}

int32_t HealthCodeClass(uint8_t healthCode)
{
    switch (healthCode) {
    case 2:
        return 2;
    case 3:
    case 4:
    case 5:
        return 3;
    case 6:
        return 4;
    default:
        return 1;
    }
}

int32_t PcieDiskTrapFlags(unsigned trapNumber, const PCIE_DISK_INFO &disk)
{
    switch (trapNumber) {
    case 1015:
        return 16;
    case 1016:
        return 8;
    case 1017:
        return (ControllerStatusCode(disk.ControllerStatus) & 7) << 2;
    case 1018:
        return (HealthCodeClass(disk.HealthCode) & 7) << 2;
    default:
        return 0;
    }
}

std::vector<unsigned> PcieDiskTraps(const PCIE_DISK_INFO &previous, const PCIE_DISK_INFO &current)
{
    std::vector<unsigned> traps;
    if (previous.SerialNumber != current.SerialNumber)
        return traps;
    // A reference of 0 was not read and 255 is no threshold; a temperature of 255 is no reading.
    auto noReading = [](int32_t value) { return value == 255; };
    const bool temperatures = previous.ReferenceTemperature != 0 && !noReading(previous.ReferenceTemperature) &&
                              !noReading(current.Temperature);
    if (temperatures) {
        if (current.Temperature >= previous.ReferenceTemperature)
            traps.push_back(1015);
        else if (previous.Temperature >= previous.ReferenceTemperature && !noReading(previous.Temperature))
            traps.push_back(1016);
    }
    if (current.ControllerStatus != previous.ControllerStatus)
        traps.push_back(1017);
    if (current.HealthCode != previous.HealthCode)
        traps.push_back(1018);
    return traps;
}
