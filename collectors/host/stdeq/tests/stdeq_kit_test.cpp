// The kit log: taking records, their status and events, the stamp and the version gate.
#include "stdeq_kit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A log area: the records in order (oldest first), each ended by a NUL, then 0xFF to the end.
std::vector<uint8_t> Area(const std::vector<std::string> &records, size_t size = 4096)
{
    std::vector<uint8_t> area;
    for (const std::string &record : records) {
        area.insert(area.end(), record.begin(), record.end());
        area.push_back(0);
    }
    area.resize(size, 0xFF);
    return area;
}

// A record of group g at second s; the text follows the last colon directly, so the stamp and
// the first word of the text make one word.
std::string Rec(int s, const std::string &text, int g = 5)
{
    char head[64];
    snprintf(head, sizeof head, "2026:12:10:18:30:%02d:%d:", s, g);
    return head + text;
}

USB_KIT_RECORDS Take(const std::vector<uint8_t> &area)
{
    USB_KIT_RECORDS records;
    TakeUsbKitRecords(area.data(), area.size(), &records);
    return records;
}

TEST(StdeqKitLog, TakingRecords)
{
    // Newest group 5 twice, then group 4: only the group-5 records.
    USB_KIT_RECORDS r = Take(Area({Rec(1, "old", 4), Rec(2, "a"), Rec(3, "b")}));
    ASSERT_EQ(2u, r.Count);
    EXPECT_EQ(Rec(3, "b"), r.Slots[0]);
    EXPECT_EQ(Rec(2, "a"), r.Slots[1]);
    EXPECT_EQ("2026:12:10:18:30:03:", r.NewestStamp);
    // Records of group 0 let the next record fix the group.
    r = Take(Area({Rec(1, "x", 4), Rec(2, "y", 3), Rec(3, "z", 0)}));
    ASSERT_EQ(2u, r.Count);
    EXPECT_EQ("2026:12:10:18:30:03:", r.NewestStamp);
    // A record without seven numbers counts as group 0 and does not fix a group; once one is
    // fixed, it ends the taking.
    r = Take(Area({Rec(1, "x", 4), "Boot message"}));
    EXPECT_EQ(2u, r.Count);
    r = Take(Area({"Boot message", Rec(2, "x", 4)}));
    EXPECT_EQ(1u, r.Count);
    // The area starts with printable text: the first record begins at byte 0.
    r = Take(Area({Rec(1, "first"), Rec(2, "second")}, 200));
    ASSERT_EQ(2u, r.Count);
    EXPECT_EQ(Rec(1, "first"), r.Slots[1]);
    // A record filling the whole area, without NUL; long records are cut to 127 characters.
    const std::string longText = Rec(4, std::string(300, 'L'));
    r = Take(std::vector<uint8_t>(longText.begin(), longText.end()));
    ASSERT_EQ(1u, r.Count);
    EXPECT_EQ(127u, std::string(r.Slots[0]).size());
    // Nothing printable: nothing taken, no stamp.
    r = Take(std::vector<uint8_t>(kUsbKitLogBytes, 0xFF));
    EXPECT_EQ(0u, r.Count);
    EXPECT_EQ("", r.NewestStamp);
    // Bytes above 0x7F are not printable (no sign extension into isprint).
    r = Take({'A', 'B', 0x80, 0xE9, 'C'});
    ASSERT_EQ(2u, r.Count);
    EXPECT_STREQ("C", r.Slots[0]);
    EXPECT_STREQ("AB", r.Slots[1]);
}

TEST(StdeqKitLog, GroupNumbers)
{
    const std::pair<const char *, int> cases[] = {
        {"1:2:3:4:5:6:7: x", 7}, {"1:2:3:4:5:6:-3:", -3}, {"1:2:3:4:5:6: x", 0},
        {"1:2:3:4:5:6:7", 0},    {"", 0},                 {"a:b", 0}};
    for (const auto &[record, group] : cases)
        EXPECT_EQ(group, UsbKitRecordGroup(record)) << record;
}

USB_KIT_STATE Identified()
{
    USB_KIT_STATE state;
    SetUsbKitIdentity(&state, "ZSK USB RAID LUN", "SN1", "8017412096");
    return state;
}

TEST(StdeqKitLog, Status)
{
    USB_KIT_STATE state = Identified();
    EXPECT_EQ("zsk usb raid lun", state.Model);
    EXPECT_EQ(7646, state.SizeMb);
    USB_KIT_RECORDS r = Take(Area({
        Rec(1, "Active Fw Version 1.20"),
        Rec(2, "System State Non-redundant Degraded"),
        Rec(3, "Error Status SD0 = (1, 2, 3, 4)"),
        Rec(4, "Error Status SD1 = (300, -1, 7, 8)"),
        Rec(5, "SD0 State Active"),
        Rec(6, "SD1 State Failed"),
        Rec(7, "Active Fw Version 9.99"),  // after everything was seen: not read
    }));
    ParseUsbKitStatus(&state, r);
    EXPECT_EQ("1.20", state.FirmwareVersion);
    EXPECT_EQ(2, state.Redundancy);
    EXPECT_EQ(3, state.Condition);
    EXPECT_EQ((std::vector<int>{1, 255}), (std::vector<int>{state.Counter16[0], state.Counter16[1]}));
    EXPECT_EQ((std::vector<int>{2, 0}), (std::vector<int>{state.Counter15[0], state.Counter15[1]}));
    EXPECT_EQ((std::vector<int>{4, 8}), (std::vector<int>{state.Counter13[0], state.Counter13[1]}));
    EXPECT_EQ(2, state.CardCount);
    EXPECT_EQ(1, state.CardsPresent[1]);
    EXPECT_EQ(-1, state.FailedCard);

    // No system state: the card states decide; card 1 missing.
    state = Identified();
    ParseUsbKitStatus(&state, Take(Area({Rec(1, "Error Status SD0 = (0, 0, 0, 0)"), Rec(2, "SD0 State Active"),
                                         Rec(3, "SD1 State Active")})));
    EXPECT_EQ(2, state.Condition);
    EXPECT_EQ(1, state.CardCount);
    EXPECT_EQ(2, state.FailedCard);
    // A card number past the eight counters is passed over.
    state = Identified();
    ParseUsbKitStatus(&state, Take(Area({Rec(1, "Error Status SD9 = (5, 5, 5, 5)")})));
    EXPECT_EQ(0, state.CardCount);
    // An unreadable log: degraded, no cards, card 2 failed.
    state = Identified();
    ParseUsbKitStatus(&state, Take(std::vector<uint8_t>(64, 0xFF)));
    EXPECT_EQ(3, state.Condition);
    EXPECT_EQ(0, state.CardCount);
    EXPECT_EQ(2, state.FailedCard);
}

struct Raised {
    unsigned trap;
    int card;
    int condition;
};

std::vector<Raised> Events(USB_KIT_STATE *state, const std::vector<std::string> &records,
                           const std::optional<std::string> &stamp)
{
    std::vector<Raised> raised;
    ProcessUsbKitEvents(state, Take(Area(records)), stamp, [&](unsigned trap, int card, const USB_KIT_STATE &s) {
        raised.push_back({trap, card, s.Condition});
    });
    return raised;
}

std::vector<unsigned> Traps(const std::vector<Raised> &raised)
{
    std::vector<unsigned> traps;
    for (const Raised &r : raised)
        traps.push_back(r.trap);
    return traps;
}

TEST(StdeqKitLog, EventsAndTheStamp)
{
    const std::vector<std::string> log = {
        Rec(1, "Card Sync Failed"),
        Rec(2, "Transfer Error on S1: reads = 4 writes = 9"),
        Rec(3, "Transfer Error on S1: reads = 2 writes = 3"),  // smaller: no trap
        Rec(4, "Redundancy lost on card SD0"),
        Rec(5, "Redundancy regained"),
    };
    USB_KIT_STATE state = Identified();
    std::vector<Raised> raised = Events(&state, log, std::nullopt);
    EXPECT_EQ((std::vector<unsigned>{1014, 1010, 1011, 1012, 1013}), Traps(raised));
    EXPECT_EQ(1, raised[1].card);
    EXPECT_EQ(3, raised[3].condition);
    EXPECT_EQ(9, state.Counter13[1]);
    EXPECT_EQ(4, state.Counter14[1]);
    EXPECT_EQ(2, state.TransferErrorCard);
    EXPECT_EQ(2, state.Condition);
    EXPECT_EQ(-1, state.FailedCard);

    // With the newest stamp: nothing; with a stamp between: from the first newer record on.
    state = Identified();
    EXPECT_TRUE(Events(&state, log, std::string("2026:12:10:18:30:05:")).empty());
    EXPECT_EQ(9, state.Counter13[1]);  // the state changes all the same
    state = Identified();
    EXPECT_EQ((std::vector<unsigned>{1012, 1013}), Traps(Events(&state, log, std::string("2026:12:10:18:30:03:"))));
    // An empty stamp (a file without a word): every record is newer.
    state = Identified();
    EXPECT_EQ(5u, Events(&state, log, std::string()).size());
}

TEST(StdeqKitLog, EventEdgeCases)
{
    struct {
        const char *what;
        std::string record;
        std::vector<unsigned> traps;
        int failedCard;
    } cases[] = {
        {"lost: card 0 in the fifth word", Rec(1, "Redundancy lost on card SD0"), {1012}, 2},
        {"lost: other card", Rec(1, "Redundancy lost on card SD1"), {1012}, 1},
        {"lost: a fifth word of two characters", Rec(1, "Redundancy lost on card S"), {1012}, 1},
        {"lost: no fifth word", Rec(1, "Redundancy lost"), {1012}, 1},
        {"transfer: card past the counters", Rec(1, "Transfer Error on S9: r = 4 w = 9"), {}, -1},
        {"transfer: fourth word of one character", Rec(1, "Transfer Error on S r = 4 w = 9"), {}, -1},
        {"transfer: counts beyond a byte saturate", Rec(1, "Transfer Error on S0: r = 256 w = 1000"), {1010, 1011},
         -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        USB_KIT_STATE state = Identified();
        EXPECT_EQ(c.traps, Traps(Events(&state, {c.record}, std::nullopt)));
        EXPECT_EQ(c.failedCard, state.FailedCard);
    }
    // Saturated counters: the same large counts do not raise again.
    USB_KIT_STATE state = Identified();
    EXPECT_EQ((std::vector<unsigned>{1010, 1011}),
              Traps(Events(&state, {Rec(1, "Transfer Error on S0: r = 256 w = 1000"),
                                    Rec(2, "Transfer Error on S0: r = 512 w = 2000")},
                           std::nullopt)));
    EXPECT_EQ(255, state.Counter13[0]);
}

TEST(StdeqKitLog, StampLineVersionGateAndFlags)
{
    const std::pair<std::string, std::string> lines[] = {
        {"2026:12:10:18:30:05:", "2026:12:10:18:30:05:"},
        {"  2026:12:10:18:30:05:77777 tail", "2026:12:10:18:30:05:"},
        {"", ""},
        {"\n2026", ""},
    };
    for (const auto &[line, word] : lines)
        EXPECT_EQ(word, ParseUsbKitStampLine(line.c_str(), line.size())) << line;
    const std::pair<const char *, bool> versions[] = {{"6.1.7601", false}, {"6.2.9200", true}, {"6.3.9600", true},
                                                      {"10.0.17763", true}, {"5.2.3790", false}, {".6.2", false},
                                                      {"10.0", false}, {"", false}};
    for (const auto &[version, runs] : versions)
        EXPECT_EQ(runs, UsbKitStepRuns(version)) << version;
    EXPECT_EQ(8, UsbKitTrapFlags(2));
    EXPECT_EQ(12, UsbKitTrapFlags(3));
}

} // namespace
