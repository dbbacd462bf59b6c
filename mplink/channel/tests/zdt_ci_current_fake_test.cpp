// The current generation against a fake driver that reports byte counts the pipes never would.
#include "chan.h"
#include "fake_current_driver.h"
#include "zdt_ci.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class MisreportingDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ZdtCiInitialize(nullptr), static_cast<DWORD>(kCiSuccess));
        ASSERT_EQ(ZdtCiCreate(&handle, 2, 4096, 2, 4096, 0), static_cast<DWORD>(kCiSuccess));
    }
    void TearDown() override
    {
        ZdtCiClose(handle);
        ZdtCiTerminate();
    }

    FakeCurrentDriver driver;
    ZDTCI_HANDLE handle = nullptr;
};

TEST_F(MisreportingDriver, TheOpenIssuesTheThreeControlsInOrder)
{
    EXPECT_EQ(driver.controls,
              (std::vector<DWORD>{kZdtCiControlSetPriority, kZdtCiControlSetBuffers, kZdtCiControlOpen}));
}

TEST_F(MisreportingDriver, AWriteThatTookPartOfThePacketIsAFailure)
{
    std::vector<uint8_t> packet(100, 7);
    driver.writeReports = 60;
    DWORD status = 0;
    EXPECT_EQ(ZdtCiSend(handle, packet.data(), 100, &status), 60u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiTruncated));
}

TEST_F(MisreportingDriver, ByteCountsBeyondTheBufferAreNotBelieved)
{
    std::vector<uint8_t> packet(100, 7);
    DWORD status = 0;
    driver.writeReports = 101;
    EXPECT_EQ(ZdtCiSend(handle, packet.data(), 100, &status), 0u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiUnexpected));

    driver.nextPacket.assign(32, 9);
    driver.readReports = 4096;
    uint8_t buffer[64];
    EXPECT_EQ(ZdtCiRecv(handle, buffer, sizeof(buffer), &status, nullptr), 0u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiUnexpected));

    driver.readReports = -1;
    EXPECT_EQ(ZdtCiRecv(handle, buffer, sizeof(buffer), &status, nullptr), 32u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiSuccess));
}

TEST(ChanOverAFakeDriver, AMissingDeviceClosesTheDriverChannelAndTheResetOpensANewOne)
{
    FakeCurrentDriver driver;
    ChanInitialize(nullptr);
    CI_CHANNEL *channel = nullptr;
    ASSERT_EQ(ChanCreate(&channel), static_cast<DWORD>(ERROR_SUCCESS));
    uint8_t request[16] = {16, 0, 7, 0, 1, 0, 0, 0};
    uint8_t reply[64];
    // The reply the fake hands to every read: sequence 7, 12 bytes.
    driver.nextPacket = {12, 0, 7, 0, 0x01, 0x80, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD};
    ASSERT_EQ(ChanTransaction(channel, request, reply, sizeof(reply)), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(driver.opens, 1);

    driver.failWith = ERROR_FILE_NOT_FOUND;
    EXPECT_EQ(ChanTransaction(channel, request, reply, sizeof(reply)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(driver.closes, 1) << "the driver channel was closed";
    EXPECT_EQ(ChanNeedsReset(channel), 1u);
    EXPECT_EQ(ChanTransaction(channel, request, reply, sizeof(reply)), static_cast<DWORD>(ERROR_BROKEN_PIPE));

    driver.failWith = 0;
    EXPECT_EQ(ChanReset(channel), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(driver.opens, 2);
    std::fill(reply, reply + sizeof(reply), 0xEE);
    ASSERT_EQ(ChanTransaction(channel, request, reply, sizeof(reply)), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(reply[11], 0xDD);
    EXPECT_TRUE(std::all_of(reply + 12, reply + sizeof(reply), [](uint8_t b) { return b == 0; }));
    ChanTerminate();
}

} // namespace
