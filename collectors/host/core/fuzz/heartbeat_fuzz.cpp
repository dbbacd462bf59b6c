// The heartbeat key's values come from whoever may write under the host key. Each input is a
// series of passes; every pass takes its values from the bytes.
#include "host_rules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class Bytes {
public:
    Bytes(const uint8_t *data, size_t size) : m_Data(data), m_Size(size) {}
    bool Empty() const { return m_Offset >= m_Size; }
    uint8_t U8() { return m_Offset < m_Size ? m_Data[m_Offset++] : 0; }
    uint32_t U32()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= uint32_t(U8()) << (8 * i);
        return value;
    }
    std::string Text()
    {
        size_t length = U8() % 40;
        std::string text;
        while (length-- > 0 && !Empty())
            text.push_back(static_cast<char>(U8()));
        return text;
    }

private:
    const uint8_t *m_Data;
    size_t m_Size;
    size_t m_Offset = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes bytes(data, size);
    HEARTBEAT_STATE state;
    static const char *const kFormats[] = {"Seconds", "Minute(s)", "Hour(s)", "Day(s)"};
    while (!bytes.Empty()) {
        const uint8_t present = bytes.U8();
        HEARTBEAT_VALUES values;
        values.keyOpened = present & 1;
        if (present & 2)
            values.stopTrap = bytes.U8() % 3;
        if (present & 4)
            values.startTrap = bytes.U8() % 3;
        if (present & 8)
            values.periodicTrapEnabled = bytes.U8() % 3;
        if (present & 16)
            values.timeout = bytes.U32();
        if (present & 32)
            values.timeFmt = (present & 64) ? std::string(kFormats[bytes.U8() % 4]) : bytes.Text();

        const uint64_t before = state.Elapsed();
        const HEARTBEAT_ACTIONS actions = state.Pass(values);
        // A trap goes out only while periodic sending is on, and only with a period to go by.
        if (actions.sendTrap && (!state.Periodic() || !values.timeout))
            abort();
        if (actions.sendTrap && state.Elapsed() != HEARTBEAT_STATE::kPassSeconds)
            abort();
        // Off means the time starts again; on means it grew by one pass, unless a trap reset it.
        if (!state.Periodic() && state.Elapsed() != 0 && state.Elapsed() != before)
            abort();
        if (state.Periodic() && !actions.sendTrap && state.Elapsed() != before + HEARTBEAT_STATE::kPassSeconds)
            abort();
        if (actions.clearStartTrapEcho && state.Periodic())
            abort();
    }
    return 0;
}
