#pragma once
// The black-box health log service: answers the feeder requests and the status queries with
// replies of the request's sequence, and keeps sources and feeders so that an unknown feeder
// handle is answered as the management processor answers it.

#include "recorder.h"
#include "responder.h"

#include <map>
#include <mutex>
#include <string>

class BlackboxResponder : public Responder {
public:
    explicit BlackboxResponder(Recorder &recorder) : m_Recorder(recorder) {}
    bool Answer(uint32_t channel, uint32_t ordinal, const Packet &request, std::vector<Packet> *replies) override;

    static constexpr uint16_t kRequestSize = 1008;
    static constexpr uint16_t kReplySize = 592;
    static constexpr uint16_t kServiceWord = 0x11;
    static constexpr uint32_t kStatusUnknownFeeder = 5;

private:
    Recorder &m_Recorder;
    std::mutex m_Lock;
    std::map<std::string, uint32_t> m_Sources;
    std::map<uint32_t, std::string> m_Feeders;
    uint32_t m_NextFeeder = 1;
};
