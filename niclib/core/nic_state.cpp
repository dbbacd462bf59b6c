#include "nic_state.h"

uint32_t g_UpdatePass = 0;
uint32_t g_StartStamp = 0;
uint32_t g_PollTime = 0;
std::map<std::string, int> g_LogicalAdapterConditionMap;
std::map<std::string, int> g_PhysicalAdapterConditionMap;

namespace {

uint32_t s_LogicalIndex = 1;
uint32_t s_PhysicalIndex = 1;
uint32_t s_VlanIndex = 1;

} // namespace

uint32_t GetNextLogicalAdapterIndex()
{
    return s_LogicalIndex++;
}
uint32_t GetNextPhysicalAdapterIndex()
{
    return s_PhysicalIndex++;
}
uint32_t GetNextVlanIndex()
{
    return s_VlanIndex++;
}
void ResetLogicalAdapterIndex()
{
    s_LogicalIndex = 1;
}
void ResetPhysicalAdapterIndex()
{
    s_PhysicalIndex = 1;
}
void ResetVlanIndex()
{
    s_VlanIndex = 1;
}
