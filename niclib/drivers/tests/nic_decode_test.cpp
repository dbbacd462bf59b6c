// How driver and WMI answers are read: bounded by what came back, and never trusted further.
#include "nic_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(NicDecode, VendorDescriptionComparesOnlyTheReturnedBytes)
{
    struct Case {
        const char *answer;
        size_t returned;
        bool microsoft;
    };
    const Case cases[] = {
        {"Microsoft", 9, true},           // without its NUL
        {"Microsoft", 10, true},          // with it
        {"Microsoft Corp", 15, false},    // followed by more text
        {"Micro", 5, true},               // a prefix the driver chose to return
        {"Microsoft", 0, false},          // nothing returned matches nothing
        {"Intel", 6, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.microsoft, VendorDescriptionMatches(reinterpret_cast<const uint8_t *>(c.answer), c.returned,
                                                        "Microsoft"))
            << c.answer << " " << c.returned;
}

TEST(NicDecode, ControlDeviceNameStaysInsideItsBuffer)
{
    uint8_t full[400];
    std::memset(full, 'A', sizeof(full));
    char name[kControlDeviceNameBytes];
    ControlDeviceName(full, sizeof(full), name);
    EXPECT_EQ(std::string("\\\\.\\") + std::string(251, 'A'), std::string(name));

    const uint8_t answer[] = {'I', 'N', 'T', 'C', 0, 'x', 'y'};
    ControlDeviceName(answer, sizeof(answer), name);
    EXPECT_STREQ("\\\\.\\INTC", name);
    ControlDeviceName(answer, 2, name);
    EXPECT_STREQ("\\\\.\\IN", name);
}

TEST(NicDecode, GuidTexts)
{
    const std::wstring guid = L"{11111111-2222-3333-4444-555555555555}";
    EXPECT_EQ(guid, GuidTextFromPath(L"\\\\?\\pci#ven_8086#3&1#" + guid));
    EXPECT_EQ(guid, GuidTextFromPath(L"x" + guid + L"tail"));
    EXPECT_EQ(L"", GuidTextFromPath(L"\\\\?\\root#{1234}"));   // fewer than 38 after "{"
    EXPECT_EQ(L"", GuidTextFromPath(L"\\\\?\\root#net#0000")); // no "{"

    EXPECT_EQ(guid, GuidTextFromDeviceName(L"\\\\.\\" + guid));
    EXPECT_EQ(L"", GuidTextFromDeviceName(L"\\\\.\\NTIDTEAM"));
    EXPECT_EQ(L"", GuidTextFromDeviceName(guid));
    EXPECT_EQ(L"", GuidTextFromDeviceName(L"\\\\.\\{"));
}

void SetName(TEAMMEMBERENTRY &entry, const std::wstring &name)
{
    for (size_t i = 0; i < name.size() && i < kTeamMemberNameChars; ++i)
        entry.name[i] = static_cast<uint16_t>(name[i]);
}

TEST(NicDecode, TeamRecordShortAnswersAndUnterminatedNames)
{
    TEAMDATA team;
    std::memset(&team, 0, sizeof(team));
    team.memberCount = 2;
    SetName(team.members[0], L"\\\\.\\{a}");
    SetName(team.members[2], std::wstring(200, L'x')); // fills all 128 characters, no NUL
    team.members[2].primary = 1;
    team.members[5].primary = 1; // not in use: no name

    const TEAMDATA whole = DecodeTeamData(reinterpret_cast<const uint8_t *>(&team), sizeof(team));
    EXPECT_EQ(2u, whole.memberCount);
    EXPECT_EQ(L"\\\\.\\{a}", TeamMemberName(whole.members[0]));
    EXPECT_EQ(std::wstring(128, L'x'), TeamMemberName(whole.members[2]));
    EXPECT_EQ(2, TeamPrimaryIndex(whole));

    // An answer that stops inside member 0 leaves the rest empty.
    const TEAMDATA cut = DecodeTeamData(reinterpret_cast<const uint8_t *>(&team), 540);
    EXPECT_EQ(2u, cut.memberCount);
    EXPECT_EQ(L"\\\\", TeamMemberName(cut.members[0]));
    EXPECT_EQ(L"", TeamMemberName(cut.members[2]));
    EXPECT_EQ(-1, TeamPrimaryIndex(cut));
}

TEST(NicDecode, LbfoMappings)
{
    const int64_t statuses[][2] = {{0, 2}, {1, 5}, {2, 6}, {7, 5}, {-1, 5}};
    for (const auto &s : statuses)
        EXPECT_EQ(static_cast<uint32_t>(s[1]), LbfoTeamStatus(s[0])) << s[0];
    const int64_t modes[][2] = {{0, 18}, {1, 17}, {2, 19}, {3, 0}};
    for (const auto &m : modes)
        EXPECT_EQ(static_cast<uint32_t>(m[1]), LbfoTeamType(m[0])) << m[0];
    const int64_t algorithms[][2] = {{0, 0}, {1, 0}, {2, 2}, {5, 5}, {6, 0}};
    for (const auto &a : algorithms)
        EXPECT_EQ(static_cast<uint32_t>(a[1]), LbfoLoadBalancing(a[0])) << a[0];
    EXPECT_EQ(3u, LbfoMemberState(true, 0, false, 0));
    EXPECT_EQ(3u, LbfoMemberState(true, 2, true, 4)); // down for reason 4 still counts
    EXPECT_EQ(0xF011u, LbfoMemberState(true, 2, true, 5));
    EXPECT_EQ(0xF011u, LbfoMemberState(false, 0, false, 4)); // unread values decide nothing
}

TEST(NicDecode, LbfoRecordIntoTeamLayoutCopiesOnlyRecordedMembers)
{
    LBFOTEAMRECORD record;
    std::memset(&record, 0, sizeof(record));
    record.teamName[0] = L'T';
    record.memberCount = 1;
    record.activeCount = 1;
    record.teamStatus = 2;
    record.members[0].name[0] = L'm';
    record.members[0].active = 1;
    record.members[0].state = 3;
    record.members[1].name[0] = L'z'; // beyond the count
    const TEAMDATA team = TeamDataFromLbfo(record);
    EXPECT_EQ(L'T', team.teamName[0]);
    EXPECT_EQ(1u, team.memberCount);
    EXPECT_EQ(1u, team.activeCount);
    EXPECT_EQ(2u, team.status);
    EXPECT_EQ(L"m", TeamMemberName(team.members[0]));
    EXPECT_EQ(1, team.members[0].primary);
    EXPECT_EQ(3u, team.members[0].state);
    EXPECT_EQ(L"", TeamMemberName(team.members[1]));
}

TEST(NicDecode, WqlLiteralsAreEscapedAndBounded)
{
    std::wstring query;
    ASSERT_TRUE(BuildWqlQuery(L"SELECT * FROM T WHERE Name = \"", L"a\"b\\c", L"\"", 300, &query));
    EXPECT_EQ(L"SELECT * FROM T WHERE Name = \"a\\\"b\\\\c\"", query);
    const std::wstring prefix = L"SELECT * FROM T WHERE Name = \"";
    EXPECT_TRUE(BuildWqlQuery(prefix, std::wstring(300 - prefix.size() - 1, L'n'), L"\"", 300, &query));
    EXPECT_EQ(300u, query.size());
    EXPECT_FALSE(BuildWqlQuery(prefix, std::wstring(300 - prefix.size(), L'n'), L"\"", 300, &query));
    EXPECT_FALSE(BuildWqlQuery(prefix, std::wstring(1, L'\0'), L"\"", 300, &query));
}

} // namespace
