// Class 3: memory errors with the modules and serial numbers involved, memory boards and
// cartridges, online spare and mirrored memory, hot-added memory, and the memory initialisation
// failures reported by the system firmware.
#include "kdl_formatters.h"
#include "kdl_format.h"

#include <algorithm>
#include <cstring>

namespace {

// The location forms of one module (or bank), each without and with a serial number.
struct CorrectedError {
    static constexpr KdlTextRow NotLocated[] = {
        {3, 1, "Corrected Memory Error threshold exceeded (Memory Module Unknown)"},
        {3, 1, "Corrected Memory Error threshold exceeded (Memory Module Unknown, Serial Number %s)"},
    };
    static constexpr KdlTextRow System[] = {
        {3, 1, "Corrected Memory Error threshold exceeded (System Memory)"},
        {3, 1, "Corrected Memory Error threshold exceeded (System Memory, Serial Number %s)"},
    };
    static constexpr KdlTextRow SystemModule[] = {
        {3, 1, "Corrected Memory Error threshold exceeded (System Memory, Memory Module %s)"},
        {3, 1, "Corrected Memory Error threshold exceeded (System Memory, Memory Module %s, Serial Number %s)"},
    };
    static constexpr KdlTextRow Board[] = {
        {3, 1, "Corrected Memory Error threshold exceeded (Board %s, Memory Module %s)"},
        {3, 1, "Corrected Memory Error threshold exceeded (Board %s, Memory Module %s, Serial Number %s)"},
    };
};
struct UncorrectableError {
    static constexpr KdlTextRow NotLocated[] = {
        {3, 2, "Uncorrectable Memory Error (Module Unknown)"},
        {3, 2, "Uncorrectable Memory Error (Module Unknown, Serial Number %s)"},
    };
    static constexpr KdlTextRow System[] = {
        {3, 2, "Uncorrectable Memory Error (System Memory)"},
        {3, 2, "Uncorrectable Memory Error (System Memory, Serial Number %s)"},
    };
    static constexpr KdlTextRow SystemModule[] = {
        {3, 2, "Uncorrectable Memory Error (System Memory, Memory Module %s)"},
        {3, 2, "Uncorrectable Memory Error (System Memory, Memory Module %s, Serial Number %s)"},
    };
    static constexpr KdlTextRow Board[] = {
        {3, 2, "Uncorrectable Memory Error (Board %s, Memory Module %s)"},
        {3, 2, "Uncorrectable Memory Error (Board %s, Memory Module %s, Serial Number %s)"},
    };
};
// Each further module of a list of codes 3 and 19.
struct OrModule {
    static constexpr KdlTextRow NotLocated[] = {
        {3, 3, " or (Module Unknown)"},
        {3, 3, " or (Module Unknown, Serial Number %s)"},
    };
    static constexpr KdlTextRow System[] = {
        {3, 3, " or (System Memory)"},
        {3, 3, " or (System Memory, Serial Number %s)"},
    };
    static constexpr KdlTextRow SystemModule[] = {
        {3, 3, " or (System Memory, Memory Module %s)"},
        {3, 3, " or (System Memory, Memory Module %s, Serial Number %s)"},
    };
    static constexpr KdlTextRow Board[] = {
        {3, 3, " or (Board %s, Memory Module %s)"},
        {3, 3, " or (Board %s, Memory Module %s, Serial Number %s)"},
    };
};
// Code 10 names a bank; its system form without a bank is that of code 1.
struct BankError {
    static constexpr KdlTextRow NotLocated[] = {
        {3, 10, "Corrected Memory Error threshold exceeded (Bank Unknown)"},
        {3, 10, "Corrected Memory Error threshold exceeded (Bank Unknown, Serial Number %s)"},
    };
    static constexpr const auto &System = CorrectedError::System;
    static constexpr KdlTextRow SystemModule[] = {
        {3, 10, "Corrected Memory Error threshold exceeded (System Memory, Bank %s)"},
        {3, 10, "Corrected Memory Error threshold exceeded (System Memory, Bank %s, Serial Number %s)"},
    };
    static constexpr KdlTextRow Board[] = {
        {3, 10, "Corrected Memory Error threshold exceeded (Board %s, Bank %s)"},
        {3, 10, "Corrected Memory Error threshold exceeded (Board %s, Bank %s, Serial Number %s)"},
    };
};

struct Memory {
    static constexpr KdlTextRow Rows[] = {
        {3, 4, "Memory Cartridge Removed (Slot %s)"},
        {3, 4, "Memory Board Removed (Slot %s)"},
        {3, 4, "Memory Cartridge Inserted (Slot %s)"},
        {3, 4, "Memory Board Inserted (Slot %s)"},
        {3, 4, "Memory Cartridge Unlocked (Slot %s)"},
        {3, 4, "Memory Cartridge Locked (Slot %s)"},
        {3, 5, "Memory Cartridge Bus Fault (Slot %s)"},
        {3, 5, "Memory Cartridge Power Fault (Slot %s)"},
        {3, 5, "Memory Cartridge Not Redundant (Slot %s)"},
        {3, 5, "Memory Cartridge Online (Slot %s)"},
        {3, 6, "Memory Cartridge Configuration Error (Slot %s, Memory Module %s)"},
        {3, 6, "Memory Board Configuration Error (Slot %s, Memory Module %s)"},
        {3, 7, "Memory Added (Size %s MB)"},
        {3, 7, "Memory Successfully Removed"},
        {3, 8, "Online Spare Memory Copy Process Started for Faulty Module (System Memory, Memory Module %s)"},
        {3, 8, "Online Spare Memory Copy Process Started for Faulty Module (Board %s, Memory Module %s)"},
        {3, 9, "Mirrored Memory Engaged for Faulty Module (System Memory, Memory Module %s)"},
        {3, 9, "Mirrored Memory Engaged for Faulty Module (Board %s, Memory Module %s)"},
        {3, 11, "Online Spare Memory Copy Process Started for Faulty Module (Module Unknown)"},
        {3, 11, "Online Spare Memory Copy Process Started for Faulty Module (System Memory, Bank %s)"},
        {3, 11, "Online Spare Memory Copy Process Started for Faulty Module (Board %s, Bank %s)"},
        {3, 12, "Mirrored Memory Engaged for Faulty Module (Module Unknown)"},
        {3, 12, "Mirrored Memory Engaged for Faulty Module (System Memory, Bank %s)"},
        {3, 12, "Mirrored Memory Engaged for Faulty Module (Board %s, Bank %s)"},
        {3, 13, "Loss of Mirroring in Memory Subsystem"},
        {3, 14, "Online Spare Memory Disabled"},
        {3, 15, "Memory Subsystem Not In RAID Mode"},
        {3, 16, "Online Spare Memory Switchover Complete"},
        {3, 17, "Memory Board Failure (Board %s)"},
        {3, 18, "Board %d, "},
        {3, 18, ", Serial Number %s"},
        {3, 18, ", Spare Number "},
        {3, 18, "Uncorrectable Memory Error detected by ROM-based memory validation (unable to isolate to single module) (%sMemory Module %d%s)"},
        {3, 18, "Uncorrectable Memory Error detected by ROM-based memory validation (%sMemory Module %d%s)"},
        {3, 20, ", or "},
        {3, 20, ", Serial Number "},
        {3, 20, "(Processor %s, Memory Module %s%s)"},
        {3, 20, "Corrected Memory Error threshold exceeded (%s)"},
        {3, 21, "Online Spare Memory Copy Process Started for Faulty Module (Processor %s, Memory Module %s%s)"},
        {3, 22, "Mirrored Memory Engaged for Faulty Module (Processor %s, Memory Module %s%s)"},
        {3, 23, "Uncorrectable Memory Error (%s)"},
        {3, 24, "(Board %s, Memory Module %s%s)"},
        {3, 24, "Mirrored Memory Engaged by Uncorrectable Memory Error (%s)"},
        {3, 65, "High rate of corrected memory errors, performance may be degraded (%s %u, Memory Module %u). Action: Reseat the memory module. If the errors persist, contact Support."},
        {3, 65, "Board"},
        {3, 65, "Processor"},
        {3, 65, "Board/CPU"},
    };
    enum : uint8_t {
        CartridgeRemoved, BoardRemoved, CartridgeInserted, BoardInserted, CartridgeUnlocked, CartridgeLocked,
        CartridgeBusFault, CartridgePowerFault, CartridgeNotRedundant, CartridgeOnline, CartridgeConfiguration,
        BoardConfiguration, Added, Removed, SpareSystem, SpareBoard, MirroredSystem, MirroredBoard, SpareBankUnknown,
        SpareBankSystem, SpareBankBoard, MirroredBankUnknown, MirroredBankSystem, MirroredBankBoard, MirroringLost,
        SpareDisabled, NotRaid, SwitchoverComplete, BoardFailure, ValidationBoard, ValidationSerial,
        ValidationSpare, ValidationNotIsolated, Validation, ListJoin, ListSerial, ProcessorEntry, CorrectedList,
        SpareProcessor, MirroredProcessor, UncorrectableList, BoardEntry, MirroredList, HighErrorRate,
        RateBoard, RateProcessor, RateEither,
    };
};

// Codes 32 to 64: memory initialisation, with the board in byte 0 and the module in byte 1.
struct InitialisationOnly {
    static constexpr KdlTextRow Rows[] = {
        {3, 32, "No system memory found"},
        {3, 45, "Unknown memory warning"},
        {3, 54, "ICH chip initialization failure"},
        {3, 56, "Early memory test failure"},
        {3, 58, "Memory data structure failure"},
    };
};
struct InitialisationModule {
    static constexpr KdlTextRow Rows[] = {
        {3, 33, "Incompatible memory module (Board %d, Memory Module %d)"},
        {3, 34, "Lockstep memory module pair not same type and size (Board %d, Memory Module %d)"},
        {3, 35, "Rank disabled to allow memory operation (Board %d, Memory Module %d)"},
        {3, 36, "Memory module failure prevented bus training (Board %d, Memory Module %d)"},
        {3, 37, "Memory module not supported (Board %d, Memory Module %d)"},
        {3, 38, "Memory module not populated correctly (Board %d, Memory Module %d)"},
        {3, 39, "Memory module calibration failed (Board %d, Memory Module %d)"},
        {3, 42, "Memory module thermal throttling not sufficient for installed module (Board %d, Memory Module %d)"},
        {3, 53, "Memory SPD CRC failure (Board %d, Memory Module %d)"},
    };
};
struct InitialisationBoard {
    static constexpr KdlTextRow Rows[] = {
        {3, 40, "Memory module distribution not supported in current interleave mode (Board %d)"},
        {3, 41, "Quad memory module loading order violated (Board %d)"},
        {3, 43, "SMI lane failover detected, spare SMI lane in use (Board %d)"},
        {3, 44, "Memory module bus termination fault (Board %d)"},
        {3, 46, "SMI link training failed (Board %d)"},
        {3, 47, "Memory built-in self test failed (Board %d)"},
        {3, 48, "Memory module rank not found (Board %d)"},
        {3, 49, "SMBus access fault (Board %d)"},
        {3, 50, "Memory board configuration through SMI link failed (Board %d)"},
        {3, 51, "Memory bus training failed (Board %d)"},
        {3, 52, "Memory board reset failed (Board %d)"},
        {3, 55, "Memory board mixing found (Board %d)"},
        {3, 57, "Memory data calibration failure (Board %d)"},
        {3, 59, "Inband configuration access timeout (Board %d)"},
        {3, 60, "DIMM not found on memory board (Board %d)"},
        {3, 61, "Memory board not present (Board %d)"},
        {3, 62, "Memory board initialization failure (Board %d)"},
        {3, 63, "DIMM low voltage failure (Board %d)"},
        {3, 64, "DIMM clock ratio not found (Board %d)"},
    };
};

const KdlTextGroup kTexts[] = {
    CorrectedError::NotLocated, CorrectedError::System, CorrectedError::SystemModule, CorrectedError::Board,
    UncorrectableError::NotLocated, UncorrectableError::System, UncorrectableError::SystemModule,
    UncorrectableError::Board, OrModule::NotLocated, OrModule::System, OrModule::SystemModule, OrModule::Board,
    BankError::NotLocated, BankError::SystemModule, BankError::Board, Memory::Rows, InitialisationOnly::Rows,
    InitialisationModule::Rows, InitialisationBoard::Rows,
};

constexpr const auto &kRows = Memory::Rows;

// The serial list of the module-list codes is handled in 512 bytes and each serial number in
// 80; longer ones are cut to fit.
constexpr size_t kSerialListChars = 511, kSerialChars = 79, kModuleListChars = 511;
constexpr size_t kListedModules = 4;
constexpr size_t kModuleCount = 0, kSerialList = 9, kSerialAt = 2;

struct SerialNumbers {
    KdlField Number[kListedModules];
};

// Splits the comma-separated serial list into at most `pieces` serial numbers, each with its
// white space squeezed; a module without a piece has an empty serial number.
SerialNumbers SplitSerialList(const KdlClassData &d, size_t pieces)
{
    SerialNumbers serials;
    KdlField list = d.String(kSerialList);
    list.Text[kSerialListChars] = '\0';
    const char *at = list.Text;
    for (size_t i = 0; i < std::min(pieces, kListedModules); ++i) {
        const char *comma = std::strchr(at, ',');
        size_t length = comma ? static_cast<size_t>(comma - at) : std::strlen(at);
        KdlField piece;
        std::memcpy(piece.Text, at, length);
        serials.Number[i] = SqueezeSpaces(piece.c_str());
        serials.Number[i].Text[kSerialChars] = '\0';
        if (comma == nullptr)
            break;
        at = comma + 1;
    }
    return serials;
}

template <typename... Args>
void Write(bool append, KdlText &text, KdlFormat<std::type_identity_t<Args>...> format, const Args &...args)
{
    if (append)
        KdlAppend(text, format, args...);
    else
        KdlPut(text, format, args...);
}

// One module by the location rule: neither board nor module known, the system memory as a
// whole, a module of the system memory, or a module of a board; each with its serial number
// when there is one.
template <typename Group>
void WriteModule(bool append, KdlText &text, uint8_t board, const KdlField &module, uint8_t moduleByte,
                 const KdlField &serial)
{
    const bool withSerial = !serial.empty();
    if (board == 0xFF && moduleByte == 0xFF) {
        if (withSerial)
            Write(append, text, Group::NotLocated[1], serial);
        else
            Write(append, text, Group::NotLocated[0]);
    } else if (board == 0 && moduleByte == 0xFF) {
        if (withSerial)
            Write(append, text, Group::System[1], serial);
        else
            Write(append, text, Group::System[0]);
    } else if (board == 0) {
        if (withSerial)
            Write(append, text, Group::SystemModule[1], module, serial);
        else
            Write(append, text, Group::SystemModule[0], module);
    } else {
        const KdlField boardText = FormatByteOrUnknown(board);
        if (withSerial)
            Write(append, text, Group::Board[1], boardText, module, serial);
        else
            Write(append, text, Group::Board[0], boardText, module);
    }
}

template <typename Group>
void FormatSingleModule(const KdlClassData &d, KdlText &text)
{
    WriteModule<Group>(false, text, d.Byte(0), FormatByteOrUnknown(d.Byte(1)), d.Byte(1), d.String(kSerialAt));
}

// Codes 3 and 19: the first module makes the line (whatever the count, 0 included), each further
// one is appended with " or ".
template <typename First>
void FormatModuleList(const KdlClassData &d, KdlText &text)
{
    const SerialNumbers serials = SplitSerialList(d, kListedModules);
    const size_t count = std::min<size_t>(d.Byte(kModuleCount), kListedModules);
    for (size_t i = 0; i == 0 || i < count; ++i) {
        const uint8_t module = d.Byte(1 + 2 * i), board = d.Byte(2 + 2 * i);
        if (i == 0)
            WriteModule<First>(false, text, board, FormatByteOrUnknown(module), module, serials.Number[i]);
        else
            WriteModule<OrModule>(true, text, board, FormatByteOrUnknown(module), module, serials.Number[i]);
    }
}

// ", Serial Number <serial>" when there is a serial number, else nothing.
KdlField SerialPart(const KdlField &serial)
{
    if (serial.empty())
        return {};
    KdlField part = KdlFieldOf(kRows[Memory::ListSerial]);
    KdlText view(part.Text, sizeof part.Text);
    view.Append("%s", serial.c_str());
    return part;
}

// Codes 20, 23, 24 and 25: an entry per module joined with ", or ", inside the code's outer text.
void FormatJoinedModuleList(const KdlClassData &d, KdlFormat<KdlField, KdlField, KdlField> entry,
                            KdlFormat<KdlField> outer, KdlText &text)
{
    const size_t count = d.Byte(kModuleCount);
    const SerialNumbers serials = SplitSerialList(d, count);
    KdlField list;
    KdlText joined(list.Text, kModuleListChars + 1);
    for (size_t i = 0; i == 0 || (i < count && i < kListedModules); ++i) {
        if (i > 0)
            KdlAppend(joined, kRows[Memory::ListJoin]);
        KdlAppend(joined, entry, FormatByteOrUnknown(d.Byte(2 + 2 * i)), FormatByteOrUnknown(d.Byte(1 + 2 * i)),
                  SerialPart(serials.Number[i]));
    }
    KdlPut(text, outer, list);
}

// Code 18: the module that the ROM's memory validation found, possibly not isolated to it.
void FormatRomMemoryValidationError(const KdlClassData &d, KdlText &text)
{
    KdlField board;
    if (d.Byte(0) != 0)
        board = KdlFieldOf(kRows[Memory::ValidationBoard], static_cast<int>(d.Byte(0)));
    constexpr size_t kSerial = 4;
    const KdlField serial = d.String(kSerial), spare = d.String(d.After(kSerial));
    KdlField tail;
    KdlText tailText(tail.Text, sizeof tail.Text);
    if (!serial.empty())
        KdlAppend(tailText, kRows[Memory::ValidationSerial], serial);
    if (!spare.empty()) {
        KdlAppend(tailText, kRows[Memory::ValidationSpare]);
        tailText.Append("%s", spare.c_str());
    }
    const int module = d.Byte(1);
    if (d.Byte(3) & 0x01)
        KdlPut(text, kRows[Memory::ValidationNotIsolated], board, module, tail);
    else
        KdlPut(text, kRows[Memory::Validation], board, module, tail);
}

void FormatCartridge(const KdlClassData &d, KdlText &text)
{
    const KdlField slot = FormatByteOrUnknown(d.Byte(0));
    const uint8_t action = d.Byte(1), unit = d.Byte(2);
    if (action == 0 && unit == 1)
        KdlPut(text, kRows[Memory::CartridgeRemoved], slot);
    else if (action == 0 && unit == 0)
        KdlPut(text, kRows[Memory::BoardRemoved], slot);
    else if (action == 1 && unit == 1)
        KdlPut(text, kRows[Memory::CartridgeInserted], slot);
    else if (action == 1 && unit == 0)
        KdlPut(text, kRows[Memory::BoardInserted], slot);
    else if (action == 2)
        KdlPut(text, kRows[Memory::CartridgeUnlocked], slot);
    else if (action == 3)
        KdlPut(text, kRows[Memory::CartridgeLocked], slot);
}

void FormatCartridgeState(const KdlClassData &d, KdlText &text)
{
    const KdlField slot = FormatByteOrUnknown(d.Byte(0));
    switch (d.Byte(1)) {
    case 0: KdlPut(text, kRows[Memory::CartridgeBusFault], slot); break;
    case 1: KdlPut(text, kRows[Memory::CartridgePowerFault], slot); break;
    case 2: KdlPut(text, kRows[Memory::CartridgeNotRedundant], slot); break;
    case 3: KdlPut(text, kRows[Memory::CartridgeOnline], slot); break;
    default: break;
    }
}

// Codes 8 and 9: a module of the system memory or of a board.
void FormatFaultyModule(const KdlClassData &d, KdlFormat<KdlField> system, KdlFormat<KdlField, KdlField> board,
                        KdlText &text)
{
    const KdlField module = FormatByteOrUnknown(d.Byte(1));
    if (d.Byte(0) == 0)
        KdlPut(text, system, module);
    else
        KdlPut(text, board, FormatByteOrUnknown(d.Byte(0)), module);
}

// Codes 11 and 12: a bank of the system memory or of a board, or neither known.
void FormatFaultyBank(const KdlClassData &d, KdlFormat<> unknown, KdlFormat<KdlField> system,
                      KdlFormat<KdlField, KdlField> onBoard, KdlText &text)
{
    const uint8_t board = d.Byte(0), bank = d.Byte(1);
    if (board == 0xFF && bank == 0xFF)
        KdlPut(text, unknown);
    else if (board == 0)
        KdlPut(text, system, FormatCharOrUnknown(bank));
    else
        KdlPut(text, onBoard, FormatByteOrUnknown(board), FormatCharOrUnknown(bank));
}

// Codes 21 and 22: a module of a processor, with the serial number as it stands.
void FormatProcessorModule(const KdlClassData &d, KdlFormat<KdlField, KdlField, KdlField> format, KdlText &text)
{
    KdlPut(text, format, FormatByteOrUnknown(d.Byte(0)), FormatByteOrUnknown(d.Byte(1)),
           SerialPart(d.String(kSerialAt)));
}

void FormatHighErrorRate(const KdlClassData &d, KdlText &text)
{
    KdlField kind;
    if (d.Byte(0) == 0)
        kind = KdlFieldOf(kRows[Memory::RateBoard]);
    else if (d.Byte(0) == 1)
        kind = KdlFieldOf(kRows[Memory::RateProcessor]);
    else
        kind = KdlFieldOf(kRows[Memory::RateEither]);
    KdlPut(text, kRows[Memory::HighErrorRate], kind, static_cast<unsigned>(d.Byte(1)), static_cast<unsigned>(d.Byte(2)));
}

// Codes 32 to 64 by their row: a row's code is the event code it answers.
void FormatInitialisation(uint16_t code, const KdlClassData &d, KdlText &text)
{
    const int board = d.Byte(0), module = d.Byte(1);
    if (!KdlPutByCode<InitialisationOnly>(text, code) && !KdlPutByCode<InitialisationModule>(text, code, board, module))
        KdlPutByCode<InitialisationBoard>(text, code, board);
}

} // namespace

void FormatMemoryEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    switch (code) {
    case 1: FormatSingleModule<CorrectedError>(d, text); break;
    case 2: FormatSingleModule<UncorrectableError>(d, text); break;
    case 3: FormatModuleList<UncorrectableError>(d, text); break;
    case 4: FormatCartridge(d, text); break;
    case 5: FormatCartridgeState(d, text); break;
    case 6:
        if (d.Byte(2) == 1)
            KdlPut(text, kRows[Memory::CartridgeConfiguration], FormatByteOrUnknown(d.Byte(0)),
                   FormatByteOrUnknown(d.Byte(1)));
        else if (d.Byte(2) == 0)
            KdlPut(text, kRows[Memory::BoardConfiguration], FormatByteOrUnknown(d.Byte(0)),
                   FormatByteOrUnknown(d.Byte(1)));
        break;
    case 7:
        if (d.Byte(1) == 0)
            KdlPut(text, kRows[Memory::Added], FormatDwordOrUnknown(d.U32(2)));
        else if (d.Byte(1) == 1)
            KdlPut(text, kRows[Memory::Removed]);
        break;
    case 8: FormatFaultyModule(d, kRows[Memory::SpareSystem], kRows[Memory::SpareBoard], text); break;
    case 9: FormatFaultyModule(d, kRows[Memory::MirroredSystem], kRows[Memory::MirroredBoard], text); break;
    case 10:
        WriteModule<BankError>(false, text, d.Byte(0), FormatCharOrUnknown(d.Byte(1)), d.Byte(1), d.String(kSerialAt));
        break;
    case 11:
        FormatFaultyBank(d, kRows[Memory::SpareBankUnknown], kRows[Memory::SpareBankSystem],
                         kRows[Memory::SpareBankBoard], text);
        break;
    case 12:
        FormatFaultyBank(d, kRows[Memory::MirroredBankUnknown], kRows[Memory::MirroredBankSystem],
                         kRows[Memory::MirroredBankBoard], text);
        break;
    case 13: KdlPut(text, kRows[Memory::MirroringLost]); break;
    case 14: KdlPut(text, kRows[Memory::SpareDisabled]); break;
    case 15: KdlPut(text, kRows[Memory::NotRaid]); break;
    case 16: KdlPut(text, kRows[Memory::SwitchoverComplete]); break;
    case 17: KdlPut(text, kRows[Memory::BoardFailure], FormatByteOrUnknown(d.Byte(0))); break;
    case 18: FormatRomMemoryValidationError(d, text); break;
    case 19: FormatModuleList<CorrectedError>(d, text); break;
    case 20: FormatJoinedModuleList(d, kRows[Memory::ProcessorEntry], kRows[Memory::CorrectedList], text); break;
    case 21: FormatProcessorModule(d, kRows[Memory::SpareProcessor], text); break;
    case 22: FormatProcessorModule(d, kRows[Memory::MirroredProcessor], text); break;
    case 23: FormatJoinedModuleList(d, kRows[Memory::ProcessorEntry], kRows[Memory::UncorrectableList], text); break;
    case 24: FormatJoinedModuleList(d, kRows[Memory::BoardEntry], kRows[Memory::MirroredList], text); break;
    case 25: FormatJoinedModuleList(d, kRows[Memory::ProcessorEntry], kRows[Memory::MirroredList], text); break;
    case 65: FormatHighErrorRate(d, text); break;
    default:
        if (code >= 32 && code <= 64)
            FormatInitialisation(code, d, text);
        break;
    }
}

std::span<const KdlTextGroup> MemoryTexts()
{
    return kTexts;
}
