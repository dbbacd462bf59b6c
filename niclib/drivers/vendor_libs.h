#pragma once
// The NIC vendors' user-mode management libraries, QLMAPI ("qlmapia.dll") and BMAPI
// ("bmapia.dll"), loaded by bare file name when present and bound by entry-point name; the
// next-generation slot (ngBMAPI) is never brought up.
//
// The libraries are held for as long as any miniport object lives: the first construction brings
// them up, the last destruction releases them, so copies and temporaries do not cycle them. A
// bring-up that spent its attempts is not tried again until no miniport is left; a library that
// answers 51 (no NIC of its kind) or lacks its initialise entry point is not tried again at all.
// Without this a QLMAPI that keeps failing would cost a minute per miniport object.
//
// Everything here runs on the data-collection thread; the slots take no lock.

#include "nic_platform.h"

#include <cstdint>

// Attempts and waits of the bring-up and the release, in milliseconds on the seam's clock.
constexpr unsigned kQlmapiInitAttempts = 601;
constexpr unsigned kBmapiInitAttempts = 6;
constexpr DWORD kVendorInitRetryMs = 100;
constexpr DWORD kVendorReleaseWaitMs = 100;
// The vendors' own "no NIC of this kind present" code.
constexpr uint32_t kVendorNicNotFound = 51;

// The vendors' initialise and uninitialise entry points: (reserved 0) -> result, and () -> result.
using VendorInitializeFn = uint32_t(__cdecl *)(uint32_t);
using VendorUninitializeFn = uint32_t(__cdecl *)();

enum QlmapiEntry {
    kQLmapiInitializeEx,
    kQLmapiUninitialize,
    kQLmapiGetHandleByServiceName,
    kQLmapiGetBRCMNicInfo,
    kQLmapiRetrieveLinkStatus,
    kQLmapiGetNumPhyNic,
    kQLmapiGetAllPhyNic,
    kQLmapiGetVbdEnumInfo,
    kQLmapiGet5706FwInfo,
    kQLmapiGet57710FwInfo,
    kQLmapiGet579XXFwInfo,
    kQLmapiGetPhyNic,
    kQlmapiEntryCount
};

enum BmapiEntry {
    kBmapiInitializeEx,
    kBmapiUninitialize,
    kBmapiGetHandleByServiceName,
    kBmapiGetBRCMNicInfo,
    kBmapiGetNumPhyNic,
    kBmapiGetAllPhyNic,
    kBmapiGetVbdEnumInfo,
    kBmapiGetFirmwareInfo,
    kBmapiGet5706FwInfo,
    kBmapiGet57710FwInfo,
    kBmapiReadVPDVal,
    kBmapiGetAllPhyNicHandles,
    kBmapiGetPhyNic,
    kBmapiGetServiceName,
    kBmapiIsInitialized,
    kBmapiEntryCount
};

// The module handle, or none when the library cannot be loaded. Every entry point is resolved
// (again) on each call.
HMODULE LoadQMAPI();
HMODULE LoadBMAPI();
// The initialised flag after the bring-up (1 when the library is up).
int InitializeQMAPI();
int InitializeBMAPI();
int InitializeNGBMAPI();
// 1 when the library is (now) not initialised, else 0; with queryOnly nothing is released.
int UnInitializeQMAPI(int queryOnly);
int UnInitializeBMAPI(int queryOnly);
int UnInitializeNGBMAPI(int queryOnly);
int IsQMAPIInitialized();
int IsBMAPIInitialized();
int IsNGBMAPIInitialized();

// An entry point of a loaded library, or none.
FARPROC QlmapiEntryPoint(QlmapiEntry entry);
FARPROC BmapiEntryPoint(BmapiEntry entry);

// Called by every miniport construction and destruction.
void HoldVendorLibraries();
void ReleaseVendorLibraries();
unsigned LiveVendorLibraryHolders();

// Tests only: forget every slot (as a fresh load of the library would); modules stay loaded.
void ResetVendorLibrarySlots();
