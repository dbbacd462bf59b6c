#include "stdeq_kit.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

bool Printable(uint8_t byte) { return std::isprint(byte) != 0; }

bool Has(const char *text, const char *what) { return std::strstr(text, what) != nullptr; }

// Whitespace-separated words of a record, as "%s" reads them.
std::vector<std::string> Words(const char *text)
{
    std::vector<std::string> words;
    std::string word;
    for (const char *p = text;; ++p) {
        if (*p == '\0' || std::isspace(static_cast<unsigned char>(*p))) {
            if (!word.empty())
                words.push_back(word);
            word.clear();
            if (*p == '\0')
                return words;
        } else {
            word.push_back(*p);
        }
    }
}

std::string WordAt(const std::vector<std::string> &words, size_t index)
{
    return index < words.size() ? words[index] : std::string();
}

// "%d" at text: blanks, an optional sign, digits (saturating); false without digits.
bool ReadInt(const char *&p, int *value)
{
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = *p++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return false;
    long long number = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        number = std::min<long long>(number * 10 + (*p++ - '0'), INT_MAX);
    }
    *value = static_cast<int>(negative ? -number : number);
    return true;
}

bool Expect(const char *&p, char c)
{
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p)) && c != ':' )
        ++p;
    if (*p != c)
        return false;
    ++p;
    return true;
}

// A counter value as the kit's one-byte counters hold it: numbers past 255 stay 255, so that a
// large count neither wraps to a small one nor raises its trap again.
uint8_t CounterValue(int number) { return static_cast<uint8_t>(std::clamp(number, 0, 255)); }

bool ValidCard(int card) { return card >= 0 && card < static_cast<int>(kUsbKitCards); }

} // namespace

void SetUsbKitIdentity(USB_KIT_STATE *state, const std::string &model, const std::string &serialNumber,
                       const std::string &sizeText)
{
    state->Index = 1;
    state->Column2 = 2;
    state->Column4 = 3;
    state->Column18 = 1;
    state->Condition = 2;
    state->CardCount = 2;
    state->FailedCard = -1;
    state->TransferErrorCard = -1;
    state->Redundancy = 3;
    state->Column3.clear();
    state->Model = model;
    for (char &c : state->Model)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    state->Manufacturer = kUsbKitManufacturer;
    state->ProductName = kUsbKitProductName;
    state->PartNumber = kUsbKitPartNumber;
    state->SerialNumber = serialNumber;
    state->SizeMb = static_cast<int32_t>(std::strtoll(sizeText.c_str(), nullptr, 10) / 1048576);
}

int UsbKitRecordGroup(const char *record)
{
    const char *p = record;
    int number = 0;
    for (int i = 0; i < 7; ++i)
        if (!ReadInt(p, &number) || !Expect(p, ':'))
            return 0;
    return number;
}

void TakeUsbKitRecords(const uint8_t *area, size_t size, USB_KIT_RECORDS *records)
{
    records->Count = 0;
    records->NewestStamp.clear();
    std::optional<int> group;
    size_t position = size;  // the search goes on below this
    while (records->Count < kUsbKitSlots && area != nullptr) {
        size_t end = position;
        while (end > 0 && !Printable(area[end - 1]))
            --end;
        if (end == 0)
            break;
        size_t start = end;
        while (start > 0 && Printable(area[start - 1]))
            --start;
        char *slot = records->Slots[records->Count];
        const size_t length = std::min(end - start, kUsbKitSlotBytes - 1);
        std::memcpy(slot, area + start, length);
        slot[length] = '\0';
        const int recordGroup = UsbKitRecordGroup(slot);
        if (group && *group != 0 && recordGroup != *group) {
            slot[0] = '\0';
            break;
        }
        if (!group || *group == 0) {
            group = recordGroup;
            records->NewestStamp.assign(records->Slots[0], strnlen(records->Slots[0], kUsbKitStampChars));
        }
        ++records->Count;
        position = start;
    }
}

void ParseUsbKitStatus(USB_KIT_STATE *state, const USB_KIT_RECORDS &records)
{
    bool firmware = false, seen[2] = {}, stateSeen[2] = {}, systemState = false;
    int cardState[2] = {};
    for (size_t i = records.Count; i-- > 0;) {
        if (firmware && seen[0] && seen[1] && stateSeen[0] && stateSeen[1])
            break;
        const char *record = records.Slots[i];
        if (Has(record, "Active Fw Version")) {
            state->FirmwareVersion = WordAt(Words(record), 3);
            firmware = true;
        } else if (Has(record, "System State")) {
            const std::vector<std::string> words = Words(record);
            state->Redundancy = WordAt(words, 2).find("Non-redundant") != std::string::npos ? 2 : 3;
            state->Condition = WordAt(words, 3).find("Active") != std::string::npos ? 2 : 3;
            systemState = true;
        } else if (Has(record, "Error Status")) {
            int card = 0;
            if (const char *sd = std::strstr(record, "SD")) {
                const char *p = sd + 2;
                int number = 0;
                if (std::isdigit(static_cast<unsigned char>(*p)) && ReadInt(p, &number) && *p == ' ')
                    card = number;
            }
            int numbers[4] = {};
            if (const char *equals = std::strchr(record, '=')) {
                const char *p = equals + 1;
                if (Expect(p, '('))
                    for (int k = 0; k < 4; ++k)
                        if (!ReadInt(p, &numbers[k]) || (k < 3 && !Expect(p, ',')))
                            break;
            }
            if (ValidCard(card)) {
                state->Counter16[card] = CounterValue(numbers[0]);
                state->Counter15[card] = CounterValue(numbers[1]);
                state->Counter14[card] = CounterValue(numbers[2]);
                state->Counter13[card] = CounterValue(numbers[3]);
            }
            if (card == 0 || card == 1)
                seen[card] = true;
        } else if (Has(record, "SD0 State") || Has(record, "SD1 State")) {
            const int card = Has(record, "SD0 State") ? 0 : 1;
            cardState[card] = WordAt(Words(record), 2).find("Active") != std::string::npos ? 2 : 3;
            stateSeen[card] = true;
        }
    }
    if (!systemState)
        state->Condition = cardState[0] == 2 && cardState[1] == 2 ? 2 : 3;
    state->CardCount = (seen[0] ? 1 : 0) + (seen[1] ? 1 : 0);
    state->CardsPresent[0] = seen[0] ? 1 : 0;
    state->CardsPresent[1] = seen[1] ? 1 : 0;
    if (!seen[0])
        state->FailedCard = 1;
    if (!seen[1])
        state->FailedCard = 2;
}

void ProcessUsbKitEvents(USB_KIT_STATE *state, const USB_KIT_RECORDS &records,
                         const std::optional<std::string> &stamp, const USB_KIT_RAISE &raise)
{
    bool raising = !stamp.has_value();
    auto send = [&](unsigned trap, int card) {
        if (raising && raise)
            raise(trap, card, *state);
    };
    for (size_t i = records.Count; i-- > 0;) {
        const char *record = records.Slots[i];
        if (!raising && std::strncmp(record, stamp->c_str(), kUsbKitStampChars - 1) > 0)
            raising = true;
        if (Has(record, "Card Sync Failed")) {
            send(1014, 0);
        } else if (Has(record, "Transfer Error")) {
            // "%s %s %s %s %s = %d %s = %d"
            const std::vector<std::string> words = Words(record);
            const std::string fourth = WordAt(words, 3);
            if (fourth.size() < 2)
                continue;
            const int card = fourth[1] - '0';
            // Eight counters per kind: a card number beyond them has no counters to compare.
            if (!ValidCard(card))
                continue;
            int first = 0, second = 0;
            if (WordAt(words, 5) == "=") {
                const std::string a = WordAt(words, 6);
                const char *p = a.c_str();
                ReadInt(p, &first);
                if (WordAt(words, 8) == "=") {
                    const std::string b = WordAt(words, 9);
                    const char *q = b.c_str();
                    ReadInt(q, &second);
                }
            }
            state->TransferErrorCard = card + 1;
            if (CounterValue(second) > state->Counter13[card]) {
                state->Counter13[card] = CounterValue(second);
                send(1010, card);
            }
            if (CounterValue(first) > state->Counter14[card]) {
                state->Counter14[card] = CounterValue(first);
                send(1011, card);
            }
        } else if (Has(record, "Redundancy lost")) {
            const std::string fifth = WordAt(Words(record), 4);
            state->Condition = 3;
            state->FailedCard = fifth.size() >= 3 && fifth[2] == '0' ? 2 : 1;
            send(1012, 0);
        } else if (Has(record, "Redundancy regained")) {
            state->Condition = 2;
            state->FailedCard = -1;
            state->CardCount = 2;
            send(1013, 0);
        }
    }
}

std::string ParseUsbKitStampLine(const char *line, size_t size)
{
    std::string word;
    size_t i = 0;
    while (i < size && line[i] != '\0' && line[i] != '\n' && std::isspace(static_cast<unsigned char>(line[i])))
        ++i;
    while (i < size && line[i] != '\0' && !std::isspace(static_cast<unsigned char>(line[i])) &&
           word.size() < kUsbKitStampChars)
        word.push_back(line[i++]);
    return word;
}

bool UsbKitStepRuns(const std::string &version)
{
    const size_t first = version.find('.');
    if (first == std::string::npos || first == 0)
        return false;
    const size_t second = version.find('.', first + 1);
    if (second == std::string::npos)
        return false;
    const int major = std::atoi(version.substr(0, first).c_str());
    const int minor = std::atoi(version.substr(first + 1, second - first - 1).c_str());
    return major > 6 || (major == 6 && minor >= 2);
}

int32_t UsbKitTrapFlags(int32_t condition) { return (condition & 7) << 2; }
