// Class 34: the server blade or power enclosure that holds the server, and the rack around it.
#include "kdl_formatters.h"
#include "kdl_format.h"
#include "kdl_names.h"

namespace {

struct Rack {
    static constexpr KdlTextRow Rows[] = {
        {34, 1, "%s Inadequate Power To Power On: %s (%s, Slot %s)"},
        {34, 2, "%s Blade Manual Power On (%s, Slot %s)"},
        {34, 3, "%s Blade Fuse or Breaker Tripped (%s, Slot %s, Fuse %s)"},
        {34, 3, "B"},
        {34, 3, "A"},
        {34, 3, "%s Network Component Fuse or Breaker Tripped (%s, %s, Fuse %s)"},
        {34, 4, "%s Blade I2C Bus Fault (%s, Bus %s)"},
        {34, 5, "%s Blade Removed (%s, Slot %s)"},
        {34, 5, "%s Blade Inserted (%s, Slot %s)"},
        {34, 6, "%s Power Not Balanced (%s, %s)"},
        {34, 6, "Power Bus A"},
        {34, 6, "Power Bus B"},
        {34, 7, "%s DC Power Out Of Tolerance (%s, %s, %d mV)"},
        {34, 8, "%s AC Facility Input Power Exceeded (%s)"},
        {34, 9, "Loss Of Chassis Connectivity (%s)"},
        {34, 10, "New Chassis Connected (%s)"},
        {34, 11, "%s Rack Name Changed (%s)"},
        {34, 11, "%s Name Changed (%s)"},
        {34, 11, "%s Service Change (%s)"},
        {34, 11, "%s Rack Name Conflict (%s)"},
        {34, 11, "%s Rack Unique ID Changed (%s)"},
        {34, 11, "%s LAN Settings Changed (%s)"},
        {34, 11, "%s UID LED State Changed (%s)"},
        {34, 11, "%s Rack Infrastructure Changed (%s, Type 0x%02X)"},
        {34, 12, "%s Unknown Power Consumption (%s)"},
        {34, 13, "%s Power Subsystem Misconfigured: %s (%s)"},
        {34, 13, "%s Power Subsystem Misconfigured: %s (%s, %s)"},
        {34, 14, "%s Status Change (%s)"},
        {34, 15, "%s Blower Fault (%s, Blower %s, %s)"},
        {34, 16, "%s Blower Removed (%s, Blower %s, %s)"},
        {34, 17, "%s Ethernet Switch Error - %s (%s, %s)"},
        {34, 18, "%s Power Feed Missing (%s, %s)"},
        {34, 19, "%s Server Blade Inserted (Slot %s, %s)"},
        {34, 19, "%s Network Component Inserted (%s, %s)"},
        {34, 20, "%s Server Blade Removed (Slot %s, %s)"},
        {34, 20, "%s Network Component Removed (%s, %s)"},
        {34, 21, "%s Invalid Topology - Check Cabling"},
        {34, 24, "Infrastructure Fault, %s at %s, %s"},
        {34, 25, "Chassis %s requires minimum firmware revision %s.%s. It is currently %s.%s."},
        {34, 26, "%s Power Request Denied: %s (%s, Slot %s)"},
    };
    enum : uint8_t {
        InadequatePower, ManualPowerOn, BladeFuse, FuseB, FuseA, NetworkFuse, I2cBusFault, BladeRemoved, BladeInserted,
        NotBalanced, BusA, BusB, OutOfTolerance, InputPowerExceeded, ConnectivityLost, ChassisConnected,
        RackNameChanged, NameChanged, ServiceChange, RackNameConflict, UniqueIdChanged, LanSettingsChanged,
        UidLedChanged, InfrastructureChanged, UnknownConsumption, Misconfigured, MisconfiguredSide, StatusChange,
        BlowerFault, BlowerRemoved, SwitchError, FeedMissing, BladeSlotInserted, ComponentInserted, BladeSlotRemoved,
        ComponentRemoved, InvalidTopology, InfrastructureFault, FirmwareRevision, PowerRequestDenied,
    };
};

const KdlTextGroup kTexts[] = {Rack::Rows};

// Byte 4 of codes 3, 19 and 20: what the event is about.
constexpr uint8_t kBlade = 14, kNetworkComponent = 13;

// The enclosure identified by the serial number at offset (or by its address).
KdlField Enclosure(const KdlClassData &d, size_t offset)
{
    return FormatEnclosureId(d.String(offset).c_str(), d);
}

KdlField Number(const KdlClassData &d, size_t offset) { return FormatByteOrUnknown(d.Byte(offset)); }

// The fuse of code 3: bit 4 of byte 3.
KdlField Fuse(const KdlClassData &d)
{
    if (d.Byte(3) & 0x10)
        return KdlFieldOf(Rack::Rows[Rack::FuseB]);
    return KdlFieldOf(Rack::Rows[Rack::FuseA]);
}

KdlField PowerBus(bool busA)
{
    if (busA)
        return KdlFieldOf(Rack::Rows[Rack::BusA]);
    return KdlFieldOf(Rack::Rows[Rack::BusB]);
}

void FormatRackChange(const KdlClassData &d, const char *type, KdlText &text)
{
    const KdlField at = Enclosure(d, 4);
    switch (d.Byte(3)) {
    case 1: KdlPut(text, Rack::Rows[Rack::RackNameChanged], type, at); break;
    case 2: KdlPut(text, Rack::Rows[Rack::NameChanged], type, at); break;
    case 3: KdlPut(text, Rack::Rows[Rack::ServiceChange], type, at); break;
    case 4: KdlPut(text, Rack::Rows[Rack::RackNameConflict], type, at); break;
    case 5: KdlPut(text, Rack::Rows[Rack::UniqueIdChanged], type, at); break;
    case 7: KdlPut(text, Rack::Rows[Rack::LanSettingsChanged], type, at); break;
    case 8: KdlPut(text, Rack::Rows[Rack::UidLedChanged], type, at); break;
    default:
        KdlPut(text, Rack::Rows[Rack::InfrastructureChanged], type, at, static_cast<unsigned>(d.Byte(3)));
        break;
    }
}

} // namespace

void FormatRackInfrastructureEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    const auto &rows = Rack::Rows;
    // An enclosure type other than 4 and 5 has no name: those lines then begin with a blank.
    const char *type = EnclosureTypeName(d.Byte(0));
    switch (code) {
    case 1:
        KdlPut(text, rows[Rack::InadequatePower], type, PowerOnDenialName(d.Byte(4)), Enclosure(d, 5), Number(d, 3));
        break;
    case 2: KdlPut(text, rows[Rack::ManualPowerOn], type, Enclosure(d, 4), Number(d, 3)); break;
    case 3:
        if (d.Byte(4) == kBlade)
            KdlPut(text, rows[Rack::BladeFuse], type, Enclosure(d, 5), FormatByteOrUnknown(d.Byte(3) & 0x0F), Fuse(d));
        else if (d.Byte(4) == kNetworkComponent)
            KdlPut(text, rows[Rack::NetworkFuse], type, Enclosure(d, 5), EnclosureSideName(d.Byte(3) & 0x0F), Fuse(d));
        break;
    case 4: KdlPut(text, rows[Rack::I2cBusFault], type, Enclosure(d, 4), Number(d, 3)); break;
    case 5:
        if (d.Byte(4) == 0)
            KdlPut(text, rows[Rack::BladeRemoved], type, Enclosure(d, 5), Number(d, 3));
        else
            KdlPut(text, rows[Rack::BladeInserted], type, Enclosure(d, 5), Number(d, 3));
        break;
    // The two power-bus rules differ on purpose: code 6 names bus A for 1, code 7 for 0.
    case 6:
        KdlPut(text, rows[Rack::NotBalanced], type, Enclosure(d, 6), PowerBus(d.Byte(3) == 1));
        break;
    case 7:
        KdlPut(text, rows[Rack::OutOfTolerance], type, Enclosure(d, 6), PowerBus(d.Byte(3) == 0),
               static_cast<int>(d.U16(4)));
        break;
    case 8: KdlPut(text, rows[Rack::InputPowerExceeded], type, Enclosure(d, 3)); break;
    case 9: KdlPut(text, rows[Rack::ConnectivityLost], Enclosure(d, 5)); break;
    case 10: KdlPut(text, rows[Rack::ChassisConnected], Enclosure(d, 5)); break;
    case 11: FormatRackChange(d, type, text); break;
    case 12: KdlPut(text, rows[Rack::UnknownConsumption], type, Enclosure(d, 3)); break;
    case 13:
        if (d.Byte(4) == 0)
            KdlPut(text, rows[Rack::Misconfigured], type, PowerConfigErrorName(d.Byte(3)), Enclosure(d, 7));
        else
            KdlPut(text, rows[Rack::MisconfiguredSide], type, PowerConfigErrorName(d.Byte(3)),
                   EnclosureSideName(d.Byte(4)), Enclosure(d, 7));
        break;
    case 14: KdlPut(text, rows[Rack::StatusChange], type, Enclosure(d, 3)); break;
    case 15:
        KdlPut(text, rows[Rack::BlowerFault], type, EnclosureSideName(d.Byte(4)), Number(d, 3), Enclosure(d, 5));
        break;
    case 16:
        KdlPut(text, rows[Rack::BlowerRemoved], type, EnclosureSideName(d.Byte(4)), Number(d, 3), Enclosure(d, 5));
        break;
    case 17:
        KdlPut(text, rows[Rack::SwitchError], type, PowerModuleFaultName(d.Byte(3)), EnclosureSideName(d.Byte(4)),
               Enclosure(d, 5));
        break;
    case 18: KdlPut(text, rows[Rack::FeedMissing], type, PowerBusName(d.Byte(3)), Enclosure(d, 4)); break;
    case 19:
        if (d.Byte(4) == kBlade)
            KdlPut(text, rows[Rack::BladeSlotInserted], type, Number(d, 3), Enclosure(d, 5));
        else if (d.Byte(4) == kNetworkComponent)
            KdlPut(text, rows[Rack::ComponentInserted], type, EnclosureSideName(d.Byte(3)), Enclosure(d, 5));
        break;
    case 20:
        if (d.Byte(4) == kBlade)
            KdlPut(text, rows[Rack::BladeSlotRemoved], type, Number(d, 3), Enclosure(d, 5));
        else if (d.Byte(4) == kNetworkComponent)
            KdlPut(text, rows[Rack::ComponentRemoved], type, EnclosureSideName(d.Byte(3)), Enclosure(d, 5));
        break;
    case 21: KdlPut(text, rows[Rack::InvalidTopology], type); break;
    case 24:
        KdlPut(text, rows[Rack::InfrastructureFault], ManagementBoardErrorName(d.Byte(5)),
               EnclosureComponentName(d.Byte(3)), ManagementBusDeviceName(d.Byte(4)));
        break;
    case 25:
        KdlPut(text, rows[Rack::FirmwareRevision], Enclosure(d, 9), FormatHexByte(d.Byte(5)), FormatHexByte(d.Byte(6)),
               FormatHexByte(d.Byte(3)), FormatHexByte(d.Byte(4)));
        break;
    case 26:
        KdlPut(text, rows[Rack::PowerRequestDenied], type, PowerDenialReasonName(d.Byte(4)), Enclosure(d, 5),
               Number(d, 3));
        break;
    default: break;
    }
}

std::span<const KdlTextGroup> RackInfrastructureTexts()
{
    return kTexts;
}
