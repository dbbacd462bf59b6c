#pragma once
// What the adapter model's tests share: a described host installed for each test (the scenario
// host unless a test describes another), the scenario's registry keys, WMI on the test's thread,
// a generation built from it, and readers of the published values.
#include "nic_test_support.h"

#include "common_log.h"
#include "iflist.h"
#include "lbfo.h"
#include "logical_adapter.h"
#include "miniport.h"
#include "nic_fixture.h"
#include "nic_records.h"
#include "physical_adapter.h"
#include "scenario_host.h"
#include "trap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace nictest {

inline std::string Narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

// The record of a value, decoded with the records' own decoder; a zero record when it cannot be
// read or has another size (the test then fails on the fields).
template <class Record> Record ReadRecord(const wchar_t *key, const wchar_t *name)
{
    Record record = {};
    DWORD type = 0;
    std::vector<uint8_t> data;
    EXPECT_TRUE(GetValue(key, name, &type, &data)) << Narrow(key) << "\\" << Narrow(name);
    EXPECT_TRUE(DecodeRecord(data.data(), data.size(), &record)) << Narrow(name) << " has " << data.size() << " bytes";
    return record;
}

inline DWORD Ready()
{
    DWORD ready = 99;
    GetDword(kNicInterfaceKey, kNicInterfaceDataReadyValue, &ready);
    return ready;
}

inline const CLogicalAdapter *FindAdapter(const CIFList &list, uint32_t ifIndex)
{
    for (LOGADAPTERNODE *node = list.GetFirst(); node != nullptr; node = node->next)
        if (node->object->GetIfIndex() == static_cast<int32_t>(ifIndex))
            return node->object;
    return nullptr;
}

class IfListTestBase : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_LogPath = ConfigureVerboseLog(L"nic-model-log");
        s_CommonLog.LogInit(L"TLM", L"NETVARDL");
    }
    void SetUp() override
    {
        ConfigureVerboseLog(L"nic-model-log"); // a fresh log file for each test
        DeleteTree(kNicRootKey);
        scenario::DeleteRegistry();
        scenario::WriteRegistry();
        g_UpdatePass = 0;
        g_PollTime = 30000;
        g_LogicalAdapterConditionMap.clear();
        g_PhysicalAdapterConditionMap.clear();
        fixture.Host() = scenario::BuildHost();
        fixture.Install();
    }
    void TearDown() override
    {
        if (m_Wmi)
            g_NetWMIClass.WBEMUninit();
        DeleteTree(kNicRootKey);
        scenario::DeleteRegistry();
    }

    // A generation of the current host (WMI connected first, as the collection thread does).
    std::unique_ptr<CIFList> BuildList()
    {
        if (!m_Wmi) {
            g_NetWMIClass.WBEMInit();
            m_Wmi = true;
        }
        auto list = std::make_unique<CIFList>();
        DWORD result = list->Init(&trap);
        EXPECT_EQ(0u, result);
        if (result != 0)
            return nullptr;
        return list;
    }

    NicFixture fixture;
    CTrap trap;
    bool m_Wmi = false;
    static inline std::wstring s_LogPath;
};

} // namespace nictest
