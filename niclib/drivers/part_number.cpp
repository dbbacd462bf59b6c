// The option part number of a miniport's NIC, from compiled-in tables keyed by adapter family.

#include "miniport.h"

#include <cwchar>

namespace {

// The maker's rows are product data that this build does not carry: every family is empty, so
// every miniport reports "N/A" until rows are supplied here.
constexpr PARTNUMBERTABLES kShippedTables = {};

const PARTNUMBERTABLES *s_Tables = &kShippedTables;

struct FAMILYCHOICE {
    int family;            // -1: no table
    const wchar_t *missLine; // none: silent
};

FAMILYCHOICE ChooseFamily(uint8_t type)
{
    switch (type) {
    case 2:
        return {kPartGeneric, L"Could not detect Generic NIC Part #!"};
    case 4:
        return {kPartTlan, L"Could not detect TLAN Part #!"};
    case 5: case 6: case 7: case 8: case 13: case 14: case 18: case 20:
        return {kPartIntel, nullptr};
    case 9:
        return {kPartBroadcom, L"Could not detect Broadcom Part #!"};
    case 10:
        return {kPartNetXen, nullptr};
    case 11:
        return {kPartEmulex, L"Could not detect Emulex Part #!"};
    case 12:
        return {kPartMellanox, L"Could not detect Mellanox Part #!"};
    case 15:
        return {kPartMlx5, L"Could not detect MLX5 NIC Part #!"};
    case 16:
        return {kPartQ579xx, nullptr};
    case 17:
        return {kPartSfc, nullptr};
    case 19:
        return {kPartSfNdis, nullptr};
    case 21:
        return {kPartIonic, nullptr};
    default:
        return {-1, L"Could not detect Part #!"};
    }
}

} // namespace

const PARTNUMBERTABLES &PartNumberTables()
{
    return *s_Tables;
}

ScopedPartNumberTables::ScopedPartNumberTables(const PARTNUMBERTABLES &tables) : m_Saved(s_Tables)
{
    s_Tables = &tables;
}

ScopedPartNumberTables::~ScopedPartNumberTables()
{
    s_Tables = m_Saved;
}

const wchar_t *LookupPartNumber(const PARTNUMBERTABLES &tables, uint8_t adapterType, uint32_t pciId,
                                uint32_t subsystemId, const wchar_t **missLine)
{
    const FAMILYCHOICE choice = ChooseFamily(adapterType);
    *missLine = choice.missLine;
    if (choice.family < 0)
        return nullptr;
    const PARTNUMBERTABLE &table = tables.family[choice.family];
    const uint32_t key = choice.family == kPartTlan ? pciId : subsystemId;
    const uint16_t deviceId = static_cast<uint16_t>(pciId & 0xFFFF);
    for (size_t i = 0; table.rows != nullptr && i < table.count; ++i) {
        const PARTNUMBERROW &row = table.rows[i];
        if (row.key != key || (row.deviceId != 0 && row.deviceId != deviceId))
            continue;
        // A matching row without a number ends the lookup with "N/A" and no line.
        *missLine = nullptr;
        return row.partNumber;
    }
    return nullptr;
}

void CMiniport::SetPartNumber()
{
    static constexpr wchar_t kFunction[] = L"CMiniport::SetPartNumber";
    LOG_INFO(kFunction, L"Setting device part number!");
    LOG_VERBOSE(kFunction, L"SubID: 0x%08X Adapter Type: %d", m_SubsystemId, static_cast<int>(m_AdapterType));
    const wchar_t *missLine = nullptr;
    const wchar_t *found = LookupPartNumber(PartNumberTables(), m_AdapterType, m_PciId, m_SubsystemId, &missLine);
    wcsncpy(m_PartNumber, found != nullptr ? found : L"N/A", kPartNumberChars - 1);
    m_PartNumber[kPartNumberChars - 1] = L'\0';
    if (missLine != nullptr)
        LOG_VERBOSE(kFunction, L"%s", missLine);
}
