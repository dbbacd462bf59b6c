// The device layer against the simulated management processor, through the pipe backend: the
// reads, writes, controls, waits, aborts and cancels run for real on the simulator's pipes.
#include "channel_test_util.h"
#include "ci_device.h"
#include "oxbsim_process.h"
#include "pipe_backend.h"
#include "record_format.h"
#include "zdt_ci.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

namespace {

constexpr GUID kUnknownClass = {0x07461827, 0xbd21, 0x4bec, {0xa9, 0x04, 0x3d, 0x13, 0x9d, 0x48, 0x70, 0xa3}};

class DeviceLayer : public ::testing::Test {
protected:
    void SetUp() override { CiDeviceInitialize(); }
    void TearDown() override { CiDeviceTerminate(); }

    bool StartSim(OxbSim &sim, const std::vector<std::string> &directives = {})
    {
        PipeBackendSetName(sim.Name().c_str());
        return sim.Start(directives);
    }

    // The three controls with which the driver interface opens a channel.
    static DWORD OpenChannel(CI_DEVICE *device)
    {
        DWORD priority = 0;
        const DWORD buffers[4] = {2, 4096, 2, 4096};
        DWORD error = CiDeviceIoControl(device, kZdtCiControlSetPriority, &priority, sizeof(priority), nullptr, 0,
                                        nullptr, 10000);
        if (error == ERROR_SUCCESS)
            error = CiDeviceIoControl(device, kZdtCiControlSetBuffers, buffers, sizeof(buffers), nullptr, 0, nullptr,
                                      10000);
        if (error == ERROR_SUCCESS)
            error = CiDeviceIoControl(device, kZdtCiControlOpen, nullptr, 0, nullptr, 0, nullptr, 10000);
        return error;
    }

    static CI_DEVICE *Create()
    {
        CI_DEVICE *device = nullptr;
        EXPECT_EQ(CiDeviceCreate(&kZdtCiInterfaceClass, 0, &device), static_cast<DWORD>(ERROR_SUCCESS));
        return device;
    }

    OxbSim sim{OxbSim::UniqueName("device")};
};

TEST_F(DeviceLayer, AClassWithoutAnInterfaceFailsEveryOperationAndOpensNothing)
{
    ASSERT_TRUE(StartSim(sim));
    CI_DEVICE *device = nullptr;
    ASSERT_EQ(CiDeviceCreate(&kUnknownClass, 0, &device), static_cast<DWORD>(ERROR_SUCCESS));
    uint8_t buffer[64] = {};
    DWORD bytes = 99;
    EXPECT_EQ(CiDeviceRead(device, buffer, sizeof(buffer), &bytes, 0), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(CiDeviceWrite(device, buffer, sizeof(buffer), &bytes, INFINITE), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(device->Class->DevicePath[0], L'\0');
    EXPECT_TRUE(sim.Records("connect").empty());
    CiDeviceDestroy(device);
}

TEST_F(DeviceLayer, AReadWithNoDataEndsAtItsTimeOut)
{
    ASSERT_TRUE(StartSim(sim));
    CI_DEVICE *device = Create();
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));
    for (DWORD timeout : {0u, 300u}) {
        uint8_t buffer[64];
        DWORD bytes = 99;
        Stopwatch watch;
        EXPECT_EQ(CiDeviceRead(device, buffer, sizeof(buffer), &bytes, timeout),
                  static_cast<DWORD>(ERROR_OPERATION_ABORTED))
            << "time-out " << timeout;
        EXPECT_EQ(bytes, 0u);
        // The tick count moves in steps of up to 16 ms.
        EXPECT_GE(watch.ElapsedMs() + 20, timeout);
    }
    CiDeviceDestroy(device);
}

TEST_F(DeviceLayer, TheAbortEventEndsAnInfiniteWait)
{
    ASSERT_TRUE(StartSim(sim, {"echo on"}));
    CI_DEVICE *device = Create();
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));
    UniqueHandle abort(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CiDeviceSetAbortEvent(device, abort.Get());

    auto read = std::async(std::launch::async, [device] {
        uint8_t buffer[64];
        DWORD bytes = 0;
        return CiDeviceRead(device, buffer, sizeof(buffer), &bytes, INFINITE);
    });
    EXPECT_EQ(read.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout) << "the read did not wait";
    SetEvent(abort.Get());
    ASSERT_EQ(read.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(read.get(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    // The channel goes on working once the owner takes the abort back.
    ResetEvent(abort.Get());
    std::vector<uint8_t> packet = NumberedPacket(5, 1, 40);
    DWORD bytes = 0;
    ASSERT_EQ(CiDeviceWrite(device, packet.data(), 40, &bytes, 5000), static_cast<DWORD>(ERROR_SUCCESS));
    uint8_t echo[64];
    EXPECT_EQ(CiDeviceRead(device, echo, sizeof(echo), &bytes, 10000), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(bytes, 40u);
    CiDeviceDestroy(device);
}

TEST_F(DeviceLayer, TwoThreadsWritingToOneHandleDeliverEveryPacketWhole)
{
    ASSERT_TRUE(StartSim(sim));
    CI_DEVICE *device = Create();
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));

    constexpr int kPerThread = 100;
    std::vector<std::vector<uint8_t>> packets[2];
    for (int thread = 0; thread < 2; ++thread)
        for (int i = 0; i < kPerThread; ++i)
            packets[thread].push_back(NumberedPacket(static_cast<uint16_t>(thread * 1000 + i), 7, 64 + (i * 37) % 900));

    std::atomic<int> failures{0};
    auto writer = [&](int thread) {
        for (const auto &packet : packets[thread]) {
            DWORD written = 0;
            DWORD error = CiDeviceWrite(device, packet.data(), static_cast<DWORD>(packet.size()), &written, 10000);
            if (error != ERROR_SUCCESS || written != packet.size())
                ++failures;
        }
    };
    std::thread first(writer, 0), second(writer, 1);
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0);

    ASSERT_TRUE(sim.WaitForRecords("packet", 2 * kPerThread));
    std::vector<uint64_t> received, sent;
    for (const SimRecord &record : sim.Records("packet"))
        received.push_back(record.Number("digest"));
    for (const auto &list : packets)
        for (const auto &packet : list)
            sent.push_back(PacketDigest(packet.data(), packet.size()));
    std::sort(received.begin(), received.end());
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(received, sent);
    CiDeviceDestroy(device);
}

// The slot is a flag taken without a system call; the threads that find it taken wait for the
// holder's signal. A signal lost between the two would leave a writer waiting out its time-out.
TEST_F(DeviceLayer, WritersRacingForTheSlotAreEachWokenWhenItIsFree)
{
    ASSERT_TRUE(StartSim(sim));
    CI_DEVICE *device = Create();
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));

    constexpr int kThreads = 4;
    constexpr int kPerThread = 150;
    std::atomic<int> failures{0};
    std::atomic<DWORD> lastError{0};
    auto writer = [&](int thread) {
        for (int i = 0; i < kPerThread; ++i) {
            std::vector<uint8_t> packet = NumberedPacket(static_cast<uint16_t>(thread * 1000 + i), 7, 32);
            DWORD written = 0;
            // Far longer than a write takes: only a missed wake-up reaches it.
            DWORD error = CiDeviceWrite(device, packet.data(), static_cast<DWORD>(packet.size()), &written, 3000);
            if (error != ERROR_SUCCESS || written != packet.size()) {
                ++failures;
                lastError = error;
            }
        }
    };
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread)
        threads.emplace_back(writer, thread);
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0) << "last error " << lastError.load();
    EXPECT_TRUE(sim.WaitForRecords("packet", kThreads * kPerThread));
    CiDeviceDestroy(device);
}

// A read waiting behind one in flight ends at its own time-out and leaves the slot to its holder;
// once the holder is done, the slot is free again at once.
TEST_F(DeviceLayer, AReadWaitingForTheSlotEndsAtItsTimeOutAndTheSlotIsFreedAfterTheHolder)
{
    ASSERT_TRUE(StartSim(sim, {"echo on"}));
    CI_DEVICE *device = Create();
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));

    auto holder = std::async(std::launch::async, [device] {
        uint8_t buffer[64];
        DWORD bytes = 0;
        DWORD error = CiDeviceRead(device, buffer, sizeof(buffer), &bytes, 20000);
        return error == ERROR_SUCCESS ? bytes : 0;
    });
    ASSERT_EQ(holder.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    uint8_t buffer[64];
    DWORD bytes = 0;
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(CiDeviceRead(device, buffer, sizeof(buffer), &bytes, 200), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
    EXPECT_GE(GetTickCount64() - start, 150u);

    std::vector<uint8_t> packet = NumberedPacket(9, 1, 40);
    ASSERT_EQ(CiDeviceWrite(device, packet.data(), 40, &bytes, 5000), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(holder.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(holder.get(), 40u);

    ASSERT_EQ(CiDeviceWrite(device, packet.data(), 40, &bytes, 5000), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(CiDeviceRead(device, buffer, sizeof(buffer), &bytes, 5000), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(bytes, 40u);
    CiDeviceDestroy(device);
}

TEST_F(DeviceLayer, DestroyWaitsForTheOperationsInFlight)
{
    ASSERT_TRUE(StartSim(sim));
    CI_DEVICE *device = Create();
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));

    auto read = [device] {
        uint8_t buffer[64];
        DWORD bytes = 0;
        return CiDeviceRead(device, buffer, sizeof(buffer), &bytes, INFINITE);
    };
    auto pending = std::async(std::launch::async, read);
    // The first read holds the slot and its request is out, pending.
    ASSERT_TRUE(WaitUntil([device] {
        return device->Read.Busy.load() && !HasOverlappedIoCompleted(&device->Read.Overlapped);
    }));
    // A second reader waits for the first one's completion slot.
    auto waiting = std::async(std::launch::async, read);
    ASSERT_TRUE(WaitUntil([device] { return device->Read.Waiters.load() == 1; }));
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    CiDeviceDestroy(device);
    // Destroy returned: both operations have left the record it freed.
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_EQ(pending.get(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(waiting.get(), static_cast<DWORD>(ERROR_FILE_INVALID));
}

TEST_F(DeviceLayer, AChannelReopensAfterTheFarEndVanished)
{
    ASSERT_TRUE(StartSim(sim, {"echo on"}));
    CI_DEVICE *device = Create();
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));

    sim.Kill();
    uint8_t buffer[64];
    DWORD bytes = 0;
    EXPECT_EQ(CiDeviceRead(device, buffer, sizeof(buffer), &bytes, 5000), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    std::vector<uint8_t> packet = NumberedPacket(9, 1, 32);
    EXPECT_EQ(CiDeviceWrite(device, packet.data(), 32, &bytes, 5000), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    CiDeviceDestroy(device);

    device = Create();
    EXPECT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "nothing serves the channel";

    ASSERT_TRUE(StartSim(sim, {"echo on"}));
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(CiDeviceWrite(device, packet.data(), 32, &bytes, 5000), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(CiDeviceRead(device, buffer, sizeof(buffer), &bytes, 10000), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(bytes, 32u);
    CiDeviceDestroy(device);
}

TEST_F(DeviceLayer, ADriverThatComesLaterIsFound)
{
    CI_DEVICE *device = Create();
    EXPECT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(device->Class->DevicePath[0], L'\0');

    ASSERT_TRUE(StartSim(sim));
    EXPECT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim.Records("open").size(), 1u);
    CiDeviceDestroy(device);
}

TEST_F(DeviceLayer, ADeviceThatCameBackUnderAnotherLinkIsFound)
{
    OxbSim first(OxbSim::UniqueName("first"));
    ASSERT_TRUE(StartSim(first));
    CI_DEVICE *device = Create();
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));
    CI_DEVICE_CLASS *deviceClass = device->Class;
    CiDeviceDestroy(device);
    first.Kill();

    OxbSim second(OxbSim::UniqueName("second"));
    ASSERT_TRUE(StartSim(second));
    device = Create();
    ASSERT_EQ(device->Class, deviceClass);
    EXPECT_NE(std::wstring(deviceClass->DevicePath).find(first.Name()), std::wstring::npos) << "still the old link";
    EXPECT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_NE(std::wstring(deviceClass->DevicePath).find(second.Name()), std::wstring::npos);
    EXPECT_EQ(second.Records("open").size(), 1u);
    CiDeviceDestroy(device);
}

TEST_F(DeviceLayer, DevicesOfOneClassShareItsRecordAndItsPath)
{
    ASSERT_TRUE(StartSim(sim));
    CI_DEVICE *first = Create();
    CI_DEVICE *second = Create();
    ASSERT_EQ(first->Class, second->Class);
    CI_DEVICE_CLASS *deviceClass = first->Class;
    EXPECT_EQ(deviceClass->ReferenceCount, 2);
    std::wstring path = deviceClass->DevicePath;
    EXPECT_FALSE(path.empty());
    CiDeviceDestroy(first);
    CiDeviceDestroy(second);
    EXPECT_EQ(deviceClass->ReferenceCount, 0);

    // The path is not looked up again for a class whose record is kept, though nothing serves it now.
    sim.Kill();
    CI_DEVICE *third = Create();
    EXPECT_EQ(third->Class, deviceClass);
    EXPECT_EQ(deviceClass->ReferenceCount, 1);
    EXPECT_EQ(std::wstring(deviceClass->DevicePath), path);
    CiDeviceDestroy(third);
}

TEST_F(DeviceLayer, AReadThatFindsItsDataWaitingReportsItsBytes)
{
    ASSERT_TRUE(StartSim(sim, {"echo on"}));
    CI_DEVICE *device = Create();
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));
    std::vector<uint8_t> packet = NumberedPacket(3, 1, 100);
    DWORD bytes = 0;
    ASSERT_EQ(CiDeviceWrite(device, packet.data(), 100, &bytes, 5000), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(sim.WaitForRecords("reply", 1));

    // The echo is in the pipe already: the read completes as it is issued.
    uint8_t buffer[4096];
    ASSERT_EQ(CiDeviceRead(device, buffer, sizeof(buffer), &bytes, 0), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(bytes, 100u);
    EXPECT_TRUE(std::equal(packet.begin() + 8, packet.end(), buffer + 8));
    CiDeviceDestroy(device);
}

TEST_F(DeviceLayer, APacketLargerThanTheReadBufferIsCutAndItsRestDropped)
{
    ASSERT_TRUE(StartSim(sim, {"echo on"}));
    CI_DEVICE *device = Create();
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));
    std::vector<uint8_t> large = NumberedPacket(1, 1, 100), small = NumberedPacket(2, 1, 50);
    DWORD bytes = 0;
    ASSERT_EQ(CiDeviceWrite(device, large.data(), 100, &bytes, 5000), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(CiDeviceWrite(device, small.data(), 50, &bytes, 5000), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(sim.WaitForRecords("reply", 2));

    uint8_t buffer[4096];
    ASSERT_EQ(CiDeviceRead(device, buffer, 40, &bytes, 5000), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(bytes, 40u);
    EXPECT_TRUE(std::equal(large.begin() + 8, large.begin() + 40, buffer + 8));
    ASSERT_EQ(CiDeviceRead(device, buffer, sizeof(buffer), &bytes, 5000), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(bytes, 50u) << "the next read returns the next packet, not the rest of the large one";
    CiDeviceDestroy(device);
}

TEST_F(DeviceLayer, OnlyTheLastTerminateDestroysTheOpenDevices)
{
    ASSERT_TRUE(StartSim(sim));
    CI_DEVICE *device = Create();
    ASSERT_EQ(OpenChannel(device), static_cast<DWORD>(ERROR_SUCCESS));
    // The fixture holds one reference; a second pair of calls changes nothing but the count.
    CiDeviceInitialize();
    CiDeviceTerminate();
    EXPECT_EQ(device->Class->ReferenceCount, 1);
    EXPECT_TRUE(sim.Records("closed").empty());
    CiDeviceTerminate();
    // The last reference destroyed the open device: the simulator saw its channel close.
    EXPECT_TRUE(sim.WaitForRecords("closed", 1));
    CiDeviceTerminate(); // at 0: nothing
    CiDeviceInitialize(); // for the fixture's TearDown
}

} // namespace
