#pragma once
// Hand-built SMBIOS copies (firmware layout: 8-byte header, then the structures) for the tests,
// the dmidecode cross-check and the fuzzer's seeds.

#include <cstdint>
#include <string>
#include <vector>

struct SampleStructure {
    uint8_t type;
    uint16_t handle;
    std::vector<uint8_t> body;        // the formatted area after the 4-byte header
    std::vector<std::string> strings; // none: the set is two NULs
    int length = -1;                  // the formatted length to claim; -1: the real one
};

std::vector<uint8_t> BuildStructures(const std::vector<SampleStructure> &structures);
// The header claims the given length, or that of the structures when it is negative.
std::vector<uint8_t> BuildCopy(const std::vector<uint8_t> &structures, long claimedLength = -1);

struct Sample {
    std::string name;
    std::vector<uint8_t> copy;
};
std::vector<Sample> Samples();
const Sample &SampleNamed(const std::string &name);
