#pragma once
// What the adapter model tests share: a described host installed for each test, drivers that
// answer like NICs and team interfaces, the record keys of the library in the test prefix, and
// readers of what the model wrote.
#include "nic_test_support.h"

#include "common_log.h"
#include "if_table.h"
#include "lbfo.h"
#include "logical_adapter.h"
#include "miniport.h"
#include "nic_fixture.h"
#include "nic_records.h"
#include "physical_adapter.h"
#include "trap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace modeltest {

using namespace nictest;

inline std::vector<uint8_t> Bytes(const void *data, size_t size)
{
    const auto *p = static_cast<const uint8_t *>(data);
    return std::vector<uint8_t>(p, p + size);
}

inline std::vector<uint8_t> Word(uint32_t value, size_t size = 4)
{
    std::vector<uint8_t> data(size, 0);
    std::memcpy(data.data(), &value, 4);
    return data;
}

// The twelve 802.3 counters a NIC's driver answers, in the physical adapter's row order.
constexpr uint32_t kStatOids[12] = {0x00020101, 0x00020102, 0x01020101, 0x0002020D, 0x01020102, 0x01020103,
                                    0x01020201, 0x01020207, 0x01020202, 0x01020204, 0x01020206, 0x01020203};

class ModelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_LogPath = ConfigureVerboseLog(L"nic-model-log");
        s_CommonLog.LogInit(L"TLM", L"NETVARDL");
    }
    void SetUp() override
    {
        fixture.Install();
        ConfigureVerboseLog(L"nic-model-log");
        DeleteTree(kNicRootKey);
        for (const wchar_t *key : {kNicRootKey, kNicInterfaceKey, kNicLogInterfaceMapKey, kNicVlanInterfaceKey,
                                   kNicPhysInterfaceKey, kNicBridgingInfoKey, kNicEthernetKey,
                                   kNicEthernetStatisticsKey})
            CreateVolatileKey(key);
        g_UpdatePass = 1;
        g_StartStamp = 0;
        g_LbfoTeamFound = 0;
        g_NextTeamId = -1;
        g_LogicalAdapterConditionMap.clear();
        g_PhysicalAdapterConditionMap.clear();
        ResetPhysicalAdapterIndex();
    }
    void TearDown() override { DeleteTree(kNicRootKey); }

    void Answer(const std::wstring &path, uint32_t oid, std::vector<uint8_t> data, uint32_t status = 0)
    {
        fixture.Host().ndis.push_back({path, kIoctlNdisQueryGlobalStats, oid, status, std::move(data)});
    }
    // Replaces a described answer (the first for the device and OID).
    void Change(const std::wstring &path, uint32_t oid, std::vector<uint8_t> data, uint32_t status = 0)
    {
        for (NicHostNdisAnswer &answer : fixture.Host().ndis)
            if (answer.path == path && answer.oid == oid) {
                answer.data = std::move(data);
                answer.status = status;
                return;
            }
        Answer(path, oid, std::move(data), status);
    }
    void SetLink(const std::wstring &path, bool up) { Change(path, kOidGenMediaConnectStatus, Word(up ? 0 : 1, 8)); }

    // A NIC driver at the device path: medium 802.3, this MAC, description, link and counters.
    void Driver(const std::wstring &path, const std::vector<uint8_t> &mac, const char *description, bool up = true,
                uint32_t counterBase = 0)
    {
        Answer(path, kOidGenMediaInUse, std::vector<uint8_t>(8, 0));
        Answer(path, kOidGenVendorDescription, Bytes(description, strlen(description) + 1));
        Answer(path, kOid8023CurrentAddress, mac);
        Answer(path, kOid8023PermanentAddress, mac);
        Answer(path, kOidTeamVlanId, Word(0));
        Answer(path, kOidTeamVlanName, {});
        SetLink(path, up);
        for (size_t i = 0; i < 12; ++i)
            Answer(path, kStatOids[i], Word(counterBase + static_cast<uint32_t>(i)));
    }
    CMiniport *InitInto(CMiniportList &list, const std::wstring &device, const wchar_t *path = nullptr)
    {
        MINIPORTNODE *node = CMiniportList::AllocateMiniportNode();
        if (node->object->Init(path, device.c_str(), (device.size() + 1) * sizeof(wchar_t), &list) != 0) {
            DeleteListNode(node);
            return nullptr;
        }
        list.Append(node);
        return node->object;
    }
    // An interface row (also described to the host, so that GetIfEntry answers it).
    MIB_IFROW Row(uint32_t index, uint32_t type, const std::vector<uint8_t> &mac, const std::string &description,
                  uint32_t speed = 1000000000, const std::wstring &name = L"")
    {
        NicHostInterface entry;
        entry.index = index;
        entry.type = type;
        entry.speed = speed;
        entry.mac = mac;
        entry.description = description;
        entry.lastChange = 500;
        fixture.Host().interfaces.push_back(entry);
        MIB_IFROW row;
        std::memset(&row, 0, sizeof(row));
        row.dwIndex = index;
        row.dwType = type;
        row.dwSpeed = speed;
        row.dwLastChange = 500;
        row.dwPhysAddrLen = static_cast<DWORD>(mac.size());
        std::memcpy(row.bPhysAddr, mac.data(), std::min<size_t>(mac.size(), sizeof(row.bPhysAddr)));
        row.dwDescrLen = static_cast<DWORD>(description.size());
        std::memcpy(row.bDescr, description.data(), std::min<size_t>(description.size(), sizeof(row.bDescr)));
        wcsncpy(row.wszName, name.c_str(), MAX_INTERFACE_NAME_LEN - 1);
        return row;
    }

    // Reading back.
    static std::vector<uint8_t> ReadValue(const wchar_t *key, const std::wstring &name, DWORD *type = nullptr)
    {
        DWORD size = 0;
        DWORD valueType = 0;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name.c_str(), RRF_RT_ANY, &valueType, nullptr, &size) !=
            ERROR_SUCCESS)
            return {};
        std::vector<uint8_t> data(size);
        RegGetValueW(HKEY_LOCAL_MACHINE, key, name.c_str(), RRF_RT_ANY, &valueType, data.data(), &size);
        data.resize(size);
        if (type != nullptr)
            *type = valueType;
        return data;
    }
    template <class Record> static bool ReadRecord(const wchar_t *key, const std::wstring &name, Record *record)
    {
        const std::vector<uint8_t> data = ReadValue(key, name);
        return DecodeRecord(data.data(), data.size(), record);
    }
    // The value names of a key, in enumeration order.
    static std::vector<std::wstring> ValueNames(const wchar_t *path)
    {
        std::vector<std::wstring> names;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return names;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD chars = 256;
            if (RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.emplace_back(name, chars);
        }
        RegCloseKey(key);
        return names;
    }
    static std::wstring TrapKey(const wchar_t *name) { return std::wstring(kNicRootKey) + L"\\" + name; }

    NicFixture fixture;
    CTrap trap;
    static inline std::wstring s_LogPath;
};

} // namespace modeltest
