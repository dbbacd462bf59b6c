// A service that the installer's stop tests remove. Its command line (in the service's image path)
// says how it takes a stop: "stops <ms>" stops that long after the control, reporting
// STOP_PENDING meanwhile; "hangs <hint>" reports STOP_PENDING with that wait hint and never stops;
// "refuses 0" runs without accepting a stop control at all, until its process is ended.
#include <windows.h>

#include <cwchar>
#include <cstdlib>

namespace {

SERVICE_STATUS_HANDLE s_Status = nullptr;
HANDLE s_Stop = nullptr;
bool s_Hangs = false;
bool s_Refuses = false;
DWORD s_Milliseconds = 0;

void Report(DWORD state, DWORD waitHint)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING && !s_Refuses ? SERVICE_ACCEPT_STOP : 0;
    status.dwWaitHint = waitHint;
    SetServiceStatus(s_Status, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void *, void *)
{
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING, s_Hangs ? s_Milliseconds : 1000);
        SetEvent(s_Stop);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPWSTR *)
{
    s_Status = RegisterServiceCtrlHandlerExW(L"", &Handler, nullptr);
    Report(SERVICE_RUNNING, 0);
    WaitForSingleObject(s_Stop, INFINITE);
    if (s_Hangs) {
        Sleep(INFINITE);
    }
    Sleep(s_Milliseconds);
    Report(SERVICE_STOPPED, 0);
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc >= 3) {
        s_Hangs = std::wcscmp(argv[1], L"hangs") == 0;
        s_Refuses = std::wcscmp(argv[1], L"refuses") == 0;
        s_Milliseconds = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    }
    s_Stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t name[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{name, &ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
