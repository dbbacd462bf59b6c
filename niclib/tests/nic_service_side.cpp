#include "nic_service_side.h"

#include "nic_records.h"

namespace {

// The events the service makes for one step, closed with the step.
struct Event {
    HANDLE handle;
    explicit Event(const wchar_t *name) : handle(CreateEventW(nullptr, FALSE, FALSE, name)) {}
    ~Event()
    {
        if (handle != nullptr)
            CloseHandle(handle);
    }
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;
};

} // namespace

NicServiceSide::~NicServiceSide()
{
    if (m_Loader != nullptr) {
        if (WaitForSingleObject(m_Loader, 0) != WAIT_OBJECT_0)
            Stop();
        CloseHandle(m_Loader);
    }
    if (m_Started != nullptr)
        CloseHandle(m_Started);
}

DWORD WINAPI NicServiceSide::LoaderThread(void *parameter)
{
    NicServiceSide *self = static_cast<NicServiceSide *>(parameter);
    HMODULE library = nullptr;
    NicLibraryEntry entry = self->m_Entry;
    if (entry == nullptr) {
        library = LoadLibraryW(self->m_Path.c_str());
        if (library != nullptr) {
            self->m_Loaded = true;
            entry = reinterpret_cast<NicLibraryEntry>(
                reinterpret_cast<void *>(GetProcAddress(library, MAKEINTRESOURCEA(kNicLibraryEntryOrdinal))));
        }
    }
    SetEvent(self->m_Started);
    if (entry != nullptr)
        self->m_Result = entry(self->m_Argc, self->m_Argv != nullptr ? self->m_Argv : self->m_NoArguments);
    if (library != nullptr)
        FreeLibrary(library);
    self->m_Ended = true;
    return 0;
}

bool NicServiceSide::StartLibrary(const std::wstring &path)
{
    m_Path = path;
    m_Entry = nullptr;
    return StartEntry(nullptr);
}

bool NicServiceSide::StartEntry(NicLibraryEntry entry, int argc, char **argv)
{
    if (entry != nullptr)
        m_Entry = entry;
    m_Argc = argc;
    m_Argv = argv;
    m_Ended = false;
    m_Started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_Loader = CreateThread(nullptr, 0, LoaderThread, this, 0, nullptr);
    if (m_Loader == nullptr)
        return false;
    WaitForSingleObject(m_Started, INFINITE);
    return m_Entry != nullptr || m_Loaded;
}

DWORD NicServiceSide::Collect()
{
    Event done(kNicInitDoneEvent); // first: a Done that comes at once is not lost
    // Held through the wait: a library that opens its handle only now still finds the request.
    Event init(kNicInitEvent);
    if (init.handle != nullptr)
        SetEvent(init.handle);
    if (done.handle == nullptr)
        return WAIT_FAILED;
    return WaitForSingleObject(done.handle, m_Timeouts.initDoneMs);
}

bool NicServiceSide::MarkNotReady()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNicInterfaceKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD ready = 0;
    bool written = RegSetValueExW(key, kNicInterfaceDataReadyName, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&ready),
                                  sizeof(ready)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

NicServiceSide::StopResult NicServiceSide::Stop()
{
    StopResult result;
    {
        Event ack(kNicStopAckEvent); // first: an acknowledgement that comes at once is not lost
        Event stop(kNicStopEvent);
        if (stop.handle != nullptr && ack.handle != nullptr) {
            SetEvent(stop.handle);
            result.acknowledged = WaitForSingleObject(ack.handle, m_Timeouts.stopAckMs) == WAIT_OBJECT_0;
        }
    }
    if (m_Loader == nullptr)
        return result;
    result.returned = WaitForSingleObject(m_Loader, m_Timeouts.loaderExitMs) == WAIT_OBJECT_0;
    if (!result.returned) {
        TerminateThread(m_Loader, 0);
        WaitForSingleObject(m_Loader, INFINITE);
        result.terminated = true;
    }
    return result;
}

bool NicServiceSide::WaitLoader(DWORD milliseconds)
{
    return m_Loader != nullptr && WaitForSingleObject(m_Loader, milliseconds) == WAIT_OBJECT_0;
}
