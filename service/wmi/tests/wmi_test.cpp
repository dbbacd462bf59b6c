#include "wmi.h"
#include "wmi_fakes.h"

#include "service_parameters.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

std::set<std::wstring> ServiceNames(DWORD types)
{
    std::set<std::wstring> names;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (manager == nullptr)
        return names;
    DWORD needed = 0, count = 0, resume = 0;
    EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, types, SERVICE_STATE_ALL, nullptr, 0, &needed, &count, &resume,
                          nullptr);
    std::vector<BYTE> buffer(needed);
    resume = 0;
    if (EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, types, SERVICE_STATE_ALL, buffer.data(), needed, &needed,
                              &count, &resume, nullptr)) {
        auto *services = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW *>(buffer.data());
        for (DWORD i = 0; i < count; ++i)
            names.insert(services[i].lpServiceName);
    }
    CloseServiceHandle(manager);
    return names;
}

// Every test runs in the multithreaded apartment, as the service's threads do.
class WmiTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, InitCom()); }
    void TearDown() override
    {
        s_WMICimV2.reset();
        s_WMIRootWmi.reset();
        ReleaseWbemLocator();
        UninitCom();
    }
};

// --- live queries against the system's WMI ------------------------------------------------------------

TEST_F(WmiTest, OperatingSystemAgreesWithTheVersionApi)
{
    ASSERT_NE(nullptr, InitWMIConnection(&s_WMICimV2, kWmiCimV2Path));
    ASSERT_TRUE(s_WMICimV2->IsConnected());

    using RtlGetVersionFn = LONG(WINAPI *)(OSVERSIONINFOW *);
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(nullptr, rtlGetVersion);
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_EQ(0, rtlGetVersion(&version));

    CWMIEnumerator rows = s_WMICimV2->ExecQuery(L"SELECT * FROM Win32_OperatingSystem");
    IWbemClassObject *os = rows.Next();
    ASSERT_NE(nullptr, os);
    EXPECT_EQ(os, rows.GetCurrent());

    std::wstring text;
    ASSERT_TRUE(GetWMIWideString(os, L"Version", &text, false));
    EXPECT_EQ(std::to_wstring(version.dwMajorVersion) + L"." + std::to_wstring(version.dwMinorVersion) + L"." +
                  std::to_wstring(version.dwBuildNumber),
              text);
    std::string build;
    ASSERT_TRUE(GetWMIString(os, L"BuildNumber", &build, false));
    EXPECT_EQ(std::to_string(version.dwBuildNumber), build);
    std::string caption;
    EXPECT_TRUE(GetWMIString(os, L"Caption", &caption, false));
    EXPECT_FALSE(caption.empty());
    int32_t notANumber = 0;
    EXPECT_FALSE(GetWMIInt32(os, L"Caption", &notANumber));

    EXPECT_EQ(nullptr, rows.Next()) << "one operating system";
    EXPECT_EQ(nullptr, rows.GetCurrent());
}

TEST_F(WmiTest, ServicesAgreeWithTheServiceControlManager)
{
    ASSERT_NE(nullptr, InitWMIConnection(&s_WMICimV2, kWmiCimV2Path));

    std::set<std::wstring> fromWmi;
    CWMIEnumerator rows = s_WMICimV2->CreateInstanceEnum(L"Win32_Service");
    while (IWbemClassObject *service = rows.Next()) {
        std::wstring name, state;
        ASSERT_TRUE(GetWMIWideString(service, L"Name", &name, false));
        EXPECT_TRUE(GetWMIWideString(service, L"State", &state, false)) << Narrow(name);
        uint32_t processId = 0;
        EXPECT_TRUE(GetWMIUInt32(service, L"ProcessId", &processId)) << Narrow(name);
        if (state == L"Stopped") {
            EXPECT_EQ(0u, processId) << Narrow(name);
        }
        fromWmi.insert(name);
    }

    // Every Win32 service is listed; what else is listed is a service of the manager's as well
    // (some systems count drivers in).
    const std::set<std::wstring> win32 = ServiceNames(SERVICE_WIN32);
    const std::set<std::wstring> all = ServiceNames(SERVICE_TYPE_ALL);
    ASSERT_FALSE(win32.empty());
    for (const auto &name : win32)
        EXPECT_EQ(1u, fromWmi.count(name)) << Narrow(name);
    for (const auto &name : fromWmi)
        EXPECT_EQ(1u, all.count(name)) << Narrow(name);
}

TEST_F(WmiTest, RootWmiNamespaceAnswersQueries)
{
    ASSERT_NE(nullptr, InitWMIConnection(&s_WMIRootWmi, kWmiRootWmiPath));
    ASSERT_TRUE(s_WMIRootWmi->IsConnected());
    CWMIEnumerator rows = s_WMIRootWmi->ExecQuery(L"SELECT * FROM MSSMBios_RawSMBiosTables");
    EXPECT_NE(nullptr, rows.Next());
}

TEST_F(WmiTest, FailuresGiveEmptyEnumerators)
{
    ASSERT_NE(nullptr, InitWMIConnection(&s_WMICimV2, kWmiCimV2Path));
    CWMIEnumerator bad = s_WMICimV2->ExecQuery(L"SELEKT nothing FROM nowhere");
    EXPECT_EQ(nullptr, bad.Next());
    CWMIEnumerator none = s_WMICimV2->CreateInstanceEnum(L"Win32_NoSuchClass");
    EXPECT_EQ(nullptr, none.Next());

    std::unique_ptr<CWMIConnection> nowhere;
    ASSERT_NE(nullptr, InitWMIConnection(&nowhere, L"\\\\.\\root\\nosuchnamespace"));
    EXPECT_FALSE(nowhere->IsConnected());
    CWMIEnumerator empty = nowhere->ExecQuery(L"SELECT * FROM Win32_OperatingSystem");
    EXPECT_FALSE(empty.HasEnumerator());
    EXPECT_EQ(nullptr, empty.Next());

    CWMIConnection withoutLocator(nullptr);
    EXPECT_FALSE(withoutLocator.Connect(kWmiCimV2Path));
    EXPECT_EQ(nullptr, withoutLocator.CreateInstanceEnum(L"Win32_Service").Next());
}

TEST_F(WmiTest, ConnectionsKeepTheLocatorAlive)
{
    IWbemLocator *locator = GetWbemLocator();
    ASSERT_NE(nullptr, locator);
    EXPECT_EQ(locator, GetWbemLocator());
    ASSERT_NE(nullptr, InitWMIConnection(&s_WMICimV2, kWmiCimV2Path));
    ReleaseWbemLocator();
    // The connection's own reference keeps it usable; the process makes a new locator on demand.
    CWMIEnumerator rows = s_WMICimV2->ExecQuery(L"SELECT * FROM Win32_OperatingSystem");
    EXPECT_NE(nullptr, rows.Next());
    EXPECT_NE(nullptr, GetWbemLocator());
}

// A connection that answers one class itself, as the areas whose classes Wine lacks do.
class PartlyFakeConnection : public CWMIConnection {
public:
    PartlyFakeConnection() : CWMIConnection(GetWbemLocator()) {}
    CWMIEnumerator CreateInstanceEnum(const wchar_t *className) override
    {
        if (_wcsicmp(className, L"Win32_SystemDriver") != 0)
            return CWMIConnection::CreateInstanceEnum(className);
        auto *driver = new FakeClassObject();
        driver->SetString(L"Name", L"fakedrv");
        return CWMIEnumerator(new FakeEnumerator({ComPtr<IWbemClassObject>(driver)}));
    }
};

TEST_F(WmiTest, DerivedConnectionAnswersMissingClasses)
{
    PartlyFakeConnection connection;
    ASSERT_TRUE(connection.Connect(kWmiCimV2Path));
    CWMIEnumerator drivers = connection.CreateInstanceEnum(L"Win32_SystemDriver");
    std::wstring name;
    ASSERT_TRUE(GetWMIWideString(drivers.Next(), L"Name", &name, false));
    EXPECT_EQ(L"fakedrv", name);
    EXPECT_EQ(nullptr, drivers.Next());
    CWMIEnumerator services = connection.CreateInstanceEnum(L"Win32_Service");
    EXPECT_NE(nullptr, services.Next()) << "other classes still come from the system";
}

// --- readers against a fake class object ----------------------------------------------------------------

class WmiReaderTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_Object = new FakeClassObject();
        m_Object->SetString(L"Text", L"abc");
        m_Object->SetString(L"Accented", L"caf\u00e9");
        m_Object->SetString(L"Empty", L"");
        m_Object->SetInt(L"I4", VT_I4, 42);
        m_Object->SetInt(L"I4Negative", VT_I4, -1);
        m_Object->SetInt(L"I4Big", VT_I4, 70000);
        m_Object->SetInt(L"UI2", VT_UI2, 65535);
        m_Object->SetInt(L"UI4", VT_UI4, 0xFFFFFFFE);
        m_Object->SetInt(L"I2", VT_I2, 7);
        m_Object->SetInt(L"Bool", VT_BOOL, 1);
        m_Object->SetInt(L"Null", VT_EMPTY, 0); // stored as VT_NULL
        m_Object->SetBytes(L"Bytes", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    }
    void TearDown() override
    {
        EXPECT_EQ(1u, m_Object->References()) << "a reader kept or dropped a reference";
        m_Object->Release();
    }
    FakeClassObject *m_Object = nullptr;
};

TEST_F(WmiReaderTest, PropertyOfNullObjectFails)
{
    VARIANT value;
    VariantInit(&value);
    EXPECT_EQ(E_FAIL, GetWMIProperty(nullptr, L"Text", &value));
    std::string text;
    EXPECT_FALSE(GetWMIString(nullptr, L"Text", &text, true));
    uint32_t number = 0;
    EXPECT_FALSE(GetWMIUInt32(nullptr, L"UI4", &number));
}

TEST_F(WmiReaderTest, StringReaders)
{
    struct {
        const wchar_t *property;
        bool convert;
        bool ok;
        std::wstring text;
    } cases[] = {
        {L"Text", false, true, L"abc"},     {L"Empty", false, true, L""},
        {L"I4", false, false, L""},         {L"I4", true, true, L"42"},
        {L"I4Negative", true, true, L"-1"}, {L"Null", true, false, L""},
        {L"Missing", true, false, L""},     {L"Accented", false, true, L"caf\u00e9"},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(Narrow(test.property) + (test.convert ? " converted" : ""));
        std::wstring wide = L"unchanged";
        EXPECT_EQ(test.ok, GetWMIWideString(m_Object, test.property, &wide, test.convert));
        EXPECT_EQ(test.ok ? test.text : L"unchanged", wide);

        // The narrow reader gives the same text in the ANSI code page.
        std::string narrow = "unchanged";
        EXPECT_EQ(test.ok, GetWMIString(m_Object, test.property, &narrow, test.convert));
        std::string expected = "unchanged";
        if (test.ok) {
            expected.assign(test.text.size() * 2, '\0');
            int bytes = WideCharToMultiByte(CP_ACP, 0, test.text.data(), static_cast<int>(test.text.size()),
                                            expected.data(), static_cast<int>(expected.size()), nullptr, nullptr);
            expected.resize(bytes);
        }
        EXPECT_EQ(expected, narrow);
    }
}

TEST_F(WmiReaderTest, NumberReadersAcceptTheirTypesOnly)
{
    struct {
        const wchar_t *property;
        bool int32Ok;
        int32_t int32;
        bool uint16Ok;
        uint16_t uint16;
        bool uint32Ok;
        uint32_t uint32;
    } cases[] = {
        {L"I4", true, 42, true, 42, true, 42},
        {L"I4Negative", true, -1, true, 0xFFFF, true, 0xFFFFFFFF},
        {L"I4Big", true, 70000, true, 4464, true, 70000},
        {L"UI2", false, 0, true, 65535, false, 0},
        {L"UI4", false, 0, false, 0, true, 0xFFFFFFFE},
        {L"I2", false, 0, false, 0, false, 0},
        {L"Bool", false, 0, false, 0, false, 0},
        {L"Text", false, 0, false, 0, false, 0},
        {L"Missing", false, 0, false, 0, false, 0},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(Narrow(test.property));
        int32_t int32 = 0x5A5A;
        uint16_t uint16 = 0x5A5A;
        uint32_t uint32 = 0x5A5A;
        EXPECT_EQ(test.int32Ok, GetWMIInt32(m_Object, test.property, &int32));
        EXPECT_EQ(test.int32Ok ? test.int32 : 0x5A5A, int32);
        EXPECT_EQ(test.uint16Ok, GetWMIUInt16(m_Object, test.property, &uint16));
        EXPECT_EQ(test.uint16Ok ? test.uint16 : 0x5A5A, uint16);
        EXPECT_EQ(test.uint32Ok, GetWMIUInt32(m_Object, test.property, &uint32));
        EXPECT_EQ(test.uint32Ok ? test.uint32 : 0x5A5Au, uint32);
    }
}

TEST_F(WmiReaderTest, ByteArrayReader)
{
    struct {
        const char *what;
        const wchar_t *property;
        uint32_t capacity;
        uint32_t offset;
        bool ok;
        uint32_t length;
        std::vector<uint8_t> copied;
    } cases[] = {
        {"whole array", L"Bytes", 16, 0, true, 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"exact fit", L"Bytes", 10, 0, true, 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"from an offset", L"Bytes", 4, 6, true, 4, {6, 7, 8, 9}},
        {"offset at the end", L"Bytes", 16, 10, true, 0, {}},
        {"offset past the end", L"Bytes", 16, 11, false, 0, {}},
        {"buffer too small", L"Bytes", 4, 0, false, 10, {}},
        {"not a byte array", L"I4", 16, 0, false, 16, {}},
        {"a string", L"Text", 16, 0, false, 16, {}},
        {"missing", L"Missing", 16, 0, false, 16, {}},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        std::vector<uint8_t> buffer(16, 0xEE);
        uint32_t length = test.capacity;
        EXPECT_EQ(test.ok, GetWMIByteArray(m_Object, test.property, buffer.data(), &length, test.offset));
        EXPECT_EQ(test.length, length);
        std::vector<uint8_t> expected = test.copied;
        expected.resize(16, 0xEE);
        EXPECT_EQ(expected, buffer);
    }
    uint32_t length = 10;
    EXPECT_FALSE(GetWMIByteArray(m_Object, L"Bytes", nullptr, &length, 0)) << "no buffer for ten bytes";
}

// --- enumerator ----------------------------------------------------------------------------------------

TEST(WmiEnumeratorTest, OwnsEveryObjectItHandsOut)
{
    auto *first = new FakeClassObject();
    auto *second = new FakeClassObject();
    first->SetInt(L"Index", VT_I4, 1);
    second->SetInt(L"Index", VT_I4, 2);
    auto *source =
        new FakeEnumerator({ComPtr<IWbemClassObject>::Share(first), ComPtr<IWbemClassObject>::Share(second)});
    source->AddRef(); // the test's own look at it
    {
        CWMIEnumerator rows(source);
        int32_t index = 0;
        ASSERT_EQ(first, rows.Next());
        EXPECT_TRUE(GetWMIInt32(rows.GetCurrent(), L"Index", &index));
        EXPECT_EQ(1, index);
        EXPECT_EQ(3u, first->References()) << "test, source and current";

        // Moving hands over the enumerator and its current object.
        CWMIEnumerator moved(std::move(rows));
        EXPECT_EQ(nullptr, rows.Next());
        EXPECT_EQ(first, moved.GetCurrent());
        ASSERT_EQ(second, moved.Next());
        EXPECT_EQ(2u, first->References()) << "released by the step";
        EXPECT_EQ(nullptr, moved.Next());
        EXPECT_EQ(nullptr, moved.GetCurrent());
        EXPECT_EQ(2u, second->References());
    }
    EXPECT_EQ(1u, source->References()) << "released with the enumerator";
    source->Release();
    EXPECT_EQ(1u, first->References());
    EXPECT_EQ(1u, second->References());
    first->Release();
    second->Release();
}

TEST(WmiEnumeratorTest, EmptyEnumeratorReturnsNullAtOnce)
{
    CWMIEnumerator empty;
    EXPECT_EQ(nullptr, empty.Next());
    EXPECT_EQ(nullptr, empty.GetCurrent());
    empty.Release();
    EXPECT_FALSE(empty.HasEnumerator());
}

TEST(WmiEnumeratorTest, SlowProviderIsLeftWhenTheStopEventIsSet)
{
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, stop);
    auto *object = new FakeClassObject();

    auto *slow = new FakeEnumerator({ComPtr<IWbemClassObject>::Share(object)});
    slow->SetTimeouts(2);
    CWMIEnumerator waits(slow);
    EXPECT_EQ(object, waits.Next(stop)) << "time-outs alone do not end the wait";

    auto *stuck = new FakeEnumerator({ComPtr<IWbemClassObject>::Share(object)});
    stuck->SetTimeouts(1000000);
    CWMIEnumerator gives_up(stuck);
    SetEvent(stop);
    EXPECT_EQ(nullptr, gives_up.Next(stop));

    waits.Release();
    gives_up.Release();
    EXPECT_EQ(1u, object->References());
    object->Release();
    CloseHandle(stop);
}

// --- text helpers -----------------------------------------------------------------------------------------

TEST(WmiTextTest, WideToUtf8)
{
    struct {
        const wchar_t *wide;
        const char *utf8;
    } cases[] = {
        {L"abc", "abc"},
        {L"", ""},
        {L"\u00dc\u20ac", "\xC3\x9C\xE2\x82\xAC"},
        {L"\U0001F600", "\xF0\x9F\x98\x80"},
    };
    for (const auto &test : cases) {
        char *utf8 = WideToUtf8(test.wide);
        ASSERT_NE(nullptr, utf8);
        EXPECT_STREQ(test.utf8, utf8);
        free(utf8);
    }
    EXPECT_EQ(nullptr, WideToUtf8(nullptr));
}

TEST(WmiTextTest, FindSubString)
{
    const char *text = "Onboard Ethernet Controller";
    EXPECT_EQ(text + 8, FindSubString(text, "Ethernet"));
    EXPECT_EQ(text, FindSubString(text, ""));
    EXPECT_EQ(nullptr, FindSubString(text, "ethernet"));
    EXPECT_EQ(nullptr, FindSubString(nullptr, "x"));
    EXPECT_EQ(nullptr, FindSubString(text, nullptr));
}

} // namespace
