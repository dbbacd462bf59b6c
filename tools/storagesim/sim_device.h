#pragma once
// A device of the simulated storage server. Each model answers the I/O controls it knows, byte
// for byte as the real driver lays its reply out, and refuses the rest like a driver does
// (ERROR_INVALID_FUNCTION). Later device models (ATA and SCSI disks, expanders, enclosures, FC
// ports...) derive from SimDevice in files of their own.

#include <windows.h>

#include <cstdint>
#include <vector>

class SimDevice {
public:
    virtual ~SimDevice() = default;
    // 0 with *returned set, or the Win32 error the driver would give. in and out may be the same
    // buffer (METHOD_BUFFERED requests are sent that way).
    virtual DWORD Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned) = 0;
    // A read from the device's start (every open reads from byte 0): 0 with *read set, or the
    // Win32 error. Devices without data refuse it. The server has refused an unbuffered read that
    // is not sector-aligned before it comes here.
    virtual DWORD Read(void *out, DWORD size, DWORD *read)
    {
        (void)out, (void)size;
        *read = 0;
        return ERROR_INVALID_FUNCTION;
    }
    // The sector size an unbuffered read must align its buffer and size to.
    virtual DWORD SectorBytes() const { return 512; }
};

// Something on the SAS fabric behind a CSMI controller that answers pass-through requests. The
// whole request buffer is handed over; the target writes its reply fields and data in place.
class SimSasTarget {
public:
    virtual ~SimSasTarget() = default;
    // Each returns the bytes of the reply (the buffer's size on a full reply), or 0 for no
    // answer. Defaults: no answer (connection status says so).
    virtual DWORD Ssp(uint8_t *buffer, DWORD size) { (void)buffer; (void)size; return 0; }
    virtual DWORD Stp(uint8_t *buffer, DWORD size) { (void)buffer; (void)size; return 0; }
    virtual DWORD Smp(uint8_t *buffer, DWORD size) { (void)buffer; (void)size; return 0; }
};

// Copies a reply into the caller's buffer, as much as fits; the bytes copied.
inline DWORD CopyReply(const std::vector<uint8_t> &reply, void *out, DWORD outSize)
{
    DWORD count = reply.size() < outSize ? static_cast<DWORD>(reply.size()) : outSize;
    if (count != 0)
        memcpy(out, reply.data(), count);
    return count;
}
