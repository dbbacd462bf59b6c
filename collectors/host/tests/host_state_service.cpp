// A service program for the software inventory's tests. Started, it reports itself running; the
// user control 128 + n makes it report the state n, which it keeps until it is asked to stop (in a
// state for which the service control manager passes no stop control on, it ends with its
// process).
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE s_Status = nullptr;
HANDLE s_Stop = nullptr;
SERVICE_STATUS s_Current = {};

void Report(DWORD state)
{
    s_Current.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s_Current.dwCurrentState = state;
    s_Current.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    s_Current.dwWin32ExitCode = NO_ERROR;
    SetServiceStatus(s_Status, &s_Current);
}

DWORD WINAPI Handler(DWORD control, DWORD, void *, void *)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        SetEvent(s_Stop);
        return NO_ERROR;
    }
    if (control == SERVICE_CONTROL_INTERROGATE)
        return NO_ERROR;
    if (control >= 128 && control <= 255) {
        Report(control - 128);
        return NO_ERROR;
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, wchar_t **argv)
{
    s_Status = RegisterServiceCtrlHandlerExW(argv[0], &Handler, nullptr);
    if (s_Status == nullptr)
        return;
    s_Stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(s_Stop, INFINITE);
    Report(SERVICE_STOPPED);
}

} // namespace

int wmain()
{
    wchar_t name[] = L"";
    const SERVICE_TABLE_ENTRYW table[] = {{name, &ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
