// The adapter type of a miniport: its driver family, found from the driver's service name.

#include "miniport.h"

#include <cwchar>

namespace {

struct ADAPTERTYPEROW {
    const wchar_t *serviceName;
    uint8_t type;
};

// Compared in this order; the first match decides (the second "QLNDNIC" row never does).
constexpr ADAPTERTYPEROW kAdapterTypes[] = {
    {L"mervox3", 4},    {L"N100", 5},       {L"N1000", 6},       {L"N1e5132", 6},    {L"E100", 7},
    {L"E1000", 8},      {L"q57w2k", 9},     {L"q57amd64", 9},    {L"l2nd", 9},       {L"l2nd2", 16},
    {L"NXP2NIC", 10},   {L"N1000x8", 6},    {L"N1000e8", 6},     {L"q57nd60x", 9},   {L"q57nd60a", 9},
    {L"e1qexpress", 6}, {L"e1rexpress", 6}, {L"NXND6QZ", 10},    {L"NXND5QZ", 10},   {L"b57nd", 9},
    {L"b57w2k", 9},     {L"e1express", 6},  {L"be2net", 11},     {L"mlx4eth5", 12},  {L"mlx4eth6", 12},
    {L"QLNDNIC", 10},   {L"QLNDNIC", 10},   {L"ixgbn", 13},      {L"ixgbt", 14},     {L"mlx4eth62", 12},
    {L"xoib62", 12},    {L"mlx4eth63", 12}, {L"ipoib6x", 12},    {L"i40ea", 8},      {L"mlx5", 15},
    {L"SFCNDIS", 17},   {L"bnxtnd", 9},     {L"i40eb", 8},       {L"ixgbs", 18},     {L"SFNDIS", 19},
    {L"icea", 20},      {L"ionic", 21},
};

// Any other 802.3 adapter.
constexpr uint8_t kGenericEthernetType = 2;

} // namespace

void CMiniport::SetAdapterType(const wchar_t *serviceName)
{
    static constexpr wchar_t kFunction[] = L"CMiniport::SetAdapterType";
    LOG_VERBOSE(kFunction, L"Saving adapter type");
    if (serviceName != nullptr) {
        for (const ADAPTERTYPEROW &row : kAdapterTypes) {
            if (_wcsicmp(row.serviceName, serviceName) == 0) {
                m_AdapterType = row.type;
                break;
            }
        }
    }
    if (m_AdapterType == 0) {
        if (m_Medium == 0)
            m_AdapterType = kGenericEthernetType;
        else
            LOG_VERBOSE(kFunction, L"Unknown adapter: %s", serviceName != nullptr ? serviceName : L"");
    }
    SetPartNumber();
}
