// Driver and WMI answers of any content and length: the description test, the control-device
// name, GUID texts, team records and WQL literals never read or write past their bounds.
#include "nic_decode.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t selector = data[0];
    const uint8_t *body = data + 1;
    const size_t bytes = size - 1;

    (void)VendorDescriptionMatches(body, bytes, selector & 1 ? "Microsoft" : "Network Teaming Intermediate Driver (NTID)");

    char name[kControlDeviceNameBytes];
    ControlDeviceName(body, bytes, name);
    if (std::memchr(name, 0, sizeof(name)) == nullptr || std::strncmp(name, "\\\\.\\", 4) != 0)
        __builtin_trap();

    std::wstring text;
    for (size_t i = 0; i + 1 < bytes; i += 2)
        text.push_back(static_cast<wchar_t>(body[i] | (body[i + 1] << 8)));
    const std::wstring guid = GuidTextFromPath(text);
    if (!guid.empty() && (guid.size() != kGuidTextChars || guid[0] != L'{'))
        __builtin_trap();
    const std::wstring key = GuidTextFromDeviceName(text);
    if (!key.empty() && key[0] != L'{')
        __builtin_trap();

    const TEAMDATA team = DecodeTeamData(body, bytes);
    const int primary = TeamPrimaryIndex(team);
    if (primary < -1 || primary >= static_cast<int>(kTeamMembers))
        __builtin_trap();
    for (const TEAMMEMBERENTRY &entry : team.members)
        if (TeamMemberName(entry).size() > kTeamMemberNameChars)
            __builtin_trap();

    std::wstring query;
    const size_t limit = selector % 64 + 20;
    if (BuildWqlQuery(L"SELECT * FROM X WHERE A = \"", text, L"\"", limit, &query) && query.size() > limit)
        __builtin_trap();
    return 0;
}
