// The due tests and time stamps of the software and hot-fix inventories.
#include "scheduler_fixture.h"

using namespace schedtest;

namespace {

struct RawValue {
    const wchar_t *key;
    const wchar_t *name;
    DWORD type;
    Bytes data;
};

void SetRaw(const RawValue &value)
{
    CRegistry key(HKEY_LOCAL_MACHINE, value.key);
    // The service's VolatileData key never outlives a restart; tests make it the same way.
    ASSERT_TRUE(key.Create(wcscmp(value.key, kVolatileDataKey) == 0 ? REG_OPTION_VOLATILE : 0));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.GetHandle(), value.name, 0, value.type, value.data.data(),
                                            static_cast<DWORD>(value.data.size())));
}

Bytes Le(uint64_t value, size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i < 8 ? value >> (8 * i) : 0);
    return bytes;
}

RawValue Stamp(const wchar_t *name, uint64_t fileTime)
{
    return {kHostStateKey, name, REG_BINARY, Le(fileTime, 8)};
}

RawValue Minutes(const wchar_t *name, DWORD minutes)
{
    return {kServiceParametersKey, name, REG_DWORD, Le(minutes, 4)};
}

constexpr uint64_t kMinute = 60 * kSecond;
const wchar_t kSoftwareStamp[] = L"LastSoftwareCollectionTime";
const wchar_t kHotFixStamp[] = L"LastHotFixCollectionTime";
const wchar_t kSoftwareMinutes[] = L"PollInterval_Software_InMinutes";
const wchar_t kHotFixMinutes[] = L"PollInterval_HotFix_InMinutes";

TEST_F(SchedulerTest, InventoryDueTests)
{
    const RawValue bothStamps[] = {Stamp(kSoftwareStamp, kStart), Stamp(kHotFixStamp, kStart)};
    struct Case {
        const char *what;
        std::vector<RawValue> values;
        uint64_t elapsed;  // since kStart
        bool software;
        bool hotFix;
    };
    const Case cases[] = {
        {"no stamps", {}, 0, true, true},
        {"fresh stamps", {bothStamps[0], bothStamps[1]}, kMinute, false, false},
        {"stamps of four bytes",
         {{kHostStateKey, kSoftwareStamp, REG_BINARY, Le(kStart, 4)},
          {kHostStateKey, kHotFixStamp, REG_BINARY, Le(kStart, 4)}},
         kMinute,
         true,
         true},
        {"stamps of nine bytes",
         {{kHostStateKey, kSoftwareStamp, REG_BINARY, Le(kStart, 9)},
          {kHostStateKey, kHotFixStamp, REG_BINARY, Le(kStart, 9)}},
         kMinute,
         true,
         true},
        {"stamps of another type",
         {{kHostStateKey, kSoftwareStamp, REG_QWORD, Le(kStart, 8)},
          {kHostStateKey, kHotFixStamp, REG_QWORD, Le(kStart, 8)}},
         kMinute,
         true,
         true},
        {"software at two minutes", {bothStamps[0], bothStamps[1]}, 2 * kMinute + kSecond / 2, false, false},
        {"software past two minutes", {bothStamps[0], bothStamps[1]}, 2 * kMinute + kSecond, true, false},
        {"hot fixes at a day", {bothStamps[0], bothStamps[1]}, 1440 * kMinute, true, false},
        {"hot fixes past a day", {bothStamps[0], bothStamps[1]}, 1440 * kMinute + kSecond, true, true},
        {"0 minutes count as 1",
         {bothStamps[0], bothStamps[1], Minutes(kSoftwareMinutes, 0), Minutes(kHotFixMinutes, 0)},
         kMinute,
         false,
         false},
        {"0 minutes count as 1, past it",
         {bothStamps[0], bothStamps[1], Minutes(kSoftwareMinutes, 0), Minutes(kHotFixMinutes, 0)},
         kMinute + kSecond,
         true,
         true},
        {"50000 minutes count as 43200",
         {bothStamps[0], bothStamps[1], Minutes(kSoftwareMinutes, 50000), Minutes(kHotFixMinutes, 50000)},
         43200 * kMinute,
         false,
         false},
        {"50000 minutes count as 43200, past it",
         {bothStamps[0], bothStamps[1], Minutes(kSoftwareMinutes, 50000), Minutes(kHotFixMinutes, 50000)},
         43200 * kMinute + kSecond,
         true,
         true},
        {"minutes as a string are ignored",
         {bothStamps[0], bothStamps[1], {kServiceParametersKey, kSoftwareMinutes, REG_SZ, {'9', 0, 0, 0}}},
         3 * kMinute,
         true,
         false},
        {"health log cleared",
         {bothStamps[0], bothStamps[1], {kHostStateKey, L"KWBCleared", REG_DWORD, Le(1, 4)}},
         kMinute,
         true,
         true},
        {"health log disabled and enabled",
         {bothStamps[0], bothStamps[1], {kHostStateKey, L"KWBDisabledThenEnabled", REG_DWORD, Le(2, 4)}},
         kMinute,
         true,
         true},
        {"re-log flags at 0",
         {bothStamps[0], bothStamps[1], {kHostStateKey, L"KWBCleared", REG_DWORD, Le(0, 4)},
          {kHostStateKey, L"KWBDisabledThenEnabled", REG_DWORD, Le(0, 4)}},
         kMinute,
         false,
         false},
        {"software records asked for again",
         {bothStamps[0], bothStamps[1], {kVolatileDataKey, L"RelogBBForSwOs", REG_SZ, {0, 0}}},
         kMinute,
         true,
         false},
        {"service and driver records asked for again",
         {bothStamps[0], bothStamps[1], {kVolatileDataKey, L"RelogBBForServiceDriver", REG_BINARY, {}}},
         kMinute,
         true,
         false},
        {"stamps ahead of the clock", {Stamp(kSoftwareStamp, kStart + kMinute), Stamp(kHotFixStamp, kStart + kMinute)},
         0, true, true},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.what);
        for (const wchar_t *key : {kServiceParametersKey, kHostStateKey, kVolatileDataKey})
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
        for (const RawValue &value : test.values)
            SetRaw(value);
        clock.now = kStart + test.elapsed;
        EXPECT_EQ(test.software, IsSoftwareCollectionDue());
        EXPECT_EQ(test.hotFix, IsHotFixCollectionDue());
    }
}

Bytes StampBytes(const wchar_t *name)
{
    Bytes bytes(16);
    DWORD size = static_cast<DWORD>(bytes.size());
    EXPECT_TRUE(CRegistry(HKEY_LOCAL_MACHINE, kHostStateKey, KEY_READ).GetBinary(name, bytes.data(), &size));
    bytes.resize(size);
    return bytes;
}

TEST_F(SchedulerTest, StampsWriteTheTimeOrZero)
{
    clock.now = kStart;
    ASSERT_TRUE(StampSoftwareCollection(true));
    EXPECT_EQ(Le(kStart, 8), StampBytes(kSoftwareStamp));
    EXPECT_FALSE(IsSoftwareCollectionDue());
    EXPECT_TRUE(IsHotFixCollectionDue()) << "the hot-fix stamp is its own";

    ASSERT_TRUE(StampHotFixCollection(true));
    EXPECT_FALSE(IsHotFixCollectionDue());

    clock.now = kStart + kMinute;
    ASSERT_TRUE(StampSoftwareCollection(false));
    EXPECT_EQ(Bytes(8, 0), StampBytes(kSoftwareStamp));
    EXPECT_TRUE(IsSoftwareCollectionDue());
    EXPECT_EQ(Le(kStart, 8), StampBytes(kHotFixStamp));

    ASSERT_TRUE(StampHotFixCollection(false));
    EXPECT_TRUE(IsHotFixCollectionDue());
}

} // namespace
