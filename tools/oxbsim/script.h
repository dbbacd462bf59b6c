#pragma once
// Script intake: what a test tells the simulator to do, as directives, one per line or per --do.
//
//   channels N                 the driver has N free channels (4 unless set)
//   echo on|off                packets no other module takes are sent back as replies
//   on open K: ACTION          when the K-th channel of the run opens
//   on request K: ACTION       when the K-th packet of the run arrives (all channels counted)
//
// ACTION: stale N | misnumber S | renumber S | noreply | oversize N | truncate N | short N | close |
//         busy N | unhealthy | exit
// "misnumber S" sends a copy of the reply numbered S, with status 1 in its u32 at offset 8 (a
// refusal, were it taken for the answer), ahead of the reply; several stack in their order.
// "renumber S" sends the reply itself numbered S. S is decimal or 0x followed by hex digits.
// On open, "stale N" pushes N packets before the open is answered; "busy", "unhealthy", "close"
// and "exit" work as on a request.

#include "sim_types.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct Script {
    uint32_t channels = 4;
    bool echo = false;
    std::map<uint32_t, std::vector<Fault>> onOpen;
    std::map<uint32_t, std::vector<Fault>> onRequest;
    // "agentx ..." lines for the AgentX master (agentx_master.h), which reads them itself.
    std::vector<std::string> agentx;
    // "blackbox ..." lines for the black-box responder (blackbox_responder.h).
    std::vector<std::string> blackbox;
};

// Adds one directive; false with a reason when the line is not one. Blank lines and lines that
// begin with '#' are accepted and ignored.
bool ParseDirective(const std::string &line, Script *script, std::string *error);
// A module's directive split into words, a colon standing as a word of its own ("on data 2:
// forget" and "on data 2 : forget" give the same words).
std::vector<std::string> DirectiveWords(const std::string &line);
// Every line of a file.
bool ParseScriptFile(const std::wstring &path, Script *script, std::string *error);
