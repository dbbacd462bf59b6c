#include "stdeq_fixture.h"

#include "sim_nvme_disk.h"
#include "sim_usb_kit.h"
#include "storagesim.h"
#include "wmi.h"
#include "wmi_fakes.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

namespace {

struct NVME_LINE {
    int index = 0;
    std::string serial, model, status, controller, location;
    int temperature = 0, reference = 0, used = 0;
};

struct FIXTURE {
    std::string os;
    std::vector<SimPciDevice> pci;
    std::vector<NVME_LINE> nvme;
    std::vector<std::string> kitLog;
};

constexpr int kKitDataDisk = 30;
constexpr int kKitLogDisk = 31;

std::vector<std::string> Split(const std::string &line, char separator)
{
    std::vector<std::string> parts;
    std::stringstream stream(line);
    for (std::string part; std::getline(stream, part, separator);)
        parts.push_back(part);
    return parts;
}

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

FIXTURE Parse(const std::string &text)
{
    FIXTURE fixture;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> f = Split(line, '\t');
        if (f.size() == 2 && f[0] == "os") {
            fixture.os = f[1];
        } else if (f.size() == 2 && f[0] == "kitlog") {
            fixture.kitLog.push_back(f[1]);
        } else if (f.size() == 7 && f[0] == "pci") {
            SimPciDevice device;
            device.DeviceId = f[1];
            device.Location = "PCI bus " + f[2] + ", device " + f[3] + ", function " + f[4];
            device.FriendlyName = f[5];
            device.HardwareIds = Split(f[6], ';');
            device.Service = "pci";
            fixture.pci.push_back(std::move(device));
        } else if (f.size() == 10 && f[0] == "nvme") {
            NVME_LINE disk;
            disk.index = atoi(f[1].c_str());
            disk.serial = f[2];
            disk.model = f[3];
            disk.temperature = atoi(f[4].c_str());
            disk.reference = atoi(f[5].c_str());
            disk.used = atoi(f[6].c_str());
            disk.status = f[7];
            disk.controller = f[8];
            disk.location = f[9];
            fixture.nvme.push_back(std::move(disk));
        }
    }
    return fixture;
}

std::string DoubleBackslashes(const std::string &text)
{
    std::string out;
    for (char c : text)
        out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

std::string DiskPnp(const NVME_LINE &disk) { return "SCSI\\DISK&VEN_NVME&PROD_E2E\\5&2&0&" + std::to_string(disk.index); }

class FixtureState;
FixtureState *s_State = nullptr;

// The current fixture and the simulated server built from it.
class FixtureState {
public:
    explicit FixtureState(std::wstring path) : m_Path(std::move(path)) {}

    // Reads the file again when it changed; the server is rebuilt then. The current server.
    StorageSim *Refresh()
    {
        std::string text;
        if (FILE *file = _wfopen(m_Path.c_str(), L"rb")) {
            char chunk[4096];
            for (size_t read; (read = fread(chunk, 1, sizeof chunk, file)) > 0;)
                text.append(chunk, read);
            fclose(file);
        }
        std::lock_guard<std::mutex> hold(m_Lock);
        if (m_Sim && text == m_Text)
            return m_Sim.get();
        m_Text = text;
        m_Fixture = Parse(m_Text);
        auto sim = std::make_unique<StorageSim>();
        for (const SimPciDevice &device : m_Fixture.pci)
            sim->AddPciDevice(device);
        for (const NVME_LINE &line : m_Fixture.nvme) {
            auto disk = std::make_shared<SimNvmeDisk>(line.serial, line.model, "E2E1");
            disk->Temperature = static_cast<uint8_t>(line.temperature);
            disk->ReferenceTemperature = static_cast<uint8_t>(line.reference);
            disk->HealthLog = MakeNvmeHealthLog(static_cast<uint8_t>(line.used), 5000);
            sim->AddDevice("\\\\.\\PhysicalDrive" + std::to_string(line.index), disk);
            // The controller's location, where the system keeps it.
            HKEY key = nullptr;
            const std::string path = "SYSTEM\\CurrentControlSet\\Enum\\" + line.controller;
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr) == ERROR_SUCCESS) {
                RegSetValueExA(key, "LocationInformation", 0, REG_SZ,
                               reinterpret_cast<const BYTE *>(line.location.c_str()),
                               static_cast<DWORD>(line.location.size() + 1));
                RegCloseKey(key);
            }
        }
        if (!m_Fixture.kitLog.empty())
            sim->AddDevice("\\\\.\\PHYSICALDRIVE" + std::to_string(kKitLogDisk),
                           std::make_shared<SimKitLogDisk>(m_Fixture.kitLog));
        // The server of the last cycle stays until the process ends: a thread may still hold it.
        if (m_Sim)
            m_Old.push_back(std::move(m_Sim));
        m_Sim = std::move(sim);
        return m_Sim.get();
    }

    FIXTURE Fixture()
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        return m_Fixture;
    }

private:
    std::wstring m_Path;
    std::mutex m_Lock;
    std::string m_Text;
    FIXTURE m_Fixture;
    std::unique_ptr<StorageSim> m_Sim;
    std::vector<std::unique_ptr<StorageSim>> m_Old;
};

// Win32_OperatingSystem's version, Win32_DiskDrive, Win32_SCSIControllerDevice and
// Win32_SCSIController from the fixture; everything else from the real connection.
class FixtureConnection : public CWMIConnection {
public:
    explicit FixtureConnection(std::unique_ptr<CWMIConnection> real)
        : CWMIConnection(nullptr), m_Real(std::move(real))
    {}

    CWMIEnumerator ExecQuery(const wchar_t *wql) override
    {
        const FIXTURE fixture = s_State->Fixture();
        if (wcsstr(wql, L"Win32_OperatingSystem") && !fixture.os.empty()) {
            auto *os = new FakeClassObject();
            os->SetString(L"Version", Wide(fixture.os).c_str());
            std::vector<ComPtr<IWbemClassObject>> rows;
            rows.emplace_back(os);
            return CWMIEnumerator(new FakeEnumerator(std::move(rows)));
        }
        if (wcsstr(wql, L"Win32_DiskDrive"))
            return Rows(L"Win32_DiskDrive", fixture);
        return m_Real ? m_Real->ExecQuery(wql) : CWMIEnumerator();
    }

    CWMIEnumerator CreateInstanceEnum(const wchar_t *className) override
    {
        const std::wstring name = className;
        if (name == L"Win32_DiskDrive" || name == L"Win32_SCSIControllerDevice" || name == L"Win32_SCSIController")
            return Rows(name, s_State->Fixture());
        return m_Real ? m_Real->CreateInstanceEnum(className) : CWMIEnumerator();
    }

private:
    static CWMIEnumerator Rows(const std::wstring &name, const FIXTURE &fixture)
    {
        std::vector<ComPtr<IWbemClassObject>> rows;
        for (const NVME_LINE &disk : fixture.nvme) {
            auto *row = new FakeClassObject();
            if (name == L"Win32_DiskDrive") {
                row->SetString(L"DeviceID", (L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(disk.index)).c_str());
                row->SetString(L"PNPDeviceID", Wide(DiskPnp(disk)).c_str());
                row->SetString(L"Model", Wide(disk.model + " NVMe").c_str());
                row->SetInt(L"Index", VT_I4, disk.index);
                row->SetString(L"Size", L"1920383410176");
            } else if (name == L"Win32_SCSIControllerDevice") {
                row->SetString(L"Antecedent", Wide("\\\\E2E\\root\\cimv2:Win32_SCSIController.DeviceID=\"" +
                                                   DoubleBackslashes(disk.controller) + "\"").c_str());
                row->SetString(L"Dependent", Wide("\\\\E2E\\root\\cimv2:Win32_PnPEntity.DeviceID=\"" +
                                                  DoubleBackslashes(DiskPnp(disk)) + "\"").c_str());
            } else {
                row->SetString(L"PNPDeviceID", Wide(disk.controller).c_str());
                row->SetString(L"Status", Wide(disk.status).c_str());
            }
            rows.emplace_back(row);
        }
        if (name == L"Win32_DiskDrive" && !fixture.kitLog.empty()) {
            const std::pair<int, const wchar_t *> kit[] = {{kKitDataDisk, L"ZSK USB RAID LUN USB Device"},
                                                           {kKitLogDisk, L"ZSK Log File LUN USB Device"}};
            for (const auto &[index, model] : kit) {
                auto *row = new FakeClassObject();
                row->SetString(L"DeviceID", (L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(index)).c_str());
                row->SetString(L"Model", model);
                row->SetString(L"SerialNumber", L"ZSKE2E0001");
                row->SetString(L"Size", L"8017412096");
                row->SetInt(L"Index", VT_I4, index);
                rows.emplace_back(row);
            }
        }
        return CWMIEnumerator(new FakeEnumerator(std::move(rows)));
    }

    std::unique_ptr<CWMIConnection> m_Real;
};

// The platform the collector sees: the current fixture's server, refreshed when a cycle starts
// (the PCI step asks for the device list first).
class RefreshingPlatform final : public IStoragePlatform {
public:
    HANDLE OpenDevice(const char *p, DWORD a, DWORD s, DWORD d, DWORD f) override { return Sim().OpenDevice(p, a, s, d, f); }
    BOOL DeviceControl(HANDLE h, DWORD c, void *i, DWORD is, void *o, DWORD os, DWORD *r) override
    {
        return Sim().DeviceControl(h, c, i, is, o, os, r);
    }
    LONG NativeDeviceControl(HANDLE h, ULONG c, void *i, ULONG is, void *o, ULONG os, ULONG_PTR *r) override
    {
        return Sim().NativeDeviceControl(h, c, i, is, o, os, r);
    }
    BOOL ReadDevice(HANDLE h, void *b, DWORD s, DWORD *r) override { return Sim().ReadDevice(h, b, s, r); }
    BOOL CloseDevice(HANDLE h) override { return Sim().CloseDevice(h); }
    LONG OpenPhysicalMemory(HANDLE *s) override { return Sim().OpenPhysicalMemory(s); }
    LONG MapPhysicalMemory(HANDLE s, uint64_t o, SIZE_T v, const void **w) override
    {
        return Sim().MapPhysicalMemory(s, o, v, w);
    }
    LONG UnmapPhysicalMemory(const void *v) override { return Sim().UnmapPhysicalMemory(v); }
    CONFIGRET GetDeviceIdListSize(ULONG *size, const char *filter, ULONG flags) override
    {
        if (flags == (CM_GETIDLIST_FILTER_ENUMERATOR | CM_GETIDLIST_FILTER_PRESENT))
            Refresh();
        return Sim().GetDeviceIdListSize(size, filter, flags);
    }
    CONFIGRET GetDeviceIdList(const char *f, char *b, ULONG s, ULONG fl) override { return Sim().GetDeviceIdList(f, b, s, fl); }
    CONFIGRET LocateDevNode(DEVINST *d, const char *id, ULONG f) override { return Sim().LocateDevNode(d, id, f); }
    CONFIGRET GetDevNodeRegistryProperty(DEVINST d, ULONG p, ULONG *t, void *b, ULONG *l, ULONG f) override
    {
        return Sim().GetDevNodeRegistryProperty(d, p, t, b, l, f);
    }
    CONFIGRET GetParent(DEVINST *p, DEVINST d, ULONG f) override { return Sim().GetParent(p, d, f); }
    CONFIGRET GetDeviceId(DEVINST d, char *b, ULONG l, ULONG f) override { return Sim().GetDeviceId(d, b, l, f); }

    void Refresh() { m_Current = s_State->Refresh(); }

private:
    IStoragePlatform &Sim() { return *m_Current; }
    IStoragePlatform *m_Current = nullptr;
};

} // namespace

void InstallStdeqFixture(const std::wstring &path)
{
    static FixtureState state(path);
    s_State = &state;
    static RefreshingPlatform platform;
    platform.Refresh();
    SetStoragePlatformForTest(&platform);
    s_WMICimV2 = std::make_unique<FixtureConnection>(std::move(s_WMICimV2));
}
