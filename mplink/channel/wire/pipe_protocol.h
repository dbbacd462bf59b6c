#pragma once
// What the pipe channel backend and the simulated management processor say to each other.
//
// A simulated channel is two message-mode pipes. The control pipe, at the device path, answers the
// exchange that stands in for the driver's device controls; the data pipe carries the channel
// packets, one message each, and is read and written exactly as the driver's device would be.
// Keeping the controls off the data pipe means a read that waits on the channel can never swallow
// the answer to a status control issued meanwhile.
//
// Control request: u32 magic "CTRL", u32 id, u32 code, u32 input size, input bytes.
// Control reply:   u32 magic "RPLY", u32 id, u32 Win32 error, u32 output size, output bytes.
// The first exchange of a control pipe attaches it (code 0); its reply carries the u32 channel
// number that names the data pipe and the busy counter of the channel.

#include <cstddef>
#include <cstdint>
#include <string>

namespace pipeproto {

constexpr uint32_t kRequestMagic = 0x4C525443; // "CTRL"
constexpr uint32_t kReplyMagic = 0x594C5052;   // "RPLY"
constexpr uint32_t kAttachCode = 0;
constexpr size_t kHeaderSize = 16;
constexpr size_t kMaxPayload = 64;
constexpr size_t kMaxMessage = kHeaderSize + kMaxPayload;

struct ControlMessage {
    uint32_t id = 0;
    uint32_t value = 0; // the control code in a request, the Win32 error in a reply
    uint32_t payloadSize = 0;
    uint8_t payload[kMaxPayload] = {};
};

// Both return the message size, or 0 when the payload does not fit kMaxPayload or the output.
size_t EncodeRequest(const ControlMessage &message, uint8_t *out, size_t capacity);
size_t EncodeReply(const ControlMessage &message, uint8_t *out, size_t capacity);

// Both refuse a message of the wrong kind, of a payload larger than kMaxPayload, or whose size
// differs from the header's account of it.
bool DecodeRequest(const uint8_t *data, size_t size, ControlMessage *message);
bool DecodeReply(const uint8_t *data, size_t size, ControlMessage *message);

// "\\.\pipe\<name>" for a simulator name.
std::wstring ControlPipePath(const std::wstring &name);
// The data pipe of channel n: the control pipe's path followed by ".n".
std::wstring DataPipePath(const std::wstring &controlPath, uint32_t channel);
// "Local\<last component of the control path>.n.busy": a shared section whose first LONG counts
// tokens; while it holds some, every send on the channel takes one and is answered busy, as a
// driver without a free send buffer answers. A counter in shared memory rather than a semaphore:
// looking at it on every send costs no system call.
std::wstring BusyCounterName(const std::wstring &controlPath, uint32_t channel);
constexpr uint32_t kBusyCounterBytes = 4096;

} // namespace pipeproto
