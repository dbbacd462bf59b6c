#include "fc_board_ids.h"

#include <cstddef>

// Board ids, names and codes of our own numbering.
const FC_BOARD_ROW g_FcBoardTable[FC_BOARD_TABLE_ROWS] = {
    {0x32601D5A, 1, "FC Adapter 01", 6},
    {0x32611D5A, 0, "FC Adapter 02", 7},
    {0x32621D5A, 0, "FC Adapter 03", 8},
    {0x32631D5A, 1, "FC Adapter 04", 9},
    {0x32641D5A, 0, "FC Adapter 05", 10},
    {0x32651D5A, 0, "FC Adapter 06", 11},
    {0x32661D5A, 1, "FC Adapter 07", 12},
    {0x32671D5A, 0, "FC Adapter 08", 13},
    {0x32681D5A, 0, "FC Adapter 09", 15},
    {0x32691D5A, 1, "FC Adapter 10", 16},
    {0x326A1D5A, 0, "FC Adapter 11", 17},
    {0x326B1D5A, 0, "FC Adapter 12", 18},
    {0x326C1D5A, 1, "FC Adapter 13", 19},
    {0x326D1D5A, 0, "FC Adapter 14", 20},
    {0x326E1D5A, 0, "FC Adapter 15", 21},
    {0x326F1D5A, 1, "FC Adapter 16", 22},
    {0x32701D5A, 0, "FC Adapter 17", 24},
    {0x32711D5A, 0, "FC Adapter 18", 25},
    {0x32721D5A, 1, "FC Adapter 19", 26},
    {0x32731D5A, 0, "FC Adapter 20", 27},
    {0x32741D5A, 0, "FC Adapter 21", 28},
    {0x32751D5A, 1, "FC Adapter 22", 29},
    {0x32761D5A, 0, "FC Adapter 23", 30},
    {0x32771D5A, 0, "FC Adapter 24", 31},
    {0x32781D5A, 1, "FC Adapter 25", 33},
    {0x32791D5A, 0, "FC Adapter 26", 34},
    {0x327A1D5A, 0, "FC Adapter 27", 35},
    {0x327B1D5A, 1, "FC Adapter 28", 36},
    {0x327C1D5A, 0, "FC Adapter 29", 37},
    {0x327D1D5A, 0, "FC Adapter 30", 38},
    {0x327E1D5A, 1, "FC Adapter 31", 39},
    {0x327F1D5A, 0, "FC Adapter 32", 40},
    {0x32801D5A, 0, "FC Adapter 33", 42},
    {0x32811D5A, 1, "FC Adapter 34", 43},
    {0x32821D5A, 0, "FC Adapter 35", 44},
    {0x32831D5A, 0, "FC Adapter 36", 45},
    {0x32841D5A, 1, "FC Adapter 37", 46},
    {0x32851D5A, 0, "FC Adapter 38", 47},
    {0x32861D5A, 0, "FC Adapter 39", 48},
    {0x32871D5A, 1, "FC Adapter 40", 49},
    {0x32881D5A, 0, "FC Adapter 41", 51},
    {0x32891D5A, 0, "FC Adapter 42", 52},
    {0x328A1D5A, 1, "FC Adapter 43", 53},
    {0x328B1D5A, 0, "FC Adapter 44", 54},
    {0x328C1D5A, 0, "FC Adapter 45", 55},
    {0x328D1D5A, 1, "FC Adapter 46", 56},
    {0x328E1D5A, 0, "FC Adapter 47", 57},
    {0x328F1D5A, 0, "FC Adapter 48", 58},
    {0x32901D5A, 1, "FC Adapter 49", 60},
};

namespace {

struct MODEL_ROW {
    uint32_t BoardId;
    uint32_t Model;
};
const MODEL_ROW kModels[] = {
    {0x32601D5A, 19},
    {0x32611D5A, 19},
    {0x32621D5A, 20},
    {0x32631D5A, 21},
    {0x32641D5A, 22},
    {0x32651D5A, 23},
    {0x32661D5A, 24},
    {0x32671D5A, 25},
    {0x32681D5A, 26},
    {0x32691D5A, 27},
    {0x326A1D5A, 28},
    {0x326B1D5A, 29},
    {0x326C1D5A, 29},
    {0x326D1D5A, 30},
    {0x326E1D5A, 31},
    {0x326F1D5A, 32},
    {0x32701D5A, 33},
    {0x32711D5A, 34},
    {0x32721D5A, 35},
    {0x32731D5A, 36},
    {0x32741D5A, 37},
    {0x32751D5A, 38},
    {0x32761D5A, 39},
    {0x32771D5A, 39},
    {0x32781D5A, 40},
    {0x32791D5A, 41},
    {0x327A1D5A, 42},
    {0x327B1D5A, 43},
    {0x327C1D5A, 44},
    {0x327D1D5A, 45},
    {0x327E1D5A, 46},
    {0x327F1D5A, 47},
    {0x32801D5A, 48},
    {0x32811D5A, 49},
    {0x32821D5A, 49},
    {0x32831D5A, 50},
    {0x32841D5A, 51},
    {0x32851D5A, 52},
    {0x32861D5A, 53},
    {0x32871D5A, 54},
    {0x32881D5A, 55},
    {0x32891D5A, 56},
    {0x328A1D5A, 57},
    {0x328B1D5A, 58},
    {0x328C1D5A, 59},
    {0x328D1D5A, 59},
    {0x328E1D5A, 60},
    {0x328F1D5A, 61},
    {0x32901D5A, 62},
    {0x01001E8B, 63},
    {0x01011E8B, 64},
    {0x01021E8B, 65},
    {0x01031E8B, 66},
    {0x01041E8B, 67},
    {0x01051E8B, 68},
    {0x01061E8B, 69},
    {0x01071E8B, 69},
    {0x01081E8B, 70},
    {0x01091E8B, 71},
    {0x010A1E8B, 72},
    {0x010B1E8B, 73},
    {0x010C1E8B, 74},
    {0x010D1E8B, 75},
    {0x010E1E8B, 76},
    {0x010F1E8B, 77},
    {0x01101E8B, 78},
    {0x01111E8B, 79},
    {0x01121E8B, 79},
    {0x01131E8B, 80},
    {0x01141E8B, 81},
    {0x00121F3C, 82},
    {0x00131F3C, 83},
    {0x00141F3C, 84},
    {0x00151F3C, 85},
    {0x00161F3C, 86},
    {0x00171F3C, 87},
    {0x00181F3C, 88},
    {0x00191F3C, 89},
    {0x001A1F3C, 89},
    {0x001B1F3C, 90},
    {0x001C1F3C, 91},
    {0x001D1F3C, 92},
    {0x001E1F3C, 93},
    {0x001F1F3C, 94},
    {0x00201F3C, 95},
    {0x00211F3C, 96},
    {0x00221F3C, 97},
    {0x00231F3C, 98},
    {0x00241F3C, 99},
    {0x00251F3C, 100},
};

} // namespace

uint8_t FcBoardModelCode(uint32_t boardId)
{
    for (const FC_BOARD_ROW &row : g_FcBoardTable) {
        if (row.BoardId != boardId)
            continue;
        const uint8_t code = static_cast<uint8_t>(row.ModelCode);
        return code == 0 || code >= 100 ? 18 : code;
    }
    return 18;
}

uint32_t FcaModelNumber(uint32_t boardId)
{
    for (const MODEL_ROW &row : kModels)
        if (row.BoardId == boardId)
            return row.Model;
    return 18;
}
