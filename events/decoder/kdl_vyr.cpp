// Class 37: the node-controller (VYR) boards of a two-tray server. Byte 0 names the board whose
// service processor reports the event, and most texts name that board, the other one and the
// processors of the two trays (Proc 1 to 4 upper, Proc 5 to 8 lower, numbered 4 down to 1 within
// the lower tray). Every code has a text: one this formatter does not know gets its own.
#include "kdl_formatters.h"
#include "kdl_format.h"

#include <algorithm>
#include <iterator>

namespace {

// The words the lines are built from, looked up by row.
struct Words {
    static constexpr KdlTextRow Rows[] = {
        {37, 1, "upper"},
        {37, 1, "Upper"},
        {37, 1, "Lower"},
        {37, 1, "lower"},
        {37, 1, "unknown"},
        {37, 1, "Unknown"},
        {37, 2, "Upper VYR Board, VYR 1"},
        {37, 2, "Upper VYR Board, VYR 2"},
        {37, 2, "Lower VYR Board, VYR 1"},
        {37, 2, "Lower VYR Board, VYR 2"},
        {37, 2, "Main IO"},
        {37, 2, "LP (Low Profile) IO"},
        {37, 2, "Sub IO"},
        {37, 2, "Proc 1 (Upper Tray, Processor 1)"},
        {37, 2, "Proc 5 (Lower Tray, Processor 4)"},
        {37, 2, "Proc 2 (Upper Tray, Processor 2)"},
        {37, 2, "Proc 6 (Lower Tray, Processor 3)"},
        {37, 2, "Proc 3 (Upper Tray, Processor 3)"},
        {37, 2, "Proc 7 (Lower Tray, Processor 2)"},
        {37, 2, "Proc 4 (Upper Tray, Processor 4)"},
        {37, 2, "Proc 8 (Lower Tray, Processor 1)"},
        {37, 4, "Unsupported"},
        {37, 4, "Mismatched"},
        {37, 4, "   Upper Tray, Processor(s)"},
        {37, 4, " 1"},
        {37, 4, " 2"},
        {37, 4, " 3"},
        {37, 4, " 4"},
        {37, 4, "   Lower Tray, Processor(s)"},
        {37, 7, "MainIO"},
        {37, 7, "SubIO"},
        // Written without its closing parenthesis, as the boards' logs have always shown it.
        {37, 7, "Proc 4 (Upper Tray, Processor 4"},
        {37, 7, "NC"},
        {37, 7, "LP IO"},
        {37, 8, "External"},
        {37, 8, "Internal"},
        {37, 8, "Port 1"},
        {37, 8, "Port 2"},
        {37, 8, "Port 3"},
        {37, 8, "Port 4"},
        {37, 8, "Port 5"},
        {37, 8, "Port 6"},
        {37, 8, "Port 7"},
        {37, 8, "Port 8"},
        {37, 57, "Upper Tray, Processor(s)"},
        {37, 57, "Lower Tray, Processor(s)"},
        {37, 64, "Low Profile (LP) IO"},
        {37, 64, "Unrecognized IO Board"},
    };
    enum : uint8_t {
        upper, Upper, Lower, lower, unknown, Unknown,
        UpperVyr1, UpperVyr2, LowerVyr1, LowerVyr2, MainIo, LpIo, SubIo,
        Proc1, Proc5, Proc2, Proc6, Proc3, Proc7, Proc4, Proc8,
        Unsupported, Mismatched, UpperTrayPadded, Bit1, Bit2, Bit3, Bit4, LowerTrayPadded,
        MainIoLink, SubIoLink, Proc4Link, Nc, LpIoLink,
        External, Internal, Port1, Port2, Port3, Port4, Port5, Port6, Port7, Port8,
        UpperTray, LowerTray,
        LowProfileIo, UnrecognizedIo,
        None = 0xFF, // an empty word
    };
};

struct Vyr {
    static constexpr KdlTextRow Rows[] = {
        {37, 0, "Unknown VYR event occurred, Code 0x%02X"},
        {37, 1, "Proc %d (%s Tray, Processor %d) side-band access failure reported by %s VYR board service processor.  Details: 0x%02X 0x%08X 0x%02X 0x%08X"},
        {37, 2, "%s access failure reported by %s VYR board service processor.  Details: 0x%02X 0x%08X%08X 0x%02X"},
        {37, 4, "%s processor configuration: %s %s %s %s %s %s %s %s %s %s - reported by %s VYR board service processor.  Details: 0x%02X 0x%04X 0x%04X"},
        {37, 6, "Proc %d (%s Tray, Processor %d) initialization failure reported by %s VYR board service processor"},
        {37, 7, "QPI Link training failure between Proc %d (%s Tray, Processor %d) and %s reported by %s VYR board service processor, link status 0x%02X"},
        {37, 7, "QPI Link between Proc %d (%s Tray, Processor %d) and %s trained in reduced-width mode reported by %s VYR board service processor, link status 0x%02X"},
        {37, 7, "VYR event %d occurred"},
        {37, 8, "%s link training failure between %s VYR Board, VYR %d %s and %s VYR Board, VYR %d %s reported by %s VYR board service processor.  Details: 0x%02X"},
        {37, 8, "%s link with reduced bandwidth between %s VYR Board, VYR %d %s and %s VYR Board, VYR %d %s reported by %s VYR board service processor.  Details: 0x%02X"},
        {37, 8, "Link training failure reported by %s VYR board service processor.  Details: 0x%02X 0x%02X 0x%02X"},
        {37, 9, "VYR Cube Assembly failure.  %s VYR board service processor response timeout reported by %s VYR board service processor"},
        {37, 10, "VYR Cube Assembly failure.  %s VYR board not detected by %s VYR board service processor"},
        {37, 53, "Invalid processor configuration.  No enabled or installed processors reported by %s VYR board service processor"},
        {37, 53, "Processor configuration degraded to %d sockets reported by %s VYR board service processor"},
        {37, 57, "%s %s %s %s %s %s %s %s %s %s disabled by %s VYR board service processor.  Details: 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X"},
        {37, 64, "%s disabled by %s VYR board service processor. Details: 0x%02X 0x%02X 0x%02X"},
        {37, 192, "Uncorrectable error detected on %s VYR Board, VYR %d. Details:"},
        {37, 192, " 0x%02x"},
        {37, 193, "Correctable error detected on %s VYR Board, VYR %d. Details:"},
        {37, 196, "Uncorrectable fabric error detected on %s VYR Board, VYR %d, link %d. Details:"},
        {37, 197, "Correctable fabric error detected on %s VYR Board, VYR %d, link %d. Details:"},
    };
    enum : uint8_t {
        UnknownCode, SideBand, Access, Configuration, InitFailure, QpiTraining, QpiReduced, QpiOther, LinkTraining,
        LinkReduced, LinkOther, CubeTimeout, CubeNotDetected, NoProcessors, Degraded, Disabled, IoDisabled,
        ChipError, ListedByte, ChipCorrectable, FabricError, FabricCorrectable,
    };
};
// The texts that name the reporting board and nothing else.
struct ReporterOnly {
    static constexpr KdlTextRow Rows[] = {
        {37, 52, "System initialization failure reported by %s VYR board service processor"},
        {37, 81, "Events from %s VYR board server processor were dropped"},
        {37, 131, "Unexpected %s VYR board service processor FPGA Reconfiguration"},
        {37, 132, "VYR %s board service processor is not available"},
    };
};
// The texts that name the reporting board and give byte 1.
struct ReporterDetail {
    static constexpr KdlTextRow Rows[] = {
        {37, 128, "Power fault occurred on %s VYR board. Details: 0x%02X"},
        {37, 129, "Reset occurred on %s VYR board service processor. Details: 0x%02X"},
        {37, 130, "%s VYR board service processor initialization fault. Details: 0x%02X"},
    };
};

const KdlTextGroup kTexts[] = {Words::Rows, Vyr::Rows, ReporterOnly::Rows, ReporterDetail::Rows};

constexpr uint8_t kUpperReporter = 0x8A, kLowerReporter = 0x8C;

const char *Word(uint8_t row) { return row == Words::None ? "" : KdlWord<Words>(row); }

// The three words of the reporting board, from byte 0.
struct Reporter {
    const char *LowerCase, *Name, *Other;
};

Reporter ReporterOf(uint8_t value)
{
    if (value == kUpperReporter)
        return {Word(Words::upper), Word(Words::Upper), Word(Words::Lower)};
    if (value == kLowerReporter)
        return {Word(Words::lower), Word(Words::Lower), Word(Words::Upper)};
    return {Word(Words::unknown), Word(Words::Unknown), Word(Words::Unknown)};
}

unsigned Byte(const KdlClassData &d, size_t offset) { return d.Byte(offset); }

// Code 2: the part that failed to answer, by the 16-bit value at 11.
const char *AccessTarget(const KdlClassData &d)
{
    struct Target {
        uint16_t Value;
        uint8_t Word;
    };
    static constexpr Target kTargets[] = {
        {0x0100, Words::MainIo}, {0x0101, Words::LpIo},  {0x0300, Words::SubIo}, {0x0400, Words::Proc1},
        {0x0401, Words::Proc5},  {0x0500, Words::Proc2}, {0x0501, Words::Proc6}, {0x0600, Words::Proc3},
        {0x0601, Words::Proc7},  {0x0700, Words::Proc4}, {0x0701, Words::Proc8},
    };
    const uint32_t value = BigEndianValue(d, 11, 2);
    if (value == 0) {
        const bool second = d.Byte(1) >= 16;
        if (d.Byte(0) == kUpperReporter)
            return Word(second ? Words::UpperVyr2 : Words::UpperVyr1);
        return Word(second ? Words::LowerVyr2 : Words::LowerVyr1);
    }
    for (const Target &t : kTargets)
        if (t.Value == value)
            return Word(t.Word);
    return Word(Words::Unknown);
}

// The ten words of a processor mask: the upper tray label and processors 1 to 4 for bits 0 to 3,
// the lower tray label and processors 1 to 4 for bits 4 to 7. A clear bit leaves an empty word.
struct MaskWords {
    const char *Word[10];
};

MaskWords MaskWordsOf(uint8_t mask, uint8_t upperLabel, uint8_t lowerLabel)
{
    MaskWords words{};
    const uint8_t none = Words::None;
    static constexpr uint8_t kNumbers[] = {Words::Bit1, Words::Bit2, Words::Bit3, Words::Bit4};
    for (int tray = 0; tray < 2; ++tray) {
        const unsigned bits = (mask >> (4 * tray)) & 0x0F;
        words.Word[5 * tray] = Word(bits != 0 ? (tray == 0 ? upperLabel : lowerLabel) : none);
        for (int bit = 0; bit < 4; ++bit)
            words.Word[5 * tray + 1 + bit] = Word(bits & (1u << bit) ? kNumbers[bit] : none);
    }
    return words;
}

void FormatSideBandFailure(const KdlClassData &d, const Reporter &r, KdlText &text)
{
    const uint8_t zero = d.Byte(0) == kUpperReporter ? '0' : '1';
    const bool second = d.Byte(2) != zero;
    const int within = (d.Byte(1) == 0 ? 1 : 3) + (second ? 1 : 0);
    const int across = d.Byte(0) == kUpperReporter ? within : 9 - within;
    KdlPut(text, Vyr::Rows[Vyr::SideBand], across, r.Name, within, r.LowerCase, Byte(d, 4), BigEndianValue(d, 5, 4),
           Byte(d, 3), BigEndianValue(d, 9, 4));
}

void FormatConfiguration(const KdlClassData &d, const Reporter &r, KdlText &text)
{
    const bool unsupported = d.Byte(1) != 0;
    const MaskWords m = MaskWordsOf(unsupported ? d.Byte(1) : d.Byte(2), Words::UpperTrayPadded, Words::LowerTrayPadded);
    KdlPut(text, Vyr::Rows[Vyr::Configuration], Word(unsupported ? Words::Unsupported : Words::Mismatched), m.Word[0],
           m.Word[1], m.Word[2], m.Word[3], m.Word[4], m.Word[5], m.Word[6], m.Word[7], m.Word[8], m.Word[9],
           r.LowerCase, Byte(d, 2), BigEndianValue(d, 3, 2), BigEndianValue(d, 5, 2));
}

void FormatInitFailure(const KdlClassData &d, const Reporter &r, KdlText &text)
{
    // Both numbers are 8-bit: a byte 1 past the tray wraps rather than growing.
    const uint8_t b = d.Byte(1);
    const bool lower = d.Byte(0) == kLowerReporter;
    const uint8_t across = static_cast<uint8_t>(lower ? b + 5 : b + 1);
    const uint8_t within = static_cast<uint8_t>(lower ? 4 - b : b + 1);
    KdlPut(text, Vyr::Rows[Vyr::InitFailure], static_cast<int>(across), r.Name, static_cast<int>(within), r.LowerCase);
}

// Code 7: the peer of each processor's four QPI links, by row (processor) and column (link).
constexpr uint8_t kLinkPeers[8][4] = {
    {Words::UpperVyr1, Words::MainIoLink, Words::UpperVyr2, Words::Proc2},
    {Words::Proc1, Words::UpperVyr1, Words::MainIoLink, Words::UpperVyr2},
    {Words::UpperVyr1, Words::SubIoLink, Words::UpperVyr2, Words::Proc4Link},
    {Words::UpperVyr2, Words::Proc3, Words::UpperVyr1, Words::SubIoLink},
    {Words::LowerVyr1, Words::Nc, Words::LowerVyr2, Words::Proc7},
    {Words::Proc8, Words::LowerVyr2, Words::Nc, Words::LowerVyr1},
    {Words::LowerVyr2, Words::LpIoLink, Words::LowerVyr1, Words::Proc5},
    {Words::LowerVyr1, Words::Proc6, Words::LowerVyr2, Words::LpIoLink},
};

void FormatQpiLink(uint16_t code, const KdlClassData &d, const Reporter &r, KdlText &text)
{
    const uint8_t b = d.Byte(1);
    const bool upper = d.Byte(0) == kUpperReporter;
    const int row = upper ? b : 7 - b;
    const uint8_t within = static_cast<uint8_t>(upper ? b + 1 : 4 - b);
    const uint8_t across = static_cast<uint8_t>(upper ? b + 1 : b + 5);
    // A processor byte past the eight rows has no known peer.
    const char *peer = row >= 0 && row < 8 ? Word(kLinkPeers[row][d.Byte(2) % 4]) : Word(Words::Unknown);
    switch (d.Byte(3)) {
    case 3:
    case 4:
        KdlPut(text, Vyr::Rows[Vyr::QpiTraining], static_cast<int>(across), r.Name, static_cast<int>(within), peer,
               r.LowerCase, Byte(d, 3));
        break;
    case 2:
        KdlPut(text, Vyr::Rows[Vyr::QpiReduced], static_cast<int>(across), r.Name, static_cast<int>(within), peer,
               r.LowerCase, Byte(d, 3));
        break;
    default: KdlPut(text, Vyr::Rows[Vyr::QpiOther], static_cast<int>(code)); break;
    }
}

// Code 8: the link between the two boards, by a key of the VYR number, byte 2 and byte 0.
void FormatBoardLink(const KdlClassData &d, const Reporter &r, KdlText &text)
{
    struct Link {
        uint8_t Key; // the high byte of the key
        uint8_t Kind, Own, Other;
    };
    static constexpr Link kLinks[] = {
        {0x10, Words::External, Words::Port4, Words::Port1}, {0x11, Words::External, Words::Port3, Words::Port2},
        {0x12, Words::Internal, Words::None, Words::None},   {0x13, Words::Internal, Words::None, Words::None},
        {0x14, Words::External, Words::Port2, Words::Port3}, {0x15, Words::External, Words::Port1, Words::Port4},
        {0x20, Words::External, Words::Port5, Words::Port8}, {0x21, Words::External, Words::Port8, Words::Port5},
        {0x22, Words::External, Words::Port6, Words::Port7}, {0x23, Words::External, Words::Port7, Words::Port6},
        {0x24, Words::Internal, Words::None, Words::None},   {0x25, Words::Internal, Words::None, Words::None},
    };
    const uint8_t n = static_cast<uint8_t>(d.Byte(1) + 1);
    const uint16_t key = static_cast<uint16_t>(n << 12 | d.Byte(2) << 8 | d.Byte(0));
    const uint8_t low = key & 0xFF;
    const Link *link = nullptr;
    if (low == kUpperReporter || low == kLowerReporter)
        for (const Link &l : kLinks)
            if (l.Key == key >> 8)
                link = &l;
    if (link == nullptr) {
        KdlPut(text, Vyr::Rows[Vyr::LinkOther], r.LowerCase, Byte(d, 1), Byte(d, 2), Byte(d, 3));
        return;
    }
    const auto format = d.Byte(3) == 3 ? KdlFormat<const char *, const char *, int, const char *, const char *, int,
                                                   const char *, const char *, unsigned>(Vyr::Rows[Vyr::LinkTraining])
                                       : KdlFormat<const char *, const char *, int, const char *, const char *, int,
                                                   const char *, const char *, unsigned>(Vyr::Rows[Vyr::LinkReduced]);
    KdlPut(text, format, Word(link->Kind), r.Name, static_cast<int>(n), Word(link->Own), r.Other, static_cast<int>(n),
           Word(link->Other), r.LowerCase, Byte(d, 3));
}

void FormatDisabled(const KdlClassData &d, const Reporter &r, KdlText &text)
{
    const MaskWords m = MaskWordsOf(d.Byte(1), Words::UpperTray, Words::LowerTray);
    // Five detail fields for the four bytes 2 to 5: the fifth is byte 6, 0 when the entry ends before.
    KdlPut(text, Vyr::Rows[Vyr::Disabled], m.Word[0], m.Word[1], m.Word[2], m.Word[3], m.Word[4], m.Word[5], m.Word[6],
           m.Word[7], m.Word[8], m.Word[9], r.LowerCase, Byte(d, 2), Byte(d, 3), Byte(d, 4), Byte(d, 5), Byte(d, 6));
}

const char *IoBoard(uint8_t value)
{
    switch (value) {
    case 0: return Word(Words::MainIo);
    case 1: return Word(Words::SubIo);
    case 2: return Word(Words::LowProfileIo);
    default: return Word(Words::UnrecognizedIo);
    }
}

// Codes 192 to 197: the chip, then the detail bytes from first up to byte 0 minus 1 that arrived.
void FormatChipError(uint16_t code, const KdlClassData &d, KdlText &text)
{
    const char *board = Word(d.Byte(1) & 2 ? Words::Lower : Words::Upper);
    const int vyr = d.Byte(1) & 1 ? 2 : 1;
    size_t first = 2;
    switch (code) {
    case 192: KdlPut(text, Vyr::Rows[Vyr::ChipError], board, vyr); break;
    case 193: KdlPut(text, Vyr::Rows[Vyr::ChipCorrectable], board, vyr); break;
    case 196: KdlPut(text, Vyr::Rows[Vyr::FabricError], board, vyr, static_cast<int>(d.Byte(2))); first = 3; break;
    default: KdlPut(text, Vyr::Rows[Vyr::FabricCorrectable], board, vyr, static_cast<int>(d.Byte(2))); first = 3; break;
    }
    const size_t end = std::min<size_t>(d.Byte(0), d.Size());
    for (size_t offset = first; offset < end && text.Length() < text.Capacity() - 1; ++offset)
        KdlAppend(text, Vyr::Rows[Vyr::ListedByte], Byte(d, offset));
}

} // namespace

void FormatVyrBoardEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    const Reporter r = ReporterOf(d.Byte(0));
    switch (code) {
    case 1: FormatSideBandFailure(d, r, text); break;
    case 2:
        KdlPut(text, Vyr::Rows[Vyr::Access], AccessTarget(d), r.LowerCase, Byte(d, 1), BigEndianValue(d, 3, 4),
               BigEndianValue(d, 7, 4), Byte(d, 2));
        break;
    case 4: FormatConfiguration(d, r, text); break;
    case 6: FormatInitFailure(d, r, text); break;
    case 7: FormatQpiLink(code, d, r, text); break;
    case 8: FormatBoardLink(d, r, text); break;
    case 9: KdlPut(text, Vyr::Rows[Vyr::CubeTimeout], r.Other, r.LowerCase); break;
    case 10: KdlPut(text, Vyr::Rows[Vyr::CubeNotDetected], r.Other, r.LowerCase); break;
    case 53:
        if (d.Byte(1) == 0)
            KdlPut(text, Vyr::Rows[Vyr::NoProcessors], r.LowerCase);
        else
            KdlPut(text, Vyr::Rows[Vyr::Degraded], static_cast<int>(d.Byte(1)), r.LowerCase);
        break;
    case 57: FormatDisabled(d, r, text); break;
    case 64: KdlPut(text, Vyr::Rows[Vyr::IoDisabled], IoBoard(d.Byte(1)), r.LowerCase, Byte(d, 2), Byte(d, 3), Byte(d, 4)); break;
    case 52:
    case 81:
    case 131:
    case 132: KdlPutByCode<ReporterOnly>(text, code, r.LowerCase); break;
    case 128:
    case 129:
    case 130: KdlPutByCode<ReporterDetail>(text, code, r.LowerCase, Byte(d, 1)); break;
    case 192:
    case 193:
    case 196:
    case 197: FormatChipError(code, d, text); break;
    default: KdlPut(text, Vyr::Rows[Vyr::UnknownCode], static_cast<unsigned>(code)); break;
    }
}

std::span<const KdlTextGroup> VyrBoardTexts()
{
    return kTexts;
}
