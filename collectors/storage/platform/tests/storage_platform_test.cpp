// What the Windows side of the seam answers here, under Wine: no SCSI ports, a physical drive
// without a SCSI address, no physical-memory section, no PCI devices. When Wine learns one of
// these, this test says so before a storage test starts to depend on it.
#include "refusing_platform.h"
#include "storage_platform.h"

#include <gtest/gtest.h>

namespace {

// Asked while static objects are constructed, as the IDE device layer does.
struct StaticUser {
    IStoragePlatform *seen;
    HANDLE opened;
    StaticUser()
        : seen(&StoragePlatform()),
          opened(StoragePlatform().OpenDevice("\\\\.\\Scsi0:", GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0))
    {
    }
};
StaticUser s_StaticUser;

TEST(StoragePlatform, TheWindowsImplementationServesStaticInitialisation)
{
    EXPECT_EQ(s_StaticUser.seen, &Win32StoragePlatform());
    EXPECT_EQ(s_StaticUser.opened, INVALID_HANDLE_VALUE);
}

TEST(StoragePlatform, ATestReplacementIsInstalledAndRemoved)
{
    RefusingStoragePlatform replacement;
    EXPECT_EQ(SetStoragePlatformForTest(&replacement), nullptr);
    EXPECT_EQ(&StoragePlatform(), &replacement);
    EXPECT_EQ(SetStoragePlatformForTest(nullptr), &replacement);
    EXPECT_EQ(&StoragePlatform(), &Win32StoragePlatform());
}

TEST(StoragePlatform, WineHasNoScsiPorts)
{
    IStoragePlatform &platform = Win32StoragePlatform();
    for (const char *path : {"\\\\.\\Scsi0:", "\\\\.\\Scsi1:", "\\\\.\\Scsi7:"}) {
        HANDLE handle = platform.OpenDevice(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            OPEN_EXISTING, 0);
        EXPECT_EQ(handle, INVALID_HANDLE_VALUE) << path;
        if (handle != INVALID_HANDLE_VALUE)
            platform.CloseDevice(handle);
    }
}

TEST(StoragePlatform, WinesPhysicalDriveHasNoScsiAddress)
{
    IStoragePlatform &platform = Win32StoragePlatform();
    HANDLE drive = platform.OpenDevice("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    ASSERT_NE(drive, INVALID_HANDLE_VALUE) << GetLastError();
    uint8_t address[8] = {};
    DWORD returned = 0;
    EXPECT_FALSE(platform.DeviceControl(drive, 0x41018, nullptr, 0, address, sizeof address, &returned));
    ULONG_PTR information = 0;
    EXPECT_LT(platform.NativeDeviceControl(drive, 0x41018, nullptr, 0, address, sizeof address, &information), 0);
    EXPECT_TRUE(platform.CloseDevice(drive));
}

TEST(StoragePlatform, WineHasNoPhysicalMemorySection)
{
    HANDLE section = nullptr;
    LONG status = Win32StoragePlatform().OpenPhysicalMemory(&section);
    EXPECT_LT(status, 0);
    if (status >= 0)
        Win32StoragePlatform().CloseDevice(section);
}

TEST(StoragePlatform, WineListsNoPciDevices)
{
    IStoragePlatform &platform = Win32StoragePlatform();
    ULONG size = 0;
    CONFIGRET result = platform.GetDeviceIdListSize(&size, "PCI", CM_GETIDLIST_FILTER_ENUMERATOR);
    ASSERT_EQ(result, CR_SUCCESS);
    EXPECT_LE(size, 2u);  // an empty list: at most its terminating NULs
    DEVINST node = 0;
    EXPECT_NE(platform.LocateDevNode(&node, "PCI\\VEN_8086&DEV_2922\\3&0&FA", CM_LOCATE_DEVNODE_NORMAL), CR_SUCCESS);
}

} // namespace
