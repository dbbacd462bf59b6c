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

bool ParseAction(std::istringstream &words, Fault *fault, std::string *error)
{
    std::string name;
    words >> name;
    struct Kind {
        const char *name;
        FaultKind kind;
        bool counted;
    };
    static const Kind kinds[] = {
        {"stale", FaultKind::Stale, true},     {"noreply", FaultKind::NoReply, false},
        {"oversize", FaultKind::Oversize, true}, {"truncate", FaultKind::Truncate, true},
        {"short", FaultKind::Short, true},     {"close", FaultKind::Close, false},
        {"busy", FaultKind::Busy, true},       {"unhealthy", FaultKind::Unhealthy, false},
        {"exit", FaultKind::Exit, false},
    };
    for (const Kind &kind : kinds) {
        if (name != kind.name)
            continue;
        fault->kind = kind.kind;
        if (kind.counted && !ParseCount(words, &fault->count)) {
            *error = "action '" + name + "' needs a count from 0 to 65535";
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
