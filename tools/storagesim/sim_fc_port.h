#pragma once
// The SCSI device of a Fibre Channel port, as the HBA API names it (its OSDeviceName). It answers
// two miniport requests with control code 2: the maker's "ZDTCSMI" controller configuration
// (168 bytes after the header) and the FC driver's "FCM&P" slot data (32 bytes). Either can be
// left out, as drivers of other makers do; a request it does not know is refused like a driver
// does (ERROR_INVALID_FUNCTION).

#include "sim_device.h"

#include <array>
#include <optional>

class SimFcPort : public SimDevice {
public:
    struct CsmiConfig {
        uint32_t BoardId = 0;
        uint8_t ControllerClass = 5;
        uint8_t IoBusType = 3;     // PCI
        uint8_t Bus = 0, Device = 0, Function = 0;
        uint32_t ReturnCode = 0;   // not 0: the driver refuses the request in its reply
    };
    struct SlotData {
        uint32_t BoardId = 0;
        uint8_t LocationKind = 3;  // 3: bus, device and function follow
        uint8_t Bus = 0, Device = 0, Function = 0;
    };
    std::optional<CsmiConfig> Csmi;
    std::optional<SlotData> Slot;

    // How many requests of each signature came ("ZDTCSMI", "FCM&P").
    unsigned CsmiRequests = 0;
    unsigned SlotRequests = 0;

    DWORD Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned) override;
};
