#include "control_exchange.h"

#include "byte_reader.h"
#include "channel_status.h"

namespace {

// The codes of the current driver generation: device type 0x22, buffered, any access.
constexpr uint32_t ControlCode(uint32_t function) { return (0x22u << 16) | (function << 2); }
constexpr uint32_t kSetPriority = ControlCode(0xC82);
constexpr uint32_t kSetBuffers = ControlCode(0xC83);
constexpr uint32_t kOpen = ControlCode(0xC84);
constexpr uint32_t kStatus = ControlCode(0xC85);
static_assert(kSetPriority == 2241032 && kStatus == 2241044);

constexpr uint32_t kInvalidFunction = 1;

} // namespace

bool ChannelPool::Take()
{
    int free = m_Free.load();
    do {
        if (free <= 0)
            return false;
    } while (!m_Free.compare_exchange_weak(free, free - 1));
    return true;
}

void ChannelPool::Give()
{
    ++m_Free;
}

ControlAnswer AnswerDeviceControl(ChannelDriverState *state, ChannelPool *pool, const pipeproto::ControlMessage &request)
{
    ControlAnswer answer;
    ByteReader input(request.payload, request.payloadSize);
    switch (request.value) {
    case kSetPriority:
        if (request.payloadSize != 4 || !input.U32(0, &state->priority))
            answer.error = win32err::kInvalidParameter;
        break;
    case kSetBuffers:
        if (request.payloadSize != 16) {
            answer.error = win32err::kInvalidParameter;
            break;
        }
        for (int i = 0; i < 4; ++i)
            input.U32(4 * i, &state->buffers[i]);
        break;
    case kOpen:
        if (state->opened)
            break;
        if (!pool->Take()) {
            answer.error = win32err::kNoMoreFiles;
            break;
        }
        state->opened = true;
        state->healthy = true;
        answer.opened = true;
        break;
    case kStatus:
        answer.error = state->opened && state->healthy ? win32err::kSuccess : win32err::kNotReady;
        break;
    default:
        answer.error = kInvalidFunction;
        break;
    }
    return answer;
}
