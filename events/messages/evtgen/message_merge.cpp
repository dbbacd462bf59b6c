// A compiled message table: a 32-bit block count, then per block the lowest and highest
// identifier and the offset of its entries; each entry is a 16-bit length (of the whole entry,
// a multiple of 4), 16-bit flags (1: UTF-16 text) and the NUL-terminated text.
#include "evtgen.h"

#include <map>

namespace evtgen {

namespace {

uint32_t Read32(const std::vector<uint8_t> &d, size_t at)
{
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

void Put16(std::vector<uint8_t> &d, uint32_t v)
{
    d.push_back(static_cast<uint8_t>(v));
    d.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t> &d, uint32_t v)
{
    Put16(d, v & 0xFFFF);
    Put16(d, v >> 16);
}

} // namespace

bool AddMessages(std::vector<uint8_t> &table, const std::vector<evtable::NamedMessage> &messages, std::string *error)
{
    auto fail = [error](const std::string &why) {
        *error = why;
        return false;
    };
    std::map<uint32_t, std::vector<uint8_t>> entries;
    if (table.size() < 4)
        return fail("message table shorter than its block count");
    uint32_t blocks = Read32(table, 0);
    if (blocks > (table.size() - 4) / 12)
        return fail("message table block count beyond its size");
    for (uint32_t b = 0; b < blocks; ++b) {
        uint32_t low = Read32(table, 4 + 12 * b), high = Read32(table, 8 + 12 * b);
        size_t at = Read32(table, 12 + 12 * b);
        if (high < low)
            return fail("message table block with its highest identifier below its lowest");
        for (uint64_t id = low; id <= high; ++id) {
            if (at + 4 > table.size())
                return fail("message table entry beyond its end");
            size_t length = table[at] | table[at + 1] << 8;
            if (length < 4 || length > table.size() - at)
                return fail("message table entry of a bad length");
            entries[static_cast<uint32_t>(id)].assign(table.begin() + at, table.begin() + at + length);
            at += length;
        }
    }
    for (const evtable::NamedMessage &m : messages) {
        if (entries.count(m.id))
            return fail("message identifier already in the table: " + std::to_string(m.id));
        std::vector<uint8_t> entry;
        size_t length = (4 + 2 * (m.text.size() + 1) + 3) / 4 * 4;
        Put16(entry, static_cast<uint32_t>(length));
        Put16(entry, 1);
        for (char c : m.text)
            Put16(entry, static_cast<uint8_t>(c));
        entry.resize(length, 0);
        entries[m.id] = std::move(entry);
    }

    // One block per run of consecutive identifiers, the entries after the blocks.
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (const auto &e : entries) {
        if (!runs.empty() && runs.back().second + 1 == e.first)
            runs.back().second = e.first;
        else
            runs.emplace_back(e.first, e.first);
    }
    std::vector<uint8_t> out;
    Put32(out, static_cast<uint32_t>(runs.size()));
    size_t at = 4 + 12 * runs.size();
    for (const auto &run : runs) {
        Put32(out, run.first);
        Put32(out, run.second);
        Put32(out, static_cast<uint32_t>(at));
        for (uint64_t id = run.first; id <= run.second; ++id)
            at += entries[static_cast<uint32_t>(id)].size();
    }
    for (const auto &e : entries)
        out.insert(out.end(), e.second.begin(), e.second.end());
    table = std::move(out);
    return true;
}

} // namespace evtgen
