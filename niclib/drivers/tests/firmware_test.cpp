// Firmware versions of described NICs: driver OIDs, the QLMAPI and BMAPI readers with their VBD
// handle lookups, and the Solarflare boot code from WMI EFX_Port rows.
#include "adapter_data_support.h"

#include <gtest/gtest.h>

using namespace nictest;

namespace {

constexpr uint32_t kOidIntelFirmware = 0xFF0201D3;
constexpr uint32_t kOidNetXen = 0xFF01011E;
constexpr uint32_t kOidEmulex = 0xFF020295;
constexpr uint32_t kOidMellanox = 0xFFA0C915;

class FirmwareTest : public AdapterDataTestBase {};

std::vector<uint8_t> IntelAnswer(uint32_t word)
{
    std::vector<uint8_t> answer(72, 0);
    std::memcpy(answer.data() + 68, &word, 4);
    return answer;
}

std::vector<uint8_t> Text(const std::string &text, size_t bytes)
{
    std::vector<uint8_t> data(bytes, 0);
    std::memcpy(data.data(), text.data(), std::min(text.size(), bytes));
    return data;
}

TEST_F(FirmwareTest, DriverOidReaders)
{
    struct Case {
        const char *name;
        uint32_t pciId;
        uint32_t oid;
        std::vector<uint8_t> answer;
        uint32_t status;
        std::string result;   // what GetFWVersion returns
        std::string stored;   // the firmware text afterwards
    };
    const Case cases[] = {
        {"intel high word", 0x80861572, kOidIntelFirmware, IntelAnswer(0x01020304), 0, "1.515.4", "1.515.4"},
        {"intel low word", 0x80861572, kOidIntelFirmware, IntelAnswer(0x00001234), 0, "1.2.52", "1.2.52"},
        {"intel zero word", 0x80861572, kOidIntelFirmware, IntelAnswer(0), 0, "n/a", ""},
        {"intel refused", 0x80861572, kOidIntelFirmware, IntelAnswer(5), 50, "n/a", ""},
        {"mellanox", 0x15B31003, kOidMellanox, Bytes((2ull << 32) | (14ull << 16) | 3000, 8), 0, "2.14.3000",
         "2.14.3000"},
        {"mellanox refused", 0x15B31003, kOidMellanox, Bytes(1, 8), 50, "", ""},
        {"netxen", 0x40400001, kOidNetXen, {4, 0, 0, 0, 2, 0, 0, 0, 9, 0, 0, 0}, 0, "4.2.9", "4.2.9"},
        {"emulex", 0x10DF0720, kOidEmulex, Text("11.2.1153.23", 256), 0, "11.2.1153.23", "11.2.1153.23"},
        // A boot-code answer that fills its buffer without a NUL.
        {"emulex unterminated", 0x19A20710, kOidEmulex, std::vector<uint8_t>(256, 'B'), 0, std::string(255, 'B'),
         std::string(255, 'B')},
        {"no rule", 0x10DF0721, kOidEmulex, Text("9.9", 256), 0, "", ""},
    };
    for (const Case &c : cases) {
        fixture.Host().ndis.clear();
        Answer(c.oid, c.answer, c.status);
        CMiniport miniport;
        BringUp(miniport, c.pciId);
        const unsigned before = fixture.NdisQueries(kAdapterDevice, kIoctlNdisQueryGlobalStats, c.oid);
        EXPECT_EQ(c.result, miniport.GetFWVersion()) << c.name;
        EXPECT_EQ(c.stored, miniport.GetFirmwareText()) << c.name;
        // Only a reader whose rule holds asks the driver.
        EXPECT_EQ(std::string(c.name) == "no rule" ? 0u : 1u,
                  fixture.NdisQueries(kAdapterDevice, kIoctlNdisQueryGlobalStats, c.oid) - before)
            << c.name;
    }
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CMiniport::GetFWVersion"), L"PCI device ID: 0x10DF0721"));
}

TEST_F(FirmwareTest, IntelNotAvailableKeepsAnEarlierText)
{
    Answer(kOidIntelFirmware, IntelAnswer(0x01020304));
    CMiniport miniport;
    BringUp(miniport, 0x80861572);
    EXPECT_STREQ("1.515.4", miniport.GetFWVersion());
    fixture.Host().ndis.erase(fixture.Host().ndis.begin());
    Answer(kOidIntelFirmware, IntelAnswer(0));
    EXPECT_STREQ("n/a", miniport.GetFWVersion());
    EXPECT_STREQ("1.515.4", miniport.GetFirmwareText());
}

// QLMAPI: the handle by service name, the VBD lookup, then 5706, 57710 and 579XX in order.
TEST_F(FirmwareTest, QlmapiReadersInOrder)
{
    using W = VendorAnswers::Write;
    struct Case {
        const char *name;
        std::map<std::string, VendorAnswers::Answer> records;
        std::string text;
    };
    const std::vector<uint8_t> packed = Bytes(0x07020300, 4);
    const Case cases[] = {
        {"5706", {{k5706, {0, {W{8, Text("5706-fw", 8)}}}}}, "5706-fw"},
        {"57710 packed first",
         {{kQl57710, {0, {W{800, packed}, W{584, Text("9.9.9", 6)}, W{4, {1}}, W{8, Text("flag", 5)}}}}},
         "7.2.3"},
        {"57710 text normalised", {{kQl57710, {0, {W{584, Text("7.12.31.4", 10)}, W{4, {1}}}}}}, "7.12.31"},
        {"57710 zero-major text kept", {{kQl57710, {0, {W{584, Text("0.5", 4)}}}}}, "0.5"},
        {"57710 flagged text", {{kQl57710, {0, {W{4, {1}}, W{8, Text("boot 1.2", 9)}}}}}, "boot 1.2"},
        {"57710 nothing", {{kQl57710, {0, {W{8, Text("ignored", 8)}}}}}, "earlier"},
        {"579XX text at the end", {{k579XX, {0, {W{5241, std::vector<uint8_t>(16, 'Z')}, W{4, Text("other", 6)}}}}},
         std::string(16, 'Z')},
        {"579XX fallback", {{k579XX, {0, {W{4, Text("8.40.1", 7)}}}}}, "8.40.1"},
        {"all fail", {}, "earlier"},
    };
    AddQlmapi();
    CMiniport miniport;
    BringUp(miniport, 0x164E14E4);
    for (const Case &c : cases) {
        s_Answers.records = c.records;
        s_Answers.nics = {{1, 0x31}};
        s_Answers.vbd = {{0x31, {0, s_Answers.handle}}};
        s_Answers.recordHandles.clear();
        // Each case starts from a known text.
        std::strcpy(const_cast<char *>(miniport.GetFirmwareText()), "earlier");
        EXPECT_EQ(c.text, miniport.GetFWVersion()) << c.name;
        for (uint32_t nic : s_Answers.recordHandles)
            EXPECT_EQ(0x31u, nic) << c.name; // the physical NIC's handle, not the NDIS one
    }
    EXPECT_EQ("{11111111-2222-3333-4444-555555555555}", s_Answers.serviceAsked);
    const auto lines = LogMessages(s_LogPath, L"CMiniport::GetQLGCFWVersion");
    EXPECT_EQ(1u, CountOf(lines, L"QLmapiGet5706FwInfo/QmapiGet57710FwInfo/QmapiGet579xxFwInfo returned 1."));
    EXPECT_EQ(6u, CountOf(lines, L"QLmapiGet5706FwInfo succeeded.")); // 5706 and the five 57710 cases
}

TEST_F(FirmwareTest, QlmapiAbsentOrRefusing)
{
    CMiniport absent;
    BringUp(absent, 0x164E14E4);
    EXPECT_STREQ("", absent.GetFWVersion());
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CMiniport::GetQLGCFWVersion"), L"QLMAPI can't initialize."));

    AddQlmapi();
    CMiniport miniport;
    miniport = absent;
    s_Answers.handleResult = 5;
    miniport.GetFWVersion();
    s_Answers.handleResult = 0; // no NIC names the handle
    miniport.GetFWVersion();
    const auto lines = LogMessages(s_LogPath, L"CMiniport::GetQLGCFWVersion");
    EXPECT_EQ(1u, CountOf(lines, L"QLmapiGetHandleByServiceName returned 5."));
    EXPECT_EQ(1u, CountOf(lines, L"GetQLVBDHandle returned 204."));
}

TEST_F(FirmwareTest, VbdHandleLookup)
{
    AddQlmapi();
    AddBmapi();
    CMiniport holder; // brings both libraries up
    struct Case {
        const char *name;
        std::vector<std::pair<uint32_t, uint32_t>> nics;
        std::map<uint32_t, std::pair<uint32_t, uint32_t>> vbd;
        uint32_t ql;       // GetQLVBDHandle's result
        uint32_t qlHandle; // and handle
        uint32_t bm;
        uint32_t bmHandle;
    };
    const Case cases[] = {
        {"exact", {{1, 10}, {1, 11}}, {{10, {0, 0x99}}, {11, {0, 0x77}}}, 0, 11, 0, 11},
        // A VBD-kind NIC whose enumeration fails comes first: the exact match still wins.
        {"exact over kind 6", {{6, 10}, {1, 11}}, {{11, {0, 0x77}}}, 0, 11, 0, 11},
        {"kind 6 when none matches", {{1, 9}, {6, 10}, {6, 12}}, {{9, {0, 0x99}}}, 0, 10, 204, 0},
        {"none", {{1, 10}}, {{10, {0, 0x99}}}, 204, 0, 204, 0},
        {"empty", {}, {}, 204, 0, 204, 0},
    };
    for (const Case &c : cases) {
        s_Answers.nics = c.nics;
        s_Answers.vbd = c.vbd;
        uint32_t handle = 0;
        EXPECT_EQ(c.ql, GetQLVBDHandle(0x77, &handle)) << c.name;
        if (c.ql == 0) {
            EXPECT_EQ(c.qlHandle, handle) << c.name;
        }
        handle = 0;
        EXPECT_EQ(c.bm, GetVBDHandle(0x77, &handle)) << c.name;
        if (c.bm == 0) {
            EXPECT_EQ(c.bmHandle, handle) << c.name;
        }
    }
    // The library's own failures come back as they are; an absurd count is cut.
    uint32_t handle = 0;
    s_Answers.countResult = 21;
    EXPECT_EQ(21u, GetQLVBDHandle(0x77, &handle));
    s_Answers.countResult = 0;
    s_Answers.allResult = 22;
    EXPECT_EQ(22u, GetVBDHandle(0x77, &handle));
    s_Answers.allResult = 0;
    s_Answers.countOverride = 0x40000000;
    s_Answers.nics = {{1, 10}};
    s_Answers.vbd = {{10, {0, 0x77}}};
    EXPECT_EQ(0u, GetQLVBDHandle(0x77, &handle));
    EXPECT_EQ(10u, handle);
    EXPECT_EQ(64u, s_AllPhyNicAsked);
    // An entry point missing: 39.
    fixture.SetModuleExport(L"qlmapia.dll", "QLmapiGetVbdEnumInfo", nullptr);
    ResetVendorLibrarySlots();
    ASSERT_EQ(1, InitializeQMAPI());
    EXPECT_EQ(39u, GetQLVBDHandle(0x77, &handle));
}

TEST_F(FirmwareTest, BmapiVpdAndVbdPaths)
{
    using W = VendorAnswers::Write;
    AddBmapi();
    CMiniport miniport;
    BringUp(miniport, 0x14E41657);
    s_Answers.nics = {{1, 0x31}};
    s_Answers.vbd = {{0x31, {0, s_Answers.handle}}};
    struct Case {
        const char *name;
        std::map<std::string, VendorAnswers::Answer> records;
        std::string text;
    };
    const Case cases[] = {
        {"vpd", {{kFirmwareInfo, {0, {W{616, {1}}}}}, {"BmapiReadVPDVal", {0, {W{0, Text("BC 7.10.4X", 10)}}}}},
         "BC 7.10.4X"},
        {"vpd refused", {{kFirmwareInfo, {0, {W{616, {1}}}}}, {"BmapiReadVPDVal", {3, {}}}, {k5706, {0, {W{8, {'x', 0}}}}}},
         "earlier"},
        {"no vpd: 5706", {{kFirmwareInfo, {0, {}}}, {k5706, {0, {W{8, Text("5706 v1", 8)}}}}}, "5706 v1"},
        {"no vpd: 57710", {{kFirmwareInfo, {0, {}}}, {kBm57710, {0, {W{8, Text("57710 v2", 9)}}}}}, "57710 v2"},
        {"firmware info refused", {{kFirmwareInfo, {4, {}}}, {k5706, {0, {W{8, {'x', 0}}}}}}, "earlier"},
        {"all fail", {{kFirmwareInfo, {0, {}}}}, "earlier"},
    };
    for (const Case &c : cases) {
        s_Answers.records = c.records;
        std::strcpy(const_cast<char *>(miniport.GetFirmwareText()), "earlier");
        EXPECT_EQ(c.text, miniport.GetFWVersion()) << c.name;
    }
    EXPECT_EQ("VA", s_Answers.vpdKeyword);
    const auto broadcom = LogMessages(s_LogPath, L"CMiniport::GetBroadcomFirmwareVersion");
    EXPECT_EQ(6u, CountOf(broadcom, L"NX1 or NX2 device detected. Fall-back to BMAPI."));
    EXPECT_EQ(6u, CountOf(broadcom, L"Detected BC Family: 4"));
    const auto lines = LogMessages(s_LogPath, L"CMiniport::GetBCFWVersion");
    EXPECT_EQ(6u, CountOf(lines, L"Service Name: {11111111-2222-3333-4444-555555555555}"));
    EXPECT_EQ(1u, CountOf(lines, L"BmapiGet5706FwInfo/BmapiGet57710FwInfo returned 1."));
}

// Solarflare: EFX_Port rows in ROOT\WMI, matched by their current MAC.
class SolarflareTest : public AdapterDataTestBase {
protected:
    static constexpr wchar_t kQuery[] = L"SELECT * FROM EFX_Port where externalport != 0";
    void Port(NicHostWmiValue mac, const wchar_t *version, bool withMac = true)
    {
        NicHostWmiRow row;
        row.ns = L"ROOT\\WMI";
        row.wql = kQuery;
        if (withMac)
            row.properties.push_back({L"currentmacaddress", mac});
        NicHostWmiValue text;
        text.kind = NicHostWmiValue::kString;
        text.text = version;
        row.properties.push_back({L"mcfwversion", text});
        fixture.Host().wmiRows.push_back(row);
    }
    static NicHostWmiValue Mac(std::vector<uint8_t> bytes)
    {
        NicHostWmiValue value;
        value.kind = NicHostWmiValue::kBytes;
        value.bytes = std::move(bytes);
        return value;
    }
    static NicHostWmiValue Of(NicHostWmiValue::Kind kind)
    {
        NicHostWmiValue value;
        value.kind = kind;
        value.text = L"000F53010203";
        return value;
    }
};

TEST_F(SolarflareTest, OnlyTheSixByteMacMatches)
{
    const std::vector<uint8_t> own(kAdapterMac, kAdapterMac + 6);
    std::vector<uint8_t> other = own;
    other[5] ^= 1;
    std::vector<uint8_t> longer = own;
    longer.push_back(0);
    Port(Mac(other), L"other-port");
    Port(Of(NicHostWmiValue::kNull), L"null-mac");
    Port(Of(NicHostWmiValue::kEmpty), L"empty-mac");
    Port(Of(NicHostWmiValue::kString), L"text-mac");
    Port(Mac({own.begin(), own.begin() + 5}), L"short-mac");
    Port(Mac(longer), L"long-mac");
    Port(Mac({}), L"no-mac", false);
    Port(Mac(own), L"5.1.1.1000");
    fixture.Host().wmiSecurityTooLate = true; // the process's COM security is already set
    CMiniport miniport;
    BringUp(miniport, 0x19240803);
    EXPECT_STREQ("5.1.1.1000", miniport.GetFWVersion());
    const auto lines = LogMessages(s_LogPath, L"getSFBootCodeVersion");
    EXPECT_EQ(1u, CountOf(lines, L"currentmacaddress: NULL"));
    EXPECT_EQ(1u, CountOf(lines, L"currentmacaddress: EMPTY"));
    EXPECT_EQ(1u, CountOf(lines, L"Connected to ROOT\\WMI namespace"));

    // Rows of other ports only: the query ran and matched nothing, so the text is emptied.
    fixture.Host().wmiRows.pop_back();
    EXPECT_STREQ("", miniport.GetFWVersion());
}

TEST_F(SolarflareTest, WmiFailuresKeepTheText)
{
    CMiniport miniport;
    BringUp(miniport, 0x19240803);
    std::strcpy(const_cast<char *>(miniport.GetFirmwareText()), "kept");
    // No ROOT\WMI namespace described: the connection fails before the query.
    EXPECT_STREQ("kept", miniport.GetFWVersion());
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"getSFBootCodeVersion"),
                          L"Could not connect COM server. Error code 0x8004100E"));
}

} // namespace
