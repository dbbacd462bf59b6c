#pragma once
// What the Fibre Channel layer reads from outside the process, decoded without windows.h and
// never past the bytes present: fixed text fields of the HBA API, WWNs, the replies of the two
// miniport requests sent to a port's device ("ZDTCSMI" controller configuration and "FCM&P" slot
// data), the instance names of the FCoE WMI class and the adapter's location text.

#include <cstddef>
#include <cstdint>
#include <string>

// A fixed text field: the bytes up to the first NUL or the field's end.
std::string FcFieldText(const char *field, size_t size);

// 16 upper-case hexadecimal digits; empty for a WWN of all zero bytes.
std::string FcWwnText(const uint8_t wwn[8]);
// Each byte as two upper-case hexadecimal digits, at most maxBytes of them.
std::string FcHexBytesText(const uint8_t *bytes, size_t count, size_t maxBytes);

// The request buffers: the 28-byte miniport header, then the data.
constexpr size_t FC_MINIPORT_HEADER_SIZE = 28;
constexpr size_t FC_CSMI_CONFIG_SIZE = 168;
constexpr size_t FC_CSMI_BUFFER_SIZE = FC_MINIPORT_HEADER_SIZE + FC_CSMI_CONFIG_SIZE;   // 196
constexpr size_t FC_FCMP_DATA_SIZE = 32;
constexpr size_t FC_FCMP_BUFFER_SIZE = FC_MINIPORT_HEADER_SIZE + FC_FCMP_DATA_SIZE;     // 60

// The parts of a controller configuration the FC layer uses (offsets within the configuration).
struct FC_CSMI_CONFIG {
    uint32_t BoardId = 0;        // byte 12
    uint8_t ControllerClass = 0; // byte 18
    uint8_t IoBusType = 0;       // byte 19; 3 is PCI
    uint8_t Bus = 0, Device = 0, Function = 0;   // bytes 20 to 22
};
// From the configuration bytes of a reply (the buffer after the header); false when fewer than
// the bytes of these fields came back.
bool DecodeFcCsmiConfig(const uint8_t *config, size_t size, FC_CSMI_CONFIG *out);

// The "FCM&P" slot data (offsets within the 32 data bytes).
struct FC_FCMP_REPLY {
    uint32_t BoardId = 0;        // bytes 4 to 7
    uint8_t LocationKind = 0;    // byte 8; 3: the bus, device and function below are valid
    uint8_t Bus = 0, Device = 0, Function = 0;   // bytes 10 to 12
};
bool DecodeFcmpReply(const uint8_t *data, size_t size, FC_FCMP_REPLY *out);

// The device instance id an FCoE instance name stands for: the name without its last two
// characters ("..._0"). False for a name shorter than that.
bool FcInstanceDeviceId(const char *name, size_t size, std::string *id);
// The PCI subsystem id in an instance name: the 8 hexadecimal digits after "SUBSYS_". False
// when the name has no "SUBSYS_" followed by 8 such digits.
bool FcInstanceBoardId(const char *name, size_t size, uint32_t *boardId);

// The location text of an adapter: "Slot %lu" below 256 (-1 read as 0), else a blade location
// (blade in bits 8 to 11, slot in bits 16 to 23) with the port counter when it lies in 1..254.
std::string FcLocationText(int32_t slot, uint32_t portCounter);

// "0000:%02x:%02x.%01x" read back; false when the text does not have that shape.
bool FcParsePciLocation(const char *text, size_t size, unsigned *bus, unsigned *device, unsigned *function);
