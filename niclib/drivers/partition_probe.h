#pragma once
// Whether a NIC is partitioned (one port shown as several PCI functions), asked the way each
// family answers: a private OID on the device's LAN interface (Mellanox, Emulex, QLogic), or the
// vendor's management library "bmapi.dll" from this library's own folder (Broadcom). The probes
// only return a number; the port map decides and logs. Data-collection thread only.

#include "nic_platform.h"

#include <cstdint>

constexpr uint32_t kOidMellanoxPartition = 0xFFA0C921;
constexpr uint32_t kOidEmulexPartition = 0xFF02029A;
constexpr uint32_t kOidQlogicPartition = 0xFF010144;
constexpr uint32_t kQlogicPartitionSignature = 0xD1C27B15;
constexpr DWORD kQlogicPartitionAnswerBytes = 20;

// The Broadcom probe's library, its bring-up and release waits on the seam's clock.
constexpr wchar_t kNparBmapiFile[] = L"bmapi.dll";
constexpr unsigned kNparInitAttempts = 5;
constexpr DWORD kNparInitWaitMs = 1000;
constexpr DWORD kNparReleaseWaitMs = 100;
// The records the library fills: the NIC record (size word first, type at byte 8) and the NIC
// information record (version 19 first, partition value at byte 196).
constexpr uint32_t kNparPhyNicBytes = 16;
constexpr uint32_t kNparNicInfoVersion = 19;
constexpr uint32_t kNparNicInfoBytes = 1024;
constexpr uint32_t kNparPartitionValueOffset = 196;
// More NICs than any host carries: a larger count from the library is cut to this.
constexpr uint32_t kNparMaxNics = 256;
// A PnP device ID longer than this is not one.
constexpr uint32_t kNparMaxPnpIdBytes = 4096;
// The device-node property buffers, in bytes.
constexpr ULONG kNparPropertyBytes = 2048;
// The tape-drive setup class whose devices' location texts the probe compares.
constexpr wchar_t kNparDeviceClass[] = L"{6d807884-7d21-11cf-801c-08002be10318}";

enum NparEntry {
    kNparInitializeEx,
    kNparUninitialize,
    kNparGetBRCMNicInfoEx,
    kNparGetHandleByServiceName,
    kNparGetNumPhyNicEx,
    kNparGetAllPhyNicHandles,
    kNparGetPhyNic,
    kNparGetPnpDevId,
    kNparEntryCount
};

// Each writes *value only when the driver answered; returns 0.
DWORD GetMellanoxPartitionValue(int32_t *value, const wchar_t *interfacePath);
DWORD GetEmulexPartitionValue(int32_t *value, const wchar_t *interfacePath);
DWORD GetQlogicPartitionValue(int32_t *value, const wchar_t *interfacePath);
// 0 when the value was obtained, 2 otherwise.
DWORD GetBroadcomPartitionValue(DEVINST device, int32_t *value);

DWORD LoadNparBmapi();
DWORD UnloadNparBmapi();
DWORD ResolveNparBmapi(HMODULE module);
// *id: a new copy (delete[]) or none.
DWORD FindNparPnpDeviceId(DEVINST device, wchar_t **id);
DWORD FindNparBmapiHandle(const wchar_t *id, uint32_t *handle);
