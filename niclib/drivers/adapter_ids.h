#pragma once
// The texts by which the configuration manager names a network device: its hardware/instance ID
// and its location text. The texts come from drivers and the registry, so every reader here
// stays inside the text it is given and accepts any content. No windows.h.

#include <cstddef>
#include <cstdint>
#include <string_view>

// The management processor's virtual USB network interface: its USB vendor and product IDs.
constexpr uint16_t kMgmtProcessorUsbVendorId = 0x1B1F;
constexpr uint16_t kMgmtProcessorUsbProductId = 0x0E21;

// The first decimal number in the text, or -1 when it holds no digit (then *consumed is not
// written). *consumed is the count of characters from the start of the text to the end of the
// number. A number too large for 32 bits gives 0x7FFFFFFF.
int32_t GetNextNumber(std::wstring_view text, size_t *consumed);
// The same on a terminated text (none is treated as an empty text).
int32_t GetNextNumber(const wchar_t *text, size_t *consumed);

// How a network device's instance ID is read.
enum class HardwareIdFamily {
    kRejected,   // none of the accepted families: dropped silently
    kMgmtUsb,    // the management processor's virtual USB NIC
    kPci,        // "PCI\VEN_..." with all four fields
    kVirtualBus, // "B06BDRV\L2ND&PCI_..", "EBDRV\L2ND&PCI_..", "QEBDRV\L2ND&PCI_.."
    kSolarflare, // contains "VEN_1924" but did not read as a PCI ID
    kMellanox,   // an IPoIB or ConnectX Ethernet function, located through its parent
    kUnparsed,   // an accepted family that fits no rule
};

struct HARDWAREIDINFO {
    HardwareIdFamily family = HardwareIdFamily::kRejected;
    // The rules that decide later steps; an ID may both read as a PCI ID and carry "VEN_1924".
    bool isPciId = false;
    bool isMgmtUsb = false;
    bool isSolarflare = false;
    bool isMellanox = false;
    uint32_t pciId = 0;
    uint32_t subsystemId = 0;
};

// Classifies an upper-cased instance ID and reads the identity its own text gives.
HARDWAREIDINFO ClassifyHardwareId(std::wstring_view upperId);

// "PCI\VEN_%x&DEV_%x&SUBSYS_%x&REV_%x" from the start of the text: true when all four fields
// read; then the PCI ID is vendor << 16 + device and the subsystem ID the SUBSYS field.
bool ParsePciHardwareId(std::wstring_view id, uint32_t *pciId, uint32_t *subsystemId);

// The port of a Mellanox function's location text "MLX4 bus %x, device %x, function %x, port %x"
// when all four fields read, else 0.
uint32_t MellanoxLocationPort(std::wstring_view location);

// "PCI bus %d, device %d, function %d": true when all three read.
bool ParseSolarflareLocation(std::wstring_view location, uint32_t *bus, uint32_t *device, uint32_t *function);

// The bus position a location text gives: up to four numbers taken one after the other (a
// Mellanox text starts after its first four characters, where it has them). Numbers not found
// count as -1. With four numbers a Mellanox text gives bus, device, function and port, any other
// segment, bus, device and function; with fewer, segment 0 and the first three.
struct LOCATIONINFO {
    uint32_t segment = 0;
    uint32_t bus = 0;
    uint32_t device = 0;
    uint32_t function = 0;
    bool hasPort = false;
    int32_t port = -1;
    int numbers = 0;
};
LOCATIONINFO ParseLocationText(std::wstring_view location, bool mellanox);
