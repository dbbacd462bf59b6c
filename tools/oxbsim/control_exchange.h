#pragma once
// The control exchange: the simulated driver's answers to the four device controls of a channel
// (set priority, set buffers, open, status). A driver has a fixed number of channels; an open
// beyond them is refused as the driver refuses it, with no waiting.

#include "pipe_protocol.h"

#include <atomic>
#include <cstdint>

class ChannelPool {
public:
    explicit ChannelPool(uint32_t channels) : m_Free(static_cast<int>(channels)) {}
    bool Take();
    void Give();

private:
    std::atomic<int> m_Free;
};

struct ChannelDriverState {
    bool opened = false;
    bool healthy = true;
    uint32_t priority = 0;
    uint32_t buffers[4] = {}; // send count, send size, receive count, receive size
};

struct ControlAnswer {
    uint32_t error = 0;   // the Win32 error the device control completes with
    bool opened = false;  // this control opened the channel
};

ControlAnswer AnswerDeviceControl(ChannelDriverState *state, ChannelPool *pool, const pipeproto::ControlMessage &request);
