#pragma once
// Fault injection: which faults the script attached to an open or a request, and what they make of
// the replies that the responders produced.

#include "script.h"
#include "sim_types.h"

#include <cstdint>
#include <vector>

// What the channel must do besides sending the shaped replies.
struct FaultOutcome {
    bool close = false;
    bool exit = false;
    bool unhealthy = false;
    uint32_t busy = 0;
    uint32_t stalePackets = 0; // on open: packets to push before the open is answered
};

class FaultInjector {
public:
    explicit FaultInjector(const Script &script) : m_Script(script) {}

    std::vector<Fault> ForOpen(uint32_t ordinal) const;
    std::vector<Fault> ForRequest(uint32_t ordinal) const;

    // Shapes the replies to a request of the given sequence.
    static FaultOutcome ApplyToReplies(const std::vector<Fault> &faults, uint16_t sequence, std::vector<Packet> *replies);
    // What faults on an open ask for.
    static FaultOutcome ApplyToOpen(const std::vector<Fault> &faults);
    // Packets that answer no request of the channel's user.
    static std::vector<Packet> StalePackets(uint32_t count);

private:
    static void ApplyToChannel(const Fault &fault, FaultOutcome *outcome);

    const Script &m_Script;
};
