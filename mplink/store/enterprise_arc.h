#pragma once
// The maker's enterprise arc, under which lie every private MIB group, the sub-agent's own OID and
// the enterprise trap OIDs. 32473 is the enterprise number reserved for documentation.

#include <cstdint>
#include <initializer_list>

#include "datastore.h"

constexpr uint32_t ENTERPRISE_NUMBER = 32473;
constexpr uint32_t ENTERPRISE_ARC[] = {1, 3, 6, 1, 4, 1, ENTERPRISE_NUMBER};
constexpr int32_t ENTERPRISE_ARC_LENGTH = static_cast<int32_t>(sizeof(ENTERPRISE_ARC) / sizeof(ENTERPRISE_ARC[0]));

// ENTERPRISE_ARC followed by the given sub-identifiers (an invalid OID when that is too long).
inline MIBOID EnterpriseOid(std::initializer_list<uint32_t> below)
{
    MIBOID oid;
    oid.Assign(ENTERPRISE_ARC, ENTERPRISE_ARC_LENGTH);
    for (uint32_t id : below) {
        if (!oid.Append(id)) {
            oid.count = -1;
            break;
        }
    }
    return oid;
}
