#include "storage_box.h"
#include "storage_keys.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kBoxKey[] = "SYSTEM\\QZTLMStorage\\StorageSystem\\Box";

std::set<std::string> BoxValueNames()
{
    std::set<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBoxKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD length = sizeof name;
        if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.insert(name);
    }
    RegCloseKey(key);
    return names;
}

std::vector<uint8_t> BoxValue(const char *name)
{
    std::vector<uint8_t> data(1024);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kBoxKey, name, RRF_RT_REG_BINARY, nullptr, data.data(), &size) != ERROR_SUCCESS)
        return {};
    data.resize(size);
    return data;
}

class StorageBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetStorageBoxListForTest();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage");
        StorageBoxTimeouts::LockWaitMs = 500;
    }
    void TearDown() override { StorageBoxTimeouts::LockWaitMs = 500; }

    STORAGE_BOX_RECORD *Box(uint32_t adapter, uint8_t sequence)
    {
        m_Boxes.push_back(std::make_unique<STORAGE_BOX_RECORD>());
        STORAGE_BOX_RECORD *box = m_Boxes.back().get();
        *box = {};
        box->Value.HostAdapterIndex = adapter;
        box->Value.SequenceNumber = sequence;
        return box;
    }
    void InsertAndMark(STORAGE_BOX_RECORD *box)
    {
        ASSERT_EQ(InsertStorageBox(box), 0);
        ASSERT_EQ(MarkStorageBoxPublished(box), 0);
    }
    std::vector<std::unique_ptr<STORAGE_BOX_RECORD>> m_Boxes;
};

TEST_F(StorageBoxTest, InsertKeepsTheOrderOfAdapterThenSequenceAndEqualsInArrival)
{
    STORAGE_BOX_RECORD *a = Box(2, 1);
    STORAGE_BOX_RECORD *b = Box(1, 1);
    STORAGE_BOX_RECORD *c = Box(2, 1);
    STORAGE_BOX_RECORD *d = Box(0x80000000u, 1);  // compared unsigned
    STORAGE_BOX_RECORD *e = Box(1, 0);
    for (STORAGE_BOX_RECORD *box : {a, b, c, d, e})
        ASSERT_EQ(InsertStorageBox(box), 0);
    std::vector<STORAGE_BOX_RECORD *> expected = {e, b, a, c, d};
    ASSERT_EQ(StorageBoxList.Count, expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(StorageBoxList.Slots[i], expected[i]) << i;
        EXPECT_EQ(expected[i]->ListPosition, i);
    }
}

TEST_F(StorageBoxTest, AFullListRefusesTheNextBoxAndStaysUnchanged)
{
    for (int i = 0; i < STORAGE_BOX_LIST_CAPACITY; ++i)
        ASSERT_EQ(InsertStorageBox(Box(5, static_cast<uint8_t>(i))), 0);
    STORAGE_BOX_LIST before = StorageBoxList;
    for (STORAGE_BOX_RECORD *extra : {Box(0, 0), Box(9, 9)}) {  // would go first / last
        EXPECT_NE(InsertStorageBox(extra), 0);
        EXPECT_EQ(std::memcmp(&before, &StorageBoxList, sizeof before), 0);
    }
}

TEST_F(StorageBoxTest, RemoveTakesTheRecordItselfAndItsPublishedCount)
{
    STORAGE_BOX_RECORD *first = Box(1, 1);
    STORAGE_BOX_RECORD *second = Box(1, 2);
    // After 255 more boxes the sequence number wraps: this one has the first one's key.
    STORAGE_BOX_RECORD *wrapped = Box(1, 1);
    InsertAndMark(first);
    InsertAndMark(second);
    ASSERT_EQ(InsertStorageBox(wrapped), 0);
    ASSERT_EQ(StorageBoxList.PublishedCount, 2);

    ASSERT_EQ(RemoveStorageBox(wrapped), 0);
    ASSERT_EQ(StorageBoxList.Count, 2);
    EXPECT_EQ(StorageBoxList.Slots[0], first);
    EXPECT_EQ(StorageBoxList.Slots[1], second);
    EXPECT_EQ(StorageBoxList.PublishedCount, 2);  // the wrapped box was not published
    EXPECT_EQ(StorageBoxList.Slots[2], nullptr);

    ASSERT_EQ(RemoveStorageBox(first), 0);
    EXPECT_EQ(StorageBoxList.Slots[0], second);
    EXPECT_EQ(second->ListPosition, 0);
    EXPECT_EQ(StorageBoxList.PublishedCount, 1);
    EXPECT_EQ(first->Published, 0);

    // Not in the list (also with an equal key): nothing changes.
    STORAGE_BOX_RECORD *stranger = Box(1, 2);
    stranger->Published = 1;
    STORAGE_BOX_LIST before = StorageBoxList;
    EXPECT_EQ(RemoveStorageBox(stranger), 0);
    EXPECT_EQ(std::memcmp(&before, &StorageBoxList, sizeof before), 0);
}

TEST_F(StorageBoxTest, MarkCountsABoxOnce)
{
    STORAGE_BOX_RECORD *box = Box(0, 1);
    ASSERT_EQ(InsertStorageBox(box), 0);
    EXPECT_EQ(MarkStorageBoxPublished(box), 0);
    EXPECT_EQ(MarkStorageBoxPublished(box), 0);
    EXPECT_EQ(StorageBoxList.PublishedCount, 1);
}

TEST_F(StorageBoxTest, PublishAllCreatesTheKeyAndNumbersOnlyPublishedBoxes)
{
    STORAGE_BOX_RECORD *a = Box(0, 1);
    STORAGE_BOX_RECORD *hidden = Box(0, 2);
    STORAGE_BOX_RECORD *c = Box(0, 3);
    std::strcpy(a->Value.BoxName, "Port 1I Box 1");
    std::strcpy(c->Value.BoxName, "Port 1I Box 2");
    InsertAndMark(a);
    ASSERT_EQ(InsertStorageBox(hidden), 0);
    InsertAndMark(c);
    ASSERT_EQ(PublishStorageBoxes(), ERROR_SUCCESS);
    EXPECT_EQ(BoxValueNames(), (std::set<std::string>{"Box000", "Box001"}));
    std::vector<uint8_t> value = BoxValue("Box001");
    ASSERT_EQ(value.size(), STORAGE_BOX_VALUE_SIZE);
    EXPECT_STREQ(reinterpret_cast<const char *>(&value[224]), "Port 1I Box 2");
    // The key is volatile: it cannot have a non-volatile subkey.
    HKEY child = nullptr;
    EXPECT_NE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kBoxKey) + "\\x").c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &child, nullptr),
              ERROR_SUCCESS);
    if (child)
        RegCloseKey(child);
}

TEST_F(StorageBoxTest, FewerBoxesRecreateTheKeyAndPublishOneWritesAtItsPosition)
{
    std::vector<STORAGE_BOX_RECORD *> boxes;
    for (uint8_t i = 1; i <= 4; ++i) {
        boxes.push_back(Box(0, i));
        InsertAndMark(boxes.back());
    }
    ASSERT_EQ(PublishStorageBoxes(), ERROR_SUCCESS);
    ASSERT_EQ(BoxValueNames().size(), 4u);
    ASSERT_EQ(RemoveStorageBox(boxes[1]), 0);
    ASSERT_EQ(PublishStorageBoxes(), ERROR_SUCCESS);
    EXPECT_EQ(BoxValueNames(), (std::set<std::string>{"Box000", "Box001", "Box002"}));

    boxes[3]->Value.Condition = 4;
    ASSERT_EQ(PublishStorageBox(boxes[3]), ERROR_SUCCESS);
    EXPECT_EQ(BoxValue("Box002")[38], 4);
}

TEST_F(StorageBoxTest, TheFirstPublishOfAProcessDropsValuesOfAnEarlierRun)
{
    // Values a previous run of the service left in the volatile key.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kBoxKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    std::vector<uint8_t> ghost(STORAGE_BOX_VALUE_SIZE, 0);
    for (const char *name : {"Box000", "Box001", "Box002"})
        RegSetValueExA(key, name, 0, REG_BINARY, ghost.data(), static_cast<DWORD>(ghost.size()));
    RegCloseKey(key);
    InsertAndMark(Box(0, 1));
    ASSERT_EQ(PublishStorageBoxes(), ERROR_SUCCESS);
    EXPECT_EQ(BoxValueNames(), (std::set<std::string>{"Box000"}));
}

TEST_F(StorageBoxTest, TwoProcessesOnOneServer)
{
    auto run = [](const char *count) {
        char module[MAX_PATH];
        GetModuleFileNameA(nullptr, module, MAX_PATH);
        std::string path(module);
        path = path.substr(0, path.find_last_of("\\/") + 1) + "storage_box_publisher.exe";
        std::string command = "\"" + path + "\" " + count;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process))
            return static_cast<DWORD>(-1);
        WaitForSingleObject(process.hProcess, 60000);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return code;
    };
    ASSERT_EQ(run("4"), 0u);
    EXPECT_EQ(BoxValueNames().size(), 4u);
    ASSERT_EQ(run("3"), 0u);
    EXPECT_EQ(BoxValueNames(), (std::set<std::string>{"Box000", "Box001", "Box002"}));
}

TEST_F(StorageBoxTest, ALockHeldElsewhereFailsEveryOperationWithoutTouchingAnything)
{
    StorageBoxTimeouts::LockWaitMs = 50;
    STORAGE_BOX_RECORD *box = Box(0, 1);
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        HANDLE mutex = CreateMutexA(nullptr, TRUE, "QZTLMSsBoxListMutex");
        SetEvent(taken);
        WaitForSingleObject(release, 60000);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    WaitForSingleObject(taken, 60000);
    EXPECT_EQ(InsertStorageBox(box), -1);
    EXPECT_EQ(MarkStorageBoxPublished(box), -1);
    EXPECT_EQ(RemoveStorageBox(box), -1);
    EXPECT_EQ(PublishStorageBoxes(), -1);
    EXPECT_EQ(PublishStorageBox(box), -1);
    EXPECT_EQ(StorageBoxList.Count, 0);
    EXPECT_EQ(box->Published, 0);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBoxKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    SetEvent(release);
    holder.join();
    CloseHandle(taken);
    CloseHandle(release);
    EXPECT_EQ(InsertStorageBox(box), 0);
}

TEST_F(StorageBoxTest, AnAbandonedLockIsTakenAndLeftFree)
{
    std::thread dies([] { CreateMutexA(nullptr, TRUE, "QZTLMSsBoxListMutex"); });  // exits owning it
    dies.join();
    STORAGE_BOX_RECORD *box = Box(0, 1);
    EXPECT_EQ(InsertStorageBox(box), 0);
    // Released after the operation: another thread can have it at once.
    DWORD wait = WAIT_FAILED;
    std::thread other([&] {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "QZTLMSsBoxListMutex");
        wait = WaitForSingleObject(mutex, 0);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
            ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    other.join();
    EXPECT_EQ(wait, WAIT_OBJECT_0);
}

TEST(StorageKeys, RowsInUseAndRecreation)
{
    EXPECT_STREQ(StorageKeyPath(STORAGE_ROW_BOX), "QZTLMStorage\\StorageSystem\\Box");
    EXPECT_STREQ(StorageKeyPath(STORAGE_ROW_SAS_PHYDRV), "QZTLMStorage\\SCSI\\SASPhyDrv");
    EXPECT_STREQ(StorageKeyPath(150), StorageKeyPath(STORAGE_ROW_SCSI));
    EXPECT_STREQ(StorageKeyPath(155), "");
    EXPECT_STREQ(StorageKeyPath(-1), "");

    HKEY system = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &system), ERROR_SUCCESS);
    RegDeleteTreeA(system, "QZTLMStorage");
    HKEY key = nullptr;
    EXPECT_NE(OpenOrRecreateStorageKey(system, StorageKeyPath(STORAGE_ROW_SAS_HBA), 0, &key), ERROR_SUCCESS);
    ASSERT_EQ(OpenOrRecreateStorageKey(system, StorageKeyPath(STORAGE_ROW_SAS_HBA), 1, &key), ERROR_SUCCESS);
    DWORD one = 1;
    RegSetValueExA(key, "SasHBA000", 0, REG_BINARY, reinterpret_cast<BYTE *>(&one), 4);
    RegCloseKey(key);
    ASSERT_EQ(RecreateStorageKey(system, STORAGE_ROW_SAS_HBA), ERROR_SUCCESS);
    ASSERT_EQ(OpenOrRecreateStorageKey(system, StorageKeyPath(STORAGE_ROW_SAS_HBA), 0, &key), ERROR_SUCCESS);
    DWORD values = 99;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    EXPECT_EQ(values, 0u);
    RegCloseKey(key);
    RegCloseKey(system);
}

} // namespace
