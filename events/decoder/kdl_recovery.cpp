// Class 10: power-on self-test and option ROM messages; 13: automatic server recovery; 14:
// operating system failures and automatic shutdowns; 17: network adapters; 32: ROM and firmware
// flashing; 33: event log cleared and maintenance notes; 40: boot from flash; 41: improperly
// seated devices; 42: non-volatile memory modules. Several of these carry free text written by
// firmware or the operating system: it is printed as far as the entry holds it.
#include "kdl_formatters.h"
#include "kdl_format.h"
#include "kdl_names.h"

#include <iterator>

namespace {

struct Post {
    static constexpr KdlTextRow Rows[] = {
        {10, 1, "POST Error: %s"},
        {10, 2, "POST Information: %s"},
        {10, 3, "Option ROM POST Error: %s"},
        {10, 4, "Option ROM POST Information: %s"},
    };
};
struct Asr {
    static constexpr KdlTextRow Rows[] = {
        {13, 1, "ASR Detected by System ROM"},
        {13, 2, "ASR Lockup Detected: %s"},
        {13, 3, "ASR Reset Limit Detected by System ROM"},
    };
    enum : uint8_t { Detected, Lockup, ResetLimit };
};
struct Os {
    static constexpr KdlTextRow Rows[] = {
        {14, 1, "Operating System failure (%s)"},
        {14, 3, "Fatal Exception (Number %s, Cause %s)"},
        {14, 4, "User Initiated NMI Switch"},
        {14, 5, "Server Blade Enclosure Network Component Shutdown Via Power Management Software (Slot %s)"},
        {14, 5, "Server Blade Enclosure Blade Shutdown Via Power Management Software (Slot %s)"},
        {14, 6, "User Remotely Initiated NMI Switch"},
    };
    enum : uint8_t { Failure, FatalException, NmiSwitch, ComponentShutdown, BladeShutdown, RemoteNmiSwitch };
};
// Code 2: the automatic shutdown texts by byte 0; the last row stands for every other value.
struct Shutdown {
    static constexpr KdlTextRow Rows[] = {
        {14, 2, "Automatic Operating System Shutdown Initiated Due to Fan Failure"},
        {14, 2, "Automatic Operating System Shutdown Initiated Due to Overheat Condition"},
        {14, 2, "Automatic Operating System Shutdown Initiated Due to VRM Failure"},
        {14, 2, "Automatic Operating System Shutdown Initiated Due to Power Supply Failure"},
        {14, 2, "Automatic Operating System Shutdown Initiated Due to System Running On Battery Backup Unit"},
        {14, 2, "Automatic Operating System Shutdown Aborted"},
        {14, 2, "Automatic Operating System Shutdown Due to Fan Failure Aborted"},
        {14, 2, "Automatic Operating System Shutdown Due to Overheat Aborted"},
        {14, 2, "Automatic Operating System Shutdown Due to VRM Failure Aborted"},
        {14, 2, "Automatic Operating System Shutdown Initiated by a Soft Power Down"},
        {14, 2, "Automatic Operating System Shutdown Initiated by Software Automatic Server Recovery"},
        {14, 2, "Automatic Operating System Shutdown Due to Power Supply Failure Aborted"},
        {14, 2, "Automatic Operating System Shutdown"},
    };
    // The byte 0 of each row but the last.
    static constexpr uint8_t Values[] = {1, 2, 3, 4, 5, 129, 130, 131, 132, 133, 134, 136};
};
// Each code without and with chassis; codes 6 and 7 repeat the texts of 2 and 5.
struct Adapter {
    static constexpr KdlTextRow Rows[] = {
        {17, 1, "Network Adapter Fault (Slot %s, Port %s)"},
        {17, 2, "Network Adapter Link Down (Slot %s, Port %s)"},
        {17, 3, "Network Adapter Transmit Timeout (Slot %s, Port %s)"},
        {17, 4, "Network Adapters No Longer Redundant (Slot %s, Port %s)"},
        {17, 5, "Network Adapters Redundancy Reduced (Slot %s, Port %s)"},
    };
};
struct ChassisAdapter {
    static constexpr KdlTextRow Rows[] = {
        {17, 1, "Network Adapter Fault (Chassis %s, Slot %s, Port %s)"},
        {17, 2, "Network Adapter Link Down (Chassis %s, Slot %s, Port %s)"},
        {17, 3, "Network Adapter Transmit Timeout (Chassis %s, Slot %s, Port %s)"},
        {17, 4, "Network Adapters No Longer Redundant (Chassis %s, Slot %s, Port %s)"},
        {17, 5, "Network Adapters Redundancy Reduced (Chassis %s, Slot %s, Port %s)"},
    };
};
struct AdapterSuffix {
    static constexpr KdlTextRow Rows[] = {
        {17, 6, ", %s"},
    };
};
struct Flash {
    static constexpr KdlTextRow Rows[] = {
        {32, 1, "ROM flashed (%s)"},
        {32, 2, "Firmware flashed (%s)"},
    };
};
struct Maintenance {
    static constexpr KdlTextRow Rows[] = {
        {33, 1, "KDL Cleared (%s)"},
        {33, 2, "Maintenance note: %s"},
    };
};
struct BootFlash {
    static constexpr KdlTextRow Rows[] = {
        {40, 1, "Boot From Flash Error (%s)"},
    };
};
struct Seating {
    static constexpr KdlTextRow Rows[] = {
        {41, 1, "Improperly seated or missing device (%s%s)"},
    };
};
struct NvdimmWords {
    static constexpr KdlTextRow Rows[] = {
        {42, 1, "Board"},
        {42, 1, "Processor"},
        {42, 1, "Board/CPU"},
        {42, 1, ", Serial Number %s"},
    };
    enum : uint8_t { Board, Processor, BoardOrCpu, Serial };
};
// The texts without a retry count: position, board or processor, module, serial suffix.
struct Nvdimm {
    static constexpr KdlTextRow Rows[] = {
        {42, 1, "NVDIMM Error - Backup Error (%s %u, Memory Module %u%s). Persistent data backup failed and data is not available. Action: Replace the NVDIMM if issue persists."},
        {42, 3, "NVDIMM Error - Memory Failure (%s %u, Memory Module %u%s). Non-volatile memory device has failed and requires replacement. Action: Replace the NVDIMM."},
        {42, 4, "NVDIMM Error - Uncorrectable Memory Error (%s %u, Memory Module %u%s). This NVDIMM will not be available to the operating system. Action: Replace the NVDIMM."},
        {42, 5, "NVDIMM Error - Backup Power Not Available (%s %u, Memory Module %u%s). Unable to charge backup power for non-volatile memory. The memory device is operating as volatile memory."},
        {42, 6, "NVDIMM Error - NVDIMM Controller Error (%s %u, Memory Module %u%s). An error was found with the NVDIMM controller. The OS will not use the NVDIMM. Action: Update the NVDIMM firmware. If issue persists, replace the NVDIMM."},
        {42, 7, "NVDIMM Error - Charge Error (%s %u, Memory Module %u%s). Incomplete charging of backup power for non-volatile memory is preventing successful backup operation. The memory device is not usable."},
        {42, 9, "NVDIMM Error - Erase Error (%s %u, Memory Module %u%s). The NVDIMM could not be erased and future backup operations are not possible. Action: Save the NVDIMM contents to other media to preserve data and replace the NVDIMM."},
        {42, 11, "NVDIMM Error - Backup Power Error (%s %u, Memory Module %u%s). Backup power is not available and a future backup is not possible. Action: Ensure backup power is available. Re-seat NVDIMM if power is available."},
        {42, 12, "NVDIMM Error - Arm Error (%s %u, Memory Module %u%s). The NVDIMM could not be armed and future backups are not possible. Action: Save the NVDIMM contents to other media to preserve data and replace the NVDIMM."},
        {42, 13, "NVDIMM Error - Firmware Corruption (%s %u, Memory Module %u%s). The NVDIMM controller firmware has been corrupted. The OS will not use the NVDIMM. Action: Re-program the firmware to restore NVDIMM functionality."},
    };
};
// Codes 2 and 10 carry a retry count in byte 3 and their serial number one byte later.
struct NvdimmRetry {
    static constexpr KdlTextRow Rows[] = {
        {42, 2, "NVDIMM Error - Restore Error (%s %u, Memory Module %u, Retry count %u%s). Persistent data restore failed and data is not available. Action: Replace the NVDIMM."},
        {42, 10, "NVDIMM Error - Erase Retry Above Threshold (%s %u, Memory Module %u, Retry count %u%s). A non-volatile memory erase retry has occurred. Non-volatile memory health is declining."},
    };
};

const KdlTextGroup kTexts[] = {Post::Rows,        Asr::Rows,     Os::Rows,          Shutdown::Rows,
                               Adapter::Rows, ChassisAdapter::Rows, AdapterSuffix::Rows, Flash::Rows,   Maintenance::Rows, BootFlash::Rows,
                               Seating::Rows,     NvdimmWords::Rows, Nvdimm::Rows,  NvdimmRetry::Rows};

// The POST message is cleaned in an area of 304 bytes: at most 303 characters reach the line.
constexpr size_t kPostMessageArea = 304;
// At most this many characters of an NVDIMM serial number are printed.
constexpr size_t kNvdimmSerialLength = 8;

KdlField Number(const KdlClassData &d, size_t offset) { return FormatByteOrUnknown(d.Byte(offset)); }

KdlField NvdimmPosition(uint8_t value)
{
    switch (value) {
    case 0: return KdlFieldOf(NvdimmWords::Rows[NvdimmWords::Board]);
    case 1: return KdlFieldOf(NvdimmWords::Rows[NvdimmWords::Processor]);
    default: return KdlFieldOf(NvdimmWords::Rows[NvdimmWords::BoardOrCpu]);
    }
}

// ", Serial Number <up to 8 characters>" when the serial number at offset is not empty.
KdlField NvdimmSerialSuffix(const KdlClassData &d, size_t offset)
{
    KdlField serial = d.String(offset);
    serial.Text[kNvdimmSerialLength] = '\0';
    if (serial.empty())
        return {};
    return KdlFieldOf(NvdimmWords::Rows[NvdimmWords::Serial], serial);
}

} // namespace

void FormatPostEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    // Code 1 reads its message from offset 1, the others from offset 0.
    const size_t at = code == 1 ? 1 : 0;
    KdlPutByCode<Post>(text, code, SqueezeSpaces(d.String(at).c_str(), kPostMessageArea));
}

void FormatAsrEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    switch (code) {
    case 1: KdlPut(text, Asr::Rows[Asr::Detected]); break;
    case 2: KdlPut(text, Asr::Rows[Asr::Lockup], d.String(0)); break;
    case 3: KdlPut(text, Asr::Rows[Asr::ResetLimit]); break;
    default: break;
    }
}

void FormatOsEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    switch (code) {
    case 1: KdlPut(text, Os::Rows[Os::Failure], d.String(0)); break;
    case 2: text.Format("%s", KdlWordByValue<Shutdown>(d.Byte(0))); break;
    case 3: KdlPut(text, Os::Rows[Os::FatalException], Number(d, 0), d.String(1)); break;
    case 4: KdlPut(text, Os::Rows[Os::NmiSwitch]); break;
    case 5:
        if (d.Byte(4) == 13)
            KdlPut(text, Os::Rows[Os::ComponentShutdown], Number(d, 3));
        else if (d.Byte(4) == 14)
            KdlPut(text, Os::Rows[Os::BladeShutdown], Number(d, 3));
        break;
    case 6: KdlPut(text, Os::Rows[Os::RemoteNmiSwitch]); break;
    default: break;
    }
}

void FormatNetworkAdapterEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    // Codes 6 and 7 write the texts of 2 and 5, then the string after the chassis name.
    const uint16_t shown = code == 6 ? 2 : code == 7 ? 5 : code;
    const bool written = d.Byte(1) == 0
                             ? KdlPutByCode<Adapter>(text, shown, Number(d, 3), Number(d, 2))
                             : KdlPutByCode<ChassisAdapter>(text, shown, FormatChassisName(d.Byte(1), d.String(4).c_str()),
                                                            Number(d, 3), Number(d, 2));
    if (written && (code == 6 || code == 7)) {
        KdlField suffix = d.String(d.After(4));
        if (!suffix.empty())
            KdlAppend(text, AdapterSuffix::Rows[0], suffix);
    }
}

void FormatFlashEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    KdlPutByCode<Flash>(text, code, d.String(0));
}

void FormatMaintenanceEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    KdlPutByCode<Maintenance>(text, code, d.String(0));
}

void FormatBootFlashEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    KdlPutByCode<BootFlash>(text, code, d.String(0));
}

void FormatDeviceSeatingEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    KdlPutByCode<Seating>(text, code, InterlockFaultPrefix(d.Byte(0)), d.String(1));
}

void FormatNvdimmEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    const KdlField position = NvdimmPosition(d.Byte(0));
    const unsigned number = d.Byte(1), module = d.Byte(2);
    if (code == 2 || code == 10)
        KdlPutByCode<NvdimmRetry>(text, code, position, number, module, static_cast<unsigned>(d.Byte(3)),
                                  NvdimmSerialSuffix(d, 4));
    else
        KdlPutByCode<Nvdimm>(text, code, position, number, module, NvdimmSerialSuffix(d, 3));
}

std::span<const KdlTextGroup> RecoveryTexts()
{
    return kTexts;
}
