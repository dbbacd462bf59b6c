#pragma once
// PCIe (NVMe) disk discovery: the disks of Win32_DiskDrive that answer the NVMe Identify request
// and the SCSI temperature page, with their health log, controller, location and condition.

#include "stdeq_pcie_rules.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Appends one record per PCIe disk found, in the order of the WMI enumeration; returns 0.
int EnumeratePcieDisks(std::vector<PCIE_DISK_INFO> *list);
// The 4096 data bytes of Identify Controller (zero when the request failed); false when the
// disk cannot be opened or the request fails.
bool GetNvmeIdentifyController(const char *diskPath, uint8_t *buffer);
// The 512 bytes of the health information log, as GetNvmeIdentifyController.
bool GetNvmeHealthLog(const char *diskPath, uint8_t *buffer);
// 0 when read; 50 when the temperature page is not listed as supported (or the list cannot be
// read); else the failing request's code. Both outputs are 0 first.
DWORD GetScsiTemperature(const char *deviceId, int32_t *temperature, int32_t *reference);
DWORD GetSupportedLogPages(const char *deviceId, std::vector<uint8_t> *pages);
// LOG SENSE through the adapter's pass-through form: 0; 50 for a SCSI status other than 0; 122
// with *size 16 when *size is below 16; or a system error code.
DWORD ScsiPassThrough(const char *path, const uint8_t cdb[10], uint8_t *data, int *size);
// SCSIPassthroughTimeout of the service's Parameters key, read anew each time; 10 without it.
DWORD GetScsiPassThroughTimeout();
bool GetStorageAdapterInfo(HANDLE device, uint32_t *alignmentMask, uint32_t *srbType);
// Bus, device, function from the controller's LocationInformation and the location text from
// SMBIOS; the result of the value read.
LONG GetPcieDiskLocation(PCIE_DISK_INFO *disk);
std::string FormatUnsigned(uint32_t value);
