#pragma once
// The software inventory's rules that need no operating system: where a service's file lies
// (with the file test and the expansion handed in), the catalogue's filters, the processor rows
// of a usage sampling, and the texts that go to the MIB and the black box. Every input comes from
// the registry, WMI or a version resource and is taken as it comes.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// ---- Service image paths ------------------------------------------------------------------------

// What resolving an image needs of the system.
struct IMAGE_PATH_IO {
    // The expansion of the environment references, or nothing when it fails or exceeds 260
    // characters.
    std::function<std::optional<std::wstring>(const std::wstring &)> expand;
    // Whether an (expanded) path names a file or folder.
    std::function<bool(const std::wstring &)> exists;
    // The service's ServiceDll, from its key or else its Parameters subkey.
    std::function<std::optional<std::wstring>()> serviceDll;
};

// The expanded path of a service's or driver's file, or nothing when it cannot be found.
// A drive-letter path is taken as absolute and "\SystemRoot" is recognised in any letter case;
// an unquoted path with blanks is tried at every blank, shortest first, before it is cut.
std::optional<std::wstring> ResolveImagePath(bool driver, const std::wstring &serviceName, std::wstring image,
                                             const IMAGE_PATH_IO &io);

// Lowers ASCII letters in place.
void LowerAsciiInPlace(std::string &text);
void LowerAsciiInPlace(std::wstring &text);
bool EqualsNoCase(const std::string &a, const std::string &b);
bool EqualsNoCase(const std::wstring &a, const std::wstring &b);

// ---- Catalogue filters --------------------------------------------------------------------------

// Whether a row with this operating-system filter applies where HostOsType is osType.
bool OsFilterApplies(int32_t osFilter, int32_t osType);
// 8 or 9 when the marker stands right before that digit in the product name, else 0.
int ServerGenerationFromProduct(const std::wstring &productName, const std::wstring &marker);

// ---- Texts --------------------------------------------------------------------------------------

struct FILE_DATE {
    uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// The first seven octets of an SNMP DateAndTime.
void DateToOctets(const FILE_DATE &date, uint8_t octets[7]);
// "yyyy/mm/dd hh:mm:ss" of the black-box records.
std::string DateToRecordText(const FILE_DATE &date);

struct PCI_FUNCTION {
    std::string service;   // the device's driver service
    uint32_t bus = 0;
    uint32_t address = 0;  // device in the high 16 bits, function in the low 16
};
// "0000:bb:dd.f" for every function the driver serves, blank-separated.
std::string PciLocationsOf(const std::string &driverName, const std::vector<PCI_FUNCTION> &functions);
// Bit 0 for the first of count records, bit 1 for the last.
uint16_t FirstLastFlags(size_t position, size_t count);

// The published file description of a software-version row: lower case, or the product name
// when that is empty or names a driver file; the catalogue description when both are empty.
std::string SoftwareDescription(std::string fileDescription, const std::string &productName,
                                const std::string &catalogueDescription);
// A running-software text: lower case, or the display name when it is empty or a file name;
// the registered and trade-mark signs become blanks.
std::string RunningSoftwareText(std::string text, const std::string &displayName);
void BlankTrademarkSigns(std::string &text);

// Whether any of the keywords occurs in any of the (lower-case) texts.
bool ContainsAnyKeyword(const std::vector<std::string> &texts, const char *const *keywords, size_t count);

// ---- Processor usage ----------------------------------------------------------------------------

enum class PROCESSOR_ROW { GroupTotal, MachineTotal, Processor, Other };
PROCESSOR_ROW ClassifyProcessorRow(const std::string &name);

// One sampling of the per-processor rows: 4096 entries of user and privileged percent.
class PROCESSOR_SAMPLE {
public:
    static constexpr int kEntries = 4096;

    void Reset();
    // One row of the performance class; the percents are absent when they cannot be read.
    void Add(const std::string &name, const std::optional<int32_t> &user, const std::optional<int32_t> &privileged);

    const uint8_t *Entries() const { return m_Entries; }
    uint32_t Count() const { return static_cast<uint32_t>(m_Highest + 1); }
    uint8_t TotalUser() const { return m_TotalUser; }
    uint8_t TotalPrivileged() const { return m_TotalPrivileged; }

private:
    uint8_t m_Entries[kEntries * 2] = {};
    int m_Highest = -1;
    int m_Processor = -1;
    uint8_t m_TotalUser = 0;
    uint8_t m_TotalPrivileged = 0;
};

// The utilisation timer's period in minutes: nothing (sample once) for a missing or zero value,
// at most one day.
std::optional<uint32_t> UtilizationPeriodMinutes(const std::optional<uint32_t> &configured);
