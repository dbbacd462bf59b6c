#pragma once
// Runs oxbsim.exe for a test: starts it beside the test program (so that it shares the test's Wine
// prefix and its pipes), waits until it serves, reads its record (a record that cannot be read
// fails the calling test), and stops or kills it.

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One line of the simulator's record.
struct SimRecord {
    std::string verb;
    std::map<std::string, std::string> fields;

    std::string Get(const std::string &key) const;
    // The field as a number (decimal or 0x...); fallback when absent or not a number.
    uint64_t Number(const std::string &key, uint64_t fallback = ~uint64_t{0}) const;
};

class OxbSim {
public:
    // A name no other simulator of this machine uses.
    static std::wstring UniqueName(const char *tag);

    explicit OxbSim(std::wstring name) : m_Name(std::move(name)) {}
    ~OxbSim();
    OxbSim(const OxbSim &) = delete;
    OxbSim &operator=(const OxbSim &) = delete;

    // Starts it with these directives (script.h); true once it serves its pipe.
    bool Start(const std::vector<std::string> &directives = {});
    // Asks it to end; true when it ended by itself.
    bool Stop();
    // Ends it at once, as a processor that resets.
    void Kill();
    bool Running() const;
    // Waits for the process to end by itself (an "exit" fault); its exit code, or STILL_ACTIVE.
    DWORD WaitForExit(DWORD timeoutMs);

    const std::wstring &Name() const { return m_Name; }
    std::vector<SimRecord> Records() const;
    std::vector<SimRecord> Records(const std::string &verb) const;
    // Waits until the record holds at least count lines of the verb (the simulator records what it
    // receives a little after the sender is done with it); false after the time-out, which leaves
    // room for a machine many times slower than a quiet one.
    bool WaitForRecords(const std::string &verb, size_t count, DWORD timeoutMs = 30000) const;

    // How long a start may take under Wine.
    static constexpr DWORD kStartWaitMs = 60000;

private:
    std::wstring m_Name;
    std::wstring m_RecordPath;
    HANDLE m_Process = nullptr;
    HANDLE m_Ready = nullptr;
    HANDLE m_StopEvent = nullptr;
};
