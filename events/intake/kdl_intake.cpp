#include "kdl_intake.h"

#include "common_log.h"
#include "event_source.h"
#include "kdl_decoder.h"
#include "kdl_entry.h"
#include "kdl_event_id.h"
#include "kdl_packet.h"
#include "service_host.h"

#include <cwchar>
#include <memory>

namespace {

struct ServiceHandleClose {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using UniqueServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleClose>;

void LogIncompleteEntry(KdlEntryStatus status, const uint8_t *entry, size_t available)
{
    uint16_t size = 0;
    ByteReader(entry, available).U16(0, &size);
    LOG_WARNING(L"TranslateKdlEvent", L"Hardware event entry incomplete: %hs (entry size %u, %u bytes received).",
                KdlEntryStatusText(status), static_cast<unsigned>(size), static_cast<unsigned>(available));
}

} // namespace

bool IsServiceRunning(const wchar_t *serviceName)
{
    // All access to both: a caller without it sees the service as not running, and the entry is
    // written rather than lost.
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return false;
    UniqueServiceHandle service(OpenServiceW(manager.get(), serviceName, SERVICE_ALL_ACCESS));
    if (!service)
        return false;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status), sizeof status,
                              &needed))
        return false;
    return status.dwCurrentState == SERVICE_RUNNING;
}

void ProcessKdlEvent(const uint8_t *packet, size_t received)
{
    for (const wchar_t *name : kLegacyAgentServices) {
        if (!IsServiceRunning(name)) {
            TranslateKdlEvent(packet, received);
            return;
        }
    }
}

void TranslateKdlEvent(const uint8_t *packet, size_t received)
{
    size_t available = KdlEntryBytesAvailable(packet, received);
    const uint8_t *entryBytes = available ? packet + kKdlEntryPacketOffset : nullptr;
    KdlEntryView entry;
    KdlEntryStatus status = KdlEntryView::Open(entryBytes, available, &entry);
    if (status != KdlEntryStatus::Ok)
        LogIncompleteEntry(status, entryBytes, available);
    // An entry whose size claims more than arrived is decoded from what arrived; one without a
    // whole header, or whose size does not cover its header, has nothing to decode.
    const bool decodable = status == KdlEntryStatus::Ok || status == KdlEntryStatus::SizeBeyondReceived;

    KdlInsertionStrings strings;
    char text[kKdlTextSize] = {};
    KdlText line(text, sizeof text);
    DWORD eventId = 0;
    if (decodable && KdlEntryToText(entry, line)) {
        std::swprintf(strings.Slot[1], KdlInsertionStrings::kChars, L"%d", static_cast<int>(entry.EventNumber()));
        std::swprintf(strings.Slot[2], KdlInsertionStrings::kChars, L"%d", static_cast<int>(entry.Class()));
        std::swprintf(strings.Slot[3], KdlInsertionStrings::kChars, L"%d", static_cast<int>(entry.Code()));
        if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, strings.Slot[4],
                                static_cast<int>(KdlInsertionStrings::kChars)) == 0)
            strings.Slot[4][0] = L'\0';
        eventId = KdlEventId(entry.Class(), entry.Severity());
    }
    // Every entry is written: one without text under identifier 0 and without strings.
    ReportKdlEvent(eventId, strings);
}

void ReportKdlEvent(DWORD eventId, const KdlInsertionStrings &strings)
{
    LogKDLEventToWEL(EventTypeFromEventId(eventId), kKdlEventCategory, eventId, strings);
}

void LogKDLEventToWEL(WORD eventType, WORD category, DWORD eventId, const KdlInsertionStrings &strings)
{
    InstallMessageDllIfNeeded(kMessageLibraryName);
    DefineEventSourceIfNeeded(kKdlEventSource, kMessageLibraryName);

    const wchar_t *pointers[10] = {};
    WORD count = 0;
    for (size_t slot = 1; slot < KdlInsertionStrings::kSlots; ++slot) {
        pointers[slot - 1] = strings.Slot[slot];
        if (strings.Slot[slot][0] != L'\0')
            count = static_cast<WORD>(slot);
    }

    LOG_INFO(L"LogKDLEventToWEL", L"LogKDLEventToWEL function called.");
    WriteEventLogEntry(kKdlEventSource, eventType, category, eventId, count, count ? pointers : nullptr);
}
