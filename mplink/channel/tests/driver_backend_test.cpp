// The product's backend on a machine that has no management processor: nothing is found, and
// every call of the channel library says so instead of failing in some other way.
#include "chan.h"
#include "ci_device.h"
#include "zdt_ci.h"

#include <gtest/gtest.h>

namespace {

TEST(DriverBackend, WithoutTheDriverEveryCallReportsNoDriver)
{
    EXPECT_EQ(ZdtCiInitialize(nullptr), static_cast<DWORD>(kCiNoDriver));
    EXPECT_EQ(ZdtCiGeneration(), kZdtCiGenerationNone);
    ZDTCI_HANDLE handle = nullptr;
    EXPECT_EQ(ZdtCiCreate(&handle, 2, 4096, 2, 4096, 0), static_cast<DWORD>(kCiNoDriver));
    DWORD status = 0;
    uint8_t buffer[16] = {};
    ZdtCiRecv(nullptr, buffer, sizeof(buffer), &status, nullptr);
    EXPECT_EQ(status, static_cast<DWORD>(kCiNoDriver));
    ZdtCiTerminate();
}

TEST(DriverBackend, TheDeviceClassHasNoInterfaceAndNothingIsOpened)
{
    CiDeviceInitialize();
    CI_DEVICE *device = nullptr;
    ASSERT_EQ(CiDeviceCreate(&kZdtCiInterfaceClass, 0, &device), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(device->Class->DevicePath[0], L'\0');
    uint8_t buffer[16];
    DWORD bytes = 0;
    EXPECT_EQ(CiDeviceRead(device, buffer, sizeof(buffer), &bytes, 0), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(device->Handle, nullptr);
    CiDeviceDestroy(device);
    CiDeviceTerminate();
}

TEST(DriverBackend, AChanTransactionWithoutTheDriverFailsAsAMissingDevice)
{
    ChanInitialize(nullptr);
    CI_CHANNEL *channel = nullptr;
    ASSERT_EQ(ChanCreate(&channel), static_cast<DWORD>(ERROR_SUCCESS));
    uint8_t request[16] = {16, 0, 1, 0};
    uint8_t reply[64];
    EXPECT_EQ(ChanTransaction(channel, request, reply, sizeof(reply)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ChanNeedsReset(channel), 1u);
    ChanTerminate();
}

} // namespace
