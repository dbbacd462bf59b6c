#pragma once
// What the modules of the simulated management processor pass between them.

#include <cstdint>
#include <string>
#include <vector>

using Packet = std::vector<uint8_t>;

// One thing the simulator does to a channel on request of its script.
enum class FaultKind {
    Stale,     // count replies with other sequences before the right one
    Misnumber, // a copy of the reply numbered count, with a failure status, before the reply
    Renumber,  // the reply goes out numbered count instead of its request's number
    NoReply,   // no reply at all
    Oversize,  // the reply grows to count bytes, its size field with it
    Truncate,  // only the first count bytes of the reply go out
    Short,     // the reply carries command 0xFFFF and only its first count bytes go out
    Close,     // the channel's pipes close instead of a reply
    Busy,      // the channel's next count sends are answered busy
    Unhealthy, // the status control fails from now on
    Exit,      // the simulator goes away at once
};

struct Fault {
    FaultKind kind = FaultKind::NoReply;
    uint32_t count = 0;
};
