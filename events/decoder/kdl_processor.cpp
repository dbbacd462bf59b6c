// Class 4: accelerator cache; 5: processors and machine checks; 6: host bus, intermodule bus,
// QuickPath interconnect and chipset; 7: EISA expansion bus; 8: PCI bus and PCI Express; 9:
// expansion slots and adapters; 20: unrecoverable system errors.
#include "kdl_formatters.h"
#include "kdl_format.h"
#include "kdl_names.h"

#include <iterator>

namespace {

struct Accelerator {
    static constexpr KdlTextRow Rows[] = {
        {4, 1, "Accelerator Cache Memory Parity Error (Socket %s)"},
    };
};
// Codes 1 and 2 name the processor by board, 4 and 5 by tray.
struct ProcessorBoard {
    static constexpr KdlTextRow Rows[] = {
        {5, 1, "Processor Correctable error threshold exceeded (Board %s, Processor %s)"},
        {5, 2, "Processor Uncorrectable internal error (Board %s, Processor %s)"},
    };
};
struct ProcessorTray {
    static constexpr KdlTextRow Rows[] = {
        {5, 4, "Processor Correctable error threshold exceeded (Proc %s (%s Tray, Processor %s))"},
        {5, 5, "Processor Uncorrectable internal error (Proc %s (%s Tray, Processor %s))"},
    };
};
struct MachineCheck {
    static constexpr KdlTextRow Rows[] = {
        {5, 3, "Uncorrectable Machine Check Exception (Board %u, Processor %u, APIC ID 0x%08X, Bank 0x%08X, Status 0x%08X'%08X, Address 0x%08X'%08X, Misc 0x%08X'%08X)"},
        {5, 6, "Uncorrectable Machine Check Exception (Proc %u (%s Tray, Processor %u), APIC ID 0x%08X, Bank 0x%08X, Status 0x%08X'%08X, Address 0x%08X'%08X, Misc 0x%08X'%08X)"},
    };
    enum : uint8_t { Board, Tray };
};
struct HostBus {
    static constexpr KdlTextRow Rows[] = {
        {6, 1, "Unrecoverable Host Bus Address Parity error"},
        {6, 1, "Unrecoverable Host Bus Data Parity error"},
        {6, 2, "Unrecoverable Intermodule Bus error (Error code %s)"},
        {6, 3, "Uncorrectable QuickPath Interconnect Error (Local interface error status %s, Protocol error status %s)"},
        {6, 4, "Uncorrectable Chipset Error (Error status 1 %s, Error status 2 %s)"},
    };
    enum : uint8_t { AddressParity, DataParity, Intermodule, QuickPath, Chipset };
};
struct EisaSlot {
    static constexpr KdlTextRow Rows[] = {
        {7, 1, "EISA Expansion Bus Master Timeout (Slot %s)"},
        {7, 3, "EISA Expansion Board Error (Slot %s)"},
    };
};
struct EisaBus {
    static constexpr KdlTextRow Rows[] = {
        {7, 2, "EISA Expansion Bus Slave Timeout"},
        {7, 4, "EISA Expansion Bus Arbitration Error"},
    };
};
struct Pci {
    static constexpr KdlTextRow Rows[] = {
        {8, 1, "PCI Bus Error (Slot %s, Bus %s, Device %s, Function %s)"},
        {8, 1, "PCI Bus Error (Chassis %s, Slot %s, Bus %s, Device %s, Function %s)"},
        {8, 2, "Uncorrectable PCI Express Error (%s, Bus %d, Device %d, Function %d, Error status %s)"},
        {8, 2, "Embedded device"},
        {8, 2, "Slot %s"},
    };
    enum : uint8_t { Bus, ChassisBus, Express, Embedded, Slot };
};
struct Slot {
    static constexpr KdlTextRow Rows[] = {
        {9, 1, "Slot Release Lever Opened (Slot %s)"},
        {9, 2, "Slot Release Lever Closed (Slot %s)"},
        {9, 3, "Slot Power On (Slot %s)"},
        {9, 4, "Slot Power Off (Slot %s)"},
        {9, 5, "Slot Power Fault (Slot %s)"},
        {9, 6, "Slot Power Up Fault (Slot %s)"},
        {9, 7, "Unexpected Slot Power Loss (Slot %s)"},
        {9, 8, "Adapter Initialization Failure (Slot %s)"},
        {9, 9, "Adapter Failure (Slot %s)"},
    };
};
struct ChassisSlot {
    static constexpr KdlTextRow Rows[] = {
        {9, 1, "Slot Release Lever Opened (Chassis %s, Slot %s)"},
        {9, 2, "Slot Release Lever Closed (Chassis %s, Slot %s)"},
        {9, 3, "Slot Power On (Chassis %s, Slot %s)"},
        {9, 4, "Slot Power Off (Chassis %s, Slot %s)"},
        {9, 5, "Slot Power Fault (Chassis %s, Slot %s)"},
        {9, 6, "Slot Power Up Fault (Chassis %s, Slot %s)"},
        {9, 7, "Unexpected Slot Power Loss (Chassis %s, Slot %s)"},
        {9, 8, "Adapter Initialization Failure (Chassis %s, Slot %s)"},
        {9, 9, "Adapter Failure (Chassis %s, Slot %s)"},
    };
};
struct SystemError {
    static constexpr KdlTextRow Rows[] = {
        {20, 1, "An Unrecoverable System Error (NMI) has occurred"},
        {20, 2, "An Unrecoverable System Error (BINIT) has occurred"},
        {20, 3, "An Unrecoverable System Error (NMI) has occurred (%s)"},
        {20, 3, "%s, Service Information: %s, %s"},
        {20, 3, "Service Information: %s, %s"},
        {20, 4, "Uncorrectable Chipset Error (Error status 1 %s, Error status 2 %s)"},
        {20, 5, "Unrecoverable System Error (NMI) has occurred.  System Firmware will log additional details in a separate KDL entry if possible"},
        {20, 6, "Corrupted Data Detected.  Refer to previous events to determine the source"},
        {20, 7, "Server Critical Fault (Service Information: %s)"},
    };
    enum : uint8_t { Nmi, Binit, NmiDetail, SourceInfo, Info, Chipset, NmiLogged, Corrupted, CriticalFault };
};
// The sources of the NMI of class 20 code 3, by byte 0.
struct NmiSource {
    static constexpr KdlTextRow Rows[] = {
        {20, 3, "ASR timeout NMI"},
        {20, 3, "oXB NMI messaging"},
        {20, 3, "oXB application watchdog timeout NMI"},
    };
    static constexpr uint8_t Values[] = {27, 41, 43};
    static_assert(std::size(Values) == std::size(Rows));
};

const KdlTextGroup kTexts[] = {Accelerator::Rows, ProcessorBoard::Rows, ProcessorTray::Rows, MachineCheck::Rows,
                               HostBus::Rows,     EisaSlot::Rows,       EisaBus::Rows,       Pci::Rows,
                               Slot::Rows,        ChassisSlot::Rows,    SystemError::Rows,   NmiSource::Rows};

KdlField Number(const KdlClassData &d, size_t offset) { return FormatByteOrUnknown(d.Byte(offset)); }
KdlField Hex(const KdlClassData &d, size_t offset) { return FormatHex32(d.U32(offset)); }
unsigned Word(const KdlClassData &d, size_t offset) { return d.U32(offset); }

// A machine-check record: the APIC ID, the bank, then status, address and miscellaneous value,
// each 64-bit value printed high half first.
template <typename... Position>
void PutMachineCheck(KdlText &text, KdlFormat<std::type_identity_t<Position>..., unsigned, unsigned, unsigned, unsigned,
                                              unsigned, unsigned, unsigned, unsigned>
                                        format,
                     const KdlClassData &d, const Position &...position)
{
    KdlPut(text, format, position..., Word(d, 2), Word(d, 6), Word(d, 14), Word(d, 10), Word(d, 22), Word(d, 18),
           Word(d, 30), Word(d, 26));
}

// The detail of class 20 code 3: the source of the NMI when byte 0 names one, then the two words.
KdlField NmiServiceInfo(const KdlClassData &d)
{
    for (size_t i = 0; i < std::size(NmiSource::Values); ++i)
        if (NmiSource::Values[i] == d.Byte(0))
            return KdlFieldOf(SystemError::Rows[SystemError::SourceInfo], KdlWord<NmiSource>(i), Hex(d, 0), Hex(d, 4));
    return KdlFieldOf(SystemError::Rows[SystemError::Info], Hex(d, 0), Hex(d, 4));
}

} // namespace

void FormatAcceleratorEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    KdlPutByCode<Accelerator>(text, code, Number(d, 0));
}

void FormatProcessorEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    // Codes 1, 2, 4 and 5 hold the processor in byte 0 and the board or tray in byte 1; the
    // machine checks hold them the other way round.
    switch (code) {
    case 1:
    case 2: KdlPutByCode<ProcessorBoard>(text, code, Number(d, 1), Number(d, 0)); break;
    case 4:
    case 5: KdlPutByCode<ProcessorTray>(text, code, Number(d, 3), UpperLowerName(d.Byte(1)), Number(d, 0)); break;
    case 3:
        PutMachineCheck(text, MachineCheck::Rows[MachineCheck::Board], d, static_cast<unsigned>(d.Byte(0)),
                        static_cast<unsigned>(d.Byte(1)));
        break;
    case 6:
        PutMachineCheck(text, MachineCheck::Rows[MachineCheck::Tray], d, static_cast<unsigned>(d.Byte(34)),
                        UpperLowerName(d.Byte(0)), static_cast<unsigned>(d.Byte(1)));
        break;
    default: break;
    }
}

void FormatHostBusEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    switch (code) {
    case 1:
        if (d.Byte(0) == 0)
            KdlPut(text, HostBus::Rows[HostBus::AddressParity]);
        else if (d.Byte(0) == 1)
            KdlPut(text, HostBus::Rows[HostBus::DataParity]);
        break;
    case 2: KdlPut(text, HostBus::Rows[HostBus::Intermodule], Hex(d, 0)); break;
    case 3: KdlPut(text, HostBus::Rows[HostBus::QuickPath], Hex(d, 0), Hex(d, 4)); break;
    case 4: KdlPut(text, HostBus::Rows[HostBus::Chipset], Hex(d, 0), Hex(d, 4)); break;
    default: break;
    }
}

void FormatEisaEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    if (!KdlPutByCode<EisaSlot>(text, code, Number(d, 0)))
        KdlPutByCode<EisaBus>(text, code);
}

void FormatPciBusEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    switch (code) {
    case 1:
        if (d.Byte(1) == 0)
            KdlPut(text, Pci::Rows[Pci::Bus], Number(d, 3), Number(d, 4), Number(d, 5), Number(d, 6));
        else
            KdlPut(text, Pci::Rows[Pci::ChassisBus], Number(d, 1), Number(d, 3), Number(d, 4), Number(d, 5),
                   Number(d, 6));
        break;
    case 2: {
        const KdlField place = d.Byte(0) == 0 ? KdlFieldOf(Pci::Rows[Pci::Embedded])
                                              : KdlFieldOf(Pci::Rows[Pci::Slot], Number(d, 0));
        KdlPut(text, Pci::Rows[Pci::Express], place, static_cast<int>(d.Byte(1)), static_cast<int>(d.Byte(2)),
               static_cast<int>(d.Byte(3)), Hex(d, 4));
        break;
    }
    default: break;
    }
}

void FormatSlotEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    if (d.Byte(1) == 0)
        KdlPutByCode<Slot>(text, code, Number(d, 3));
    else
        KdlPutByCode<ChassisSlot>(text, code, Number(d, 1), Number(d, 3));
}

void FormatSystemErrorEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    const auto &rows = SystemError::Rows;
    switch (code) {
    case 1: KdlPut(text, rows[SystemError::Nmi]); break;
    case 2: KdlPut(text, rows[SystemError::Binit]); break;
    case 3: KdlPut(text, rows[SystemError::NmiDetail], NmiServiceInfo(d)); break;
    case 4: KdlPut(text, rows[SystemError::Chipset], Hex(d, 0), Hex(d, 4)); break;
    case 5: KdlPut(text, rows[SystemError::NmiLogged]); break;
    case 6: KdlPut(text, rows[SystemError::Corrupted]); break;
    case 7: KdlPut(text, rows[SystemError::CriticalFault], d.String(0)); break;
    default: break;
    }
}

std::span<const KdlTextGroup> ProcessorTexts()
{
    return kTexts;
}
