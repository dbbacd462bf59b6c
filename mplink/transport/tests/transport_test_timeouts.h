#pragma once
// The transport's waits shortened for tests that run it against the simulator.

#include "ax_transport.h"

inline void ShortenTransportTimeouts()
{
    AxTransportTimeouts::PassthruWaitMs = 2000;
    AxTransportTimeouts::HandshakeWaitMs = 2000;
    AxTransportTimeouts::ThreadReadWaitMs = 300;
    AxTransportTimeouts::IdleWaitMs = 300;
    AxTransportTimeouts::QueueWaitMs = 3000;
    AxTransportTimeouts::SettleMs = 10;
}
