#pragma once
// What the FC tests share: the test HBA API library loaded by path (so that the wrapper's
// LoadLibraryW("HBAAPI.DLL") finds it), scenarios of adapters and ports, a simulated server with
// the ports' devices and their PCI functions, and a fake root\wmi.

#include "fc_hba_api.h"
#include "hba_fixture_scenario.h"
#include "sim_fc_port.h"
#include "storagesim.h"
#include "wmi.h"
#include "wmi_fakes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace fctest {

enum class Library { None, Full, LackingExport };

// The folder of the test program, where the build put the library variants in folders of their
// own.
inline std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

inline void SetText(char *field, size_t size, const std::string &text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), text.size() < size ? text.size() : size);
}

inline HBA_WWN Wwn(uint64_t value)
{
    HBA_WWN wwn;
    for (int i = 0; i < 8; ++i)
        wwn.wwn[i] = static_cast<uint8_t>(value >> (56 - 8 * i));
    return wwn;
}

inline HBA_FIXTURE_PORT Port(uint64_t nodeWwn, uint64_t portWwn, uint32_t state, const char *device)
{
    HBA_FIXTURE_PORT port{};
    port.Attributes.NodeWWN = Wwn(nodeWwn);
    port.Attributes.PortWWN = Wwn(portWwn);
    port.Attributes.PortState = state;
    SetText(port.Attributes.OSDeviceName, sizeof port.Attributes.OSDeviceName, device);
    port.Statistics.TxFrames = 7;
    return port;
}

struct AdapterSpec {
    std::string Name;
    uint64_t NodeWwn = 0;
    std::string Model = "FC Adapter";
    std::string Serial = "SN0001";
    std::string Firmware = "2.10";
    std::string OptionRom = "1.5";
    std::vector<HBA_FIXTURE_PORT> Ports = {};
};

inline HBA_FIXTURE_ADAPTER Adapter(const AdapterSpec &spec)
{
    HBA_FIXTURE_ADAPTER adapter{};
    SetText(adapter.Name, sizeof adapter.Name, spec.Name);
    HBA_ADAPTERATTRIBUTES &a = adapter.Attributes;
    SetText(a.ModelDescription, sizeof a.ModelDescription, spec.Model);
    SetText(a.SerialNumber, sizeof a.SerialNumber, spec.Serial);
    SetText(a.FirmwareVersion, sizeof a.FirmwareVersion, spec.Firmware);
    SetText(a.OptionROMVersion, sizeof a.OptionROMVersion, spec.OptionRom);
    a.NodeWWN = Wwn(spec.NodeWwn);
    a.NumberOfPorts = static_cast<HBA_UINT32>(spec.Ports.size());
    for (size_t i = 0; i < spec.Ports.size() && i < HBA_FIXTURE_MAX_PORTS; ++i)
        adapter.Ports[i] = spec.Ports[i];
    return adapter;
}

inline HBA_FIXTURE_SCENARIO Scenario(const std::vector<HBA_FIXTURE_ADAPTER> &adapters)
{
    HBA_FIXTURE_SCENARIO scenario{};
    scenario.Version = 2;
    scenario.AdapterCount = static_cast<HBA_UINT32>(adapters.size());
    for (size_t i = 0; i < adapters.size() && i < HBA_FIXTURE_MAX_ADAPTERS; ++i)
        scenario.Adapters[i] = adapters[i];
    return scenario;
}

// The byte array WMI gives for a WWN.
inline std::vector<uint8_t> WwnBytes(uint64_t value)
{
    HBA_WWN wwn = Wwn(value);
    return std::vector<uint8_t>(wwn.wwn, wwn.wwn + 8);
}

// root\wmi as the wrapper reads it: the FCoE adapter class answered from the test's objects,
// every other class empty (Wine has none of them).
class FakeRootWmi : public CWMIConnection {
public:
    FakeRootWmi() : CWMIConnection(nullptr) {}
    std::vector<ComPtr<IWbemClassObject>> fcoe;
    CWMIEnumerator CreateInstanceEnum(const wchar_t *className) override
    {
        if (_wcsicmp(className, L"BRCM_FCoEHBAAttributes") != 0)
            return CWMIEnumerator();
        return CWMIEnumerator(new FakeEnumerator(fcoe));
    }
};

inline ComPtr<IWbemClassObject> FcoeInstance(const wchar_t *instanceName, uint64_t nodeWwn, uint64_t portWwn)
{
    auto *object = new FakeClassObject();
    object->SetString(L"InstanceName", instanceName);
    object->SetBytes(L"NodeWWN", WwnBytes(nodeWwn));
    object->SetBytes(L"PortWWN", WwnBytes(portWwn));
    return ComPtr<IWbemClassObject>(object);
}

class FcFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        s_FcHbaApi.ResetForTests();
        auto rootWmi = std::make_unique<FakeRootWmi>();
        wmi = rootWmi.get();
        s_WMIRootWmi = std::move(rootWmi);
    }
    void TearDown() override
    {
        // The wrapper lets go of the library first; then the test's own reference goes.
        s_FcHbaApi.ResetForTests();
        if (library != nullptr)
            FreeLibrary(library);
        library = nullptr;
        s_WMIRootWmi.reset();
    }

    void Load(Library which)
    {
        if (which == Library::None)
            return;
        std::wstring path = ProgramFolder() + (which == Library::Full ? L"\\fc_full\\HBAAPI.dll" : L"\\fc_noexport\\HBAAPI.dll");
        library = LoadLibraryW(path.c_str());
        ASSERT_NE(nullptr, library);
        setScenario = reinterpret_cast<PFN_HbaFixtureSetScenario>(
            reinterpret_cast<void *>(GetProcAddress(library, "HbaFixtureSetScenario")));
        counts = reinterpret_cast<PFN_HbaFixtureCounts>(reinterpret_cast<void *>(GetProcAddress(library, "HbaFixtureCounts")));
        ASSERT_NE(nullptr, setScenario);
    }

    void Set(const HBA_FIXTURE_SCENARIO &scenario) { setScenario(&scenario); }

    HBA_FIXTURE_COUNTS Counts()
    {
        HBA_FIXTURE_COUNTS c{};
        counts(&c);
        return c;
    }

    // An FC port's device at "\\.\ScsiN:" and, for its PCI function, a node with a UI number.
    std::shared_ptr<SimFcPort> AddPortDevice(unsigned number, uint8_t bus, std::optional<uint32_t> uiNumber,
                                             const std::string &deviceId = "")
    {
        auto port = std::make_shared<SimFcPort>();
        sim.AddDevice("\\\\.\\Scsi" + std::to_string(number) + ":", port);
        SimPciDevice node;
        node.DeviceId = deviceId.empty() ? "PCI\\VEN_1D5A&DEV_0714&SUBSYS_32621D5A&REV_01\\4&" + std::to_string(bus) + "&0"
                                         : deviceId;
        node.Location = "PCI bus " + std::to_string(bus) + ", device 0, function 0";
        node.UiNumber = uiNumber;
        sim.AddPciDevice(node);
        return port;
    }

    StorageSim sim;
    StorageSimScope scope{sim};
    FakeRootWmi *wmi = nullptr;
    HMODULE library = nullptr;
    PFN_HbaFixtureSetScenario setScenario = nullptr;
    PFN_HbaFixtureCounts counts = nullptr;
};

} // namespace fctest
