// floor_bench.exe: what the platform itself costs for the hops of a request, measured on the spot
// so that the walk benchmark can be set beside them (a benchmark tool, not part of the product).
//
//   floor_bench.exe pipe N          message round trips through a named pipe to a child process
//   floor_bench.exe tcp PORT N      round trips to a TCP echo server on 127.0.0.1:PORT
//   floor_bench.exe event N         hand-offs between two threads through auto-reset events
//   floor_bench.exe wait SECONDS    does nothing (the resident set of any Wine program)
//   floor_bench.exe pipe-echo NAME  (the child of "pipe")
//
// Each prints "<what> <median us>" for one round trip (one hand-off for "event").
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kMessage = 64;

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

int PipeEcho(const wchar_t *name)
{
    HANDLE pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return 1;
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    char buffer[kMessage];
    DWORD got = 0, put = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got != 0)
        if (!WriteFile(pipe, buffer, got, &put, nullptr))
            break;
    CloseHandle(pipe);
    return 0;
}

int Pipe(int rounds)
{
    std::wstring name = L"\\\\.\\pipe\\floorbench." + std::to_wstring(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                   1, 4096, 4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return 1;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" pipe-echo " + name;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
        return 1;
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
        return 1;
    char buffer[kMessage] = {1};
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        DWORD put = 0, got = 0;
        double start = Now();
        if (!WriteFile(pipe, buffer, sizeof buffer, &put, nullptr) || !ReadFile(pipe, buffer, sizeof buffer, &got, nullptr))
            return 1;
        samples.push_back(Now() - start);
    }
    CloseHandle(pipe);
    WaitForSingleObject(child.hProcess, 5000);
    printf("pipe_round_trip_us %.1f\n", Median(samples));
    return 0;
}

int Tcp(int port, int rounds)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return 1;
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
    char buffer[kMessage] = {1};
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        double start = Now();
        if (send(s, buffer, sizeof buffer, 0) != static_cast<int>(sizeof buffer))
            return 1;
        int held = 0;
        while (held < static_cast<int>(sizeof buffer)) {
            int got = recv(s, buffer + held, static_cast<int>(sizeof buffer) - held, 0);
            if (got <= 0)
                return 1;
            held += got;
        }
        samples.push_back(Now() - start);
    }
    closesocket(s);
    printf("tcp_round_trip_us %.1f\n", Median(samples));
    return 0;
}

struct PingPong {
    HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    int rounds = 0;
};

DWORD WINAPI Ponger(void *context)
{
    auto *state = static_cast<PingPong *>(context);
    for (int i = 0; i < state->rounds; ++i) {
        WaitForSingleObject(state->ping, INFINITE);
        SetEvent(state->pong);
    }
    return 0;
}

int Event(int rounds)
{
    PingPong state;
    state.rounds = rounds;
    HANDLE thread = CreateThread(nullptr, 0, &Ponger, &state, 0, nullptr);
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        double start = Now();
        SetEvent(state.ping);
        WaitForSingleObject(state.pong, INFINITE);
        // A round trip is two hand-offs.
        samples.push_back((Now() - start) / 2);
    }
    WaitForSingleObject(thread, INFINITE);
    printf("event_hand_off_us %.1f\n", Median(samples));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    std::wstring what = argc > 1 ? argv[1] : L"";
    if (what == L"pipe-echo" && argc > 2)
        return PipeEcho(argv[2]);
    if (what == L"pipe" && argc > 2)
        return Pipe(_wtoi(argv[2]));
    if (what == L"tcp" && argc > 3)
        return Tcp(_wtoi(argv[2]), _wtoi(argv[3]));
    if (what == L"event" && argc > 2)
        return Event(_wtoi(argv[2]));
    if (what == L"wait" && argc > 2) {
        Sleep(static_cast<DWORD>(_wtoi(argv[2])) * 1000);
        return 0;
    }
    fprintf(stderr, "usage: floor_bench.exe pipe N | tcp PORT N | event N | wait SECONDS\n");
    return 2;
}
