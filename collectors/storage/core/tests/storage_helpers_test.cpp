#include "agentx_pdu.h"
#include "storage_keys.h"
#include "storage_records.h"
#include "storage_trap.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

namespace {

TEST(StorageRecords, ValueNamesParsedByPrefixAndBase)
{
    struct Case {
        const char *name, *prefix;
        RecordNumberBase base;
        long long number;  // -1: not a record name
    } cases[] = {
        {"AtaDisk000", "AtaDisk", RecordNumberBase::Hex, 0},
        {"AtaDisk00A", "AtaDisk", RecordNumberBase::Hex, 10},
        {"atadisk1000", "AtaDisk", RecordNumberBase::Hex, 0x1000},
        {"Instance12", "Instance", RecordNumberBase::Decimal, 12},
        {"Instance1A", "Instance", RecordNumberBase::Decimal, -1},
        {"AtaDisk", "AtaDisk", RecordNumberBase::Hex, -1},
        {"Controller000", "AtaDisk", RecordNumberBase::Hex, -1},
        {"AtaDisk123456789", "AtaDisk", RecordNumberBase::Hex, -1},
    };
    for (const Case &c : cases) {
        auto number = RecordNumber(c.name, c.prefix, c.base);
        if (c.number < 0)
            EXPECT_FALSE(number) << c.name;
        else
            EXPECT_EQ(number.value_or(0xDEAD), static_cast<uint32_t>(c.number)) << c.name;
    }
}

TEST(StorageRecords, ReadBackInNumberOrderSkippingWrongSizes)
{
    HKEY system = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &system), ERROR_SUCCESS);
    ASSERT_EQ(RecreateStorageKey(system, STORAGE_ROW_IDE_ATADISK), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(OpenOrRecreateStorageKey(system, StorageKeyPath(STORAGE_ROW_IDE_ATADISK), 0, &key), ERROR_SUCCESS);
    auto put = [&](const char *name, size_t size, uint8_t mark, DWORD type = REG_BINARY) {
        std::vector<uint8_t> data(size, mark);
        RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    };
    // Written out of order; names sort differently from numbers ("AtaDisk010" < "AtaDisk00F" is false, but
    // "AtaDisk1000" sorts before "AtaDisk200").
    put("AtaDisk200", 406, 3);
    put("AtaDisk1000", 406, 4);
    put("AtaDisk002", 406, 2);
    put("AtaDisk001", 405, 9);             // short
    put("AtaDisk003", 407, 9);             // long
    put("AtaDisk004", 406, 9, REG_SZ);     // wrong type
    put("Other000", 406, 9);
    put("AtaDisk000", 406, 1);
    RegCloseKey(key);
    RegCloseKey(system);

    std::vector<STORAGE_RECORD_VALUE> records;
    ASSERT_EQ(ReadStorageRecords(STORAGE_ROW_IDE_ATADISK, "AtaDisk", RecordNumberBase::Hex, 406, &records), 0);
    ASSERT_EQ(records.size(), 4u);
    uint32_t numbers[] = {0, 2, 0x200, 0x1000};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].Number, numbers[i]);
        EXPECT_EQ(records[i].Data.size(), 406u);
        EXPECT_EQ(records[i].Data[0], i + 1);
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage");
    EXPECT_EQ(ReadStorageRecords(STORAGE_ROW_IDE_ATADISK, "AtaDisk", RecordNumberBase::Hex, 406, &records),
              ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(records.empty());
}

TEST(StorageTrap, SysNameThenConditionFlags)
{
    TRAP_BUFFER trap = {};
    ASSERT_TRUE(AddStorageTrapHeader(&trap, 3));
    ASSERT_EQ(trap.VarBindCount, 2u);
    const uint8_t *first = trap.VarBinds;
    EXPECT_EQ(first[0], 4);  // OctetString
    MIBOID name{};
    DecodeAgentXOid(first + 4, &name);
    EXPECT_EQ(name, (MIBOID{1, 3, 6, 1, 2, 1, 1, 5, 0}));
    // The physical DNS name, as every storage trap names the computer.
    char computer[260] = {};
    DWORD size = sizeof computer;
    ASSERT_TRUE(GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, computer, &size));
    const uint8_t *text = GetVarBindData(first);
    uint32_t length = 0;
    std::memcpy(&length, text, 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(text + 4), length), computer);

    const uint8_t *second = NextVarBind(first);
    EXPECT_EQ(second[0], 2);  // Integer
    MIBOID flags{};
    DecodeAgentXOid(second + 4, &flags);
    EXPECT_EQ(flags, (MIBOID{1, 3, 6, 1, 4, 1, 32473, 11, 2, 11, 1, 0}));
    int32_t value = 0;
    std::memcpy(&value, GetVarBindData(second), 4);
    EXPECT_EQ(value, 12);
}

} // namespace
