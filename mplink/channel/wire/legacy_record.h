#pragma once
// The record the legacy channel driver fills when it opens a channel. It is the in and out buffer
// of the open control and stays the channel's context afterwards.

#include <cstddef>
#include <cstdint>

struct LEGACY_RING_DESCRIPTOR {
    uint64_t Slots;       // address of the ring's slot array (R)
    uint64_t Buffers;     // address of the ring's buffer area
    uint32_t BufferShift; // low 4 bits: buffer size = 1 << shift
    uint32_t Unused;
};

struct LEGACY_CHANNEL_RECORD {
    char DeviceName[64];          // out: NUL-terminated ASCII, unless the driver filled all 64
    uint32_t Priority;            // in
    uint32_t SendBufferCount;     // in
    uint32_t SendBufferSize;      // in
    uint32_t ReceiveBufferCount;  // in
    uint32_t ReceiveBufferSize;   // in
    uint32_t NameRequest;         // in, always 0
    uint8_t DriverData[128];      // out, not used
    LEGACY_RING_DESCRIPTOR SendRing;    // out
    LEGACY_RING_DESCRIPTOR ReceiveRing; // out
    uint64_t SendDoorbell;        // out: address of a u32 in shared memory
    uint32_t ReceiveEventNumber;  // out
    uint8_t Unused1[68];
    uint32_t Status;              // out, preset to 4 before the call
    uint32_t Unused2;
    uint64_t ChannelDevice;       // kept by this side
    uint64_t ReceiveEvent;        // kept by this side
};

static_assert(sizeof(LEGACY_RING_DESCRIPTOR) == 24);
static_assert(offsetof(LEGACY_RING_DESCRIPTOR, Buffers) == 8);
static_assert(offsetof(LEGACY_RING_DESCRIPTOR, BufferShift) == 16);
static_assert(sizeof(LEGACY_CHANNEL_RECORD) == 368);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, Priority) == 0x040);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, SendBufferCount) == 0x044);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, SendBufferSize) == 0x048);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, ReceiveBufferCount) == 0x04C);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, ReceiveBufferSize) == 0x050);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, NameRequest) == 0x054);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, DriverData) == 0x058);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, SendRing) == 0x0D8);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, ReceiveRing) == 0x0F0);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, SendDoorbell) == 0x108);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, ReceiveEventNumber) == 0x110);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, Status) == 0x158);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, ChannelDevice) == 0x160);
static_assert(offsetof(LEGACY_CHANNEL_RECORD, ReceiveEvent) == 0x168);

// Device controls of the legacy driver.
constexpr uint32_t kLegacyOpenChannelControl = 0x90002400;
constexpr uint32_t kLegacyArmReceiveControl = 0x90002408;
