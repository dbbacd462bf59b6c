// floor_bench.exe: what the platform itself costs for the hops of a request, measured on the spot
// so that the walk benchmark can be set beside them (a benchmark tool, not part of the product).
//
//   floor_bench.exe pipe N          message round trips through a named pipe to a child process
//   floor_bench.exe tcp PORT N      round trips to a TCP echo server on 127.0.0.1:PORT
//   floor_bench.exe event N         hand-offs between two threads through auto-reset events
//   floor_bench.exe wait SECONDS    does nothing (the resident set of any Wine program)
//   floor_bench.exe floor SECONDS THREADS [DLL...]
//                                   loads the DLLs named, opens the WMI namespaces root\wmi and
//                                   root\cimv2, starts THREADS threads that only wait, prints
//                                   "ready" and idles: the memory floor of a program that uses what
//                                   the service uses and does nothing (with THREADS 0, one thread)
//   floor_bench.exe pipe-echo NAME  (the child of "pipe")
//
// Each prints "<what> <median us>" for one round trip (one hand-off for "event").
#include <winsock2.h>
#include <windows.h>
#include <wbemidl.h>

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

// Overlapped I/O with the read posted before the data comes, as the channel's ends do it: the
// cheapest exchange Wine offers for a message pipe.
struct PipeEnd {
    HANDLE pipe;
    HANDLE readDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE writeDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED read{};
    char buffer[kMessage] = {1};

    bool PostRead()
    {
        read = OVERLAPPED{};
        read.hEvent = readDone;
        return ReadFile(pipe, buffer, sizeof buffer, nullptr, &read) || GetLastError() == ERROR_IO_PENDING;
    }
    bool Finish(OVERLAPPED *overlapped, DWORD *bytes)
    {
        return GetOverlappedResult(pipe, overlapped, bytes, TRUE) != FALSE;
    }
    bool Write(DWORD size)
    {
        OVERLAPPED write{};
        write.hEvent = writeDone;
        DWORD bytes = 0;
        if (!WriteFile(pipe, buffer, size, nullptr, &write) && GetLastError() != ERROR_IO_PENDING)
            return false;
        return Finish(&write, &bytes);
    }
};

int PipeEcho(const wchar_t *name)
{
    PipeEnd end;
    end.pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (end.pipe == INVALID_HANDLE_VALUE)
        return 1;
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(end.pipe, &mode, nullptr, nullptr);
    DWORD got = 0;
    while (end.PostRead() && end.Finish(&end.read, &got) && got != 0)
        if (!end.Write(got))
            break;
    CloseHandle(end.pipe);
    return 0;
}

int Pipe(int rounds)
{
    std::wstring name = L"\\\\.\\pipe\\floorbench." + std::to_wstring(GetCurrentProcessId());
    PipeEnd end;
    end.pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    if (end.pipe == INVALID_HANDLE_VALUE)
        return 1;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" pipe-echo " + name;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
        return 1;
    OVERLAPPED connect{};
    connect.hEvent = end.readDone;
    if (!ConnectNamedPipe(end.pipe, &connect)) {
        DWORD error = GetLastError();
        DWORD unused = 0;
        if (error == ERROR_IO_PENDING && !end.Finish(&connect, &unused))
            return 1;
        if (error != ERROR_IO_PENDING && error != ERROR_PIPE_CONNECTED)
            return 1;
    }
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        DWORD got = 0;
        double start = Now();
        if (!end.PostRead() || !end.Write(kMessage) || !end.Finish(&end.read, &got))
            return 1;
        samples.push_back(Now() - start);
    }
    CloseHandle(end.pipe);
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

// The service's platform without the service: its DLLs loaded, COM up and the two WMI namespaces
// it reads open, then nothing.
DWORD WINAPI Idle(void *event)
{
    WaitForSingleObject(event, INFINITE);
    return 0;
}

int Floor(int seconds, int threads, int count, wchar_t **dlls)
{
    int loaded = 0;
    for (int i = 0; i < count; ++i)
        if (LoadLibraryW(dlls[i]) != nullptr)
            ++loaded;
    int opened = 0;
    IWbemLocator *locator = nullptr;
    IWbemServices *services[2] = {};
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) &&
        SUCCEEDED(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                       RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr)) &&
        SUCCEEDED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                   reinterpret_cast<void **>(&locator)))) {
        const wchar_t *paths[2] = {L"\\\\.\\root\\wmi", L"\\\\.\\root\\cimv2"};
        for (int i = 0; i < 2; ++i) {
            BSTR path = SysAllocString(paths[i]);
            if (SUCCEEDED(locator->ConnectServer(path, nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT,
                                                 nullptr, nullptr, &services[i])))
                ++opened;
            SysFreeString(path);
        }
    }
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (int i = 0; i < threads; ++i)
        if (HANDLE thread = CreateThread(nullptr, 0, Idle, never, 0, nullptr))
            CloseHandle(thread);
    printf("ready dlls %d %d namespaces %d\n", loaded, count, opened);
    fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
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
    if (what == L"floor" && argc > 3)
        return Floor(_wtoi(argv[2]), _wtoi(argv[3]), argc - 4, argv + 4);
    if (what == L"wait" && argc > 2) {
        Sleep(static_cast<DWORD>(_wtoi(argv[2])) * 1000);
        return 0;
    }
    fprintf(stderr, "usage: floor_bench.exe pipe N | tcp PORT N | event N | wait SECONDS | floor SECONDS THREADS [DLL...]\n");
    return 2;
}
