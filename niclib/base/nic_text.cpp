#include "nic_text.h"

#include <cstring>

namespace {

// Rows whose description contains any of these are filtering or virtual layers, not adapters.
constexpr std::wstring_view kRejectedParts[] = {
    L"WAN Miniport",
    L"WAN ",
    L"Microsoft Hyper-V",
    L"WFP LightWeightFilter",
    L"WFP Native MAC Layer",
    L"Microsoft Virtual Network Switch",
    L"QoS Packet Scheduler",
};
constexpr std::wstring_view kMultiplexor = L"Microsoft Network Adapter Multiplexor";
constexpr std::wstring_view kLoopbackName = L"Software Loopback Interface 1";
constexpr std::wstring_view kKernelDebugAdapter = L"Microsoft Kernel Debug Network Adapter";
constexpr std::wstring_view kVirtual = L"Virtual";

bool Contains(std::wstring_view text, std::wstring_view part)
{
    return text.find(part) != std::wstring_view::npos;
}

} // namespace

int IsRealInterfaceDescription(uint32_t type, uint32_t speed, std::wstring_view description)
{
    if (type != kIfTypeEthernetCsmacd && type != kIfTypeSoftwareLoopback)
        return 0;
    for (std::wstring_view part : kRejectedParts)
        if (Contains(description, part))
            return 0;
    // Only the team interface itself; longer names are teams' members and pass.
    if (description == kMultiplexor)
        return 0;
    if (speed == 0 && !Contains(description, kLoopbackName))
        return 0;
    if (Contains(description, kKernelDebugAdapter))
        return 0;
    if (Contains(description, kVirtual))
        return 0;
    return 1;
}

size_t InterfaceDescriptionLength(const uint8_t *field, size_t fieldSize, uint32_t declaredLength)
{
    if (field == nullptr)
        return 0;
    size_t limit = declaredLength < fieldSize ? declaredLength : fieldSize;
    const void *nul = std::memchr(field, 0, limit);
    return nul != nullptr ? static_cast<const uint8_t *>(nul) - field : limit;
}

size_t FirstRegistryStringUnits(const void *data, size_t bytes)
{
    if (data == nullptr)
        return 0;
    const uint8_t *at = static_cast<const uint8_t *>(data);
    size_t units = bytes / 2;
    for (size_t i = 0; i < units; ++i)
        if (at[2 * i] == 0 && at[2 * i + 1] == 0)
            return i;
    return units;
}
