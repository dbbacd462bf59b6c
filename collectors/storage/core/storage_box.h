#pragma once
// Storage enclosures (boxes) that the SAS discovery keeps, the process-wide list of them and its
// publishing under QZTLMStorage\StorageSystem\Box. Every list operation holds the named mutex
// "QZTLMSsBoxListMutex"; an operation that cannot have it within StorageBoxTimeouts::LockWaitMs
// returns -1 and touches nothing.

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr size_t STORAGE_BOX_VALUE_SIZE = 712;
constexpr int STORAGE_BOX_LIST_CAPACITY = 128;
constexpr int STORAGE_BOX_LOCK_FAILED = -1;
constexpr int STORAGE_BOX_LIST_FULL = 1;

#pragma pack(push, 1)
// The published value of one box, written byte for byte as REG_BINARY "Box%03X".
struct STORAGE_BOX_VALUE {
    uint8_t Reserved0;
    uint8_t SequenceNumber;        // within its host adapter, from 1; second sort key
    uint8_t Constant2;
    char ProductId[17];
    char ProductRevision[8];
    char VendorId[9];
    uint8_t FanStatus;
    uint8_t Condition;
    uint8_t TemperatureStatus;
    uint8_t Constant40;
    uint8_t PowerSupplyStatus;
    uint8_t Constant42;
    uint8_t BayCount;
    uint8_t Constant44;
    uint8_t Constant45;
    uint8_t Constant46;
    char SerialNumber[24];
    uint8_t Constant71;
    uint8_t FanCondition;
    uint8_t Constant73;
    uint8_t TemperatureCondition;
    uint8_t Constant75;
    uint32_t HostAdapterIndex;     // first sort key
    char SlotText[128];
    uint8_t PowerSupplyCondition;
    uint8_t Constant209;
    uint8_t Constant210;
    uint8_t BoxKind;
    char ConnectorText[4];
    uint8_t BoxNumber;
    uint8_t Reserved217[3];
    uint8_t Presence;
    uint8_t BoxClass;
    uint8_t Reserved222[2];
    char BoxName[64];
    char AdapterSasAddress[17];
    char BoxSasAddress[17];
    char ManagementText1[64];
    char ManagementText2[64];
    uint8_t BayStatusValid;
    uint8_t BayStatus[261];
};
#pragma pack(pop)
static_assert(sizeof(STORAGE_BOX_VALUE) == STORAGE_BOX_VALUE_SIZE);
static_assert(offsetof(STORAGE_BOX_VALUE, SequenceNumber) == 1);
static_assert(offsetof(STORAGE_BOX_VALUE, Constant2) == 2);
static_assert(offsetof(STORAGE_BOX_VALUE, ProductId) == 3);
static_assert(offsetof(STORAGE_BOX_VALUE, ProductRevision) == 20);
static_assert(offsetof(STORAGE_BOX_VALUE, VendorId) == 28);
static_assert(offsetof(STORAGE_BOX_VALUE, FanStatus) == 37);
static_assert(offsetof(STORAGE_BOX_VALUE, Condition) == 38);
static_assert(offsetof(STORAGE_BOX_VALUE, TemperatureStatus) == 39);
static_assert(offsetof(STORAGE_BOX_VALUE, Constant40) == 40);
static_assert(offsetof(STORAGE_BOX_VALUE, PowerSupplyStatus) == 41);
static_assert(offsetof(STORAGE_BOX_VALUE, Constant42) == 42);
static_assert(offsetof(STORAGE_BOX_VALUE, BayCount) == 43);
static_assert(offsetof(STORAGE_BOX_VALUE, Constant44) == 44);
static_assert(offsetof(STORAGE_BOX_VALUE, Constant45) == 45);
static_assert(offsetof(STORAGE_BOX_VALUE, Constant46) == 46);
static_assert(offsetof(STORAGE_BOX_VALUE, SerialNumber) == 47);
static_assert(offsetof(STORAGE_BOX_VALUE, Constant71) == 71);
static_assert(offsetof(STORAGE_BOX_VALUE, FanCondition) == 72);
static_assert(offsetof(STORAGE_BOX_VALUE, Constant73) == 73);
static_assert(offsetof(STORAGE_BOX_VALUE, TemperatureCondition) == 74);
static_assert(offsetof(STORAGE_BOX_VALUE, Constant75) == 75);
static_assert(offsetof(STORAGE_BOX_VALUE, HostAdapterIndex) == 76);
static_assert(offsetof(STORAGE_BOX_VALUE, SlotText) == 80);
static_assert(offsetof(STORAGE_BOX_VALUE, PowerSupplyCondition) == 208);
static_assert(offsetof(STORAGE_BOX_VALUE, Constant209) == 209);
static_assert(offsetof(STORAGE_BOX_VALUE, Constant210) == 210);
static_assert(offsetof(STORAGE_BOX_VALUE, BoxKind) == 211);
static_assert(offsetof(STORAGE_BOX_VALUE, ConnectorText) == 212);
static_assert(offsetof(STORAGE_BOX_VALUE, BoxNumber) == 216);
static_assert(offsetof(STORAGE_BOX_VALUE, Presence) == 220);
static_assert(offsetof(STORAGE_BOX_VALUE, BoxClass) == 221);
static_assert(offsetof(STORAGE_BOX_VALUE, BoxName) == 224);
static_assert(offsetof(STORAGE_BOX_VALUE, AdapterSasAddress) == 288);
static_assert(offsetof(STORAGE_BOX_VALUE, BoxSasAddress) == 305);
static_assert(offsetof(STORAGE_BOX_VALUE, ManagementText1) == 322);
static_assert(offsetof(STORAGE_BOX_VALUE, ManagementText2) == 386);
static_assert(offsetof(STORAGE_BOX_VALUE, BayStatusValid) == 450);
static_assert(offsetof(STORAGE_BOX_VALUE, BayStatus) == 451);

#pragma pack(push, 1)
// One box as the SAS discovery keeps it (inside its box node).
struct STORAGE_BOX_RECORD {
    uint8_t ListPosition;  // rewritten whenever the list shifts
    uint8_t Published;     // set by MarkStorageBoxPublished
    STORAGE_BOX_VALUE Value;
};
#pragma pack(pop)
static_assert(offsetof(STORAGE_BOX_RECORD, ListPosition) == 0);
static_assert(offsetof(STORAGE_BOX_RECORD, Published) == 1);
static_assert(offsetof(STORAGE_BOX_RECORD, Value) == 2);
static_assert(sizeof(STORAGE_BOX_RECORD) == 2 + STORAGE_BOX_VALUE_SIZE);

// The list itself: sorted by host-adapter index, then sequence number; it does not own the
// records (the box nodes remove themselves before they are freed).
struct STORAGE_BOX_LIST {
    uint8_t Count;
    uint8_t PublishedCount;
    STORAGE_BOX_RECORD *Slots[STORAGE_BOX_LIST_CAPACITY];
};
extern STORAGE_BOX_LIST StorageBoxList;

struct StorageBoxTimeouts {
    // How long a list operation waits for the list's mutex.
    static inline std::atomic<DWORD> LockWaitMs{500};
};

// The mutex handle, owned; null when it could not be had in time.
HANDLE LockStorageBoxList();
void UnlockStorageBoxList(HANDLE lock);

int InsertStorageBox(STORAGE_BOX_RECORD *record);
int RemoveStorageBox(STORAGE_BOX_RECORD *record);
int MarkStorageBoxPublished(STORAGE_BOX_RECORD *record);
LONG PublishStorageBoxes();
LONG PublishStorageBox(STORAGE_BOX_RECORD *record);

// Tests only: an empty list and a process that has not published yet.
void ResetStorageBoxListForTest();
