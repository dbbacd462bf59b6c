#pragma once
// The requests of the black-box health log over its own channel, the source and the two feeders,
// the descriptor upload and the upload of one queued record. Only the "Black Box" thread calls
// these (tests call them directly).

#include "blackbox_queue.h"
#include "blackbox_wire.h"

#include <windows.h>

#include <cstdint>

struct BLACKBOX_FEEDER {
    uint32_t Flags;
    uint32_t SizeOrFields;   // record size, or field count of an array feeder
    uint32_t EntryCount;     // 0 for a plain feeder
    int32_t Handle;          // -1: not registered
    int32_t SelectedCode;    // -1: none
};

extern BLACKBOX_FEEDER s_MainFeeder;
extern BLACKBOX_FEEDER s_ProcessorUsageFeeder;
extern int32_t s_BlackboxSource; // -1: not open
constexpr char kBlackboxName[] = "TLM";

// Every request returns -1 when its arguments are refused (nothing is sent) or the transaction
// fails, else the reply's result word.
int OpenBlackboxSource(const char *name);
int RegisterBlackboxFeeder(const char *name, int source, uint32_t flags, uint32_t recordSize, int32_t *handle);
int RegisterBlackboxArrayFeeder(const char *name, int source, uint32_t flags, uint32_t fieldCount,
                                uint32_t entryCount, int32_t *handle);
int UnregisterBlackboxFeeder(int32_t handle);
int SelectBlackboxCode(int32_t handle, int code);
int DescribeBlackboxCode(int32_t handle, int length, const void *descriptors);
int DescribeBlackboxField(int32_t handle, int length, const void *descriptors);
int LogBlackboxData(int32_t handle, const void *data, int length);
int LogBlackboxDataArray(int32_t handle, const void *data, int length);
int LogBlackboxDataStatic(int32_t handle, const void *data, int length);
// False on any failure.
bool IsBlackboxCleared(int32_t handle);
bool IsBlackboxDisabled(int32_t handle);

// Use-counted: the first open starts the channel layer and creates the channel object.
bool OpenBlackboxChannel();
void CloseBlackboxChannel();
// One request and its 592-byte reply (zeroed first), with one reset-and-retry of a broken channel.
bool BlackboxTransaction(const BLACKBOX_REQUEST &request, uint8_t *reply);

bool InitFeeders();
bool UploadDescriptors();
// Tests only: forgets that the descriptors were uploaded, as in a fresh process.
void ForgetBlackboxDescriptorsForTest();
// One attempt; a failed record is not retried.
bool UploadBlackboxRecord(const BLACKBOX_RECORD &record);
