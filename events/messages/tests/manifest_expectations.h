// What the event manifest has to hold, written down from the event list of the service (not from
// the generator's table), and the checks of a read manifest and of the manifest file against it.
#pragma once

#include "wevt_reader.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace manifest_expect {

constexpr char kProviderGuid[] = "{7588DD71-BA98-4393-9D5C-43C5C6C397BB}";
constexpr char kProviderName[] = "NDX Velmarine Management Service";
constexpr uint32_t kProviderMessage = 0x90000002;
constexpr uint32_t kChannelMessage = 0x90000001;
constexpr uint64_t kKeyword = 0x8000000000000000ull;

struct ExpectedEvent {
    uint16_t value;
    uint8_t level;     // 2 error, 3 warning, 4 informational
    int templateIndex; // 0..3 for T1..T4, -1 for none
    uint32_t message;  // the full identifier
};

// The 202 events: the nine of the service host, then the hardware events by value.
std::vector<ExpectedEvent> ExpectedEvents();

// Checks (with GoogleTest assertions) that a manifest read from the resource holds the provider,
// its channel, levels, keyword, the four templates and every event as expected.
void ExpectManifest(const wevtread::Manifest &manifest);

// Checks that the manifest file names the same provider, templates and events as the resource.
void ExpectFileMatches(const std::string &xml, const wevtread::Manifest &manifest);

std::string ReadFileText(const std::filesystem::path &path);

} // namespace manifest_expect
