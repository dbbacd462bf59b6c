#pragma once
// The rules by which the NIC library reads what drivers and WMI give it: the vendor-description
// test, the name of a vendor's control device, the GUID text of an interface path, the team
// record of the team driver and of LBFO, and WQL string literals. Every answer is read only as
// far as the bytes returned (drivers are outside this system). No windows.h.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The driver's answer to the vendor-description query matches the text when its first n bytes
// equal the text's first n bytes, n being the bytes returned (a NUL in both ends the comparison
// early). An empty answer matches nothing.
bool VendorDescriptionMatches(const uint8_t *answer, size_t returned, std::string_view text);

// The control device's file name: "\\.\" followed by the driver's answer (at most the 252 bytes
// after the prefix, up to its first NUL), always terminated inside the 256 bytes.
constexpr size_t kControlDeviceNameBytes = 256;
void ControlDeviceName(const uint8_t *answer, size_t returned, char out[kControlDeviceNameBytes]);

// A GUID text in braces is 38 characters: "{" + 36 + "}".
constexpr size_t kGuidTextChars = 38;
// The 38 characters from the path's first "{", or empty when fewer than 38 follow.
std::wstring GuidTextFromPath(std::wstring_view path);
// The GUID text of a device name "\\.\{...}" (the text after the prefix), or empty for any other
// name.
std::wstring GuidTextFromDeviceName(std::wstring_view name);

#pragma pack(push, 1)
// One member of a team record.
struct TEAMMEMBERENTRY {
    uint16_t name[128]; // wide text; empty: the entry is not in use
    uint8_t primary;    // non-zero: may be the team's primary
    uint8_t unused[3];
    uint32_t state;
    uint8_t spare1[6];
    uint8_t spare2[6];
};

// The team record: the team driver's answer to its team OID, and what LBFO gives.
struct TEAMDATA {
    uint16_t teamName[256];
    uint32_t memberCount;
    uint32_t activeCount;
    uint32_t status;
    uint32_t spareWord;
    uint8_t spareBytes[6];
    uint8_t unused[2];
    TEAMMEMBERENTRY members[32];
};
#pragma pack(pop)
static_assert(sizeof(TEAMMEMBERENTRY) == 276, "team member entry");
static_assert(offsetof(TEAMMEMBERENTRY, primary) == 256 && offsetof(TEAMMEMBERENTRY, state) == 260 &&
                  offsetof(TEAMMEMBERENTRY, spare1) == 264 && offsetof(TEAMMEMBERENTRY, spare2) == 270,
              "team member entry layout");
static_assert(offsetof(TEAMDATA, memberCount) == 512 && offsetof(TEAMDATA, activeCount) == 516 &&
                  offsetof(TEAMDATA, status) == 520 && offsetof(TEAMDATA, spareWord) == 524 &&
                  offsetof(TEAMDATA, spareBytes) == 528 && offsetof(TEAMDATA, members) == 536,
              "team record layout");
static_assert(sizeof(TEAMDATA) == 9368, "team record");

constexpr size_t kTeamMembers = 32;
constexpr size_t kTeamMemberNameChars = 128;

// A member's name as wide text: at most 128 characters, ending at the first NUL.
std::wstring TeamMemberName(const TEAMMEMBERENTRY &entry);
// The record of the given bytes (zero past them): a short answer leaves the rest empty.
TEAMDATA DecodeTeamData(const uint8_t *bytes, size_t size);
// The first in-use member marked primary, or -1.
int TeamPrimaryIndex(const TEAMDATA &team);

// The LBFO work record, filled from WMI (in memory only).
struct LBFOMEMBER {
    uint16_t name[128];
    uint8_t active;
    uint32_t state;
    uint8_t spare1[6];
    uint8_t spare2[6];
};

struct LBFOTEAMRECORD {
    uint16_t teamName[256];
    uint32_t memberCount;
    uint32_t activeCount;
    uint32_t teamStatus;
    uint32_t teamType;
    uint32_t spareWord;
    uint8_t spareBytes[6];
    uint8_t primary;
    uint32_t vlanId;
    uint16_t interfaceName[256];
    uint32_t loadBalancing;
    uint16_t parentGuid[40];
    LBFOMEMBER members[32];
};
static_assert(offsetof(LBFOTEAMRECORD, memberCount) == 512, "LBFO record: name first");
static_assert(sizeof(LBFOMEMBER::name) / sizeof(uint16_t) == kTeamMemberNameChars, "LBFO member name");
static_assert(sizeof(LBFOTEAMRECORD::members) / sizeof(LBFOMEMBER) == kTeamMembers, "LBFO members");

// The mappings of MSFT_NetLbfoTeam's values into the record.
uint32_t LbfoTeamStatus(int64_t status);
uint32_t LbfoTeamType(int64_t teamingMode);
uint32_t LbfoLoadBalancing(int64_t algorithm);
// The member state: 3 when operational (mode 0 or 1, or failure reason 4), else 0xF011.
uint32_t LbfoMemberState(bool modeRead, int64_t mode, bool reasonRead, int64_t reason);

// The LBFO record copied into the team record's layout.
TEAMDATA TeamDataFromLbfo(const LBFOTEAMRECORD &record);

// A WQL query with one string literal: prefix + the value escaped (backslash and double quote
// get a backslash) + suffix. False when the value holds a NUL or the query would be longer than
// maxChars characters; then nothing may be asked.
bool BuildWqlQuery(std::wstring_view prefix, std::wstring_view value, std::wstring_view suffix, size_t maxChars,
                   std::wstring *query);
