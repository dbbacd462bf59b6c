#pragma once
// Finding the layer's controllers, disks and ATAPI devices: the start scans over the SCSI ports
// and physical drives, naming controllers from the controller or its option ROM, and the
// re-scan for disks on the controllers that allow hot-plugging.

#include "ide_state.h"

#include <cstddef>
#include <cstdint>

// Board ids of the maker's controllers (ours to choose; the names shown for them are fixed).
constexpr uint32_t IDE_BOARD_EMBEDDED_SATA_1 = 0x2826;
constexpr uint32_t IDE_BOARD_EMBEDDED_SATA_2 = 0x2827;
constexpr uint32_t IDE_BOARD_SATA_RAID_6_PORT = 0x3C10;
constexpr uint32_t IDE_BOARD_IDE_RAID_INTEGRATED = 0x0A80;
constexpr uint32_t IDE_BOARD_IDE_RAID_CSB6 = 0x0A81;

// The identification positions of CD/DVD drives (target + 2 x channel).
struct IDE_IDENTIFICATION_SLOTS {
    IDE_IDENTIFICATION_RECORD Records[4] = {};
    bool Present[4] = {};
};

int IdeScanControllers(IDE_STATE *state);
int IdeScanDisks(IDE_STATE *state);
int IdeScanAtapi(IDE_STATE *state, IDE_IDENTIFICATION_SLOTS *slots);
int IdeRescanDisks(IDE_STATE *state);

int IdeCsmiControllerInfo(unsigned portNumber, IDE_CONTROLLER_NODE *controller);
int IdeRaidControllerInfo(IDE_CONTROLLER_NODE *controller);
// 0 when the RAID BIOS version text of the board was found in an option ROM.
int IdeFindRaidBiosVersion(size_t capacity, char *destination, uint32_t boardId);
