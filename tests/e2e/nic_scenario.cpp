// nic_scenario_e2e.exe: the host that the NIC library sees in the NIC link end-to-end test. It
// writes the adapter model's scenario host (scenario_host.h) as the description file that
// netvarix_fixture.dll reads (the file NIC_FIXTURE_HOST names), with NIC A on the address of this
// machine's Ethernet port, so that the library's trap records for NIC A belong to one of the NIC
// collector's adapters. Run again with the other link state, it pulls NIC A's cable or puts it
// back as the scenario's link change does: the driver reports the medium disconnected and the
// interface row's speed drops to 0, or the other way round.
//
//   nic_scenario_e2e.exe --file PATH --mac aa:bb:cc:dd:ee:ff --link up|down [--registry]
//
// --registry also writes the scenario's registry part (Tcpip interface keys, connection names,
// class keys) into this prefix. The file is replaced whole, through a file beside it, and carries
// a time stamp later than the one it replaces: the library reads it again at its next call and
// never sees half of it.
#include "nic_host.h"
#include "scenario_host.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

bool ParseMac(const std::wstring &text, std::vector<uint8_t> *mac)
{
    unsigned bytes[6];
    wchar_t tail = 0;
    if (swscanf(text.c_str(), L"%2x:%2x:%2x:%2x:%2x:%2x%lc", &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4],
                &bytes[5], &tail) != 6)
        return false;
    mac->assign(bytes, bytes + 6);
    return true;
}

// Every place of the host that carries NIC A's address: its interface row and its driver's
// current and permanent address answers.
void MoveNicA(NicHost *host, const std::vector<uint8_t> &mac)
{
    const std::vector<uint8_t> old = scenario::Mac(scenario::kNicA);
    for (NicHostInterface &row : host->interfaces)
        if (row.mac == old)
            row.mac = mac;
    for (NicHostNdisAnswer &answer : host->ndis)
        if (answer.data == old)
            answer.data = mac;
}

uint64_t Stamp(const FILETIME &time) { return uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime; }

bool WriteDescription(const std::wstring &path, const std::string &text)
{
    // Later than now and than the description it replaces, by a whole second.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t stamp = Stamp(now);
    WIN32_FILE_ATTRIBUTE_DATA old = {};
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &old) && Stamp(old.ftLastWriteTime) > stamp)
        stamp = Stamp(old.ftLastWriteTime);
    stamp += 10000000ull;
    const FILETIME written = {static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};

    const std::wstring partial = path + L".new";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr, CREATE_ALWAYS, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
                    done == text.size() && SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    return ok && MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    std::wstring path, link;
    std::vector<uint8_t> mac;
    bool registry = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring key = argv[i];
        if (key == L"--registry") {
            registry = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        if (key == L"--file")
            path = argv[i + 1];
        else if (key == L"--link")
            link = argv[i + 1];
        else if (key == L"--mac" && !ParseMac(argv[i + 1], &mac))
            mac.clear();
        ++i;
    }
    if (path.empty() || mac.size() != 6 || (link != L"up" && link != L"down")) {
        fprintf(stderr, "usage: nic_scenario_e2e --file PATH --mac aa:bb:cc:dd:ee:ff --link up|down [--registry]\n");
        return 2;
    }
    NicHost host = scenario::BuildHost();
    MoveNicA(&host, mac);
    scenario::SetLink(&host, scenario::kNicA, link == L"up");
    if (registry)
        scenario::WriteRegistry();
    if (!WriteDescription(path, FormatNicHost(host))) {
        fprintf(stderr, "nic_scenario_e2e: the description could not be written (%lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
