#include "collection_thread.h"

#include "common_log.h"
#include "nic_generation.h"
#include "nic_handshake.h"
#include "nic_records.h"
#include "registry_key.h"
#include "trap.h"

#include <objbase.h>

NicThreadTimings g_NicThreadTimings;

namespace {

constexpr wchar_t kThread[] = L"DataCollectionThread";
constexpr wchar_t kInit[] = L"InitializeDataCollection";

// Makes a named event, sets it and closes it again: the signal stays only for a side that holds
// the event open, which the other side of every such signal does (nic_handshake.h).
void Signal(const wchar_t *name, const wchar_t *line, bool information)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, name);
    if (event == nullptr)
        return;
    if (information)
        LOG_INFO(kThread, L"%s", line);
    else
        LOG_VERBOSE(kThread, L"%s", line);
    SetEvent(event);
    CloseHandle(event);
}

// The service marks the records as being rewritten when it registers its group; a paused thread
// runs no pass that would mark them ready again, so it does it here, in a key that exists only.
void MarkRecordsReady()
{
    CRegistryKey key = g_LocalMachineKey.OpenKey(kNicInterfaceKey, KEY_SET_VALUE, 0, 0);
    if (!key.IsOpen())
        return;
    DWORD ready = 1;
    key.SetRegistryValue(kNicInterfaceDataReadyValue, REG_DWORD, &ready, sizeof(ready));
}

// The thread's state between turns.
struct CollectionState {
    CTrap trap;
    INicGeneration *list = nullptr;
    bool pending = true;
    DWORD retries = 0;
    bool failureLogged = false;
};

void Activate(CollectionState *state)
{
    state->pending = false;
    state->list->Update();
    state->retries = g_NicThreadTimings.retries;
    state->failureLogged = false;
}

void PendingStep(CollectionState *state)
{
    LOG_VERBOSE(kThread, L"Calling InitializeDataCollection.");
    if (InitializeDataCollection(&state->list, &state->trap) == NO_ERROR) {
        Activate(state);
        LOG_VERBOSE(kThread, L"Init data collection completed.");
        return;
    }
    if (state->retries > 0) {
        --state->retries;
        return;
    }
    // Giving up would leave the service waiting out every collection and its stop: the thread
    // says so once and goes on trying, one attempt per turn.
    if (!state->failureLogged) {
        LOG_ERROR(kThread, L"Init failed after %d retries", static_cast<int>(g_NicThreadTimings.retries + 1));
        state->failureLogged = true;
    }
}

void ActiveStep(CollectionState *state, DWORD period)
{
    LOG_VERBOSE(kThread, L"PollPeriod %d", static_cast<int>(period));
    if (period == kNicPausedPeriod) {
        LOG_VERBOSE(kThread, L"Received timeout when service is paused so we do nothing!");
        MarkRecordsReady();
        return;
    }
    LOG_VERBOSE(kThread, L"Timeout elapsed and we are not paused yet. Let's proceed to re-init!");
    if (state->list == nullptr || state->list->NeedReInit()) {
        LOG_INFO(kThread, L"Detected a change in interface table. Re-initializing data collection!");
        LOG_VERBOSE(kThread, L"We are running as an exe so we have to do the re-init now!");
        delete state->list;
        state->list = nullptr;
        state->trap.ReInit();
        if (InitializeDataCollection(&state->list, &state->trap) == NO_ERROR)
            Activate(state);
        else
            state->pending = true;
    } else {
        state->list->Update();
    }
    LOG_VERBOSE(kThread, L"Timeout complete.");
}

} // namespace

DWORD ReadPollTime()
{
    DWORD pollTime = kNicPollIntervalMax * g_NicThreadTimings.pollSecondMs;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNicParametersKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return pollTime;
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    // Only a 4-byte REG_DWORD is a number of seconds; text or a short value is no interval.
    if (RegQueryValueExW(key, kNicPollIntervalValue, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof(value) && value >= kNicPollIntervalMin && value <= kNicPollIntervalMax)
        pollTime = value * g_NicThreadTimings.pollSecondMs;
    RegCloseKey(key);
    return pollTime;
}

DWORD InitializeDataCollection(INicGeneration **list, CTrap *trap)
{
    LOG_INFO(kInit, L"INIT command received! Proceed to init data collection.");
    DWORD result = NO_ERROR;
    *list = NewNicGeneration();
    if (*list == nullptr) {
        LOG_VERBOSE(kInit, L"Can't allocate IFList.");
        result = kNicAllocationFailed;
    } else {
        result = (*list)->Init(trap);
        if (result != NO_ERROR) {
            delete *list;
            *list = nullptr;
        }
    }
    LOG_VERBOSE(kInit, L"INIT complete.");
    return result;
}

unsigned __stdcall DataCollectionThread(void *block)
{
    const DCSTRUCT *dc = static_cast<const DCSTRUCT *>(block);
    LOG_VERBOSE(kThread, L"Starting DataCollectionThread...");
    // COM lives on this thread from here to its end; the WMI work of a generation runs inside.
    HRESULT com = NicThreadComStart(dc->stopEvent);
    if (FAILED(com))
        LOG_ERROR(kThread, L"!!! FAILED: WBEMInit() failed (%08lX)\n", static_cast<unsigned long>(com));

    const HANDLE waits[3] = {dc->scmEvent, dc->initEvent, dc->stopEvent};
    const DWORD period = dc->period;
    CollectionState state;
    g_PollTime = period;

    LOG_VERBOSE(kThread, L"Calling InitializeDataCollection");
    DWORD first = InitializeDataCollection(&state.list, &state.trap);
    state.retries = g_NicThreadTimings.retries;
    if (first == NO_ERROR) {
        g_PollTime = period;
        Activate(&state);
        LOG_VERBOSE(kThread, L"Data collection completed.");
    }

    for (bool stop = false; !stop;) {
        g_PollTime = ReadPollTime();
        DWORD status = WaitForMultipleObjects(3, waits, FALSE, g_PollTime);
        LOG_VERBOSE(kThread, L"WaitStatus: %d CurrentPollTime: %d sec", static_cast<int>(status),
                    static_cast<int>(g_PollTime / g_NicThreadTimings.pollSecondMs));
        switch (status) {
        case WAIT_OBJECT_0 + 2:
            LOG_VERBOSE(kThread, L"Received event notification: TLM_STOP_EVENT");
            stop = true;
            Signal(kNicStopAckEvent, L"SetEvent ACK_TLM_STOP_EVENT", false);
            break;
        case WAIT_OBJECT_0:
        case WAIT_OBJECT_0 + 1:
        case WAIT_TIMEOUT:
            LOG_VERBOSE(kThread, L"WAIT_TIMEOUT: fInitPending = %d", state.pending ? 1 : 0);
            if (state.pending)
                PendingStep(&state);
            else
                ActiveStep(&state, period);
            break;
        case WAIT_FAILED:
            LOG_WARNING(kThread, L"WAIT_FAILED state is detected! Error code: %d", static_cast<int>(GetLastError()));
            break;
        default:
            LOG_VERBOSE(kThread, L"Default case - do nothing.");
            break;
        }
        LOG_VERBOSE(kThread, L"CreateEvent: ZdtMNicInitEvent_Done");
        Signal(kNicInitDoneEvent, L"SetEvent ZdtMNicInitEvent_Done", true);
        LOG_VERBOSE(kThread, L"Set poll period %d minutes", static_cast<int>(period / 60000));
    }

    // The records of the last generation stay for the service until a later start replaces them.
    if (state.list != nullptr)
        state.list->ReleaseKeepingRecords();
    NicThreadComEnd(com);
    Signal(kNicTerminateThreadEvent, L"SetEvent Terminate_Thread_Event", false);
    return 0;
}
