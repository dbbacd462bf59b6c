// The legacy driver generation against an in-process fake driver.
#include "channel_test_util.h"
#include "fake_current_driver.h"
#include "fake_legacy_driver.h"
#include "zdt_ci.h"

#include <gtest/gtest.h>

#include <future>

namespace {

using Config = FakeLegacyDriver::Config;

// Opens one channel of the fake driver through the driver interface, and closes it afterwards.
class LegacyChannel {
public:
    explicit LegacyChannel(FakeLegacyDriver &)
    {
        ZdtCiInitialize(nullptr);
        status = ZdtCiCreate(&handle, 2, 4096, 2, 4096, 3);
    }
    ~LegacyChannel()
    {
        if (handle != nullptr)
            ZdtCiClose(handle);
        ZdtCiTerminate();
    }
    LegacyChannel(const LegacyChannel &) = delete;
    LegacyChannel &operator=(const LegacyChannel &) = delete;

    DWORD Send(const std::vector<uint8_t> &packet, DWORD *sent = nullptr)
    {
        DWORD status = 0;
        DWORD bytes = ZdtCiSend(handle, packet.data(), static_cast<DWORD>(packet.size()), &status);
        if (sent != nullptr)
            *sent = bytes;
        return status;
    }

    DWORD Receive(std::vector<uint8_t> *packet, DWORD size, const DWORD *wait)
    {
        packet->assign(size, 0xCC);
        DWORD status = 0;
        DWORD bytes = ZdtCiRecv(handle, packet->data(), size, &status, wait);
        packet->resize(bytes);
        return status;
    }

    ZDTCI_HANDLE handle = nullptr;
    DWORD status = 0;
};

std::vector<uint8_t> Bytes(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i);
    return bytes;
}

TEST(LegacyGeneration, TheProbeChoosesTheCurrentDriverWhenBothAreInstalled)
{
    FakeLegacyDriver legacy(Config{});
    FakeCurrentDriver current;
    ZdtCiProbeDriver();
    EXPECT_EQ(ZdtCiGeneration(), kZdtCiGenerationCurrent);
}

TEST(LegacyGeneration, TheProbeChoosesTheLegacyDriverWhenItIsTheOnlyOne)
{
    FakeLegacyDriver driver(Config{});
    ZdtCiProbeDriver();
    EXPECT_EQ(ZdtCiGeneration(), kZdtCiGenerationLegacy);
    EXPECT_TRUE(driver.openHandles.empty()) << "the probe closes what it opened";
}

TEST(LegacyGeneration, NoChannelOpensBeforeTheLibraryIsInitialized)
{
    FakeLegacyDriver driver(Config{});
    ZDTCI_HANDLE handle = nullptr;
    EXPECT_EQ(ZdtCiCreate(&handle, 2, 4096, 2, 4096, 0), static_cast<DWORD>(kCiNotInitialized));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(driver.openedPaths.size(), 1u) << "only the probe's look at the control device";
}

TEST(LegacyGeneration, AnOpenAsksForTheChannelAndOpensTheDeviceTheDriverNames)
{
    FakeLegacyDriver driver(Config{});
    {
        LegacyChannel channel(driver);
        ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));
        EXPECT_EQ(driver.lastRequest.Priority, 3u);
        EXPECT_EQ(driver.lastRequest.SendBufferCount, 2u);
        EXPECT_EQ(driver.lastRequest.SendBufferSize, 4096u);
        EXPECT_EQ(driver.lastRequest.ReceiveBufferCount, 2u);
        EXPECT_EQ(driver.lastRequest.ReceiveBufferSize, 4096u);
        EXPECT_EQ(driver.lastRequest.NameRequest, 0u);
        EXPECT_EQ(driver.lastRequest.Status, static_cast<uint32_t>(kCiCannotOpen)) << "preset before the call";
        EXPECT_EQ(driver.openedPaths.back(), "\\\\.\\Global\\ZdtCiCh7");
        EXPECT_EQ(driver.openHandles.size(), 1u) << "the control device was closed";
        EXPECT_EQ(ZdtCiStatus(channel.handle), static_cast<DWORD>(kCiNotSupported));
    }
    EXPECT_TRUE(driver.openHandles.empty());
}

TEST(LegacyGeneration, TheLongestNameTheDriverCanReturnOpensThatDevice)
{
    for (size_t length : {63u, 64u}) {
        Config config;
        config.channelName = "Channel" + std::string(length - 7, 'x');
        FakeLegacyDriver driver(config);
        LegacyChannel channel(driver);
        EXPECT_EQ(channel.status, static_cast<DWORD>(kCiSuccess)) << length << " characters";
        EXPECT_EQ(driver.openedPaths.back(), "\\\\.\\Global\\" + config.channelName);
    }
}

TEST(LegacyGeneration, ADriverWithoutAFreeChannelRefusesAtOnce)
{
    Config config;
    config.freeChannels = 0;
    FakeLegacyDriver driver(config);
    Stopwatch watch;
    LegacyChannel channel(driver);
    EXPECT_EQ(channel.status, static_cast<DWORD>(kCiNoFreeChannel));
    EXPECT_EQ(channel.handle, nullptr);
    EXPECT_LT(watch.ElapsedMs(), 1000u);
    EXPECT_TRUE(driver.openHandles.empty());
}

TEST(LegacyGeneration, PacketsGoOutAndComeIn)
{
    FakeLegacyDriver driver(Config{});
    LegacyChannel channel(driver);
    ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));

    std::vector<uint8_t> packet = Bytes(20, 1);
    DWORD sent = 0;
    EXPECT_EQ(channel.Send(packet, &sent), static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(sent, 20u);
    EXPECT_EQ(driver.Doorbell(), 1u);
    auto delivered = driver.Pump();
    ASSERT_EQ(delivered.size(), 1u);
    ASSERT_EQ(delivered[0].size(), 24u) << "whole units of 8 bytes";
    EXPECT_TRUE(std::equal(packet.begin(), packet.end(), delivered[0].begin()));

    // A received packet comes in whole units of 8 bytes, cut to the caller's buffer.
    std::vector<uint8_t> reply = Bytes(20, 50), received;
    ASSERT_TRUE(driver.Deliver(reply));
    EXPECT_EQ(channel.Receive(&received, 4096, nullptr), static_cast<DWORD>(kCiSuccess));
    ASSERT_EQ(received.size(), 24u);
    EXPECT_TRUE(std::equal(reply.begin(), reply.end(), received.begin()));
    ASSERT_TRUE(driver.Deliver(Bytes(100, 7)));
    EXPECT_EQ(channel.Receive(&received, 16, nullptr), static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(received, Bytes(16, 7));

    // The buffers went back to the driver: it can deliver again and again.
    for (uint8_t i = 0; i < 6; ++i) {
        ASSERT_TRUE(driver.Deliver(Bytes(8, i)));
        EXPECT_EQ(channel.Receive(&received, 4096, nullptr), static_cast<DWORD>(kCiSuccess));
        EXPECT_EQ(received, Bytes(8, i));
    }
}

TEST(LegacyGeneration, ASentPacketsSlotWordIsTheEntryWithTheDriversPutFlagsAndNothingMore)
{
    // The driver offers send buffers 0 and 1 (4096 bytes) in slots 0 and 1 of eight; a send takes
    // slot 0 (released: generation 1) and puts buffer 0 with 20 bytes (3 units) at slot 2, whose
    // word was 0. The driver reads the word as it stands, so it must be 0 | 0x003 | put flags.
    struct Case {
        uint32_t putFlags;
        uint64_t word;
    };
    const Case cases[] = {
        {0x00800000, 0x00800003},
        {0x00000000, 0x00000003},
        {0x00400000, 0x00400003},
        {0x80800000, 0x80800003},
    };
    for (const Case &c : cases) {
        Config config;
        config.putFlags = c.putFlags;
        FakeLegacyDriver driver(config);
        LegacyChannel channel(driver);
        ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));
        EXPECT_EQ(channel.Send(Bytes(20, 1)), static_cast<DWORD>(kCiSuccess)) << std::hex << c.putFlags;
        EXPECT_EQ(driver.SendSlot(0), 0x01000000u) << std::hex << c.putFlags;
        EXPECT_EQ(driver.SendSlot(1), 0x00C00600u) << std::hex << c.putFlags;
        EXPECT_EQ(driver.SendSlot(2), c.word) << std::hex << c.putFlags;
        EXPECT_EQ(driver.SendSlot(3), 0u) << std::hex << c.putFlags;
        driver.Pump();
        EXPECT_EQ(driver.wrongPutWords, 0) << std::hex << c.putFlags;
    }

    // Round the ring and round again: every word put keeps the slot's generation and adds only
    // the entry and the flags (the driver checks each one as it takes it).
    FakeLegacyDriver driver(Config{});
    LegacyChannel channel(driver);
    ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));
    std::vector<uint8_t> received;
    for (uint8_t i = 0; i < 20; ++i) {
        ASSERT_EQ(channel.Send(Bytes(8 + i, i)), static_cast<DWORD>(kCiSuccess)) << int{i};
        auto sent = driver.Pump();
        ASSERT_EQ(sent.size(), 1u) << int{i};
        EXPECT_TRUE(std::equal(sent[0].begin(), sent[0].begin() + 8 + i, Bytes(8 + i, i).begin())) << int{i};
        ASSERT_TRUE(driver.Deliver(Bytes(16, i))) << int{i};
        ASSERT_EQ(channel.Receive(&received, 4096, nullptr), static_cast<DWORD>(kCiSuccess)) << int{i};
    }
    ASSERT_TRUE(driver.Deliver(Bytes(8, 0)));
    EXPECT_EQ(driver.wrongPutWords, 0);
}

TEST(LegacyGeneration, APacketThatDoesNotFitIsRefusedWithoutSendingAnything)
{
    FakeLegacyDriver driver(Config{});
    LegacyChannel channel(driver);
    ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));
    DWORD sent = 99;
    EXPECT_EQ(channel.Send(Bytes(4097, 0), &sent), static_cast<DWORD>(kCiTruncated));
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(driver.FreeSendBuffers(), 2u) << "no buffer was taken";
    EXPECT_TRUE(driver.Pump().empty());
}

TEST(LegacyGeneration, APacketLongerThanTheBufferOfferedIsRefusedAndTheBufferGivenBack)
{
    Config config;
    config.sendEntryLength = 1024;
    FakeLegacyDriver driver(config);
    LegacyChannel channel(driver);
    ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(channel.Send(Bytes(2000, 0)), static_cast<DWORD>(kCiTruncated));
    EXPECT_TRUE(driver.Pump().empty()) << "nothing, not the first 1024 bytes, went out";

    EXPECT_EQ(channel.Send(Bytes(1000, 1)), static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(channel.Send(Bytes(1000, 2)), static_cast<DWORD>(kCiSuccess));
    auto delivered = driver.Pump();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_TRUE(std::equal(delivered[1].begin(), delivered[1].begin() + 1000, Bytes(1000, 2).begin()));
}

TEST(LegacyGeneration, WithEverySendBufferInUseTheDriverIsBusy)
{
    FakeLegacyDriver driver(Config{});
    LegacyChannel channel(driver);
    ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(channel.Send(Bytes(64, 1)), static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(channel.Send(Bytes(64, 2)), static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(channel.Send(Bytes(64, 3)), static_cast<DWORD>(kCiBusy));
    EXPECT_EQ(driver.Pump().size(), 2u);
    EXPECT_EQ(channel.Send(Bytes(64, 3)), static_cast<DWORD>(kCiSuccess));
}

TEST(LegacyGeneration, AReceiveWithoutWaitAsksNothingOfTheDriver)
{
    FakeLegacyDriver driver(Config{});
    LegacyChannel channel(driver);
    ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));
    std::vector<uint8_t> received;
    EXPECT_EQ(channel.Receive(&received, 4096, nullptr), static_cast<DWORD>(kCiNoData));
    EXPECT_EQ(driver.armControls, 0);
}

TEST(LegacyGeneration, AReceiveWaitsForItsPacketOrItsTimeOut)
{
    FakeLegacyDriver driver(Config{});
    LegacyChannel channel(driver);
    ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));

    std::vector<uint8_t> received;
    const DWORD shortWait = 250;
    Stopwatch watch;
    EXPECT_EQ(channel.Receive(&received, 4096, &shortWait), static_cast<DWORD>(kCiNoData));
    EXPECT_GE(watch.ElapsedMs() + 20, shortWait);
    EXPECT_GE(driver.armControls, 1);

    const DWORD wait = 10000;
    auto receive = std::async(std::launch::async, [&] {
        std::vector<uint8_t> packet;
        DWORD status = channel.Receive(&packet, 4096, &wait);
        return std::make_pair(status, packet);
    });
    Sleep(200);
    ASSERT_TRUE(driver.Deliver(Bytes(32, 9)));
    ASSERT_EQ(receive.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    auto [status, packet] = receive.get();
    EXPECT_EQ(status, static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(packet, Bytes(32, 9));
}

TEST(LegacyGeneration, TheAbortEventEndsAReceiveThatWaitsForever)
{
    FakeLegacyDriver driver(Config{});
    LegacyChannel channel(driver);
    ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));
    HANDLE abort = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ZdtCiSetAbortEvent(channel.handle, abort);

    const DWORD forever = INFINITE;
    auto receive = std::async(std::launch::async, [&] {
        std::vector<uint8_t> packet;
        return channel.Receive(&packet, 4096, &forever);
    });
    EXPECT_EQ(receive.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    SetEvent(abort);
    ASSERT_EQ(receive.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(receive.get(), static_cast<DWORD>(kCiNoData));
    ZdtCiSetAbortEvent(channel.handle, nullptr);
    CloseHandle(abort);
}

TEST(LegacyGeneration, WithoutAReceiveEventAReceiveCannotWait)
{
    Config config;
    config.createEvent = false;
    FakeLegacyDriver driver(config);
    LegacyChannel channel(driver);
    ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));
    std::vector<uint8_t> received;
    const DWORD wait = 100;
    EXPECT_EQ(channel.Receive(&received, 4096, &wait), static_cast<DWORD>(kCiNoReceiveEvent));
}

TEST(LegacyGeneration, ARingBeingResetBreaksTheChannel)
{
    FakeLegacyDriver driver(Config{});
    LegacyChannel channel(driver);
    ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));
    ASSERT_TRUE(driver.Deliver(Bytes(8, 1)));
    driver.SetResetting(true);
    std::vector<uint8_t> received;
    EXPECT_EQ(channel.Send(Bytes(8, 1)), static_cast<DWORD>(kCiBroken));
    EXPECT_EQ(channel.Receive(&received, 4096, nullptr), static_cast<DWORD>(kCiBroken));
    EXPECT_TRUE(driver.Pump().empty());
}

TEST(LegacyGeneration, EntriesThatNameNoBufferOfOursAreDropped)
{
    FakeLegacyDriver driver(Config{});
    LegacyChannel channel(driver);
    ASSERT_EQ(channel.status, static_cast<DWORD>(kCiSuccess));
    struct Case {
        const char *what;
        uint32_t entry;
    };
    const Case cases[] = {
        {"a buffer number past the buffers asked for", 0x1C08},  // buffer 7, 64 bytes
        {"a length past the buffer's end", 0x03FF},              // buffer 0, 8184 bytes
    };
    for (const Case &c : cases) {
        driver.DeliverEntry(c.entry);
        std::vector<uint8_t> received;
        EXPECT_EQ(channel.Receive(&received, 16384, nullptr), static_cast<DWORD>(kCiUnexpected)) << c.what;
        EXPECT_TRUE(received.empty()) << c.what;
    }
    std::vector<uint8_t> received;
    ASSERT_TRUE(driver.Deliver(Bytes(16, 3)));
    EXPECT_EQ(channel.Receive(&received, 4096, nullptr), static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(received, Bytes(16, 3));
}

} // namespace
