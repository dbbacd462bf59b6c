// Taking the copy from the firmware, and the service's instance.
#include "smbios_table.h"

#include <windows.h>

#include <new>

namespace {

constexpr DWORD kRawSmbiosProvider = 0x52534D42; // 'RSMB'

} // namespace

std::unique_ptr<CSMBIOSTable> s_SMBIOSTable;

CSMBIOSTable::CSMBIOSTable()
{
    Load();
}

int CSMBIOSTable::Load()
{
    try {
        UINT needed = GetSystemFirmwareTable(kRawSmbiosProvider, 0, nullptr, 0);
        if (needed == 0)
            return Assign({});
        std::vector<uint8_t> copy(needed);
        UINT copied = GetSystemFirmwareTable(kRawSmbiosProvider, 0, copy.data(), needed);
        // A table that grew between the two calls is not taken by halves.
        if (copied == 0 || copied > needed)
            return Assign({});
        copy.resize(copied);
        return Assign(std::move(copy));
    } catch (const std::bad_alloc &) {
        return Assign({});
    }
}
