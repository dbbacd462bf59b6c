#pragma once
// The pure part of the sub-agent's answer: a Get or GetNext the bounded reader accepted, answered
// from a store into the Response being built. No thread, no transport: built and fuzzed natively.

#include "agentx_pdu.h"
#include "datastore.h"

#include <cstdint>

// Answers every search range of request with one varbind: for Get the object at the range's start
// or noSuchObject, for GetNext (next) the first object in the range or endOfMibView, each named
// with the start as received when nothing is found. response: a Response begun in a buffer of
// AGENTX_PDU_BUFFER_SIZE bytes; its error is set to 0, or to tooBig without varbinds when the
// answer would not fit. A null store answers every range as not found.
void AnswerAgentXRanges(DATASTORE *store, const AGENTX_RECEIVED_PDU &request, uint8_t *response, bool next);
