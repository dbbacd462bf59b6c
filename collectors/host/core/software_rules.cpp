#include "software_rules.h"

#include "text_helpers.h"

#include <cstdio>

namespace {

template <class C> C LowerChar(C c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<C>(c - 'A' + 'a') : c;
}

template <class S> bool StartsWithNoCase(const S &text, const S &prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (LowerChar(text[i]) != LowerChar(prefix[i]))
            return false;
    return true;
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

std::wstring Trim(const std::wstring &text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool IsDriveLetterPath(const std::wstring &image)
{
    const wchar_t c = LowerChar(image.size() > 2 ? image[0] : L'\0');
    return c >= L'a' && c <= L'z' && image[1] == L':' && image[2] == L'\\';
}

std::wstring DriverImage(std::wstring image)
{
    static const std::wstring kSystemRoot = L"\\SystemRoot";
    if (IsDriveLetterPath(image))
        return image;
    if (image[0] != L'\\' && image[0] != L'%')
        return L"%SystemRoot%\\" + image;
    if (StartsWithNoCase(image, kSystemRoot))
        return L"%SystemRoot%" + image.substr(kSystemRoot.size());
    if (image.compare(0, 4, L"\\??\\") == 0)
        return image.substr(4);
    return image;
}

bool NamesFile(const std::wstring &image, const IMAGE_PATH_IO &io)
{
    const std::optional<std::wstring> expanded = io.expand(image);
    return expanded && io.exists(*expanded);
}

} // namespace

void LowerAsciiInPlace(std::string &text)
{
    for (char &c : text)
        c = LowerChar(c);
}

void LowerAsciiInPlace(std::wstring &text)
{
    for (wchar_t &c : text)
        c = LowerChar(c);
}

bool EqualsNoCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

bool EqualsNoCase(const std::wstring &a, const std::wstring &b)
{
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

std::optional<std::wstring> ResolveImagePath(bool driver, const std::wstring &serviceName, std::wstring image,
                                             const IMAGE_PATH_IO &io)
{
    image = Trim(image);
    if (image.empty()) {
        if (!driver)
            return std::nullopt;
        image = L"%SystemRoot%\\system32\\drivers\\" + serviceName + L".sys";
    } else if (driver) {
        image = DriverImage(image);
    }

    if (image[0] == L'"') {
        const size_t close = image.find(L'"', 1);
        if (close != std::wstring::npos)
            image = StringMid(image, 1, static_cast<int>(close) - 1);
    } else if (image.find(L' ') != std::wstring::npos) {
        LowerAsciiInPlace(image);
        if (image.find(L":\\program files") == std::wstring::npos) {
            image.resize(image.find(L' '));
        } else {
            // The folder's own blanks cannot be told from those before the arguments: the
            // shortest prefix that names a file is the program.
            for (size_t blank = image.find(L' '); blank != std::wstring::npos; blank = image.find(L' ', blank + 1)) {
                if (NamesFile(image.substr(0, blank), io)) {
                    image.resize(blank);
                    break;
                }
            }
        }
    }

    if (EqualsNoCase(image, std::wstring(L"%SystemRoot%\\System32\\svchost.exe")) && io.serviceDll)
        if (const std::optional<std::wstring> dll = io.serviceDll())
            image = *dll;

    std::optional<std::wstring> expanded = io.expand(image);
    if (!expanded || !io.exists(*expanded))
        return std::nullopt;
    return expanded;
}

bool OsFilterApplies(int32_t osFilter, int32_t osType)
{
    if (osFilter == 0 || osType == osFilter)
        return true;
    switch (osFilter) {
    case 2008:
        return osType == 22 || osType == 37;
    case 2012:
        return osType == 26 || osType == 38;
    case 2016:
        return osType == 55 || osType == 57;
    default:
        return false;
    }
}

int ServerGenerationFromProduct(const std::wstring &productName, const std::wstring &marker)
{
    if (marker.empty())
        return 0;
    const size_t at = productName.find(marker);
    if (at == std::wstring::npos)
        return 0;
    const std::wstring window = productName.substr(at, 4);
    const size_t digitAt = marker.size();
    if (window.find(L'8') == digitAt)
        return 8;
    if (window.find(L'9') == digitAt)
        return 9;
    return 0;
}

void DateToOctets(const FILE_DATE &date, uint8_t octets[7])
{
    octets[0] = static_cast<uint8_t>(date.year >> 8);
    octets[1] = static_cast<uint8_t>(date.year);
    octets[2] = static_cast<uint8_t>(date.month);
    octets[3] = static_cast<uint8_t>(date.day);
    octets[4] = static_cast<uint8_t>(date.hour);
    octets[5] = static_cast<uint8_t>(date.minute);
    octets[6] = static_cast<uint8_t>(date.second);
}

std::string DateToRecordText(const FILE_DATE &date)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", date.year, date.month, date.day, date.hour,
                  date.minute, date.second);
    return text;
}

std::string PciLocationsOf(const std::string &driverName, const std::vector<PCI_FUNCTION> &functions)
{
    std::string locations;
    for (const PCI_FUNCTION &function : functions) {
        if (function.service.compare(0, 512, driverName.substr(0, 512)) != 0)
            continue;
        char location[32];
        std::snprintf(location, sizeof location, "%04X:%02X:%02X.%01X", 0u, function.bus, function.address >> 16,
                      function.address & 0xFFFFu);
        if (!locations.empty())
            locations += ' ';
        locations += location;
    }
    return locations;
}

uint16_t FirstLastFlags(size_t position, size_t count)
{
    uint16_t flags = 0;
    if (position == 0)
        flags |= 1;
    if (position + 1 == count)
        flags |= 2;
    return flags;
}

std::string SoftwareDescription(std::string fileDescription, const std::string &productName,
                                const std::string &catalogueDescription)
{
    LowerAsciiInPlace(fileDescription);
    if ((fileDescription.find(".sys") != std::string::npos || fileDescription.empty()) && !productName.empty())
        fileDescription = productName;
    return fileDescription.empty() ? catalogueDescription : fileDescription;
}

void BlankTrademarkSigns(std::string &text)
{
    for (char &c : text)
        if (static_cast<unsigned char>(c) == 0xAE || static_cast<unsigned char>(c) == 0x99)
            c = ' ';
}

std::string RunningSoftwareText(std::string text, const std::string &displayName)
{
    LowerAsciiInPlace(text);
    if ((text.find(".exe") != std::string::npos || text.find(".sys") != std::string::npos || text.empty()) &&
        !displayName.empty())
        text = displayName;
    BlankTrademarkSigns(text);
    return text;
}

bool ContainsAnyKeyword(const std::vector<std::string> &texts, const char *const *keywords, size_t count)
{
    for (size_t k = 0; k < count; ++k)
        for (const std::string &text : texts)
            if (text.find(keywords[k]) != std::string::npos)
                return true;
    return false;
}

PROCESSOR_ROW ClassifyProcessorRow(const std::string &name)
{
    if (name.find(",_Total") != std::string::npos)
        return PROCESSOR_ROW::GroupTotal;
    if (name.find("_Total") != std::string::npos)
        return PROCESSOR_ROW::MachineTotal;
    if (name.find(',') != std::string::npos)
        return PROCESSOR_ROW::Processor;
    return PROCESSOR_ROW::Other;
}

void PROCESSOR_SAMPLE::Reset()
{
    for (uint8_t &entry : m_Entries)
        entry = 0;
    m_Highest = -1;
    m_Processor = -1;
    m_TotalUser = 0;
    m_TotalPrivileged = 0;
}

void PROCESSOR_SAMPLE::Add(const std::string &name, const std::optional<int32_t> &user,
                           const std::optional<int32_t> &privileged)
{
    switch (ClassifyProcessorRow(name)) {
    case PROCESSOR_ROW::MachineTotal:
        if (user)
            m_TotalUser = static_cast<uint8_t>(*user);
        if (privileged)
            m_TotalPrivileged = static_cast<uint8_t>(*privileged);
        break;
    case PROCESSOR_ROW::Processor:
        if (++m_Processor >= kEntries) {
            m_Processor = kEntries;  // no further growth: the count stays bounded
            break;
        }
        if (m_Processor > m_Highest)
            m_Highest = m_Processor;
        if (user)
            m_Entries[m_Processor * 2] = static_cast<uint8_t>(*user);
        if (privileged)
            m_Entries[m_Processor * 2 + 1] = static_cast<uint8_t>(*privileged);
        break;
    default:
        break;
    }
}

std::optional<uint32_t> UtilizationPeriodMinutes(const std::optional<uint32_t> &configured)
{
    if (!configured || *configured == 0)
        return std::nullopt;
    return *configured > 1440 ? 1440u : *configured;
}
