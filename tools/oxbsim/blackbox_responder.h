#pragma once
// The black-box health log service: answers the source, feeder, select, describe and data
// requests and the two status queries with replies of the request's sequence, and keeps what it
// accepted in the record: sources ("bbsource"), feeders ("bbfeeder", "bbunregister"), selections
// ("bbselect"), descriptors ("bbdesc") and records decoded by the code tables ("bbdata").
//
// Directives ("blackbox ..." lines of the script):
//   cleared N                 the first N cleared queries report the log cleared
//   disabled N                the first N disabled queries report the log disabled
//   silent                    no black-box request is answered
//   on KIND K: ACTION         at the K-th request of KIND (source, register, unregister, select,
//                             describe, data, cleared, disabled):
//     status N                answer with status N and keep nothing
//     handle N                answer a source or registration with handle N, keeping nothing
//     forget                  forget every feeder first (so a feeder request is answered 5)
//     silent                  answer neither this nor any later black-box request

#include "recorder.h"
#include "responder.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class BlackboxResponder : public Responder {
public:
    explicit BlackboxResponder(Recorder &recorder) : m_Recorder(recorder) {}
    // The directives' words after "blackbox"; false with a reason for a line that is not one.
    bool Configure(const std::vector<std::string> &lines, std::string *error);
    bool Answer(uint32_t channel, uint32_t ordinal, const Packet &request, std::vector<Packet> *replies) override;

    static constexpr uint16_t kRequestSize = 1008;
    static constexpr uint16_t kReplySize = 592;
    static constexpr uint16_t kServiceWord = 0x11;
    static constexpr uint32_t kStatusUnknownFeeder = 5;

private:
    enum class Action { Status, Handle, Forget, Silent };
    struct Scheduled {
        Action action = Action::Status;
        uint32_t value = 0;
    };
    struct Feeder {
        std::string name;
        int32_t selectedCode = -1;
    };

    // The answer of one request under the lock; false when it goes unanswered.
    bool Handle(const Packet &request, uint32_t service, uint32_t command, uint32_t *result, uint32_t *word12,
                uint32_t *word28);

    Recorder &m_Recorder;
    std::mutex m_Lock;
    std::map<std::string, uint32_t> m_Sources;
    std::map<uint32_t, Feeder> m_Feeders;
    uint32_t m_NextSource = 1;
    uint32_t m_NextFeeder = 1;
    uint32_t m_Cleared = 0;
    uint32_t m_Disabled = 0;
    bool m_Silent = false;
    std::map<std::string, uint32_t> m_Counts;                       // requests seen per kind
    std::map<std::string, std::map<uint32_t, Scheduled>> m_Scheduled; // kind -> ordinal -> action
};
