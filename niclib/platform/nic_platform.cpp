#include "nic_platform.h"

const NicPlatform &RealNicPlatform()
{
    static const NicPlatform real = {
        ::GetIfTable,
        ::GetIpAddrTable,
        ::GetIfEntry,
        ::GetAdaptersAddresses,
        ::CreateFileW,
        ::DeviceIoControl,
        ::CloseHandle,
        ::CM_Get_Device_ID_List_SizeW,
        ::CM_Get_Device_ID_ListW,
        ::CM_Locate_DevNodeW,
        ::CM_Get_Parent,
        ::CM_Get_Device_IDW,
        ::CM_Get_DevNode_Registry_PropertyW,
        ::CM_Open_DevNode_Key,
        ::CM_Get_Device_Interface_List_SizeW,
        ::CM_Get_Device_Interface_ListW,
        ::SetupDiGetClassDevsW,
        ::SetupDiEnumDeviceInterfaces,
        ::SetupDiGetDeviceInterfaceDetailW,
        ::SetupDiDestroyDeviceInfoList,
        ::CoCreateInstance,
        ::CoInitializeSecurity,
        ::LoadLibraryW,
        ::GetProcAddress,
        ::FreeLibrary,
        ::GetModuleFileNameW,
        ::Sleep,
        ::GetSystemTimeAsFileTime,
        ::GetTickCount64,
    };
    return real;
}

// Filled while the library loads; no static object of the library calls through it before that.
NicPlatform g_NicPlatform = RealNicPlatform();
