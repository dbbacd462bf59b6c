// An independent reader of the event manifest resource, for the tests: it finds the resource in
// a program file through the PE resource directory and reads the compiled manifest into plain
// values. It trusts nothing it reads: every offset and count is checked against the bytes that
// are there before it is followed, and anything that does not fit is an error, never a read
// beyond the input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wevtread {

struct Bytes {
    const uint8_t *data = nullptr;
    size_t size = 0;
};

// The data of the first resource of the named type (e.g. u"WEVT_TEMPLATE") in a PE file's bytes.
bool FindResourceBytes(Bytes file, const std::u16string &type, Bytes *resource, std::string *error);

using Guid = std::array<uint8_t, 16>; // as stored: Data1, Data2, Data3 little-endian, then Data4

struct Channel {
    uint32_t value = 0;
    uint32_t message = 0;
    std::string name;
};

struct Level {
    uint32_t value = 0;
    uint32_t message = 0;
    std::string name;
};

struct Keyword {
    uint64_t mask = 0;
    uint32_t message = 0;
    std::string name;
};

struct Field {
    std::string name;
    uint8_t type = 0;   // input type of the descriptor; value type of the substitution
    uint8_t output = 0; // output type (descriptor only)
    uint16_t substitution = 0;
};

struct Template {
    Guid guid{};
    std::vector<Field> descriptors; // the descriptors and their names
    std::vector<Field> data;        // the Data elements of the BinXml shape, in order
    std::string root;               // the outer element's name
};

struct Event {
    uint16_t value = 0;
    uint8_t version = 0;
    uint8_t channel = 0;
    uint8_t level = 0;
    uint8_t opcode = 0;
    uint16_t task = 0;
    uint64_t keywords = 0;
    uint32_t message = 0;
    int templateIndex = -1; // into Manifest::templates
    int levelIndex = -1;    // the level definition the event points at, into Manifest::levels
};

struct Manifest {
    uint16_t major = 0;
    uint16_t minor = 0;
    Guid provider{};
    uint32_t providerMessage = 0;
    std::vector<Channel> channels;
    std::vector<Level> levels;
    std::vector<Keyword> keywords;
    std::vector<Template> templates;
    std::vector<Event> events;
};

// Reads a compiled manifest holding exactly one provider.
bool ReadManifest(Bytes crim, Manifest *manifest, std::string *error);

std::string GuidText(const Guid &guid); // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}

} // namespace wevtread
