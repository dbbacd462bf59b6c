#pragma once
// The class formatters the decoder dispatches to (see kdl_decoder.cpp for the table), and the
// text table of each.

#include <cstdint>
#include <span>

#include "kdl_entry.h"
#include "kdl_text.h"
#include "kdl_text_table.h"

// Class 0: an empty log slot.
void FormatEmptyEntry(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 1: a reserved entry.
void FormatReservedEntry(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 2: fans, temperatures, side panels, storage enclosure and controller cooling.
void FormatEnvironmentEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 3: memory errors, boards, cartridges, spare and mirrored memory, initialisation.
void FormatMemoryEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 4: accelerator cache.
void FormatAcceleratorEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 5: processors and machine checks.
void FormatProcessorEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 6: host bus, intermodule bus, QuickPath interconnect, chipset.
void FormatHostBusEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 7: EISA expansion bus.
void FormatEisaEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 8: PCI bus and PCI Express.
void FormatPciBusEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 9: expansion slots and adapters.
void FormatSlotEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 10: power-on self-test and option ROM messages.
void FormatPostEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 11: power supplies and modules, AC power, server power, batteries. The only formatter
// that looks at the length of the class data (code 26).
void FormatPowerEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 13: automatic server recovery.
void FormatAsrEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 14: operating system failures and automatic shutdowns.
void FormatOsEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 17: network adapters.
void FormatNetworkAdapterEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 18: SCSI controllers and devices.
void FormatScsiEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 19: drive array controllers, cache modules and storage enclosures.
void FormatDriveArrayEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 20: unrecoverable system errors.
void FormatSystemErrorEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 32: ROM and firmware flashing.
void FormatFlashEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 33: event log cleared, maintenance notes.
void FormatMaintenanceEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 34: the enclosure and rack around a blade.
void FormatRackInfrastructureEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 37: the node-controller boards of a two-tray server. Writes a text for every code.
void FormatVyrBoardEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 38: storage enclosure devices that fail authentication.
void FormatEnclosureGenuineEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 39: power capping.
void FormatPowerCapEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 40: boot from flash.
void FormatBootFlashEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 41: improperly seated or missing devices.
void FormatDeviceSeatingEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 42: non-volatile memory modules.
void FormatNvdimmEvent(uint16_t code, const KdlClassData &data, KdlText &text);

// The storage enclosure texts: one record layout (side word, unit fields, controller port and
// location) shared by the storage classes and the power class.
enum class KdlEnclosureMember {
    PowerSupplyFailure, // class 11 code 20
    DeviceFailure,      // class 19 codes 7 and 13
    PhyLinkExpander,    // class 19 code 8
    PhyLinkErrorPath,   // class 19 code 10
    ProcessorFailure,   // class 19 code 11
    WearError,          // class 19 code 12
    PhyDisabled,        // class 19 code 15
    PhyLinkDevices,     // class 19 code 17
    NotGenuine,         // class 38 code 1
};
void FormatEnclosureEventText(KdlEnclosureMember member, const KdlClassData &data, KdlText &text);

std::span<const KdlTextGroup> EnvironmentTexts();
std::span<const KdlTextGroup> MemoryTexts();
std::span<const KdlTextGroup> PowerTexts();
std::span<const KdlTextGroup> PowerCapTexts();
std::span<const KdlTextGroup> RackInfrastructureTexts();
std::span<const KdlTextGroup> EnclosureTexts();
std::span<const KdlTextGroup> RecoveryTexts();
std::span<const KdlTextGroup> ProcessorTexts();
std::span<const KdlTextGroup> VyrBoardTexts();
std::span<const KdlTextGroup> StorageTexts();
