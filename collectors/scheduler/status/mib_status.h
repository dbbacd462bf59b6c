#pragma once
// The two status objects that describe every MIB group of the service, as bytes:
//
//   status array       ENTERPRISE_ARC.11.2.10.1.0, 4 x G + 4 bytes (G: highest group number)
//     entry 0 (header)   1, worst condition (at least 1), 10, 0
//     entry g            status, condition, revision major, revision minor of group g
//   condition summary  ENTERPRISE_ARC.11.2.10.7.0, 19 bytes: the condition of groups 5, 14, 16,
//                      18 and 169 at offsets 10, 12, 13, 14 and 18; zero elsewhere
//
// Entries of groups that no enabled collector has stay zero.

#include <cstddef>
#include <cstdint>

#include "datastore.h"

// One enabled collector's view of its group.
struct MIB_GROUP_STATUS {
    uint32_t group = 0;  // 0: the collector has no group and is left out
    uint8_t status = 0;
    uint8_t condition = 0;
    uint8_t revisionMajor = 0;
    uint8_t revisionMinor = 0;
};

namespace mibstatus {
constexpr size_t kEntryBytes = 4;
// Entry fields.
constexpr size_t kStatus = 0, kCondition = 1, kRevisionMajor = 2, kRevisionMinor = 3;
// Header fields (entry 0).
constexpr size_t kHeaderVersion = 0, kHeaderWorstCondition = 1, kHeaderMarker = 2, kHeaderReserved = 3;
constexpr uint8_t kVersion = 1, kMarker = 10;
static_assert(kRevisionMinor + 1 == kEntryBytes && kHeaderReserved + 1 == kEntryBytes, "status entry layout");

// The array has room for 256 entries; a value of the store holds fewer bytes, so the highest
// group that can be published is the last whose array still fits one value.
constexpr size_t kArrayRoom = 1024;
constexpr uint32_t kHighestGroup = static_cast<uint32_t>(MIBVALUE_DATA_BYTES / kEntryBytes - 1);
static_assert(kEntryBytes * (kHighestGroup + 1) <= MIBVALUE_DATA_BYTES, "the largest array fits one store value");
static_assert(kEntryBytes * (kHighestGroup + 1) <= kArrayRoom, "the largest array fits its room");

constexpr size_t kSummaryBytes = 19;
struct SummarySlot {
    uint32_t group;
    size_t offset;
};
constexpr SummarySlot kSummarySlots[] = {{5, 10}, {14, 12}, {16, 13}, {18, 14}, {169, 18}};
static_assert(kSummarySlots[4].offset < kSummaryBytes, "summary layout");

// Sub-identifiers below ENTERPRISE_ARC: the group that holds both objects, and their numbers.
constexpr uint32_t kHostGroup = 11, kStatusBranch = 2, kStatusGroup = 10;
constexpr uint32_t kArrayScalar = 1, kSummaryScalar = 7;
} // namespace mibstatus

// Both objects, built up one enabled collector at a time.
struct MIB_STATUS_OBJECTS {
    uint8_t array[mibstatus::kArrayRoom] = {};
    uint32_t arrayLength = 0;
    uint8_t summary[mibstatus::kSummaryBytes] = {};

    // The header alone: no group yet.
    MIB_STATUS_OBJECTS();
    // Enters one collector's group. A collector without a group, and a group above
    // mibstatus::kHighestGroup (which the array cannot carry), leave everything as it was.
    void Add(const MIB_GROUP_STATUS &group);
};

// Writes both objects into a staging store under ENTERPRISE_ARC.11.2.10, leaving the rest of that
// subtree as it is. False when the group cannot be opened or a value cannot be stored.
bool WriteMibStatusObjects(DATASTORE *staging, const MIB_STATUS_OBJECTS &objects);
