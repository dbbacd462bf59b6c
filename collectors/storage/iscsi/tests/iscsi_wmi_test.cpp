// The iSCSI WMI layer and readers over a fake root\WMI, and the record keys they write.
#include "iscsi_fixture.h"

#include "datacollector.h"

#include <cstring>

using namespace iscsitest;

namespace {

VARIANT Bstr(const std::wstring &text)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(text.c_str());
    return value;
}

VARIANT Number(VARTYPE type, long long number)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = type;
    V_I8(&value) = number;  // the union's widest member: every narrower view reads its low bytes
    return value;
}

TEST(IscsiVariantValue, NothingPastTheFieldAndTextsWhole)
{
    struct {
        const char *name;
        VARIANT value;
        size_t fieldSize;
        int result;
        std::vector<uint8_t> expected;  // the 8-byte field (pre-filled with 0xAA) afterwards
    } cases[] = {
        {"I4 into 4", Number(VT_I4, 0x11223344), 4, 0, {0x44, 0x33, 0x22, 0x11, 0xAA, 0xAA, 0xAA, 0xAA}},
        {"UI2 into 4", Number(VT_UI2, 0x5566), 4, 0, {0x66, 0x55, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
        {"I8 into 4 keeps the low half", Number(VT_I8, 0x0000000100000007LL), 4, 0,
         {0x07, 0, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA}},
        {"UI8 into 8", Number(VT_UI8, 0x0102030405060708LL), 8, 0, {8, 7, 6, 5, 4, 3, 2, 1}},
        {"UI1", Number(VT_UI1, 0x7F), 4, 0, {0x7F, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
        {"DATE refused", Number(VT_DATE, 0), 8, 1, std::vector<uint8_t>(8, 0xAA)},
        {"empty text writes nothing", Bstr(L""), 8, 0, std::vector<uint8_t>(8, 0xAA)},
        {"text with its NUL", Bstr(L"abc"), 8, 0, {'a', 'b', 'c', 0, 0xAA, 0xAA, 0xAA, 0xAA}},
        {"text filling the field", Bstr(L"abcdefg"), 8, 0, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 0}},
        {"text one too long refused", Bstr(L"abcdefgh"), 8, 1, std::vector<uint8_t>(8, 0xAA)},
    };
    for (auto &c : cases) {
        std::vector<uint8_t> field(8, 0xAA);
        EXPECT_EQ(c.result, CoWMIGetVariantValue(&c.value, field.data(), c.fieldSize)) << c.name;
        EXPECT_EQ(c.expected, field) << c.name;
        EXPECT_EQ(VT_EMPTY, V_VT(&c.value)) << c.name;
    }
}

TEST(IscsiVariantValue, LongNamesFitTheirFieldAndBoolIsNonZero)
{
    char field[256] = {};
    // Names of up to 255 characters (IQNs reach 223) fit a 256-byte field with their NUL.
    for (size_t length : {128u, 129u, 223u, 255u}) {
        std::memset(field, 0, sizeof field);
        VARIANT value = Bstr(std::wstring(length, L'q'));
        EXPECT_EQ(0, CoWMIGetVariantValue(&value, field, sizeof field)) << length;
        EXPECT_EQ(length, strnlen(field, sizeof field));
    }
    std::memset(field, 'z', sizeof field);
    VARIANT tooLong = Bstr(std::wstring(256, L'q'));
    EXPECT_EQ(1, CoWMIGetVariantValue(&tooLong, field, sizeof field));
    EXPECT_EQ('z', field[0]);

    uint32_t truth = 0;
    VARIANT yes = Number(VT_BOOL, 0);
    V_BOOL(&yes) = VARIANT_TRUE;
    EXPECT_EQ(0, CoWMIGetVariantValue(&yes, &truth, sizeof truth));
    EXPECT_EQ(0xFFu, truth);

    uint8_t isid[6] = {};
    uint8_t guard = 0x5A;
    FakeClassObject *holder = new FakeClassObject();
    holder->SetBytes(L"ISID", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    VARIANT bytes;
    ASSERT_EQ(S_OK, CoWMIGetClassInstanceProperty(holder, L"ISID", &bytes));
    EXPECT_EQ(0, CoWMIGetVariantValue(&bytes, isid, sizeof isid));
    EXPECT_EQ(6, isid[5]);
    EXPECT_EQ(0x5A, guard);
    holder->Release();
}

TEST_F(IscsiFixture, ThreeHundredInstancesEachOnceThenTheEnd)
{
    std::vector<ComPtr<IWbemClassObject>> many;
    for (int i = 0; i < 300; ++i)
        many.push_back(Object());
    services->SetClass(L"Many", many);
    ASSERT_EQ(S_OK, CoWMINameSpaceConnect(L"root\\WMI"));
    IEnumWbemClassObject *enumerator = nullptr;
    ASSERT_EQ(S_OK, CoWMIOpenClassInstance(CoWMINameSpace(), L"Many", &enumerator));
    int seen = 0;
    for (bool first = true;; first = false) {
        IWbemClassObject *object = nullptr;
        if (CoWMIGetNextClassInstance(enumerator, &object, first) != 0)
            break;
        EXPECT_EQ(many[static_cast<size_t>(seen)].Get(), object);
        CoWMIRelease(object);
        ++seen;
    }
    EXPECT_EQ(300, seen);
    CoWMIRelease(enumerator);
    CoWMINameSpaceRelease();
    for (const auto &object : many)
        EXPECT_EQ(2u, Fake(object)->References());  // the test and the namespace
}

TEST_F(IscsiFixture, OnePassFillsEveryKind)
{
    ComPtr<IWbemClassObject> local = Ipv6Address({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    ComPtr<IWbemClassObject> remote = Ipv6Address({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1});
    ComPtr<IWbemClassObject> first = Session(L"iqn.target-a", {0x40, 0x00, 0x01, 0x37, 0x00, 0x80}, 7,
                                             {Connection(1, local, remote), Connection(2, Ipv4Address(0x0A01A8C0),
                                                                                        TextAddress(std::wstring(60, L't').c_str()))});
    ComPtr<IWbemClassObject> second = Session(L"iqn.target-b", {1, 2, 3, 4, 5, 6}, 9, {Connection(3, local, local)});
    OneInstance({first, second});
    const wchar_t *name = L"ROOT\\ISCSIPRT\\0000_0";
    services->SetClass(L"MSiSCSI_PortalInfoClass",
                       {Holder(name, L"PortalInfoCount", L"PortalInformation",
                               {Portal(0, 0, Ipv4Address(0x0A01A8C0)), Portal(1, 1, TextAddress(L"portal.example"))}),
                        // An instance name no HBA has contributes nothing.
                        Holder(L"ROOT\\OTHER\\0000_0", L"PortalInfoCount", L"PortalInformation",
                               {Portal(5, 0, Ipv4Address(1))})});
    ComPtr<IWbemClassObject> statistics = Object();
    Fake(statistics)->SetString(L"InstanceName", L"iqn.target-a");
    Fake(statistics)->SetString(L"BytesSent", L"4294967303");
    Fake(statistics)->SetString(L"PDUCommandsSent", L"12");
    services->SetClass(L"MSiSCSI_SessionStatistics", {statistics});
    ComPtr<IWbemClassObject> otherId = Object();
    Fake(otherId)->SetString(L"SessionId", L"ffff-other");
    Fake(otherId)->SetBytes(L"ISID", {9, 9, 9, 9, 9, 9});
    Fake(otherId)->SetInt(L"TSID", VT_UI2, 7);
    ComPtr<IWbemClassObject> ownId = Object();
    Fake(ownId)->SetString(L"SessionId", L"fffffa80-4000013700800007");
    Fake(ownId)->SetBytes(L"ISID", {0x40, 0x00, 0x01, 0x37, 0x00, 0x80});
    Fake(ownId)->SetInt(L"TSID", VT_UI2, 7);
    services->SetClass(L"MSiSCSIInitiator_SessionClass", {ownId, otherId});

    Pass();

    ASSERT_EQ(1u, Values(STORAGE_ROW_ISCSI_INSTANCE).size());
    auto instance = RecordOf<ISCSI_INSTANCE_RECORD>(STORAGE_ROW_ISCSI_INSTANCE, "Instance1");
    EXPECT_STREQ("Software Initiator", instance.Description);
    EXPECT_EQ(2u, instance.NumberOfPortals);  // the portal list, not NumberOfPorts
    EXPECT_EQ(2u, instance.NumberOfSessions);
    EXPECT_EQ(2, instance.Constant2);

    auto portal1 = RecordOf<ISCSI_PORTAL_RECORD>(STORAGE_ROW_ISCSI_PORTAL, "Portal1");
    auto portal2 = RecordOf<ISCSI_PORTAL_RECORD>(STORAGE_ROW_ISCSI_PORTAL, "Portal2");
    EXPECT_EQ(2u, Values(STORAGE_ROW_ISCSI_PORTAL).size());
    EXPECT_EQ(std::string("10"), std::string(portal1.Roles, 2));
    EXPECT_EQ(std::string("01"), std::string(portal2.Roles, 2));
    EXPECT_STREQ("192.168.1.10", portal1.Address);
    EXPECT_EQ(1u, portal1.AddressType);
    EXPECT_STREQ("portal.example", portal2.Address);
    EXPECT_EQ(4u, portal1.HeaderDigest);
    EXPECT_EQ(8192u, portal1.MaxRecvDataLength);

    auto s1 = RecordOf<ISCSI_SESSION_RECORD>(STORAGE_ROW_ISCSI_SESSION, "Session1");
    auto s2 = RecordOf<ISCSI_SESSION_RECORD>(STORAGE_ROW_ISCSI_SESSION, "Session2");
    EXPECT_EQ(0u, s1.SessionIndex);
    EXPECT_EQ(1u, s2.SessionIndex);
    EXPECT_EQ(0, s1.FirstBurstLength);  // 511 is below the floor
    EXPECT_EQ(512, s1.MaxBurstLength);
    EXPECT_EQ(1u, s1.InitialR2t);
    EXPECT_EQ(2u, s1.ImmediateData);
    EXPECT_EQ(2u, s1.SessionType);
    EXPECT_EQ(1u, s1.BytesSentHigh);
    EXPECT_EQ(7u, s1.BytesSentLow);
    EXPECT_EQ(12u, s1.PduCommandsSent);
    // Each session takes the identifier of the object that is it, and the second has none.
    EXPECT_STREQ("fffffa80-4000013700800007", s1.SessionId);
    EXPECT_STREQ("", s2.SessionId);

    ASSERT_EQ(3u, Values(STORAGE_ROW_ISCSI_CONNECTION).size());
    auto c1 = RecordOf<ISCSI_CONNECTION_RECORD>(STORAGE_ROW_ISCSI_CONNECTION, "Connection1");
    auto c2 = RecordOf<ISCSI_CONNECTION_RECORD>(STORAGE_ROW_ISCSI_CONNECTION, "Connection2");
    auto c3 = RecordOf<ISCSI_CONNECTION_RECORD>(STORAGE_ROW_ISCSI_CONNECTION, "Connection3");
    EXPECT_EQ(0u, c1.ConnectionIndex);
    EXPECT_EQ(1u, c2.ConnectionIndex);
    EXPECT_EQ(2u, c3.ConnectionIndex);
    EXPECT_EQ(1u, c3.SessionIndex);
    EXPECT_STREQ("FE80::0001", c1.LocalAddress);
    EXPECT_STREQ("2001:0DB8:0:0001:0000:0000:0000:0001", c1.RemoteAddress);  // on its own, not appended
    EXPECT_EQ(2u, c1.RemoteAddressType);
    EXPECT_EQ(std::string(39, 't'), c2.RemoteAddress);
    EXPECT_EQ(3u, c1.State);
    EXPECT_EQ(512, c1.MaxRecvDataSegmentLength);
    EXPECT_EQ(0xFFFFFF, c1.MaxDatagramSize);
    EXPECT_EQ(4u, c1.HeaderIntegrity);
    EXPECT_EQ(1u, c1.DataIntegrity);

    // Without login statistics the Initiator record is all zero; \Node is there and empty.
    auto initiator = Values(STORAGE_ROW_ISCSI_INITIATOR);
    ASSERT_EQ(1u, initiator.size());
    EXPECT_EQ(std::vector<uint8_t>(744, 0), initiator[0].second);
    EXPECT_TRUE(KeyExists(STORAGE_ROW_ISCSI_NODE));
    EXPECT_TRUE(Values(STORAGE_ROW_ISCSI_NODE).empty());
    auto revision = Values(STORAGE_ROW_ISCSI);
    ASSERT_EQ(1u, revision.size());
    EXPECT_EQ((std::vector<uint8_t>{1, 5, 0}), revision[0].second);
}

TEST_F(IscsiFixture, LoginStatisticsFillEachInstancesInitiatorRecord)
{
    const wchar_t *a = L"ROOT\\ISCSIPRT\\0000_0";
    const wchar_t *b = L"ROOT\\ISCSIPRT\\0001_0";
    services->SetClass(L"MSiSCSI_HBAInformation", {Hba(a, L"A"), Hba(b, L"B")});
    services->SetClass(L"MSiSCSI_PortalInfoClass", {});
    services->SetClass(L"MSiSCSI_InitiatorSessionInfo", {});
    ComPtr<IWbemClassObject> nameless = Object();
    Fake(nameless)->SetInt(L"LoginFailures", VT_UI4, 99);
    services->SetClass(L"MSiSCSI_InitiatorLoginStatistics",
                       {nameless, LoginStatistics(L"ROOT\\OTHER\\0000_0", {9, 9, 9, 9, 9, 9, 9, 9}),
                        LoginStatistics(b, {1, 1, 1, 1, 1, 1, 1, 1}), LoginStatistics(a, {3, 5, 7, 11, 13, 17, 19, 23}),
                        // Two objects of one instance: the later one's values stand.
                        LoginStatistics(b, {2, 4, 6, 8, 10, 12, 14, 16})});

    Pass();

    ASSERT_EQ(2u, Values(STORAGE_ROW_ISCSI_INITIATOR).size());
    const struct {
        const char *value;
        uint32_t index;
        const char *name;
        std::array<uint32_t, 8> counts;
    } expected[] = {{"Initiator1", 0, "ROOT\\ISCSIPRT\\0000_0", {3, 5, 7, 11, 13, 17, 19, 23}},
                    {"Initiator2", 1, "ROOT\\ISCSIPRT\\0001_0", {2, 4, 6, 8, 10, 12, 14, 16}}};
    for (const auto &e : expected) {
        auto r = RecordOf<ISCSI_INITIATOR_RECORD>(STORAGE_ROW_ISCSI_INITIATOR, e.value);
        EXPECT_EQ(1u, r.Constant1) << e.value;
        EXPECT_EQ(e.index, r.InstanceIndex) << e.value;
        EXPECT_STREQ(e.name, r.InstanceName) << e.value;
        const std::array<uint32_t, 8> counts = {r.LoginFailures,        r.OtherFailureResponses,  r.RedirectResponses,
                                                r.AuthFailureResponses, r.AuthenticationFailures, r.NegotiationFailures,
                                                r.NormalLogouts,        r.OtherLogoutCodes};
        EXPECT_EQ(e.counts, counts) << e.value;
        EXPECT_EQ(2, r.Constant2) << e.value;
        EXPECT_EQ(0u, r.NodeIndex) << e.value;
        EXPECT_EQ(0u, r.LastFailureTime) << e.value;
        EXPECT_STREQ("", r.FailureName) << e.value;
    }
}

TEST_F(IscsiFixture, InstanceStatisticsFillTheInstanceRecord)
{
    const wchar_t *a = L"ROOT\\ISCSIPRT\\0000_0";
    const wchar_t *b = L"ROOT\\ISCSIPRT\\0001_0";
    services->SetClass(L"MSiSCSI_HBAInformation", {Hba(a, L"A"), Hba(b, L"B")});
    services->SetClass(L"MSiSCSI_PortalInfoClass", {});
    services->SetClass(L"MSiSCSI_InitiatorInstanceStatistics",
                       {InstanceStatistics(L"ROOT\\OTHER\\0000_0", 9, 9, 9, 9), InstanceStatistics(a, 4, 3, 2, 1),
                        // The first object of the instance is its statistics.
                        InstanceStatistics(a, 40, 30, 20, 10)});

    Pass();

    auto counts = [](const ISCSI_INSTANCE_RECORD &r) {
        return std::array<uint32_t, 4>{r.SessionFailureCount, r.SessionDigestErrorCount,
                                       r.SessionConnectionTimeoutErrorCount, r.SessionFormatErrorCount};
    };
    auto first = RecordOf<ISCSI_INSTANCE_RECORD>(STORAGE_ROW_ISCSI_INSTANCE, "Instance1");
    EXPECT_EQ((std::array<uint32_t, 4>{4, 3, 2, 1}), counts(first));
    // No statistics of its own: zero.
    auto second = RecordOf<ISCSI_INSTANCE_RECORD>(STORAGE_ROW_ISCSI_INSTANCE, "Instance2");
    EXPECT_STREQ("B", second.Description);
    EXPECT_EQ((std::array<uint32_t, 4>{}), counts(second));
}

TEST_F(IscsiFixture, BootConfigurationGivesThePortalsDigests)
{
    const wchar_t *name = L"ROOT\\ISCSIPRT\\0000_0";
    ComPtr<IWbemClassObject> noOptions = Object();
    Fake(noOptions)->SetString(L"InstanceName", name);
    const struct {
        const char *case_;
        std::vector<ComPtr<IWbemClassObject>> boot;
        uint32_t header, data;
    } cases[] = {
        {"no boot configuration", {}, 4, 4},
        {"header digest", {BootConfiguration(name, 1, 0)}, 1, 4},
        {"data digest", {BootConfiguration(name, 0, 1)}, 4, 1},
        {"both", {BootConfiguration(name, 1, 1)}, 1, 1},
        {"another instance's", {BootConfiguration(L"ROOT\\OTHER\\0000_0", 1, 1)}, 4, 4},
        {"the first of the instance", {BootConfiguration(name, 1, 0), BootConfiguration(name, 0, 1)}, 1, 4},
        {"no login options", {noOptions, BootConfiguration(name, 1, 1)}, 4, 4},
    };
    for (const auto &c : cases) {
        services->SetClass(L"MSiSCSI_HBAInformation", {Hba(name, L"A")});
        services->SetClass(L"MSiSCSI_PortalInfoClass",
                           {Holder(name, L"PortalInfoCount", L"PortalInformation", {Portal(0, 0, Ipv4Address(1))})});
        services->SetClass(L"MSiSCSI_BootConfiguration", c.boot);
        Pass();
        auto portal = RecordOf<ISCSI_PORTAL_RECORD>(STORAGE_ROW_ISCSI_PORTAL, "Portal1");
        EXPECT_EQ(c.header, portal.HeaderDigest) << c.case_;
        EXPECT_EQ(c.data, portal.DataDigest) << c.case_;
    }
}

TEST_F(IscsiFixture, SessionStatisticsFillAllSixCounters)
{
    OneInstance(
        {Session(L"iqn.target-a", {1, 2, 3, 4, 5, 6}, 1, {}), Session(L"iqn.target-b", {1, 2, 3, 4, 5, 7}, 2, {})});
    ComPtr<IWbemClassObject> nameless = Object();
    Fake(nameless)->SetString(L"PDUCommandsSent", L"99");
    services->SetClass(
        L"MSiSCSI_SessionStatistics",
        {nameless,
         SessionStatistics(L"iqn.target-a", {L"12", L"34", L"4294967303", L"98765432101", L"4294967301", L"9"}),
         // The first object of the session's target is its statistics.
         SessionStatistics(L"iqn.target-a", {L"1", L"1", L"1", L"1", L"1", L"1"})});

    Pass();

    auto counters = [](const ISCSI_SESSION_RECORD &r) {
        return std::array<uint32_t, 8>{r.PduCommandsSent, r.PduResponsesReceived,   r.BytesSentHigh,
                                       r.BytesSentLow,    r.BytesReceivedHigh,      r.BytesReceivedLow,
                                       r.DigestErrors,    r.ConnectionTimeoutErrors};
    };
    auto a = RecordOf<ISCSI_SESSION_RECORD>(STORAGE_ROW_ISCSI_SESSION, "Session1");
    // Bytes in upper and lower halves; of the digest errors, 2^32 + 5, the lower half.
    EXPECT_EQ((std::array<uint32_t, 8>{12, 34, 1, 7, uint32_t(98765432101ull >> 32), uint32_t(98765432101ull), 5, 9}),
              counters(a));
    auto b = RecordOf<ISCSI_SESSION_RECORD>(STORAGE_ROW_ISCSI_SESSION, "Session2");
    EXPECT_STREQ("iqn.target-b", b.TargetName);
    EXPECT_EQ((std::array<uint32_t, 8>{}), counters(b));
}

TEST_F(IscsiFixture, PortalKeyShrinksAndGrowsWithTheList)
{
    const wchar_t *name = L"ROOT\\ISCSIPRT\\0000_0";
    services->SetClass(L"MSiSCSI_HBAInformation", {Hba(name, L"A")});
    auto portals = [&](int count) {
        std::vector<ComPtr<IWbemClassObject>> list;
        for (int i = 0; i < count; ++i)
            list.push_back(Portal(static_cast<uint32_t>(i), 0, Ipv4Address(static_cast<uint32_t>(i))));
        services->SetClass(L"MSiSCSI_PortalInfoClass", {Holder(name, L"PortalInfoCount", L"PortalInformation", list)});
    };
    for (int count : {5, 3, 5, 0}) {
        portals(count);
        Pass();
        auto values = Values(STORAGE_ROW_ISCSI_PORTAL);
        ASSERT_EQ(static_cast<size_t>(count), values.size()) << count;
        EXPECT_EQ(static_cast<uint32_t>(count),
                  RecordOf<ISCSI_INSTANCE_RECORD>(STORAGE_ROW_ISCSI_INSTANCE, "Instance1").NumberOfPortals);
    }
}

TEST_F(IscsiFixture, RowsOfAnEarlierProcessGoAtTheFirstWrite)
{
    OneInstance({Session(L"t", {1, 2, 3, 4, 5, 6}, 1, {})});
    Pass();
    // Another service run had written more sessions; this process's first write leaves only its own.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage\\iSCSI\\Session", 0,
                                           KEY_SET_VALUE, &key));
    ISCSI_SESSION_RECORD ghost{};
    RegSetValueExA(key, "Session2", 0, REG_BINARY, reinterpret_cast<BYTE *>(&ghost), sizeof ghost);
    RegCloseKey(key);
    ResetIscsiKeyCountsForTests();
    Pass();
    EXPECT_EQ(1u, Values(STORAGE_ROW_ISCSI_SESSION).size());
}

TEST_F(IscsiFixture, AbsentClassesEmptyTheKeysOnWindowsAndWine)
{
    for (bool wine : {false, true}) {
        OneInstance({Session(L"t", {1, 2, 3, 4, 5, 6}, 1, {})});
        Pass();
        ASSERT_EQ(1u, Values(STORAGE_ROW_ISCSI_SESSION).size());
        services->Release();
        services = new FakeServices();
        services->SetAbsentAsEmpty(wine);
        locator->Release();
        locator = new FakeLocator(services);
        CoWMISetLocatorForTests(locator);
        Pass();
        for (int row = STORAGE_ROW_ISCSI_INSTANCE; row <= STORAGE_ROW_ISCSI_CONNECTION; ++row) {
            EXPECT_TRUE(KeyExists(row)) << row;
            EXPECT_TRUE(Values(row).empty()) << row << (wine ? " wine" : " windows");
        }
        EXPECT_EQ(1u, Values(STORAGE_ROW_ISCSI).size());
    }
}

TEST_F(IscsiFixture, AFailedConnectKeepsTheLastRecords)
{
    OneInstance({Session(L"t", {1, 2, 3, 4, 5, 6}, 1, {})});
    Pass();
    locator->connectResult = WBEM_E_INVALID_NAMESPACE;
    ISCSI_LISTS context;
    BuildIscsiLists(&context);
    EXPECT_EQ(WBEM_E_INVALID_NAMESPACE, CoWMINameSpaceConnect(L"root\\WMI"));
    UpdateIscsiData(&context);
    EXPECT_EQ(1u, Values(STORAGE_ROW_ISCSI_SESSION).size());
    EXPECT_EQ(1u, Values(STORAGE_ROW_ISCSI_INSTANCE).size());
}

} // namespace

namespace {

TEST(IscsiNextInstance, SlowProviderIsWaitedForUntilTheCollectorStops)
{
    ComPtr<IWbemClassObject> only = Object();
    for (bool stopping : {false, true}) {
        auto *enumerator = new FakeEnumerator({only});
        enumerator->SetTimeouts(3);
        HANDLE stop = CreateEventW(nullptr, TRUE, stopping ? TRUE : FALSE, nullptr);
        DATACOLLECTOR::SetStopEvent(stop);
        IWbemClassObject *object = nullptr;
        HRESULT result = CoWMIGetNextClassInstance(enumerator, &object, true);
        DATACOLLECTOR::SetStopEvent(nullptr);
        CloseHandle(stop);
        if (stopping) {
            EXPECT_EQ(-1, result);
            EXPECT_EQ(nullptr, object);
        } else {
            EXPECT_EQ(0, result);
            EXPECT_EQ(only.Get(), object);
            CoWMIRelease(object);
        }
        enumerator->Release();
    }
    EXPECT_EQ(1u, Fake(only)->References());
}

} // namespace
