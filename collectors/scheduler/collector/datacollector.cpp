#include "datacollector.h"

#include "enterprise_arc.h"
#include "service_parameters.h"
#include "store_writers.h"

#include <new>

DATACOLLECTOR::DATACOLLECTOR(const wchar_t *name, uint32_t mibGroup, uint8_t revisionMajor, uint8_t revisionMinor,
                             const int *enableFlag)
    : m_Name(name), m_MibGroup(mibGroup), m_RevisionMajor(revisionMajor), m_RevisionMinor(revisionMinor),
      m_EnableFlag(enableFlag)
{
}

DATACOLLECTOR::~DATACOLLECTOR() = default;

void DATACOLLECTOR::Initialize()
{
    m_Status = 0;
    m_Condition = 1;
    m_LastCollection = 0;
}

void DATACOLLECTOR::Terminate() {}

int DATACOLLECTOR::Register(AXSESSION *)
{
    return 0;
}

void DATACOLLECTOR::StartCollection(int, DATASTORE *)
{
    m_Status = 0;
    m_Condition = 0;
    m_Collecting = 1;
}

void DATACOLLECTOR::PreCollect(int, DATASTORE *)
{
    m_Status |= 1;
    m_Condition = 0;
}

void DATACOLLECTOR::Collect(int, DATASTORE *) {}

void DATACOLLECTOR::PostCollect(int, DATASTORE *) {}

void DATACOLLECTOR::EndCollection(int firstRun, DATASTORE *staging)
{
    m_Collecting = 0;
    if (m_MibGroup == 0 || staging == nullptr)
        return;
    // The poll interval and the revision never change while the service runs, so only the first
    // cycle publishes them; later merges leave them in place.
    if (firstRun)
        staging->SetInteger(EnterpriseOid({m_MibGroup, 2, 1, 4, 1, 0}), s_ServiceParameters.PollInterval);

    const MIBOID group = EnterpriseOid({m_MibGroup, 1});
    DATASTORE_CURSOR cursor(staging);
    if (firstRun && cursor.Open(group, true)) {
        cursor.SetInteger(1, m_RevisionMajor);
        cursor.SetInteger(2, m_RevisionMinor);
    }
    if (cursor.Open(group, false))
        cursor.SetInteger(3, m_Condition.load());
}

int DATACOLLECTOR::IsEnabled() const
{
    return m_EnableFlag != nullptr ? *m_EnableFlag : 1;
}

void DATACOLLECTOR::SetCondition(int value)
{
    const uint8_t raised = static_cast<uint8_t>(value & 0xFF);
    uint8_t current = m_Condition.load();
    while (raised > current && !m_Condition.compare_exchange_weak(current, raised)) {
    }
}

uint32_t DATACOLLECTOR::PollInterval() const
{
    std::lock_guard<std::mutex> hold(m_TriggerLock);
    return m_PollInterval;
}

int DATACOLLECTOR::IsTriggered() const
{
    std::lock_guard<std::mutex> hold(m_TriggerLock);
    return m_Triggered;
}

std::wstring DATACOLLECTOR::EventName() const
{
    std::lock_guard<std::mutex> hold(m_TriggerLock);
    return m_EventName;
}

void DATACOLLECTOR::Trigger(uint32_t seconds, const wchar_t *eventName)
{
    std::lock_guard<std::mutex> hold(m_TriggerLock);
    m_PollInterval = seconds;
    m_Triggered = 1;
    if (eventName == nullptr)
        return;
    // Triggers come from the system's notification threads, which must not see an exception;
    // without memory for the name the collection still happens, only its event is not sent.
    try {
        m_EventName = eventName;
    } catch (const std::bad_alloc &) {
    }
}

void DATACOLLECTOR::ClearTrigger()
{
    std::lock_guard<std::mutex> hold(m_TriggerLock);
    m_Triggered = 0;
}

bool DATACOLLECTOR::SettleInterval(bool hasInterval, uint32_t interval, std::wstring *eventName)
{
    std::lock_guard<std::mutex> hold(m_TriggerLock);
    if (m_Triggered)
        return false;
    *eventName = std::move(m_EventName);
    m_EventName.clear();
    if (hasInterval)
        m_PollInterval = interval;
    return true;
}

DWORD DATACOLLECTOR::WaitOrStop(HANDLE object, DWORD milliseconds)
{
    const HANDLE stop = s_StopEvent.load();
    if (object == nullptr && stop == nullptr) {
        Sleep(milliseconds);
        return WAIT_TIMEOUT;
    }
    if (object == nullptr) {
        const DWORD result = WaitForSingleObject(stop, milliseconds);
        return result == WAIT_OBJECT_0 ? COLLECTOR_WAIT_STOP : result;
    }
    if (stop == nullptr)
        return WaitForSingleObject(object, milliseconds);
    const HANDLE handles[2] = {object, stop};
    return WaitForMultipleObjects(2, handles, FALSE, milliseconds);
}

bool DATACOLLECTOR::StopRequested()
{
    const HANDLE stop = s_StopEvent.load();
    return stop != nullptr && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
}

void DATACOLLECTOR::SetStopEvent(HANDLE stopEvent)
{
    s_StopEvent = stopEvent;
}
