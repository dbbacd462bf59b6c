#pragma once
// What the adapter-data tests share: a miniport brought up on a described driver, and vendor
// library entry points answered from a table the test fills.
#include "miniport_test_support.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace nictest {

constexpr wchar_t kAdapterGuid[] = L"{11111111-2222-3333-4444-555555555555}";
constexpr wchar_t kAdapterDevice[] = L"\\\\.\\{11111111-2222-3333-4444-555555555555}";
constexpr uint8_t kAdapterMac[6] = {0x00, 0x0F, 0x53, 0x01, 0x02, 0x03};

inline std::vector<uint8_t> Bytes(uint64_t value, size_t count)
{
    std::vector<uint8_t> data(count, 0);
    std::memcpy(data.data(), &value, std::min<size_t>(count, sizeof(value)));
    return data;
}

// A vendor library's answers: per entry point a result and bytes written into the record at an
// offset; the physical NICs ({kind, handle}) and what their VBD enumeration names.
struct VendorAnswers {
    struct Write {
        size_t offset;
        std::vector<uint8_t> bytes;
    };
    struct Answer {
        uint32_t result = 1;
        std::vector<Write> writes;
    };
    uint32_t handleResult = 0;
    uint32_t handle = 0x77;
    std::string serviceAsked;
    uint32_t countResult = 0;
    int64_t countOverride = -1;
    uint32_t allResult = 0;
    std::vector<std::pair<uint32_t, uint32_t>> nics;
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> vbd; // NIC handle -> {result, NDIS handle}
    std::map<std::string, Answer> records;
    std::vector<uint32_t> recordHandles;
    std::string vpdKeyword;

    uint32_t Record(const char *entry, uint32_t nic, uint8_t *record, size_t size)
    {
        recordHandles.push_back(nic);
        auto found = records.find(entry);
        if (found == records.end())
            return 1;
        for (const Write &w : found->second.writes)
            if (w.offset + w.bytes.size() <= size)
                std::memcpy(record + w.offset, w.bytes.data(), w.bytes.size());
        return found->second.result;
    }
};

inline VendorAnswers s_Answers;

inline uint32_t __cdecl FakeByServiceName(const char *service, uint32_t *handle)
{
    s_Answers.serviceAsked = service != nullptr ? service : "";
    *handle = s_Answers.handle;
    return s_Answers.handleResult;
}
inline uint32_t __cdecl FakeNumPhyNic(uint32_t *count)
{
    *count = s_Answers.countOverride >= 0 ? static_cast<uint32_t>(s_Answers.countOverride)
                                          : static_cast<uint32_t>(s_Answers.nics.size());
    return s_Answers.countResult;
}
inline unsigned s_AllPhyNicAsked = 0;
inline uint32_t __cdecl FakeAllPhyNic(uint8_t *entries, uint32_t count)
{
    s_AllPhyNicAsked = count;
    for (uint32_t i = 0; i < count && i < s_Answers.nics.size(); ++i) {
        std::memcpy(entries + i * 420, &s_Answers.nics[i].first, 4);
        std::memcpy(entries + i * 420 + 4, &s_Answers.nics[i].second, 4);
    }
    return s_Answers.allResult;
}
inline uint32_t __cdecl FakeVbdEnumInfo(uint32_t nic, uint8_t *record)
{
    uint32_t version = 0;
    std::memcpy(&version, record, 4);
    if (version != 4)
        return 87;
    auto found = s_Answers.vbd.find(nic);
    if (found == s_Answers.vbd.end())
        return 1;
    std::memcpy(record + 16, &found->second.second, 4);
    return found->second.first;
}
template <size_t Bytes, const char *Name> uint32_t __cdecl FakeRecord(uint32_t nic, uint8_t *record)
{
    return s_Answers.Record(Name, nic, record, Bytes);
}
inline uint32_t __cdecl FakeReadVpd(uint32_t nic, const char *keyword, uint8_t *buffer, uint32_t length)
{
    s_Answers.vpdKeyword = keyword != nullptr ? keyword : "";
    return s_Answers.Record("BmapiReadVPDVal", nic, buffer, length);
}

inline constexpr char k5706[] = "Get5706FwInfo";
inline constexpr char kQl57710[] = "QLmapiGet57710FwInfo";
inline constexpr char k579XX[] = "QLmapiGet579XXFwInfo";
inline constexpr char kBm57710[] = "BmapiGet57710FwInfo";
inline constexpr char kFirmwareInfo[] = "BmapiGetFirmwareInfo";
inline constexpr char kNicInfo[] = "BmapiGetBRCMNicInfo";

class AdapterDataTestBase : public MiniportTestBase {
protected:
    void SetUp() override
    {
        MiniportTestBase::SetUp();
        s_Answers = VendorAnswers();
        s_AllPhyNicAsked = 0;
    }
    // A miniport on an 802.3 driver with the test MAC and this PCI ID.
    void BringUp(CMiniport &miniport, uint32_t pciId)
    {
        auto &ndis = fixture.Host().ndis;
        ndis.push_back({kAdapterDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaInUse, 0, Bytes(0, 8)});
        ndis.push_back({kAdapterDevice, kIoctlNdisQueryGlobalStats, kOid8023CurrentAddress, 0,
                        std::vector<uint8_t>(kAdapterMac, kAdapterMac + 6)});
        ASSERT_EQ(0u, miniport.Init(nullptr, kAdapterDevice, (wcslen(kAdapterDevice) + 1) * sizeof(wchar_t), nullptr));
        miniport.SetPCIDeviceID(pciId);
    }
    void Answer(uint32_t oid, std::vector<uint8_t> data, uint32_t status = 0)
    {
        // Answers given later win: put them first.
        auto &ndis = fixture.Host().ndis;
        ndis.insert(ndis.begin(), {kAdapterDevice, kIoctlNdisQueryGlobalStats, oid, status, std::move(data)});
    }
    void AddQlmapi()
    {
        AddVendorModule(L"qlmapia.dll", s_Qlmapi);
        fixture.SetModuleExport(L"qlmapia.dll", "QLmapiGetHandleByServiceName", AsProc(FakeByServiceName));
        fixture.SetModuleExport(L"qlmapia.dll", "QLmapiGetNumPhyNic", AsProc(FakeNumPhyNic));
        fixture.SetModuleExport(L"qlmapia.dll", "QLmapiGetAllPhyNic", AsProc(FakeAllPhyNic));
        fixture.SetModuleExport(L"qlmapia.dll", "QLmapiGetVbdEnumInfo", AsProc(FakeVbdEnumInfo));
        fixture.SetModuleExport(L"qlmapia.dll", "QLmapiGet5706FwInfo", AsProc(FakeRecord<632, k5706>));
        fixture.SetModuleExport(L"qlmapia.dll", "QLmapiGet57710FwInfo", AsProc(FakeRecord<824, kQl57710>));
        fixture.SetModuleExport(L"qlmapia.dll", "QLmapiGet579XXFwInfo", AsProc(FakeRecord<5257, k579XX>));
    }
    void AddBmapi()
    {
        AddVendorModule(L"bmapia.dll", s_Bmapi);
        fixture.SetModuleExport(L"bmapia.dll", "BmapiGetHandleByServiceName", AsProc(FakeByServiceName));
        fixture.SetModuleExport(L"bmapia.dll", "BmapiGetBRCMNicInfo", AsProc(FakeRecord<112, kNicInfo>));
        fixture.SetModuleExport(L"bmapia.dll", "BmapiGetNumPhyNic", AsProc(FakeNumPhyNic));
        fixture.SetModuleExport(L"bmapia.dll", "BmapiGetAllPhyNic", AsProc(FakeAllPhyNic));
        fixture.SetModuleExport(L"bmapia.dll", "BmapiGetVbdEnumInfo", AsProc(FakeVbdEnumInfo));
        fixture.SetModuleExport(L"bmapia.dll", "BmapiGetFirmwareInfo", AsProc(FakeRecord<836, kFirmwareInfo>));
        fixture.SetModuleExport(L"bmapia.dll", "BmapiGet5706FwInfo", AsProc(FakeRecord<632, k5706>));
        fixture.SetModuleExport(L"bmapia.dll", "BmapiGet57710FwInfo", AsProc(FakeRecord<792, kBm57710>));
        fixture.SetModuleExport(L"bmapia.dll", "BmapiReadVPDVal", AsProc(FakeReadVpd));
    }
};

} // namespace nictest
