// The intake: a packet of command 149 becomes one event (or none), with its identifier, type,
// category and strings, under the legacy-agent check, the header checks and the text log.
#include "event_sink_recorder.h"
#include "event_source.h"
#include "kdl_intake.h"
#include "test_support.h"

#include "registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kdltest;

namespace {

std::string Narrow(const wchar_t *text)
{
    return std::string(text, text + wcslen(text));
}

const wchar_t kSourceKey[] = L"CCS:\\services\\eventlog\\System\\NDX Velmarine Management Service";

class LogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { StartTextLog(); }
};
const auto *const kLogEnvironment = ::testing::AddGlobalTestEnvironment(new LogEnvironment);

// One event, from the service's source, in the hardware category, with these values.
void ExpectOneWritten(const std::vector<eventsink::Event> &events, DWORD id, WORD type,
                      const std::vector<std::wstring> &strings)
{
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, L"NDX Velmarine Management Service");
    EXPECT_EQ(events[0].id, id);
    EXPECT_EQ(events[0].type, type);
    EXPECT_EQ(events[0].category, 6);
    EXPECT_EQ(events[0].strings, strings);
}

class KdlIntake : public ::testing::Test {
protected:
    void SetUp() override { eventsink::ClearRecordedEvents(); }

    std::vector<eventsink::Event> Process(const std::vector<uint8_t> &packet, size_t received = SIZE_MAX)
    {
        eventsink::ClearRecordedEvents();
        ProcessKdlEvent(packet.data(), received == SIZE_MAX ? packet.size() : received);
        return eventsink::RecordedEvents();
    }
};

struct WrittenCase {
    const char *name;
    EntryFields entry;
    DWORD id;
    WORD type;
    std::vector<std::wstring> strings;
};

TEST_F(KdlIntake, EntriesAreWrittenWithIdentifierTypeCategoryAndStrings)
{
    const WrittenCase cases[] = {
        {"empty slot", {.number = 7, .severity = 2, .eventClass = 0, .code = 3}, 0, 0, {L"7", L"0", L"3", L"Empty"}},
        {"event number all ones", {.number = 0xFFFFFFFF, .severity = 9, .eventClass = 0}, 0, 0,
         {L"-1", L"0", L"0", L"Empty"}},
        {"reserved, large numbers", {.number = 0x80000000, .severity = 15, .eventClass = 1, .code = 0xFFFF}, 0, 0,
         {L"-2147483648", L"1", L"65535", L"Reserved"}},
        {"reserved, odd severity", {.number = 0x7FFFFFFF, .severity = 4, .eventClass = 1, .code = 1}, 0, 0,
         {L"2147483647", L"1", L"1", L"Reserved"}},
        // Without text, an entry is written under identifier 0 without strings.
        {"class 12", {.severity = 9, .eventClass = 12, .code = 5}, 0, 0, {}},
        {"class 36", {.severity = 2, .eventClass = 36, .code = 5}, 0, 0, {}},
        {"class 300", {.severity = 15, .eventClass = 300, .code = 5}, 0, 0, {}},
        // The entry's size ends before the class data that follows it in the packet.
        {"located event whose data lies past the entry", {.severity = 9, .eventClass = 2, .code = 1,
                                                          .classData = {1, 0, 0, 9}}, 0, 0, {}},
        // Decoded entries: the identifier from class and severity, and all four strings.
        {"caution, class 2", {.size = 32, .number = 4711, .severity = 9, .eventClass = 2, .code = 1,
                              .classData = {1, 0, 0, 9}}, 0x81010209, 2,
         {L"4711", L"2", L"1", L"System Overheating (Temperature Sensor 9, Location System, Temperature 0C)"}},
        {"critical, class 2", {.size = 32, .number = 0xFFFFFFFF, .severity = 15, .eventClass = 2, .code = 1,
                               .classData = {1, 0, 0, 9}}, 0xC101020F, 1,
         {L"-1", L"2", L"1", L"System Overheating (Temperature Sensor 9, Location System, Temperature 0C)"}},
        {"informational, class 2", {.size = 32, .number = 3, .severity = 3, .eventClass = 2, .code = 1,
                                    .classData = {1, 0, 0, 9}}, 0x41010203, 4,
         {L"3", L"2", L"1", L"System Overheating (Temperature Sensor 9, Location System, Temperature 0C)"}},
    };
    for (const WrittenCase &c : cases) {
        SCOPED_TRACE(c.name);
        ExpectOneWritten(Process(Packet(c.entry)), c.id, c.type, c.strings);
    }
}

TEST_F(KdlIntake, ReportTakesTypeFromIdentifierAndCountsToLastString)
{
    struct Case {
        DWORD id;
        std::vector<const wchar_t *> slots; // slots 1 to 4
        WORD type;
        std::vector<std::wstring> strings;
    };
    const Case cases[] = {
        {0x81010209, {L"9", L"2", L"1", L"Fan Failure"}, 2, {L"9", L"2", L"1", L"Fan Failure"}},
        {0xC1012A0F, {L"9", L"42", L"1", L"x"}, 1, {L"9", L"42", L"1", L"x"}},
        {0x41012A06, {L"9", L"42", L"1", L"x"}, 4, {L"9", L"42", L"1", L"x"}},
        {0x41010203, {L"a", L"", L"c", L""}, 4, {L"a", L"", L"c"}},
        {0, {L"", L"", L"", L""}, 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.id);
        KdlInsertionStrings strings;
        for (size_t i = 0; i < c.slots.size(); ++i)
            wcscpy(strings.Slot[i + 1], c.slots[i]);
        eventsink::ClearRecordedEvents();
        ReportKdlEvent(c.id, strings);
        std::vector<eventsink::Event> events = eventsink::RecordedEvents();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].id, c.id);
        EXPECT_EQ(events[0].type, c.type);
        EXPECT_EQ(events[0].category, 6);
        EXPECT_EQ(events[0].strings, c.strings);
    }
}

TEST_F(KdlIntake, IncompleteEntriesAreStillWrittenWithALogLine)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> packet;
        size_t received;
        DWORD id;
        WORD type;
        std::vector<std::wstring> strings;
    };
    const std::wstring overheating = L"System Overheating (Temperature Sensor 9, Location System, Temperature 0C)";
    // The size claims 60 bytes; 32 arrived, and they hold what the text needs.
    std::vector<uint8_t> longer =
        Packet({.size = 60, .number = 5, .severity = 9, .eventClass = 2, .code = 1, .classData = {1, 0, 0, 9}});
    // The packet says it ends inside the entry: the entry is read up to the packet's end.
    std::vector<uint8_t> cutByPacketSize =
        Packet({.size = 33, .number = 6, .severity = 15, .eventClass = 2, .code = 1, .classData = {1, 0, 0, 9, 7}});
    cutByPacketSize[0] = 16 + 32;
    const Case cases[] = {
        {"size 0", Packet({.size = 0, .severity = 9, .eventClass = 2}), SIZE_MAX, 0, 0, {}},
        {"size 12", Packet({.size = 12}), SIZE_MAX, 0, 0, {}},
        {"size 27", Packet({.size = 27, .eventClass = 0}), SIZE_MAX, 0, 0, {}},
        {"header cut", Packet({.size = 28}), 16 + 27, 0, 0, {}},
        {"packet header only", Packet({.size = 28}), 16, 0, 0, {}},
        {"nothing", Packet({.size = 28}), 0, 0, 0, {}},
        {"size beyond received", longer, SIZE_MAX, 0x81010209, 2, {L"5", L"2", L"1", overheating}},
        {"entry past the packet's size", cutByPacketSize, SIZE_MAX, 0xC101020F, 1, {L"6", L"2", L"1", overheating}},
        {"size beyond received, class 0", Packet({.size = 40, .number = 8, .eventClass = 0, .classData = {1, 2, 3}}),
         SIZE_MAX, 0, 0, {L"8", L"0", L"0", L"Empty"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring before = ReadTextLog();
        ExpectOneWritten(Process(c.packet, c.received), c.id, c.type, c.strings);
        std::wstring added = ReadTextLog().substr(before.size());
        EXPECT_NE(added.find(L"|TranslateKdlEvent|, Hardware event entry incomplete: "), std::wstring::npos)
            << added.size();
        EXPECT_NE(added.find(L"[Warning    ]"), std::wstring::npos);
        EXPECT_NE(added.find(L"|LogKDLEventToWEL|, LogKDLEventToWEL function called."), std::wstring::npos);
    }
}

TEST_F(KdlIntake, EachWrittenEventLeavesItsLogLine)
{
    std::wstring before = ReadTextLog();
    ASSERT_EQ(Process(Packet({.eventClass = 0})).size(), 1u);
    std::wstring added = ReadTextLog().substr(before.size());
    EXPECT_NE(added.find(L", [Information], |LogKDLEventToWEL|, LogKDLEventToWEL function called.\r\n"),
              std::wstring::npos);
}

TEST_F(KdlIntake, PutsLibraryAndSourceInPlaceOnEveryEvent)
{
    wchar_t target[kEventSourcePathChars];
    ASSERT_TRUE(MessageDllTargetPath(kMessageLibraryName, target, kEventSourcePathChars));
    DeleteFileW(target);
    CRegistry::DeleteTree(HKEY_LOCAL_MACHINE, kSourceKey);

    ASSERT_EQ(Process(Packet({.eventClass = 1})).size(), 1u);
    EXPECT_NE(GetFileAttributesW(target), INVALID_FILE_ATTRIBUTES);
    CRegistry key(kSourceKey);
    EXPECT_TRUE(key.Exists());
    EXPECT_TRUE(key.ValueExists(L"EventMessageFile"));

    // Taken away again, both come back with the next event.
    DeleteFileW(target);
    CRegistry::DeleteTree(HKEY_LOCAL_MACHINE, kSourceKey);
    ASSERT_EQ(Process(Packet({.eventClass = 1})).size(), 1u);
    EXPECT_NE(GetFileAttributesW(target), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(CRegistry(kSourceKey).Exists());
}

// The three legacy agents under the real service control manager.
class LegacyAgents : public KdlIntake {
protected:
    void SetUp() override
    {
        KdlIntake::SetUp();
        for (const wchar_t *name : kLegacyAgentServices) {
            ASSERT_TRUE(services.Create(name));
            ASSERT_TRUE(services.Start(name));
        }
    }
    FakeServices services;
};

TEST_F(LegacyAgents, AllThreeRunningLeaveNoEventAndNoLogLine)
{
    for (const wchar_t *name : kLegacyAgentServices)
        EXPECT_TRUE(IsServiceRunning(name));
    std::wstring before = ReadTextLog();
    EXPECT_TRUE(Process(Packet({.eventClass = 0})).empty());
    EXPECT_TRUE(Process(Packet({.size = 12})).empty()); // not even an incomplete one is looked at
    EXPECT_EQ(ReadTextLog(), before);
}

TEST_F(LegacyAgents, AnyOneStoppedOrAbsentLetsTheEventThrough)
{
    for (const wchar_t *name : kLegacyAgentServices) {
        SCOPED_TRACE(testing::Message() << "stopped: " << Narrow(name));
        ASSERT_TRUE(services.Stop(name));
        EXPECT_FALSE(IsServiceRunning(name));
        EXPECT_EQ(Process(Packet({.eventClass = 0})).size(), 1u);
        ASSERT_TRUE(services.Start(name));
        EXPECT_TRUE(Process(Packet({.eventClass = 0})).empty());
    }
    for (const wchar_t *name : kLegacyAgentServices) {
        SCOPED_TRACE(testing::Message() << "absent: " << Narrow(name));
        ASSERT_TRUE(services.Delete(name));
        EXPECT_FALSE(IsServiceRunning(name));
        EXPECT_EQ(Process(Packet({.eventClass = 0})).size(), 1u);
        ASSERT_TRUE(services.Create(name));
        ASSERT_TRUE(services.Start(name));
    }
}

} // namespace
