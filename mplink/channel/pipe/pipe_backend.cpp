#include "pipe_backend.h"

#include "busy_counter.h"
#include "channel_backend.h"
#include "byte_reader.h"
#include "channel_status.h"
#include "pipe_protocol.h"
#include "unique_handle.h"
#include "zdt_ci.h"

#include <cstring>
#include <cwchar>
#include <new>

struct CI_BACKEND_DEVICE {
    UniqueHandle control; // answers the device controls
    UniqueHandle data;    // the channel's packets
    BusyCounter busy;     // the simulator's busy verdicts; may be absent
    uint32_t lastId = 0;
    // The control in flight (one at a time per device: the device layer holds its slot).
    uint8_t request[pipeproto::kMaxMessage] = {};
    uint8_t reply[pipeproto::kMaxMessage] = {};
};

namespace {

SRWLOCK s_NameLock = SRWLOCK_INIT;
std::wstring s_Name = L"oxbsim";

std::wstring ControlPath()
{
    return pipeproto::ControlPipePath(PipeBackendName());
}

bool PipePresent(const std::wstring &path)
{
    // A pipe whose instances are all busy exists all the same.
    return WaitNamedPipeW(path.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND;
}

// One synchronous exchange on an overlapped handle, bounded by a time-out.
template <class Issue> DWORD RunSync(HANDLE handle, DWORD timeoutMs, DWORD *bytes, Issue issue)
{
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event)
        return GetLastError();
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Get();
    DWORD error = issue(&overlapped) ? ERROR_SUCCESS : GetLastError();
    if (error != ERROR_SUCCESS && error != ERROR_IO_PENDING && error != ERROR_MORE_DATA)
        return error;
    if (error == ERROR_IO_PENDING && WaitForSingleObject(event.Get(), timeoutMs) != WAIT_OBJECT_0)
        CancelIoEx(handle, &overlapped);
    DWORD transferred = 0;
    error = GetOverlappedResult(handle, &overlapped, &transferred, TRUE) ? ERROR_SUCCESS : GetLastError();
    if (bytes != nullptr)
        *bytes = transferred;
    return error;
}

// A message longer than the reader's buffer stays in the pipe in part; a driver drops what did not
// fit, so the rest must not come up as the next packet.
void DiscardRestOfMessage(HANDLE handle)
{
    uint8_t scratch[512];
    for (int i = 0; i < 4096; ++i) {
        DWORD error = RunSync(handle, 1000, nullptr, [&](OVERLAPPED *overlapped) {
            return ReadFile(handle, scratch, sizeof(scratch), nullptr, overlapped);
        });
        if (error != ERROR_MORE_DATA)
            return;
    }
}

// Replies to controls that were cancelled arrive late; they are not the answer to the next one.
void DiscardStaleReplies(HANDLE control)
{
    for (int i = 0; i < 64; ++i) {
        DWORD available = 0;
        if (!PeekNamedPipe(control, nullptr, 0, nullptr, &available, nullptr) || available == 0)
            return;
        DiscardRestOfMessage(control);
    }
}

// A pipe the far end closed reports what a driver reports for a channel that went away.
DWORD PipeGone(DWORD error)
{
    switch (error) {
    case ERROR_NO_DATA:            // written to after the far end closed
    case ERROR_PIPE_NOT_CONNECTED:
    case ERROR_BAD_PIPE:           // a transaction on a pipe whose far end closed
        return ERROR_BROKEN_PIPE;
    default:
        return error;
    }
}

DWORD OpenPipe(const std::wstring &path, DWORD timeoutMs, UniqueHandle *pipe)
{
    ULONGLONG start = GetTickCount64();
    for (;;) {
        pipe->Reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr));
        if (*pipe)
            break;
        DWORD error = GetLastError();
        ULONGLONG elapsed = GetTickCount64() - start;
        if (error != ERROR_PIPE_BUSY || elapsed >= timeoutMs)
            return error;
        WaitNamedPipeW(path.c_str(), static_cast<DWORD>(timeoutMs - elapsed));
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    return SetNamedPipeHandleState(pipe->Get(), &mode, nullptr, nullptr) ? ERROR_SUCCESS : GetLastError();
}

DWORD Attach(CI_BACKEND_DEVICE *device, uint32_t *channel)
{
    pipeproto::ControlMessage request;
    request.id = ++device->lastId;
    request.value = pipeproto::kAttachCode;
    size_t size = pipeproto::EncodeRequest(request, device->request, sizeof(device->request));
    DWORD received = 0;
    DWORD error = RunSync(device->control.Get(), PipeBackendTimeouts::AttachWaitMs, &received, [&](OVERLAPPED *ov) {
        return TransactNamedPipe(device->control.Get(), device->request, static_cast<DWORD>(size), device->reply,
                                 sizeof(device->reply), nullptr, ov);
    });
    if (error != ERROR_SUCCESS)
        return PipeGone(error == ERROR_OPERATION_ABORTED ? ERROR_SEM_TIMEOUT : error);
    pipeproto::ControlMessage reply;
    if (!pipeproto::DecodeReply(device->reply, received, &reply) || reply.id != request.id)
        return ERROR_INVALID_DATA;
    if (reply.value != ERROR_SUCCESS)
        return reply.value;
    ByteReader payload(reply.payload, reply.payloadSize);
    return payload.U32(0, channel) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

} // namespace

void PipeBackendSetName(const wchar_t *name)
{
    SrwExclusive lock(&s_NameLock);
    s_Name = name != nullptr ? name : L"oxbsim";
}

std::wstring PipeBackendName()
{
    SrwExclusive lock(&s_NameLock);
    return s_Name;
}

DWORD CiBackendFindInterface(const GUID &interfaceClass, wchar_t *path, size_t capacity)
{
    if (!IsEqualGUID(interfaceClass, kZdtCiInterfaceClass))
        return ERROR_NOT_FOUND;
    std::wstring control = ControlPath();
    if (!PipePresent(control) || control.size() >= capacity)
        return ERROR_NOT_FOUND;
    wcscpy(path, control.c_str());
    return ERROR_SUCCESS;
}

DWORD CiBackendOpen(const wchar_t *path, CI_BACKEND_DEVICE **device)
{
    auto *opened = new (std::nothrow) CI_BACKEND_DEVICE;
    if (opened == nullptr)
        return ERROR_OUTOFMEMORY;
    const DWORD wait = PipeBackendTimeouts::AttachWaitMs;
    uint32_t channel = 0;
    DWORD error = OpenPipe(path, wait, &opened->control);
    if (error == ERROR_SUCCESS)
        error = Attach(opened, &channel);
    if (error == ERROR_SUCCESS)
        error = OpenPipe(pipeproto::DataPipePath(path, channel), wait, &opened->data);
    if (error != ERROR_SUCCESS) {
        delete opened;
        return error;
    }
    opened->busy.Open(pipeproto::BusyCounterName(path, channel));
    *device = opened;
    return ERROR_SUCCESS;
}

void CiBackendClose(CI_BACKEND_DEVICE *device)
{
    delete device;
}

BOOL CiBackendIssue(CI_BACKEND_DEVICE *device, const CI_IO_REQUEST &request, OVERLAPPED *overlapped)
{
    switch (request.Kind) {
    case CiIoKind::Read:
        return ReadFile(device->data.Get(), request.Output, request.OutputSize, nullptr, overlapped);
    case CiIoKind::Write:
        // The simulator holds a token for every send it wants answered busy.
        if (device->busy.Take()) {
            SetLastError(ERROR_BUSY);
            return FALSE;
        }
        return WriteFile(device->data.Get(), request.Input, request.InputSize, nullptr, overlapped);
    case CiIoKind::Control: {
        if (request.InputSize > pipeproto::kMaxPayload || (request.InputSize != 0 && request.Input == nullptr)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        DiscardStaleReplies(device->control.Get());
        pipeproto::ControlMessage message;
        message.id = ++device->lastId;
        message.value = request.ControlCode;
        message.payloadSize = request.InputSize;
        if (request.InputSize != 0)
            memcpy(message.payload, request.Input, request.InputSize);
        size_t size = pipeproto::EncodeRequest(message, device->request, sizeof(device->request));
        return TransactNamedPipe(device->control.Get(), device->request, static_cast<DWORD>(size), device->reply,
                                 sizeof(device->reply), nullptr, overlapped);
    }
    }
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

HANDLE CiBackendIoHandle(CI_BACKEND_DEVICE *device, CiIoKind kind)
{
    return kind == CiIoKind::Control ? device->control.Get() : device->data.Get();
}

void CiBackendCancelAll(CI_BACKEND_DEVICE *device)
{
    CancelIoEx(device->data.Get(), nullptr);
    CancelIoEx(device->control.Get(), nullptr);
}

DWORD CiBackendFinish(CI_BACKEND_DEVICE *device, const CI_IO_REQUEST &request, DWORD error, DWORD *bytes)
{
    switch (request.Kind) {
    case CiIoKind::Read:
        if (error == ERROR_MORE_DATA) {
            DiscardRestOfMessage(device->data.Get());
            return ERROR_SUCCESS;
        }
        return PipeGone(error);
    case CiIoKind::Write:
        return PipeGone(error);
    case CiIoKind::Control:
        break;
    }

    DWORD received = *bytes;
    *bytes = 0;
    if (error == ERROR_MORE_DATA) {
        DiscardRestOfMessage(device->control.Get());
        return ERROR_INVALID_DATA;
    }
    if (error != ERROR_SUCCESS)
        return PipeGone(error);
    pipeproto::ControlMessage reply;
    if (!pipeproto::DecodeReply(device->reply, received, &reply) || reply.id != device->lastId)
        return ERROR_INVALID_DATA;
    DWORD copied = reply.payloadSize < request.OutputSize ? reply.payloadSize : request.OutputSize;
    if (copied != 0)
        memcpy(request.Output, reply.payload, copied);
    *bytes = copied;
    if (reply.value == ERROR_SUCCESS && copied < reply.payloadSize)
        return ERROR_MORE_DATA;
    return reply.value;
}

bool CiBackendCurrentDriverPresent()
{
    return PipePresent(ControlPath());
}

HANDLE CiBackendLegacyOpen(const char *)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

BOOL CiBackendLegacyControl(HANDLE, DWORD, void *, DWORD, void *, DWORD, DWORD *)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

void CiBackendLegacyClose(HANDLE)
{
}
