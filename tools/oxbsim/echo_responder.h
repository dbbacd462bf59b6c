#pragma once
// Sends a packet back as its own reply (command with the reply bit): the far end of a loop for
// tests of the layers below the services.

#include "responder.h"

class EchoResponder : public Responder {
public:
    bool Answer(uint32_t channel, uint32_t ordinal, const Packet &request, std::vector<Packet> *replies) override;
};
