#include "script.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

bool ParseCount(std::istringstream &words, uint32_t *count)
{
    long long value = -1;
    if (!(words >> value) || value < 0 || value > 65535)
        return false;
    *count = static_cast<uint32_t>(value);
    return true;
}

// A packet's sequence number, written in decimal or as 0x followed by hex digits.
bool ParseSequence(std::istringstream &words, uint32_t *sequence)
{
    std::string word;
    if (!(words >> word) || word.empty())
        return false;
    bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    const std::string digits = hex ? word.substr(2) : word;
    if (digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos ||
        digits.size() > 5)
        return false;
    unsigned long value = std::stoul(digits, nullptr, hex ? 16 : 10);
    if (value > 0xFFFF)
        return false;
    *sequence = static_cast<uint32_t>(value);
    return true;
}

bool ParseAction(std::istringstream &words, Fault *fault, std::string *error)
{
    std::string name;
    words >> name;
    enum class Operand { None, Count, Sequence };
    struct Kind {
        const char *name;
        FaultKind kind;
        Operand operand;
    };
    static const Kind kinds[] = {
        {"stale", FaultKind::Stale, Operand::Count},
        {"misnumber", FaultKind::Misnumber, Operand::Sequence},
        {"renumber", FaultKind::Renumber, Operand::Sequence},
        {"noreply", FaultKind::NoReply, Operand::None},
        {"oversize", FaultKind::Oversize, Operand::Count},
        {"truncate", FaultKind::Truncate, Operand::Count},
        {"short", FaultKind::Short, Operand::Count},
        {"close", FaultKind::Close, Operand::None},
        {"busy", FaultKind::Busy, Operand::Count},
        {"unhealthy", FaultKind::Unhealthy, Operand::None},
        {"exit", FaultKind::Exit, Operand::None},
    };
    for (const Kind &kind : kinds) {
        if (name != kind.name)
            continue;
        fault->kind = kind.kind;
        if (kind.operand == Operand::Count && !ParseCount(words, &fault->count)) {
            *error = "action '" + name + "' needs a count from 0 to 65535";
            return false;
        }
        if (kind.operand == Operand::Sequence && !ParseSequence(words, &fault->count)) {
            *error = "action '" + name + "' needs a sequence number from 0 to 0xFFFF";
            return false;
        }
        std::string rest;
        if (words >> rest) {
            *error = "unexpected '" + rest + "' after action '" + name + "'";
            return false;
        }
        return true;
    }
    *error = "unknown action '" + name + "'";
    return false;
}

} // namespace

bool ParseDirective(const std::string &line, Script *script, std::string *error)
{
    std::string text = line;
    if (text.compare(0, 7, "agentx ") == 0) {
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
            text.pop_back();
        script->agentx.push_back(text.substr(7));
        return true;
    }
    if (text.compare(0, 9, "blackbox ") == 0) {
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
            text.pop_back();
        script->blackbox.push_back(text.substr(9));
        return true;
    }
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    // "on request 3: stale 2" and "on request 3 : stale 2" read alike.
    for (size_t colon = text.find(':'); colon != std::string::npos; colon = text.find(':', colon + 3))
        text.replace(colon, 1, " : ");
    std::istringstream words(text);
    std::string verb;
    if (!(words >> verb) || verb[0] == '#')
        return true;

    if (verb == "channels") {
        uint32_t count = 0;
        if (!ParseCount(words, &count)) {
            *error = "channels needs a count";
            return false;
        }
        script->channels = count;
        return true;
    }
    if (verb == "echo") {
        std::string value;
        words >> value;
        if (value != "on" && value != "off") {
            *error = "echo is on or off";
            return false;
        }
        script->echo = value == "on";
        return true;
    }
    if (verb == "on") {
        std::string event;
        long long ordinal = 0;
        std::string colon;
        if (!(words >> event >> ordinal >> colon) || colon != ":" || ordinal < 1 || ordinal > 0xFFFFFFFFLL ||
            (event != "open" && event != "request")) {
            *error = "expected 'on open K: ACTION' or 'on request K: ACTION'";
            return false;
        }
        Fault fault;
        if (!ParseAction(words, &fault, error))
            return false;
        auto &table = event == "open" ? script->onOpen : script->onRequest;
        table[static_cast<uint32_t>(ordinal)].push_back(fault);
        return true;
    }
    *error = "unknown directive '" + verb + "'";
    return false;
}

std::vector<std::string> DirectiveWords(const std::string &line)
{
    std::string text = line;
    for (size_t colon = text.find(':'); colon != std::string::npos; colon = text.find(':', colon + 3))
        text.replace(colon, 1, " : ");
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

bool ParseScriptFile(const std::wstring &path, Script *script, std::string *error)
{
    std::ifstream file{std::filesystem::path(path)};
    if (!file) {
        *error = "cannot read the script file";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (!ParseDirective(line, script, error)) {
            *error = "line " + std::to_string(number) + ": " + *error;
            return false;
        }
    }
    return true;
}
