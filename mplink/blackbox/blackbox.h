#pragma once
// The black box: records of the operating system's life (boot and shutdown, OS, drivers,
// services, software, updates, usage, NIC links) for the management processor's health log.
//
// Producers post records; a post copies the record into a bounded queue and never waits for the
// management processor. The "Black Box" thread keeps the feeders registered, uploads the
// descriptors and sends the queued records one at a time.

#include "worker_thread.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

// Starts the queue and the "Black Box" thread (nothing when EnableBlackbox is 0). Called once by
// the service's start.
bool InitBlackBox();
// Stops the thread and frees what is still queued. Called once by the service's stop.
void TermBlackBox();

// Queues one record: code, static flag, the fixed part and textCount texts (a null text is sent
// as an empty one). 1 when queued, and also when EnableBlackbox is 0 (nothing is queued then);
// 0 when refused (too large, queue full, thread not running).
int PostBlackBoxRecord(uint32_t code, uint32_t staticFlag, const void *fixedPart, int fixedLength,
                       const char *const *texts, size_t textCount);

// The record builders. Texts are 8-bit and NUL-terminated; null counts as empty.
// Posts "OS Boot" once per start of the operating system ("OS Boot Logged" under VolatileData).
void PostOsBootRecord();
int PostOsShutdownRecord();
// version: major, minor, build, patch.
int PostOsInfoRecord(uint8_t type, uint8_t vendor, uint16_t bits, const char *osName, const char *osVersion,
                     const uint16_t version[4], uint16_t servicePack);
// code: kBlackboxCodeDriver or kBlackboxCodeDriverChange.
int PostDriverRecord(uint32_t code, uint16_t flags, const char *name, const char *file, const char *version,
                     const char *timestamp, const char *vendor, const char *pciDevices);
// code: kBlackboxCodeService.
int PostServiceRecord(uint32_t code, uint16_t flags, const char *name, const char *file, const char *version,
                      const char *timestamp, const char *vendor);
// code: kBlackboxCodeSoftware or kBlackboxCodeSoftwareChange.
int PostSoftwareRecord(uint32_t code, uint16_t flags, const char *vendor, const char *name, const char *version,
                       const char *timestamp);
// code: kBlackboxCodeOsUpdate or kBlackboxCodeOsUpdateChange.
int PostOsUpdateRecord(uint32_t code, uint16_t flags, const char *description, const char *identifier,
                       const char *timestamp);
// The total is user + kernel, at most 100.
int PostOsUsageRecord(uint32_t processCount, uint32_t threadCount, uint32_t handleCount, uint8_t userPercent,
                      uint8_t kernelPercent);
int PostMemoryUsageRecord(uint64_t physicalSize, uint64_t physicalFree, uint64_t virtualSize, uint64_t virtualFree);
// usage: processorCount pairs of (user %, kernel %), a byte each.
int PostProcessorUsageRecord(const uint8_t *usage, uint32_t processorCount);
// flags: kNicLinkUp or kNicLinkDown; the description is cut to 255 characters.
int PostNicLinkRecord(uint32_t interfaceIndex, uint16_t flags, const char *description);

constexpr uint32_t kBlackboxCodeDriver = 5;
constexpr uint32_t kBlackboxCodeDriverChange = 16;
constexpr uint32_t kBlackboxCodeService = 6;
constexpr uint32_t kBlackboxCodeSoftware = 7;
constexpr uint32_t kBlackboxCodeSoftwareChange = 18;
constexpr uint32_t kBlackboxCodeOsUpdate = 19;
constexpr uint32_t kBlackboxCodeOsUpdateChange = 20;
constexpr uint16_t kNicLinkUp = 128;
constexpr uint16_t kNicLinkDown = 0;

// Deletes the re-log values under VolatileData.
void ClearRelogFlags();
// After a re-registration: asks every collector to post its records again (re-log values under
// VolatileData, then collection triggers through the installed trigger).
void WriteReLogRegistry();

// The collection trigger WriteReLogRegistry calls ("ZDTHOST" and "MIB-2", 0 seconds). The program
// installs the scheduler's TriggerCollection before InitBlackBox; while none is installed the
// re-log values alone remain for the collectors to find.
using BLACKBOX_TRIGGER = void (*)(const wchar_t *groupName, int seconds);
extern std::atomic<BLACKBOX_TRIGGER> s_BlackBoxTrigger;

// The "Black Box" thread and its procedure.
extern CWorkerThread s_BlackBoxThread;
unsigned __stdcall BlackBoxThread(void *record);

// The registry the black box keeps.
constexpr wchar_t kBlackBoxVolatileKey[] = L"SYSTEM\\CurrentControlSet\\services\\ndxtlm\\VolatileData";
constexpr wchar_t kBlackBoxHostKey[] = L"System\\ZORUROVID";
constexpr wchar_t kBlackBoxParametersKey[] = L"SYSTEM\\CurrentControlSet\\Services\\ndxtlm\\parameters";
// Set by the "AgentX" thread when the management processor was reset.
constexpr wchar_t kBlackBoxResetEventName[] = L"Message: oXB was reset.";

struct BlackBoxTimeouts {
    // How long the thread sleeps between wakes when nothing happens; every wake retries what
    // failed (registration, descriptors, queued records).
    static inline std::atomic<DWORD> WakeMs{30000};
};
