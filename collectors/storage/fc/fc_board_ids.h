#pragma once
// The board ids (PCI subsystem ids) the Fibre Channel layer knows: the wrapper's table of
// adapters with their model codes, the collector's model numbers, and the few boards that are
// handled apart.

#include <cstdint>

struct FC_BOARD_ROW {
    uint32_t BoardId;
    uint32_t Flag;
    char ModelName[32];
    uint32_t ModelCode;
};
constexpr unsigned FC_BOARD_TABLE_ROWS = 49;
extern const FC_BOARD_ROW g_FcBoardTable[FC_BOARD_TABLE_ROWS];

// The wrapper's model code of a board: the first row's code, 18 without a row or for a code of
// 100 and above.
uint8_t FcBoardModelCode(uint32_t boardId);

// The collector's model number of a board (19 to 100), 18 for a board it does not know.
uint32_t FcaModelNumber(uint32_t boardId);

// The maker's two boards whose CSMI controller class 3 means a controller of type 4.
constexpr uint32_t FC_BOARD_CSMI_TYPE4_A = 0x32621D5A;
constexpr uint32_t FC_BOARD_CSMI_TYPE4_B = 0x32631D5A;
// The maker's two boards whose physical slot is read from their bridge's UI number.
constexpr uint32_t FC_BOARD_BRIDGE_SLOT_A = 0x32811D5A;
constexpr uint32_t FC_BOARD_BRIDGE_SLOT_B = 0x32821D5A;
