#pragma once
// The texts of the installed-software group that come from outside the service: the software
// list file that lies in the TEMP folder (anyone who can write there can write it), the install
// dates WMI reports for hot fixes, and the date forms the group writes. Portable, no windows.h.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One item of the software list file.
struct SOFTWARE_LIST_ITEM {
    std::string name;
    std::string publisher;
    std::string version;
    std::string installLocation;
};

// Bounds of the list: a longer line is skipped whole, items past the last are not read.
constexpr size_t kSoftwareListMaxLine = 1024;
constexpr size_t kSoftwareListMaxItems = 4096;

// The items of the file's text. An item begins with a line that starts with "Name" and runs to
// an empty line or the end; its lines "Publisher ", "Version " and "InstallLocation " set those
// fields. A key line's value begins two characters after its first colon; a line without a colon
// or without anything there is skipped, as are lines outside items.
std::vector<SOFTWARE_LIST_ITEM> ParseSoftwareList(std::string_view text);

// A calendar time as the group keeps it; a year of 0 means no date.
struct SOFTWARE_DATE {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// A hot fix's InstalledOn: a date of three numbers separated by slashes (year first, or month,
// day, year), a FILETIME in hexadecimal, or nothing usable.
struct INSTALLED_ON {
    enum Kind { None, Date, FileTime } kind = None;
    SOFTWARE_DATE date;    // kind Date
    uint64_t fileTime = 0; // kind FileTime (UTC)
};
INSTALLED_ON ParseInstalledOn(std::string_view text);

// The 8-byte DateAndTime of RFC 2579 without a time zone: the year big-endian, month, day, hour,
// minutes, seconds, deci-seconds.
void SoftwareDateAndTime(const SOFTWARE_DATE &date, uint8_t out[8]);

// "2021/05/04", with " 13:02:09" when the time of day is not midnight; "n/a" without a date.
std::string SoftwareDateText(const SOFTWARE_DATE &date);
