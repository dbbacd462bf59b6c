#include "nic_decode.h"

#include <algorithm>
#include <cstring>

bool VendorDescriptionMatches(const uint8_t *answer, size_t returned, std::string_view text)
{
    // A driver that answers nothing has told us nothing; matching every text would make any
    // such driver a team.
    if (answer == nullptr || returned == 0)
        return false;
    for (size_t i = 0; i < returned; ++i) {
        const uint8_t want = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
        if (answer[i] != want)
            return false;
        if (want == 0)
            return true;
    }
    return true;
}

void ControlDeviceName(const uint8_t *answer, size_t returned, char out[kControlDeviceNameBytes])
{
    static constexpr char kPrefix[] = "\\\\.\\";
    constexpr size_t prefix = sizeof(kPrefix) - 1;
    std::memset(out, 0, kControlDeviceNameBytes);
    std::memcpy(out, kPrefix, prefix);
    const size_t room = kControlDeviceNameBytes - prefix - 1;
    size_t n = answer != nullptr ? std::min(returned, room) : 0;
    for (size_t i = 0; i < n && answer[i] != 0; ++i)
        out[prefix + i] = static_cast<char>(answer[i]);
}

std::wstring GuidTextFromPath(std::wstring_view path)
{
    const size_t brace = path.find(L'{');
    if (brace == std::wstring_view::npos || path.size() - brace < kGuidTextChars)
        return {};
    return std::wstring(path.substr(brace, kGuidTextChars));
}

std::wstring GuidTextFromDeviceName(std::wstring_view name)
{
    static constexpr std::wstring_view kPrefix = L"\\\\.\\{";
    if (name.size() <= kPrefix.size() || name.substr(0, kPrefix.size()) != kPrefix)
        return {};
    return std::wstring(name.substr(kPrefix.size() - 1));
}

std::wstring TeamMemberName(const TEAMMEMBERENTRY &entry)
{
    std::wstring name;
    for (size_t i = 0; i < kTeamMemberNameChars && entry.name[i] != 0; ++i)
        name.push_back(static_cast<wchar_t>(entry.name[i]));
    return name;
}

TEAMDATA DecodeTeamData(const uint8_t *bytes, size_t size)
{
    TEAMDATA team;
    std::memset(&team, 0, sizeof(team));
    if (bytes != nullptr)
        std::memcpy(&team, bytes, std::min(size, sizeof(team)));
    return team;
}

int TeamPrimaryIndex(const TEAMDATA &team)
{
    for (size_t i = 0; i < kTeamMembers; ++i)
        if (team.members[i].name[0] != 0 && team.members[i].primary != 0)
            return static_cast<int>(i);
    return -1;
}

uint32_t LbfoTeamStatus(int64_t status)
{
    switch (status) {
    case 0:
        return 2;
    case 2:
        return 6;
    default:
        return 5;
    }
}

uint32_t LbfoTeamType(int64_t teamingMode)
{
    switch (teamingMode) {
    case 0:
        return 18;
    case 1:
        return 17;
    case 2:
        return 19;
    default:
        return 0;
    }
}

uint32_t LbfoLoadBalancing(int64_t algorithm)
{
    switch (algorithm) {
    case 0:
    case 2:
    case 3:
    case 4:
    case 5:
        return static_cast<uint32_t>(algorithm);
    default:
        return 0;
    }
}

uint32_t LbfoMemberState(bool modeRead, int64_t mode, bool reasonRead, int64_t reason)
{
    if ((modeRead && (mode == 0 || mode == 1)) || (reasonRead && reason == 4))
        return 3;
    return 0xF011;
}

TEAMDATA TeamDataFromLbfo(const LBFOTEAMRECORD &record)
{
    TEAMDATA team;
    std::memset(&team, 0, sizeof(team));
    std::memcpy(team.teamName, record.teamName, sizeof(team.teamName));
    team.memberCount = record.memberCount;
    team.activeCount = record.activeCount;
    team.status = record.teamStatus;
    team.spareWord = record.spareWord;
    std::memcpy(team.spareBytes, record.spareBytes, sizeof(team.spareBytes));
    const size_t count = std::min<size_t>(record.memberCount, kTeamMembers);
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(team.members[i].name, record.members[i].name, sizeof(team.members[i].name));
        team.members[i].primary = record.members[i].active;
        team.members[i].state = record.members[i].state;
        std::memcpy(team.members[i].spare1, record.members[i].spare1, 6);
        std::memcpy(team.members[i].spare2, record.members[i].spare2, 6);
    }
    return team;
}

bool BuildWqlQuery(std::wstring_view prefix, std::wstring_view value, std::wstring_view suffix, size_t maxChars,
                   std::wstring *query)
{
    std::wstring text(prefix);
    for (wchar_t c : value) {
        if (c == L'\0')
            return false;
        if (c == L'\\' || c == L'"')
            text.push_back(L'\\');
        text.push_back(c);
        if (text.size() > maxChars)
            return false;
    }
    text.append(suffix);
    if (text.size() > maxChars)
        return false;
    if (query != nullptr)
        *query = std::move(text);
    return true;
}
