#pragma once
// The SD/USB storage kit's log disk: a raw area of text records. A read takes whole sectors; one
// through a handle opened without buffering also needs a sector-aligned buffer (the server's rule).

#include "sim_device.h"

#include <cstdint>
#include <string>
#include <vector>

class SimKitLogDisk final : public SimDevice {
public:
    static constexpr DWORD kSectorBytes = 512;
    // The records, oldest first, each ended by a NUL; the rest of size bytes is 0xFF.
    explicit SimKitLogDisk(const std::vector<std::string> &records, size_t size = 65536);
    void SetRecords(const std::vector<std::string> &records);

    DWORD Control(DWORD, const void *, DWORD, void *, DWORD, DWORD *returned) override
    {
        *returned = 0;
        return ERROR_INVALID_FUNCTION;
    }
    DWORD Read(void *out, DWORD size, DWORD *read) override;
    DWORD SectorBytes() const override { return kSectorBytes; }
    size_t Reads() const { return m_Reads; }

private:
    std::vector<uint8_t> m_Bytes;
    size_t m_Reads = 0;
};
