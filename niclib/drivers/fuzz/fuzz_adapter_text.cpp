// The firmware readers' text rules and the port map's table and location reads on arbitrary
// bytes: the first byte picks the reader, the rest is its input.
#include "firmware_text.h"
#include "port_map_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t selector = data[0];
    ++data;
    --size;
    char text[kFirmwareTextBytes];
    switch (selector % 5) {
    case 0: {
        // Version text of any bytes, in a buffer of the size the first byte names.
        const size_t bytes = size > 0 ? 1 + data[0] % kFirmwareTextBytes : 1;
        std::vector<char> buffer(bytes, 0);
        std::memcpy(buffer.data(), data, std::min(size, bytes));
        NormalizeFirmwareVersion(buffer.data(), buffer.size());
        break;
    }
    case 1: {
        uint64_t word = 0;
        std::memcpy(&word, data, std::min(size, sizeof(word)));
        FormatIntelFirmwareVersion(static_cast<uint32_t>(word), text, sizeof(text));
        FormatMlxBootCodeVersion(word, text, sizeof(text));
        FormatPackedFirmwareVersion(static_cast<uint32_t>(word >> 8), text, sizeof(text));
        FormatNetXenFirmwareVersion(data, size, text, sizeof(text));
        SelectFirmwareReader(static_cast<uint32_t>(word), static_cast<uint8_t>(word >> 32));
        break;
    }
    case 2: {
        const size_t offset = size > 0 ? data[0] : 0;
        CopyRecordText(data, size, offset, text, sizeof(text));
        RecordWord(data, size, offset);
        break;
    }
    case 3: {
        CSMBIOSTable table(std::vector<uint8_t>(data, data + size));
        ReadPortMapSmbiosFacts(table);
        break;
    }
    case 4: {
        std::vector<wchar_t> wide(size / 2);
        for (size_t i = 0; i < wide.size(); ++i)
            wide[i] = static_cast<wchar_t>(data[2 * i] | data[2 * i + 1] << 8);
        int32_t numbers[4];
        ParsePortMapLocation(wide.data(), wide.size(), numbers);
        break;
    }
    }
    return 0;
}
