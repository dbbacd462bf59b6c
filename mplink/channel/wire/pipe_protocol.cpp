#include "pipe_protocol.h"

#include "byte_reader.h"

#include <cstring>

namespace pipeproto {
namespace {

size_t Encode(uint32_t magic, const ControlMessage &message, uint8_t *out, size_t capacity)
{
    if (message.payloadSize > kMaxPayload || out == nullptr || capacity < kHeaderSize + message.payloadSize)
        return 0;
    PutU32(out, magic);
    PutU32(out + 4, message.id);
    PutU32(out + 8, message.value);
    PutU32(out + 12, message.payloadSize);
    std::memcpy(out + kHeaderSize, message.payload, message.payloadSize);
    return kHeaderSize + message.payloadSize;
}

bool Decode(uint32_t magic, const uint8_t *data, size_t size, ControlMessage *message)
{
    ByteReader reader(data, size);
    uint32_t actualMagic = 0;
    ControlMessage decoded;
    if (!reader.U32(0, &actualMagic) || actualMagic != magic || !reader.U32(4, &decoded.id) ||
        !reader.U32(8, &decoded.value) || !reader.U32(12, &decoded.payloadSize))
        return false;
    if (decoded.payloadSize > kMaxPayload || size != kHeaderSize + decoded.payloadSize)
        return false;
    if (!reader.Bytes(kHeaderSize, decoded.payload, decoded.payloadSize))
        return false;
    *message = decoded;
    return true;
}

} // namespace

size_t EncodeRequest(const ControlMessage &message, uint8_t *out, size_t capacity)
{
    return Encode(kRequestMagic, message, out, capacity);
}

size_t EncodeReply(const ControlMessage &message, uint8_t *out, size_t capacity)
{
    return Encode(kReplyMagic, message, out, capacity);
}

bool DecodeRequest(const uint8_t *data, size_t size, ControlMessage *message)
{
    return Decode(kRequestMagic, data, size, message);
}

bool DecodeReply(const uint8_t *data, size_t size, ControlMessage *message)
{
    return Decode(kReplyMagic, data, size, message);
}

std::wstring ControlPipePath(const std::wstring &name)
{
    return L"\\\\.\\pipe\\" + name;
}

std::wstring DataPipePath(const std::wstring &controlPath, uint32_t channel)
{
    return controlPath + L"." + std::to_wstring(channel);
}

std::wstring BusyCounterName(const std::wstring &controlPath, uint32_t channel)
{
    size_t slash = controlPath.find_last_of(L'\\');
    std::wstring last = slash == std::wstring::npos ? controlPath : controlPath.substr(slash + 1);
    return L"Local\\" + last + L"." + std::to_wstring(channel) + L".busy";
}

} // namespace pipeproto
