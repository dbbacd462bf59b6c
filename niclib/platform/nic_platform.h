#pragma once
// The NIC library's one seam to the platform: every call the library makes into IP Helper, the
// NIC drivers (NDIS I/O), the device tree, COM (the WMI locator, the sharing manager), loadable
// modules and the clock goes through g_NicPlatform, one table of functions with the Win32
// signatures.
//
// The table holds the real functions from load on, and nothing in netvarix.dll changes it: no
// registry value or environment variable picks another backend. Only a unit test or a test
// build linked with the fixture (niclib/fixture) puts other functions in, so that hosts with
// adapters, drivers and vendor libraries that this machine lacks can be described.
//
// Later areas add what they need at the end of the table; RealNicPlatform() fills it.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <cfgmgr32.h>
#include <iphlpapi.h>
#include <objbase.h>
#include <setupapi.h>

struct NicPlatform {
    // IP Helper.
    decltype(&::GetIfTable) GetIfTable;
    decltype(&::GetIpAddrTable) GetIpAddrTable;
    decltype(&::GetIfEntry) GetIfEntry;
    decltype(&::GetAdaptersAddresses) GetAdaptersAddresses;

    // NDIS I/O on "\\.\{GUID}" devices and the vendors' control devices.
    decltype(&::CreateFileW) CreateFileW;
    decltype(&::DeviceIoControl) DeviceIoControl;
    decltype(&::CloseHandle) CloseHandle;

    // Device tree: the configuration manager and SetupAPI.
    decltype(&::CM_Get_Device_ID_List_SizeW) CM_Get_Device_ID_List_SizeW;
    decltype(&::CM_Get_Device_ID_ListW) CM_Get_Device_ID_ListW;
    decltype(&::CM_Locate_DevNodeW) CM_Locate_DevNodeW;
    decltype(&::CM_Get_Parent) CM_Get_Parent;
    decltype(&::CM_Get_Device_IDW) CM_Get_Device_IDW;
    decltype(&::CM_Get_DevNode_Registry_PropertyW) CM_Get_DevNode_Registry_PropertyW;
    decltype(&::CM_Open_DevNode_Key) CM_Open_DevNode_Key;
    decltype(&::CM_Get_Device_Interface_List_SizeW) CM_Get_Device_Interface_List_SizeW;
    decltype(&::CM_Get_Device_Interface_ListW) CM_Get_Device_Interface_ListW;
    decltype(&::SetupDiGetClassDevsW) SetupDiGetClassDevsW;
    decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailW) SetupDiGetDeviceInterfaceDetailW;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;

    // COM: the WMI locator (CLSID_WbemLocator) and the sharing manager are made here; the
    // collection thread sets its security through the table too.
    decltype(&::CoCreateInstance) CoCreateInstance;
    decltype(&::CoInitializeSecurity) CoInitializeSecurity;

    // Modules: the vendors' NIC libraries, and the library's own folder.
    decltype(&::LoadLibraryW) LoadLibraryW;
    decltype(&::GetProcAddress) GetProcAddress;
    decltype(&::FreeLibrary) FreeLibrary;
    decltype(&::GetModuleFileNameW) GetModuleFileNameW;

    // Clock.
    decltype(&::Sleep) Sleep;
    decltype(&::GetSystemTimeAsFileTime) GetSystemTimeAsFileTime;
    decltype(&::GetTickCount64) GetTickCount64;
};

// GUID_NDIS_LAN_CLASS: the device interfaces of the NICs' NDIS miniports.
inline constexpr GUID kNdisLanClass = {0xad498944, 0x762f, 0x11d0, {0x8d, 0xcb, 0x00, 0xc0, 0x4f, 0xc3, 0x35, 0x8c}};

// The functions of the system.
const NicPlatform &RealNicPlatform();

// The table every call of the library goes through.
extern NicPlatform g_NicPlatform;

inline NicPlatform &Nic()
{
    return g_NicPlatform;
}

// Puts a table in for a scope and restores the one before (tests only).
class ScopedNicPlatform {
public:
    explicit ScopedNicPlatform(const NicPlatform &platform) : m_Saved(g_NicPlatform) { g_NicPlatform = platform; }
    ~ScopedNicPlatform() { g_NicPlatform = m_Saved; }
    ScopedNicPlatform(const ScopedNicPlatform &) = delete;
    ScopedNicPlatform &operator=(const ScopedNicPlatform &) = delete;

private:
    NicPlatform m_Saved;
};
