// The feeder protocol against the simulated health log, called as the Black Box thread calls it.
#include "blackbox_fixture.h"

#include <cstring>

namespace {

class BlackboxProtocol : public BlackboxTest {
protected:
    void SetUp() override
    {
        BlackboxTest::SetUp();
        Forget();
        // Whatever an earlier test of this process uploaded, this one starts from nothing.
        CRegistry key(kBlackBoxVolatileKey);
        key.Create(REG_OPTION_VOLATILE);
        key.SetDword(L"RelogBBForDescriptors", 1);
    }
    void TearDown() override
    {
        if (m_Open)
            CloseBlackboxChannel();
    }

    static void Forget()
    {
        s_BlackboxSource = -1;
        s_MainFeeder.Handle = s_ProcessorUsageFeeder.Handle = -1;
        s_MainFeeder.SelectedCode = s_ProcessorUsageFeeder.SelectedCode = -1;
    }

    bool Open(const std::vector<std::string> &directives = {})
    {
        if (!StartSim(directives))
            return false;
        m_Open = OpenBlackboxChannel();
        return m_Open;
    }

    static BLACKBOX_RECORD Record(uint32_t code, uint32_t isStatic, std::vector<uint8_t> fixed)
    {
        BLACKBOX_RECORD record{};
        record.Code = code;
        record.Static = isStatic;
        bool refused = true;
        record.Length = static_cast<uint32_t>(
            ComposeBlackboxPayload(record.Payload, fixed.data(), fixed.size(), nullptr, 0, &refused));
        EXPECT_FALSE(refused);
        return record;
    }

    static std::string Underscored(const char *name)
    {
        std::string text = name;
        for (char &c : text)
            c = c == ' ' ? '_' : c;
        return text;
    }

    bool m_Open = false;
};

TEST_F(BlackboxProtocol, UploadSendsEveryCodeThenItsFieldsInTableOrder)
{
    ASSERT_TRUE(Open());
    ASSERT_TRUE(InitFeeders());
    ASSERT_TRUE(UploadDescriptors());

    std::vector<SimRecord> feeders = Records("bbfeeder");
    ASSERT_EQ(feeders.size(), 2u);
    EXPECT_EQ(feeders[0].Get("name"), "TLM");
    EXPECT_EQ(feeders[0].Number("flags"), 0x2000000u);
    EXPECT_EQ(feeders[0].Number("size"), 976u);
    EXPECT_EQ(feeders[0].Number("entries"), 0u);
    EXPECT_EQ(feeders[1].Number("flags"), 0x8000000u) << "registered as an array feeder";
    EXPECT_EQ(feeders[1].Number("size"), 2u);
    EXPECT_EQ(feeders[1].Number("entries"), 256u);
    ASSERT_EQ(Count("bbsource"), 1u);
    uint64_t source = Records("bbsource")[0].Number("handle");
    EXPECT_EQ(Records("bbsource")[0].Get("name"), "TLM");

    std::vector<SimRecord> sent = Records("bbdesc");
    size_t count = 0;
    const BLACKBOX_CODE_INFO *codes = BlackboxCodeTable(&count);
    size_t at = 0;
    for (size_t c = 0; c < count; ++c) {
        const BLACKBOX_CODE_INFO &code = codes[c];
        uint64_t feeder = feeders[code.Code == 13 ? 1 : 0].Number("handle");
        for (int field = -1; field < static_cast<int>(code.FieldCount); ++field, ++at) {
            SCOPED_TRACE(testing::Message() << code.Name << " field " << field);
            ASSERT_LT(at, sent.size());
            const SimRecord &d = sent[at];
            EXPECT_EQ(d.Number("handle"), feeder);
            EXPECT_EQ(d.Number("kind"), field < 0 ? 0x84u : 0x8Cu);
            EXPECT_EQ(d.Number("source"), source);
            EXPECT_EQ(d.Number("code"), code.Code);
            EXPECT_EQ(d.Number("field"), field < 0 ? 0u : static_cast<uint64_t>(field));
            EXPECT_EQ(d.Number("class"), code.Class);
            EXPECT_EQ(d.Number("mode"), code.Mode);
            EXPECT_EQ(d.Number("type"), field < 0 ? code.Type : code.Fields[field].Type);
            EXPECT_EQ(d.Number("size"), field < 0 ? code.Size : code.Fields[field].Size);
            EXPECT_EQ(d.Get("name"), Underscored(field < 0 ? code.Name : code.Fields[field].Name));
        }
    }
    EXPECT_EQ(at, 96u);
    EXPECT_EQ(sent.size(), 96u);

    // A complete upload is not repeated.
    ASSERT_TRUE(UploadDescriptors());
    EXPECT_EQ(Count("bbdesc"), 96u);
}

TEST_F(BlackboxProtocol, AFailedDescriptorRestartsTheUploadFromTheFirstCode)
{
    for (int failing : {1, 2, 18, 95, 96}) {
        SCOPED_TRACE(testing::Message() << "descriptor " << failing << " refused");
        OxbSim local(OxbSim::UniqueName("bbdesc"));
        PipeBackendSetName(local.Name().c_str());
        ASSERT_TRUE(local.Start({"blackbox on describe " + std::to_string(failing) + ": status 1"}));
        Forget();
        // The upload of the case before was complete: ask for it again.
        CRegistry key(kBlackBoxVolatileKey);
        key.Create(REG_OPTION_VOLATILE);
        key.SetDword(L"RelogBBForDescriptors", 1);
        ASSERT_TRUE(OpenBlackboxChannel());
        ASSERT_TRUE(InitFeeders());
        EXPECT_FALSE(UploadDescriptors());
        // The refused one was answered without being kept.
        EXPECT_EQ(local.Records("bbdesc").size(), static_cast<size_t>(failing - 1));
        EXPECT_TRUE(UploadDescriptors());
        std::vector<SimRecord> sent = local.Records("bbdesc");
        ASSERT_EQ(sent.size(), static_cast<size_t>(failing - 1 + 96));
        EXPECT_EQ(sent[failing - 1].Number("code"), 1u) << "the next call starts from the first code";
        EXPECT_EQ(sent[failing - 1].Number("kind"), 0x84u);
        EXPECT_EQ(sent.back().Get("name"), "Interface_Description");
        CloseBlackboxChannel();
    }
}

TEST_F(BlackboxProtocol, HandlesOutsideTheirRangeFailAndAreAskedForAgain)
{
    struct Case {
        const char *directive;
        size_t sources;   // source opens in all
        size_t feeders;   // registrations the log kept (a refused one is not kept)
    };
    const Case cases[] = {
        {"blackbox on source 1: handle 0", 2, 2},
        {"blackbox on source 1: handle 256", 2, 2},
        {"blackbox on register 1: handle 0", 2, 3},
        {"blackbox on register 2: handle 0", 2, 3},
        {"blackbox on register 2: status 1", 2, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.directive);
        OxbSim local(OxbSim::UniqueName("bbhandle"));
        PipeBackendSetName(local.Name().c_str());
        ASSERT_TRUE(local.Start({c.directive}));
        Forget();
        ASSERT_TRUE(OpenBlackboxChannel());
        EXPECT_FALSE(InitFeeders());
        EXPECT_EQ(s_BlackboxSource, -1) << "a failed registration forgets the source too";
        EXPECT_TRUE(InitFeeders());
        EXPECT_GT(s_BlackboxSource, 0);
        EXPECT_LT(s_BlackboxSource, 256);
        EXPECT_GT(s_MainFeeder.Handle, 0);
        EXPECT_GT(s_ProcessorUsageFeeder.Handle, 0);
        EXPECT_EQ(local.Records("bbsource").size(), c.sources);
        EXPECT_EQ(local.Records("bbfeeder").size(), c.feeders);
        CloseBlackboxChannel();
    }
}

TEST_F(BlackboxProtocol, RecordsGoToTheirFeederWithTheirCommand)
{
    ASSERT_TRUE(Open());
    ASSERT_TRUE(InitFeeders());
    struct Case {
        BLACKBOX_RECORD record;
        uint32_t command;
        const BLACKBOX_FEEDER *feeder;
    };
    const Case cases[] = {
        {Record(2, 0, {}), kBlackboxCmdLogData, &s_MainFeeder},
        {Record(2, 0, {}), kBlackboxCmdLogData, &s_MainFeeder},
        {Record(6, 1, {1, 0, 0, 0}), kBlackboxCmdLogDataStatic, &s_MainFeeder},
        {Record(13, 0, {10, 20, 30, 40}), kBlackboxCmdLogDataArray, &s_ProcessorUsageFeeder},
        {Record(13, 0, {1, 2}), kBlackboxCmdLogDataArray, &s_ProcessorUsageFeeder},
        {Record(11, 0, std::vector<uint8_t>(15, 1)), kBlackboxCmdLogData, &s_MainFeeder},
    };
    for (const Case &c : cases)
        EXPECT_TRUE(UploadBlackboxRecord(c.record)) << c.record.Code;
    std::vector<SimRecord> data = Records("bbdata");
    ASSERT_EQ(data.size(), std::size(cases));
    for (size_t i = 0; i < data.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(data[i].Number("code"), cases[i].record.Code);
        EXPECT_EQ(data[i].Number("command"), cases[i].command);
        EXPECT_EQ(data[i].Number("handle"), static_cast<uint64_t>(cases[i].feeder->Handle));
        EXPECT_EQ(data[i].Number("len"), cases[i].record.Length);
    }
    // A code is selected when it changes, per feeder.
    std::vector<SimRecord> selects = Records("bbselect");
    ASSERT_EQ(selects.size(), 4u);
    EXPECT_EQ(selects[0].Number("code"), 2u);
    EXPECT_EQ(selects[1].Number("code"), 6u);
    EXPECT_EQ(selects[2].Number("code"), 13u);
    EXPECT_EQ(selects[3].Number("code"), 11u);
    EXPECT_EQ(data[4].Get("fields"), "User_%25=1;Kernel_%25=2");
}

TEST_F(BlackboxProtocol, UnknownFeederOnDataMarksItUnregisteredAndTheNextRecordRegistersAndSelectsAgain)
{
    ASSERT_TRUE(Open({"blackbox on data 2: forget"}));
    ASSERT_TRUE(InitFeeders());
    BLACKBOX_RECORD info = Record(3, 1, std::vector<uint8_t>(14, 2));
    ASSERT_TRUE(UploadBlackboxRecord(info));
    int32_t first = s_MainFeeder.Handle;
    EXPECT_FALSE(UploadBlackboxRecord(info)) << "answered 5: unknown feeder";
    EXPECT_EQ(s_MainFeeder.Handle, -1);
    ASSERT_TRUE(UploadBlackboxRecord(info));
    EXPECT_NE(s_MainFeeder.Handle, first);

    std::vector<SimRecord> data = Records("bbdata");
    ASSERT_EQ(data.size(), 2u);
    EXPECT_EQ(data[0].Number("handle"), static_cast<uint64_t>(first));
    EXPECT_EQ(data[1].Number("handle"), static_cast<uint64_t>(s_MainFeeder.Handle));
    EXPECT_EQ(Count("bbfeeder"), 3u) << "main, usage, then main again";
    ASSERT_EQ(Count("bbselect"), 2u) << "the new feeder has its code selected again";
    EXPECT_EQ(Records("bbselect")[1].Number("handle"), static_cast<uint64_t>(s_MainFeeder.Handle));
}

TEST_F(BlackboxProtocol, AnUnknownFeederDuringTheUploadIsRegisteredAgainAndTheDescriptorResent)
{
    // The processor forgets both feeders at the third descriptor; the usage feeder's turn comes
    // at code 13.
    ASSERT_TRUE(Open({"blackbox on describe 3: forget"}));
    ASSERT_TRUE(InitFeeders());
    ASSERT_TRUE(UploadDescriptors());
    EXPECT_EQ(Count("bbdesc"), 96u);
    EXPECT_EQ(Count("bbfeeder"), 4u);
    EXPECT_EQ(Count("bbsource"), 1u);
}

TEST_F(BlackboxProtocol, RefusedArgumentsSendNothing)
{
    ASSERT_TRUE(Open());
    std::vector<uint8_t> data(1100, 1);
    int32_t handle = 0;
    const std::pair<const char *, int> refused[] = {
        {"source without name", OpenBlackboxSource(nullptr)},
        {"register source 0", RegisterBlackboxFeeder("TLM", 0, 0, 976, &handle)},
        {"register source 256", RegisterBlackboxFeeder("TLM", 256, 0, 976, &handle)},
        {"register size 0", RegisterBlackboxFeeder("TLM", 1, 0, 0, &handle)},
        {"register array flag", RegisterBlackboxFeeder("TLM", 1, kBlackboxArrayFeederFlag, 976, &handle)},
        {"register no out", RegisterBlackboxFeeder("TLM", 1, 0, 976, nullptr)},
        {"array entries 0", RegisterBlackboxArrayFeeder("TLM", 1, 0, 2, 0, &handle)},
        {"array fields 0", RegisterBlackboxArrayFeeder("TLM", 1, 0, 0, 256, &handle)},
        {"unregister 0", UnregisterBlackboxFeeder(0)},
        {"select handle 0", SelectBlackboxCode(0, 1)},
        {"select code 256", SelectBlackboxCode(1, 256)},
        {"select code -1", SelectBlackboxCode(1, -1)},
        {"describe 95", DescribeBlackboxCode(1, 95, data.data())},
        {"describe 97", DescribeBlackboxField(1, 97, data.data())},
        {"describe 1056, more than a request holds", DescribeBlackboxField(1, 1056, data.data())},
        {"describe null", DescribeBlackboxCode(1, 96, nullptr)},
        {"data 977", LogBlackboxData(1, data.data(), 977)},
        {"data -1", LogBlackboxDataStatic(1, data.data(), -1)},
        {"data null", LogBlackboxDataArray(1, nullptr, 4)},
        {"data handle 0", LogBlackboxData(0, data.data(), 4)},
    };
    for (const auto &call : refused)
        EXPECT_EQ(call.second, -1) << call.first;
    EXPECT_FALSE(IsBlackboxCleared(0));
    EXPECT_FALSE(IsBlackboxDisabled(0));
    // One request that goes out, so that the simulator is known to be listening.
    EXPECT_GT(OpenBlackboxSource("TLM"), 0);
    ASSERT_TRUE(sim.WaitForRecords("bb", 1));
    EXPECT_EQ(Count("bb"), 1u);
}

TEST_F(BlackboxProtocol, StatusQueriesReadClearedAndDisabled)
{
    ASSERT_TRUE(Open({"blackbox cleared 1", "blackbox disabled 1"}));
    ASSERT_TRUE(InitFeeders());
    EXPECT_TRUE(IsBlackboxCleared(s_MainFeeder.Handle));
    EXPECT_FALSE(IsBlackboxCleared(s_MainFeeder.Handle));
    EXPECT_TRUE(IsBlackboxDisabled(s_MainFeeder.Handle));
    EXPECT_FALSE(IsBlackboxDisabled(s_MainFeeder.Handle));
    std::vector<SimRecord> requests = Records("bb");
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().Number("service"), 3u);
}

TEST_F(BlackboxProtocol, ABrokenChannelIsResetAndTheRequestSentOnceMore)
{
    // The reply to the second request (the first registration) is lost with the channel's pipes:
    // the channel is reset and the registration sent again, whose handle is the one kept.
    ASSERT_TRUE(Open({"on request 2: close"}));
    EXPECT_TRUE(InitFeeders());
    std::vector<SimRecord> feeders = Records("bbfeeder");
    ASSERT_EQ(feeders.size(), 3u);
    EXPECT_EQ(feeders[0].Number("size"), 976u);
    EXPECT_EQ(feeders[1].Number("size"), 976u);
    EXPECT_EQ(static_cast<uint64_t>(s_MainFeeder.Handle), feeders[1].Number("handle"));
    EXPECT_EQ(static_cast<uint64_t>(s_ProcessorUsageFeeder.Handle), feeders[2].Number("handle"));
}

} // namespace
