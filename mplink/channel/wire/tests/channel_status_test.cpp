#include "channel_status.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct StatusRow {
    uint32_t status;
    uint32_t win32;
};

TEST(ChannelStatus, EveryStatusTranslatesToItsWin32Error)
{
    const StatusRow rows[] = {
        {0, 0},    {1, 2},    {2, 2},    {3, 8},    {4, 31},   {5, 56},   {6, 56},   {7, 8},    {8, 8},
        {9, 8},    {10, 8},   {11, 124}, {12, 18},  {13, 18},  {14, 8},   {15, 8},   {16, 8},   {17, 8},
        {18, 8},   {19, 31},  {20, 170}, {21, 232}, {22, 31},  {23, 31},  {24, 5},   {25, 109}, {26, 31},
        {27, 31},  {28, 31},  {29, 31},  {30, 31},  {31, 50},  {32, 31},  {33, 31},  {34, 121}, {35, 31},
        {36, 109}, {37, 31},  {38, 109}, {39, 87},  {40, 31},  {41, 31},
        // Beyond the table every status reads as 41.
        {42, 31},  {1000, 31}, {0xFFFFFFFF, 31},
    };
    for (const StatusRow &row : rows)
        EXPECT_EQ(ChanStatusToWin32(row.status), row.win32) << "status " << row.status;
}

TEST(ChannelStatus, DeviceLayerErrorsMapToStatuses)
{
    const StatusRow rows[] = {
        // {Win32 error, status}
        {0, 0},     {2, 1},     {1006, 1},  {5, 24},    {8, 3},     {1450, 3},  {18, 12},  {21, 38},
        {109, 38},  {38, 21},   {232, 21},  {50, 31},   {56, 6},    {87, 39},   {121, 34}, {258, 34},
        {995, 34},  {124, 11},  {170, 20},
        // Everything else is an unexpected failure, ERROR_OUTOFMEMORY (14) among them.
        {14, 41},   {1, 41},    {3, 41},    {6, 41},    {233, 41},  {234, 41},  {997, 41},  {0xFFFFFFFF, 41},
    };
    for (const StatusRow &row : rows)
        EXPECT_EQ(ZdtCiMapWin32Error(row.status), row.win32) << "Win32 error " << row.status;
}

TEST(ChannelStatus, OnlyBusyAndBrokenStatusesMarkAChannelForReopening)
{
    const std::set<uint32_t> marking = {20, 25, 36, 38};
    for (uint32_t status = 0; status <= 45; ++status)
        EXPECT_EQ(ChanStatusMarksReopen(status), marking.count(status) == 1) << "status " << status;
}

} // namespace
