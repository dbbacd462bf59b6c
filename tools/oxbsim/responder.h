#pragma once
// A module that answers packets of one kind. The pipe server offers every packet to its responders
// in turn; the first that takes it produces the replies (none is a valid answer).

#include "sim_types.h"

#include <cstdint>
#include <vector>

class Responder {
public:
    virtual ~Responder() = default;
    // False when the packet is not of this responder's kind.
    virtual bool Answer(uint32_t channel, uint32_t ordinal, const Packet &request, std::vector<Packet> *replies) = 0;
};
