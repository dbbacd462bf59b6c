// The Black Box thread with its queue: records posted by the builders reach the simulated log,
// the queue's bound, the processor's reset, the log's cleared and disabled states, the switch.
#include "blackbox_fixture.h"

#include <cstring>

namespace {

class BlackBoxThreadTest : public BlackboxTest {
protected:
    void TearDown() override { TermBlackBox(); }

    bool Start(const std::vector<std::string> &directives = {})
    {
        return StartSim(directives) && InitBlackBox();
    }

    static void SetVolatile(const wchar_t *name)
    {
        CRegistry key(kBlackBoxVolatileKey);
        key.Create(REG_OPTION_VOLATILE);
        key.SetDword(name, 1);
    }

    // The triggers asked for until there are count of them (or 30 s went by).
    static std::vector<std::pair<std::wstring, int>> WaitForTriggers(size_t count)
    {
        std::vector<std::pair<std::wstring, int>> triggers;
        WaitUntil([&] {
            for (auto &call : RecordedTriggers::Take())
                triggers.push_back(call);
            return triggers.size() >= count;
        }, 30000);
        return triggers;
    }

    static void SignalReset()
    {
        HANDLE reset = CreateEventW(nullptr, FALSE, FALSE, kBlackBoxResetEventName);
        ASSERT_NE(reset, nullptr);
        SetEvent(reset);
        CloseHandle(reset);
    }
};

struct BuilderCase {
    const char *name;
    int (*post)();
    uint32_t code;
    uint32_t command;
    uint32_t length;
    const char *fields;
};

const std::string kLongDescription(300, 'd');

const BuilderCase kBuilders[] = {
    {"shutdown", [] { return PostOsShutdownRecord(); }, 2, 6, 0, ""},
    {"os info",
     [] {
         const uint16_t version[4] = {10, 0, 17763, 1};
         return PostOsInfoRecord(2, 1, 64, "Windows Server", "10.0", version, 3);
     },
     3, 11, 14 + 15 + 5 + 1,
     "Type=2;Vendor=1;Bits=64;Major_Version=10;Minor_Version=0;Build_Number=17763;Patch_Number=1;Service_Pack=3;"
     "OS_Name=Windows_Server;OS_Version=10.0"},
    {"driver", [] { return PostDriverRecord(5, 0x3, "disk", "disk.sys", "1.2", "2024", "Maker", "PCI\\1"); }, 5, 11,
     2 + 5 + 9 + 4 + 5 + 6 + 6 + 1,
     "Flags=0x3;Name=disk;File=disk.sys;Version=1.2;Timestamp=2024;Vendor=Maker;PCI_Devices=PCI\\1"},
    {"driver change, null text", [] { return PostDriverRecord(16, 0x10, "net", nullptr, "1", "t", "m", "p"); }, 16, 6,
     2 + 4 + 1 + 2 + 2 + 2 + 2 + 1, "Flags=0x10;Name=net;File=;Version=1;Timestamp=t;Vendor=m;PCI_Devices=p"},
    {"service", [] { return PostServiceRecord(6, 1, "svc", "svc.exe", "2.0", "ts", "ven"); }, 6, 11,
     2 + 4 + 8 + 4 + 3 + 4 + 1, "Flags=0x1;Name=svc;File=svc.exe;Version=2.0;Timestamp=ts;Vendor=ven"},
    {"software change", [] { return PostSoftwareRecord(18, 2, "ven", "app", "3.0", "ts"); }, 18, 6,
     2 + 4 + 4 + 4 + 3 + 1, "Flags=0x2;Vendor=ven;Name=app;Version=3.0;Timestamp=ts"},
    {"software", [] { return PostSoftwareRecord(7, 0, "v", "a", "1", "t"); }, 7, 11, 2 + 8 + 1,
     "Flags=0x0;Vendor=v;Name=a;Version=1;Timestamp=t"},
    {"os update", [] { return PostOsUpdateRecord(19, 1, "Security Update", "KB1", "ts"); }, 19, 11,
     2 + 16 + 4 + 3 + 1, "Flags=0x1;Description=Security_Update;Identifier=KB1;Timestamp=ts"},
    {"os update change", [] { return PostOsUpdateRecord(20, 4, "d", "i", "t"); }, 20, 6, 2 + 6 + 1,
     "Flags=0x4;Description=d;Identifier=i;Timestamp=t"},
    {"os usage, total capped", [] { return PostOsUsageRecord(100, 200, 300, 70, 50); }, 11, 6, 15,
     "Process_Count=100;Thread_Count=200;Handle_Count=300;Overall_CPU_Usage_(User)=70;"
     "Overall_CPU_Usage_(Kernel)=50;Overall_CPU_Usage_(Total)=100"},
    {"memory usage", [] { return PostMemoryUsageRecord(1ull << 33, 5, 7, 9); }, 12, 6, 32,
     "Physical_Memory_Size=8589934592;Physical_Memory_Free=5;Virtual_Memory_Size=7;Virtual_Memory_Free=9"},
    {"processor usage",
     [] {
         const uint8_t usage[] = {10, 5, 20, 3};
         return PostProcessorUsageRecord(usage, 2);
     },
     13, 7, 4, "User_%25=10;Kernel_%25=5;User_%25=20;Kernel_%25=3"},
    {"nic link, description cut", [] { return PostNicLinkRecord(7, kNicLinkUp, kLongDescription.c_str()); }, 15, 6,
     262, nullptr},
    {"nic link down", [] { return PostNicLinkRecord(9, kNicLinkDown, "eth 0"); }, 15, 6, 262,
     "Interface=9;Flags=0x0;Interface_Description=eth_0"},
};

TEST_F(BlackBoxThreadTest, RecordsFromEveryBuilderReachTheLogInOrder)
{
    ASSERT_TRUE(Start());
    for (const BuilderCase &c : kBuilders)
        EXPECT_EQ(c.post(), 1) << c.name;
    ASSERT_TRUE(sim.WaitForRecords("bbdata", std::size(kBuilders), 30000));
    std::vector<SimRecord> data = Records("bbdata");
    ASSERT_EQ(data.size(), std::size(kBuilders));
    for (size_t i = 0; i < data.size(); ++i) {
        const BuilderCase &c = kBuilders[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(data[i].Number("code"), c.code);
        EXPECT_EQ(data[i].Number("command"), c.command);
        EXPECT_EQ(data[i].Number("len"), c.length);
        if (c.fields != nullptr) {
            EXPECT_EQ(data[i].Get("fields"), c.fields);
        }
    }
    EXPECT_EQ(data[12].Get("fields"), "Interface=7;Flags=0x80;Interface_Description=" + std::string(255, 'd'));
    EXPECT_EQ(Count("bbdesc"), 96u) << "the descriptors went first";
}

TEST_F(BlackBoxThreadTest, ARecordOfNineHundredAndSeventySixBytesIsTheLargest)
{
    ASSERT_TRUE(Start());
    std::vector<uint8_t> fixed(900, 0);
    std::string text74(74, 'm'), text75(75, 'm');
    const char *fits[] = {text74.c_str()};
    const char *tooLong[] = {text75.c_str()};
    EXPECT_EQ(PostBlackBoxRecord(8, 0, fixed.data(), 900, tooLong, 1), 0);
    EXPECT_EQ(PostBlackBoxRecord(8, 0, fixed.data(), 977, nullptr, 0), 0);
    EXPECT_EQ(PostBlackBoxRecord(8, 0, nullptr, 4, nullptr, 0), 0);
    EXPECT_EQ(PostBlackBoxRecord(8, 0, fixed.data(), -1, nullptr, 0), 0);
    EXPECT_EQ(PostBlackBoxRecord(8, 0, fixed.data(), 900, fits, 1), 1);
    ASSERT_TRUE(sim.WaitForRecords("bbdata", 1, 30000));
    std::vector<SimRecord> data = Records("bbdata");
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].Number("len"), 976u);
    EXPECT_EQ(data[0].Number("code"), 8u);
}

TEST_F(BlackBoxThreadTest, ASilentOrVanishedProcessorNeverBlocksAProducer)
{
    for (const char *directive : {"blackbox silent", "on request 1: exit"}) {
        SCOPED_TRACE(directive);
        OxbSim local(OxbSim::UniqueName("bbsilent"));
        PipeBackendSetName(local.Name().c_str());
        ASSERT_TRUE(local.Start({directive}));
        ASSERT_TRUE(InitBlackBox());
        size_t accepted = 0;
        ULONGLONG slowest = 0;
        for (uint32_t i = 0; i < 300; ++i) {
            ULONGLONG start = GetTickCount64();
            accepted += PostOsUsageRecord(i, 0, 0, 0, 0);
            slowest = std::max(slowest, GetTickCount64() - start);
            if (i == 5) { // the thread is now waiting for the processor (or found it gone)
                ASSERT_TRUE(WaitUntil([&] { return !local.Records("bb").empty() || !local.Running(); }, 30000));
            }
        }
        EXPECT_EQ(accepted, 256u);
        // A post that waited for the processor would take a whole reply wait.
        EXPECT_LT(slowest, static_cast<ULONGLONG>(ChanTimeouts::DefaultReplyWaitMs.load() / 2));
        ULONGLONG start = GetTickCount64();
        TermBlackBox();
        EXPECT_LT(GetTickCount64() - start, static_cast<ULONGLONG>(CWorkerThread::StopWaitMs.load()))
            << "the thread ended by itself";
        EXPECT_EQ(PostOsUsageRecord(1, 0, 0, 0, 0), 0) << "nothing is accepted once stopped";
        EXPECT_EQ(local.Records("bbdata").size(), 0u);
    }
}

TEST_F(BlackBoxThreadTest, AFullQueueAcceptsAgainOnceDrainedBelowItsMark)
{
    ASSERT_TRUE(Start({"blackbox silent"}));
    for (uint32_t i = 1; i <= 256; ++i)
        ASSERT_EQ(PostOsUsageRecord(i, 0, 0, 0, 0), 1) << i;
    EXPECT_EQ(PostOsUsageRecord(257, 0, 0, 0, 0), 0);
    // The processor comes back (a fresh one behind the same name); the channel is reset onto it.
    sim.Kill();
    OxbSim back(sim.Name());
    ASSERT_TRUE(back.Start());
    ASSERT_TRUE(WaitUntil([] { return PostOsUsageRecord(1000, 0, 0, 0, 0) == 1; }, 60000));
    EXPECT_GE(back.Records("bbdata").size(), 256u - 191u) << "accepting again only below 192 queued";
    ASSERT_TRUE(back.WaitForRecords("bbdata", 257, 60000));
    std::vector<SimRecord> data = back.Records("bbdata");
    ASSERT_EQ(data.size(), 257u);
    for (uint32_t i = 0; i < 256; ++i)
        ASSERT_EQ(data[i].Get("fields").rfind("Process_Count=" + std::to_string(i + 1) + ";", 0), 0u)
            << "every record once, in order: " << data[i].Get("fields");
}

TEST_F(BlackBoxThreadTest, TheResetEventRegistersAgainUploadsTheDescriptorsAndAsksForEverythingAgain)
{
    struct Case {
        DWORD cpuPollMinutes; // 0: value absent
        bool cpuRelog;
    };
    for (const Case c : {Case{0, true}, Case{5, false}}) {
        SCOPED_TRACE(c.cpuPollMinutes);
        SetUp();
        if (c.cpuPollMinutes != 0) {
            CRegistry parameters(kBlackBoxParametersKey);
            parameters.Create();
            ASSERT_TRUE(parameters.SetDword(L"PollInterval_CPUUtilizationInMinutes", c.cpuPollMinutes));
            DWORD check = 0;
            ASSERT_TRUE(CRegistry(kBlackBoxParametersKey, KEY_READ).GetDword(L"PollInterval_CPUUtilizationInMinutes", &check));
        }
        OxbSim local(OxbSim::UniqueName("bbreset"));
        PipeBackendSetName(local.Name().c_str());
        ASSERT_TRUE(local.Start());
        // Left from an earlier run of the service: the thread's start clears them.
        SetVolatile(L"RelogBBForOsInfo");
        SetVolatile(L"RelogBBForSwOs");
        ASSERT_TRUE(InitBlackBox());
        ASSERT_EQ(PostOsShutdownRecord(), 1);
        ASSERT_TRUE(local.WaitForRecords("bbdata", 1, 30000));
        EXPECT_FALSE(VolatileValue(L"RelogBBForOsInfo"));
        EXPECT_FALSE(VolatileValue(L"RelogBBForSwOs"));
        EXPECT_FALSE(VolatileValue(L"RelogBBForCpuUsage"));
        uint64_t firstMain = local.Records("bbdata")[0].Number("handle");
        size_t described = local.Records("bbdesc").size();
        EXPECT_EQ(described, 96u) << "the descriptors went up before the record";

        SignalReset();
        ASSERT_TRUE(WaitUntil([&] { return local.Records("bbdesc").size() >= described + 96; }, 30000));
        // The triggers are the last thing the re-registration does.
        auto triggers = WaitForTriggers(2);
        EXPECT_TRUE(VolatileValue(L"RelogBBForServiceDriver"));
        EXPECT_EQ(local.Records("bbunregister").size(), 2u);
        EXPECT_EQ(local.Records("bbsource").size(), 2u) << "the source is opened again";
        EXPECT_EQ(local.Records("bbfeeder").size(), 4u);
        EXPECT_FALSE(VolatileValue(L"RelogBBForDescriptors")) << "consumed by the descriptor upload";
        EXPECT_TRUE(VolatileValue(L"RelogBBForOsInfo"));
        EXPECT_EQ(VolatileValue(L"RelogBBForCpuUsage"), c.cpuRelog);
        EXPECT_TRUE(VolatileValue(L"RelogBBForSwOs"));
        EXPECT_EQ(triggers, (std::vector<std::pair<std::wstring, int>>{{L"ZDTHOST", 0}, {L"MIB-2", 0}}));

        ASSERT_EQ(PostOsShutdownRecord(), 1);
        ASSERT_TRUE(local.WaitForRecords("bbdata", 2, 30000));
        EXPECT_NE(local.Records("bbdata")[1].Number("handle"), firstMain) << "sent with the new feeder";
        TermBlackBox();
        EXPECT_FALSE(VolatileValue(L"RelogBBForOsInfo")) << "the thread's end clears the re-log values";
        EXPECT_EQ(local.Records("bbunregister").size(), 4u) << "and unregisters both feeders";
    }
}

TEST_F(BlackBoxThreadTest, RecordsWaitingAtAResetFollowTheNewRegistrationAndDescriptors)
{
    // The processor stops answering with records queued, is reset and comes back.
    ASSERT_TRUE(Start({"blackbox silent"}));
    for (uint32_t i = 1; i <= 3; ++i)
        ASSERT_EQ(PostOsUsageRecord(i, 0, 0, 0, 0), 1);
    ASSERT_TRUE(WaitUntil([&] { return Count("bb") >= 1; }, 30000)) << "the thread waits for the processor";
    sim.Kill();
    OxbSim back(sim.Name());
    ASSERT_TRUE(back.Start());
    SignalReset();

    // The thread may reach the new processor on a retry before it sees the reset; either way
    // nothing of the queue goes before the feeders and the descriptors.
    ASSERT_TRUE(back.WaitForRecords("bbdata", 3, 30000));
    ASSERT_EQ(WaitForTriggers(2).size(), 2u);
    EXPECT_TRUE(VolatileValue(L"RelogBBForOsInfo"));
    std::vector<SimRecord> all = back.Records();
    size_t descriptors = 0, records = 0;
    for (const SimRecord &record : all) {
        if (record.verb == "bbdesc")
            ++descriptors;
        if (record.verb == "bbdata") {
            EXPECT_EQ(descriptors, 96u) << "the descriptors went first";
            EXPECT_EQ(record.Get("fields").rfind("Process_Count=" + std::to_string(++records) + ";", 0), 0u);
        }
    }
    EXPECT_EQ(records, 3u);
}

TEST_F(BlackBoxThreadTest, ARegistrationThatFailsAfterAResetIsRetriedOnLaterWakes)
{
    // Registrations 1 and 2 are the thread's first; the third is the first one after the reset.
    ASSERT_TRUE(Start({"blackbox on register 3: status 1"}));
    ASSERT_EQ(PostOsShutdownRecord(), 1);
    ASSERT_TRUE(sim.WaitForRecords("bbdata", 1, 30000));
    SignalReset();
    ASSERT_EQ(WaitForTriggers(2).size(), 2u);
    // Kept: the first two, and the two of the retry; the refused one is not kept.
    EXPECT_EQ(Count("bbfeeder"), 4u);
    EXPECT_EQ(Count("bbunregister"), 2u);
    EXPECT_TRUE(VolatileValue(L"RelogBBForSwOs"));
}

TEST_F(BlackBoxThreadTest, ClearedAndDisabledLogStatesReachTheHostKey)
{
    struct Case {
        const char *directive;
        DWORD cleared;
        DWORD disabledThenEnabled;
    };
    const Case cases[] = {
        {"blackbox cleared 1", 1, 0},
        {"blackbox disabled 2", 0, 1},
        {"channels 4", 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.directive);
        SetUp();
        const uint8_t stamp[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        CRegistry host(kBlackBoxHostKey);
        ASSERT_TRUE(host.Create());
        host.SetBinary(L"LastSoftwareCollectionTime", stamp, sizeof(stamp));

        OxbSim local(OxbSim::UniqueName("bbstate"));
        PipeBackendSetName(local.Name().c_str());
        ASSERT_TRUE(local.Start({c.directive}));
        ASSERT_TRUE(InitBlackBox());
        ASSERT_EQ(PostOsShutdownRecord(), 1);
        // Wakes come every 300 ms; four disabled queries span both changes of state.
        ASSERT_TRUE(WaitUntil([&] { return local.Records("bbdisabled").size() >= 4; }, 30000));
        TermBlackBox();
        EXPECT_EQ(HostDword(L"KWBCleared"), c.cleared);
        EXPECT_EQ(HostDword(L"KWBDisabledThenEnabled"), c.disabledThenEnabled);
        uint8_t read[8] = {};
        DWORD size = sizeof(read);
        ASSERT_TRUE(CRegistry(kBlackBoxHostKey).GetBinary(L"LastSoftwareCollectionTime", read, &size));
        bool zeroed = c.cleared != 0 || c.disabledThenEnabled != 0;
        EXPECT_EQ(std::memcmp(read, zeroed ? std::vector<uint8_t>(8, 0).data() : stamp, 8), 0);
    }
}

TEST_F(BlackBoxThreadTest, SwitchedOffEveryPostSucceedsAndNothingIsSent)
{
    s_ServiceParameters.EnableBlackbox = 0;
    ASSERT_TRUE(Start());
    for (const BuilderCase &c : kBuilders)
        EXPECT_EQ(c.post(), 1) << c.name;
    std::vector<uint8_t> tooLarge(977, 0);
    EXPECT_EQ(PostBlackBoxRecord(8, 0, tooLarge.data(), 977, nullptr, 0), 1);
    PostOsBootRecord();
    EXPECT_TRUE(VolatileValue(L"OS Boot Logged")) << "the boot counts as dealt with";
    Sleep(1000);
    EXPECT_EQ(Count("bb"), 0u);
    TermBlackBox();
}

TEST_F(BlackBoxThreadTest, TheBootRecordIsPostedOncePerBootAndSurvivesAServiceRestart)
{
    ASSERT_TRUE(Start());
    PostOsBootRecord();
    PostOsBootRecord();
    // A stop frees what is still queued: the record is let through before the restart.
    ASSERT_TRUE(sim.WaitForRecords("bbdata", 1, 30000));
    TermBlackBox();
    ASSERT_TRUE(InitBlackBox()); // the service restarts within the same boot
    PostOsBootRecord();
    ASSERT_EQ(PostOsShutdownRecord(), 1);
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<SimRecord> data = Records("bbdata");
        return !data.empty() && data.back().Number("code") == 2;
    }, 30000));
    size_t boots = 0;
    for (const SimRecord &record : Records("bbdata"))
        boots += record.Number("code") == 1;
    EXPECT_EQ(boots, 1u);
    EXPECT_TRUE(VolatileValue(L"OS Boot Logged"));
}

} // namespace
