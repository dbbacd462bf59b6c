// The fixture backend answers the seam the way the system does, so that the library code above
// it meets the same codes and sizes it meets on a real host.
#include "nic_test_support.h"

#include "common_log.h"
#include "if_table.h"
#include "nic_fixture.h"
#include "wmi.h"

#include <gtest/gtest.h>

#include <netcon.h>
#include <wbemidl.h>

#include <string>
#include <vector>

using namespace nictest;

namespace {

constexpr wchar_t kDevice[] = L"\\\\.\\{11111111-2222-3333-4444-555555555555}";
constexpr wchar_t kControl[] = L"\\\\.\\VendorControl";
constexpr DWORD kQueryStats = 0x00170002; // IOCTL_NDIS_QUERY_GLOBAL_STATS
constexpr wchar_t kNetClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";

class NicFixtureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        const char *host = R"(ndis path="\\.\{11111111-2222-3333-4444-555555555555}" ioctl=0x170002 oid=0x00010202 data=40420f00
ndis path="\\.\{11111111-2222-3333-4444-555555555555}" ioctl=0x170002 oid=0x00020101 status=50
ndis path="\\.\VendorControl" ioctl=0x222004 oid=any data=0102
device id="PCI\VEN_8086&DEV_1533\3&11583659&0&E0" parent="PCI\ROOT" class="{4d36e972-e325-11ce-bfc1-08002be10318}" prop.1="Intel Port" prop.5="e1dexpress"
device id="PCI\ROOT" class="{4d36e97d-e325-11ce-bfc1-08002be10318}"
wmi ns="ROOT\WMI" wql="SELECT * FROM EFX_Port" p.InstanceName=s:port0 p.BootVersion=u:4096 p.Raw=x:0a0b0c p.Missing=null
wmi ns="ROOT\WMI" wql="SELECT * FROM EFX_Port" p.InstanceName=s:port1 p.BootVersion=u:8192
module name=qlmapia.dll
)";
        ASSERT_TRUE(ParseNicHost(host, &fixture.Host(), &error)) << error;
        fixture.Install();
    }

    NicFixture fixture;
};

TEST_F(NicFixtureTest, NdisDevicesOpenOnlyWhenDescribed)
{
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenDevice(L"\\\\.\\{no-such-device}"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

    HANDLE device = OpenDevice(kDevice);
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    struct Case {
        DWORD oid;
        DWORD outSize;
        BOOL ok;
        DWORD error;
        DWORD returned;
    };
    const Case cases[] = {
        {0x00010202, 4, TRUE, 0, 4},                           // the answer
        {0x00010202, 3, FALSE, ERROR_INSUFFICIENT_BUFFER, 0},  // too small a buffer
        {0x00020101, 4, FALSE, 50, 0},                         // the device's own failure
        {0x00010101, 4, FALSE, ERROR_NOT_SUPPORTED, 0},        // an OID it does not know
    };
    for (const Case &c : cases) {
        uint8_t out[8] = {};
        DWORD returned = 99;
        SetLastError(0);
        BOOL ok = Nic().DeviceIoControl(device, kQueryStats, const_cast<DWORD *>(&c.oid), sizeof(c.oid), out, c.outSize,
                                        &returned, nullptr);
        EXPECT_EQ(c.ok, ok) << std::hex << c.oid;
        EXPECT_EQ(c.returned, returned);
        if (!ok)
            EXPECT_EQ(c.error, GetLastError());
        else
            EXPECT_EQ(1000000u, *reinterpret_cast<uint32_t *>(out)); // 0x000F4240
    }
    EXPECT_EQ(2u, fixture.NdisQueries(kDevice, kQueryStats, 0x00010202));
    EXPECT_TRUE(Nic().CloseHandle(device));
    EXPECT_FALSE(Nic().DeviceIoControl(device, kQueryStats, nullptr, 0, nullptr, 0, nullptr, nullptr));

    // A control device answers every request of its code.
    HANDLE control = OpenDevice(kControl);
    ASSERT_NE(INVALID_HANDLE_VALUE, control);
    uint8_t request[16] = {9, 9, 9, 9};
    uint8_t out[2] = {};
    DWORD returned = 0;
    EXPECT_TRUE(Nic().DeviceIoControl(control, 0x222004, request, sizeof(request), out, 2, &returned, nullptr));
    EXPECT_EQ(2u, returned);
    EXPECT_EQ(2, out[1]);
    EXPECT_EQ(1u, fixture.DeviceOpens(kControl));
    Nic().CloseHandle(control);
}

TEST_F(NicFixtureTest, DeviceTreeWithConfigurationManagerCodes)
{
    ULONG length = 0;
    ASSERT_EQ(static_cast<CONFIGRET>(CR_SUCCESS),
              Nic().CM_Get_Device_ID_List_SizeW(&length, kNetClass, CM_GETIDLIST_FILTER_CLASS | CM_GETIDLIST_FILTER_PRESENT));
    const std::wstring id = L"PCI\\VEN_8086&DEV_1533\\3&11583659&0&E0";
    EXPECT_EQ(id.size() + 2, length);
    std::vector<wchar_t> list(length);
    EXPECT_EQ(static_cast<CONFIGRET>(CR_BUFFER_SMALL),
              Nic().CM_Get_Device_ID_ListW(kNetClass, list.data(), length - 1, CM_GETIDLIST_FILTER_CLASS));
    ASSERT_EQ(static_cast<CONFIGRET>(CR_SUCCESS),
              Nic().CM_Get_Device_ID_ListW(kNetClass, list.data(), length, CM_GETIDLIST_FILTER_CLASS));
    EXPECT_EQ(id, std::wstring(list.data()));

    // An empty list is one NUL and success.
    ASSERT_EQ(static_cast<CONFIGRET>(CR_SUCCESS),
              Nic().CM_Get_Device_ID_List_SizeW(&length, L"{00000000-0000-0000-0000-000000000000}", CM_GETIDLIST_FILTER_CLASS));
    EXPECT_EQ(1u, length);

    DEVINST node = 0, parent = 0;
    ASSERT_EQ(static_cast<CONFIGRET>(CR_SUCCESS), Nic().CM_Locate_DevNodeW(&node, const_cast<wchar_t *>(id.c_str()), 0));
    ASSERT_EQ(static_cast<CONFIGRET>(CR_SUCCESS), Nic().CM_Get_Parent(&parent, node, 0));
    wchar_t text[64] = {};
    EXPECT_EQ(static_cast<CONFIGRET>(CR_BUFFER_SMALL), Nic().CM_Get_Device_IDW(parent, text, 4, 0));
    ASSERT_EQ(static_cast<CONFIGRET>(CR_SUCCESS), Nic().CM_Get_Device_IDW(parent, text, 64, 0));
    EXPECT_STREQ(L"PCI\\ROOT", text);
    DEVINST none = 0;
    EXPECT_EQ(static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE), Nic().CM_Get_Parent(&none, parent, 0));
    EXPECT_EQ(static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE),
              Nic().CM_Locate_DevNodeW(&none, const_cast<wchar_t *>(L"PCI\\NOTHING"), 0));

    ULONG type = 0, size = 4;
    EXPECT_EQ(static_cast<CONFIGRET>(CR_BUFFER_SMALL),
              Nic().CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DEVICEDESC, &type, text, &size, 0));
    EXPECT_EQ(sizeof(L"Intel Port"), size);
    size = sizeof(text);
    ASSERT_EQ(static_cast<CONFIGRET>(CR_SUCCESS),
              Nic().CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DEVICEDESC, &type, text, &size, 0));
    EXPECT_STREQ(L"Intel Port", text);
    EXPECT_EQ(static_cast<ULONG>(REG_SZ), type);
    EXPECT_EQ(static_cast<CONFIGRET>(CR_NO_SUCH_VALUE),
              Nic().CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_FRIENDLYNAME, &type, text, &size, 0));

    // Device keys are real keys, made on first open.
    HKEY key = nullptr;
    ASSERT_EQ(static_cast<CONFIGRET>(CR_SUCCESS),
              Nic().CM_Open_DevNode_Key(node, KEY_ALL_ACCESS, 0, RegDisposition_OpenAlways, &key, CM_REGISTRY_SOFTWARE));
    DWORD value = 7;
    RegSetValueExW(key, L"NetCfgInstanceId", 0, REG_DWORD, reinterpret_cast<BYTE *>(&value), sizeof(value));
    RegCloseKey(key);
    DWORD read = 0;
    EXPECT_TRUE(GetDword(L"SYSTEM\\NicFixture\\Devices\\PCI#VEN_8086&DEV_1533#3&11583659&0&E0\\Software",
                         L"NetCfgInstanceId", &read));
    EXPECT_EQ(7u, read);
    EXPECT_EQ(static_cast<CONFIGRET>(CR_NO_SUCH_REGISTRY_KEY),
              Nic().CM_Open_DevNode_Key(parent, KEY_READ, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_HARDWARE));
    DeleteTree(NicFixture::kDeviceKeyRoot);
}

TEST_F(NicFixtureTest, WmiRowsByNamespaceAndExactQuery)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        IWbemLocator *raw = nullptr;
        ASSERT_EQ(S_OK, Nic().CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                               reinterpret_cast<void **>(&raw)));
        CWMIConnection wmi(raw);
        raw->Release();
        ASSERT_TRUE(wmi.Connect(L"\\\\.\\root\\wmi"));
        CWMIEnumerator rows = wmi.ExecQuery(L"SELECT * FROM EFX_Port");
        std::vector<std::string> names;
        while (IWbemClassObject *row = rows.Next()) {
            std::string name;
            EXPECT_TRUE(GetWMIString(row, L"InstanceName", &name, false));
            names.push_back(name);
            uint32_t version = 0;
            EXPECT_TRUE(GetWMIUInt32(row, L"BootVersion", &version));
            EXPECT_EQ(names.size() == 1 ? 4096u : 8192u, version);
            if (names.size() == 1) {
                uint8_t bytes[4] = {};
                uint32_t length = sizeof(bytes);
                EXPECT_TRUE(GetWMIByteArray(row, L"Raw", bytes, &length, 1));
                EXPECT_EQ(2u, length);
                EXPECT_EQ(0x0b, bytes[0]);
                std::string missing = "kept";
                EXPECT_FALSE(GetWMIString(row, L"Missing", &missing, true)); // VT_NULL
                EXPECT_EQ("kept", missing);
            }
        }
        EXPECT_EQ((std::vector<std::string>{"port0", "port1"}), names);
        // Only the exact text finds the rows.
        CWMIEnumerator other = wmi.ExecQuery(L"select * from EFX_Port");
        EXPECT_EQ(nullptr, other.Next());

        CWMIConnection standard(nullptr);
        IWbemLocator *second = nullptr;
        Nic().CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                               reinterpret_cast<void **>(&second));
        IWbemServices *services = nullptr;
        CBstr path(L"ROOT\\STANDARDCIMV2");
        EXPECT_EQ(static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE),
                  second->ConnectServer(path.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services));
        second->Release();
    }
    EXPECT_EQ(S_OK, Nic().CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 0, nullptr, 0, nullptr));
    fixture.Host().wmiSecurityTooLate = true;
    EXPECT_EQ(RPC_E_TOO_LATE, Nic().CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 0, nullptr, 0, nullptr));
    // No sharing manager or other class is registered on a described host.
    IUnknown *unknown = nullptr;
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              Nic().CoCreateInstance(CLSID_WbemAdministrativeLocator, nullptr, CLSCTX_ALL, IID_IUnknown,
                                     reinterpret_cast<void **>(&unknown)));
    CoUninitialize();
}

TEST_F(NicFixtureTest, BridgeConnectionsThroughTheSharingManager)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    INetSharingManager *manager = nullptr;
    // Not registered unless described, as on Wine.
    EXPECT_EQ(REGDB_E_CLASSNOTREG, Nic().CoCreateInstance(CLSID_NetSharingManager, nullptr, CLSCTX_ALL,
                                                          IID_INetSharingManager, reinterpret_cast<void **>(&manager)));
    std::string error;
    ASSERT_TRUE(ParseNicHost("bridge name=\"Network Bridge\" device=\"Bridge Miniport\" role=bridge\n"
                             "bridge name=\"Ethernet 2\" device=\"Intel Port\" role=member\n",
                             &fixture.Host(), &error));
    ASSERT_EQ(S_OK, Nic().CoCreateInstance(CLSID_NetSharingManager, nullptr, CLSCTX_ALL, IID_INetSharingManager,
                                           reinterpret_cast<void **>(&manager)));
    INetSharingEveryConnectionCollection *collection = nullptr;
    ASSERT_EQ(S_OK, manager->get_EnumEveryConnection(&collection));
    IUnknown *unknown = nullptr;
    ASSERT_EQ(S_OK, collection->get__NewEnum(&unknown));
    IEnumVARIANT *connections = nullptr;
    ASSERT_EQ(S_OK, unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void **>(&connections)));
    struct Seen {
        std::wstring name, device;
        NETCON_MEDIATYPE media;
        DWORD characteristics;
    };
    std::vector<Seen> seen;
    VARIANT item;
    ULONG fetched = 0;
    while (connections->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        INetConnection *connection = nullptr;
        ASSERT_EQ(VT_UNKNOWN, V_VT(&item));
        ASSERT_EQ(S_OK, V_UNKNOWN(&item)->QueryInterface(IID_INetConnection, reinterpret_cast<void **>(&connection)));
        INetConnectionProps *props = nullptr;
        ASSERT_EQ(S_OK, manager->get_NetConnectionProps(connection, &props));
        CBstr name, device;
        Seen one = {};
        props->get_Name(name.Put());
        props->get_DeviceName(device.Put());
        props->get_MediaType(&one.media);
        props->get_Characteristics(&one.characteristics);
        one.name = name.Get();
        one.device = device.Get();
        seen.push_back(one);
        props->Release();
        connection->Release();
        VariantClear(&item);
    }
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(L"Network Bridge", seen[0].name);
    EXPECT_EQ(NCM_BRIDGE, seen[0].media);
    EXPECT_EQ(0u, seen[0].characteristics & NCCF_BRIDGED);
    EXPECT_EQ(L"Intel Port", seen[1].device);
    EXPECT_EQ(NCM_LAN, seen[1].media);
    EXPECT_EQ(static_cast<DWORD>(NCCF_BRIDGED), seen[1].characteristics & NCCF_BRIDGED);
    connections->Release();
    unknown->Release();
    collection->Release();
    manager->Release();
    CoUninitialize();
}

int Twice(int x)
{
    return 2 * x;
}

TEST_F(NicFixtureTest, VendorModulesAndTheClock)
{
    SetLastError(0);
    EXPECT_EQ(nullptr, Nic().LoadLibraryW(L"bmapia.dll"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());

    fixture.SetModuleExport(L"qlmapia.dll", "Twice", reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&Twice)));
    HMODULE module = Nic().LoadLibraryW(L"QLMAPIA.DLL");
    ASSERT_NE(nullptr, module);
    using Function = int (*)(int);
    Function twice = reinterpret_cast<Function>(reinterpret_cast<void *>(Nic().GetProcAddress(module, "Twice")));
    ASSERT_NE(nullptr, twice);
    EXPECT_EQ(42, twice(21));
    EXPECT_EQ(nullptr, Nic().GetProcAddress(module, "Other"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    wchar_t name[MAX_PATH] = {};
    EXPECT_EQ(11u, Nic().GetModuleFileNameW(module, name, MAX_PATH));
    EXPECT_TRUE(Nic().FreeLibrary(module));
    EXPECT_EQ(1u, fixture.ModuleLoads(L"qlmapia.dll"));
    EXPECT_EQ(1u, fixture.ModuleFrees(L"qlmapia.dll"));
    // The test's own modules stay real.
    EXPECT_NE(0u, Nic().GetModuleFileNameW(nullptr, name, MAX_PATH));

    const ULONGLONG before = Nic().GetTickCount64();
    FILETIME start = {}, end = {};
    Nic().GetSystemTimeAsFileTime(&start);
    Nic().Sleep(60000); // at once
    EXPECT_EQ(before + 60000, Nic().GetTickCount64());
    Nic().GetSystemTimeAsFileTime(&end);
    const auto value = [](FILETIME t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    EXPECT_EQ(600000000ull, value(end) - value(start));
}

// The IPv6 addresses as the adapter address list: the size asked for first, one adapter per
// adapter name with its addresses in order, a text that is no address giving an entry without
// one; no list for IPv4 or for a host without addresses.
TEST_F(NicFixtureTest, IPv6AddressesAsTheAdapterAddressList)
{
    ULONG size = 0;
    EXPECT_EQ(static_cast<ULONG>(ERROR_NO_DATA), Nic().GetAdaptersAddresses(AF_INET6, 0, nullptr, nullptr, &size));
    fixture.Host().ipv6Addresses = {{L"{A}", L"Ethernet 1", "fd00::1"},
                                    {L"{B}", L"Ethernet 2", "not an address"},
                                    {L"{a}", L"Ethernet 1", "fe80::2"}};
    EXPECT_EQ(static_cast<ULONG>(ERROR_NO_DATA), Nic().GetAdaptersAddresses(AF_INET, 0, nullptr, nullptr, &size));
    size = 0;
    ASSERT_EQ(static_cast<ULONG>(ERROR_BUFFER_OVERFLOW),
              Nic().GetAdaptersAddresses(AF_INET6, 0, nullptr, nullptr, &size));
    ASSERT_LT(2 * sizeof(IP_ADAPTER_ADDRESSES), size);
    std::vector<uint64_t> buffer(size / sizeof(uint64_t) + 1);
    auto *list = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data());
    ULONG small = size - 1;
    EXPECT_EQ(static_cast<ULONG>(ERROR_BUFFER_OVERFLOW),
              Nic().GetAdaptersAddresses(AF_INET6, 0, nullptr, list, &small));
    EXPECT_EQ(size, small);
    ASSERT_EQ(static_cast<ULONG>(NO_ERROR), Nic().GetAdaptersAddresses(AF_INET6, 0, nullptr, list, &size));

    WSADATA wsa;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &wsa));
    struct Seen {
        std::string adapter;
        std::wstring friendlyName;
        std::vector<std::wstring> addresses; // "" for an entry without an address
    };
    std::vector<Seen> seen;
    for (const IP_ADAPTER_ADDRESSES *adapter = list; adapter != nullptr; adapter = adapter->Next) {
        seen.push_back({adapter->AdapterName, adapter->FriendlyName, {}});
        for (const IP_ADAPTER_UNICAST_ADDRESS *unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            wchar_t text[256] = {};
            DWORD chars = 256;
            if (unicast->Address.lpSockaddr != nullptr) {
                EXPECT_EQ(0, WSAAddressToStringW(unicast->Address.lpSockaddr, unicast->Address.iSockaddrLength,
                                                 nullptr, text, &chars));
            }
            seen.back().addresses.push_back(text);
        }
    }
    WSACleanup();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("{A}", seen[0].adapter);
    EXPECT_EQ(L"Ethernet 1", seen[0].friendlyName);
    EXPECT_EQ((std::vector<std::wstring>{L"fd00::1", L"fe80::2"}), seen[0].addresses);
    EXPECT_EQ("{B}", seen[1].adapter);
    EXPECT_EQ(L"Ethernet 2", seen[1].friendlyName);
    EXPECT_EQ((std::vector<std::wstring>{L""}), seen[1].addresses);
}

TEST(NicFixtureInstall, ReplacesTheSeamOnlyWhileInstalled)
{
    EXPECT_EQ(RealNicPlatform().CreateFileW, g_NicPlatform.CreateFileW);
    {
        NicFixture outer;
        NicHostNdisAnswer answer;
        answer.path = kDevice;
        answer.ioctl = kQueryStats;
        outer.Host().ndis.push_back(answer);
        outer.Install();
        {
            NicFixture inner;
            inner.Install();
            EXPECT_EQ(&inner, NicFixture::Current());
            EXPECT_EQ(INVALID_HANDLE_VALUE, OpenDevice(kDevice)); // the inner host has no devices
        }
        EXPECT_EQ(&outer, NicFixture::Current());
        HANDLE device = OpenDevice(kDevice);
        EXPECT_NE(INVALID_HANDLE_VALUE, device);
        Nic().CloseHandle(device);
    }
    EXPECT_EQ(nullptr, NicFixture::Current());
    EXPECT_EQ(RealNicPlatform().CreateFileW, g_NicPlatform.CreateFileW);
    EXPECT_EQ(RealNicPlatform().GetIfTable, g_NicPlatform.GetIfTable);
}

} // namespace
