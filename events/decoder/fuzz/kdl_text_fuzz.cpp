// The class formatters driven with the structure they expect: the first two bytes pick a class
// (a class without formatter is mapped onto one that has one), the next two are the event code,
// the rest is the class data, exactly as long as the input. Seeds come from the vectors of the
// decoder tests. Every decode must end its line with a NUL within 1023 characters, give the same
// line twice, and report false only together with the exact fallback text.
#include "kdl_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool Decode(uint16_t eventClass, uint16_t code, const KdlClassData &data, char (&buffer)[kKdlTextSize])
{
    std::memset(buffer, 'Z', sizeof buffer);
    KdlText text(buffer, sizeof buffer);
    return DecodeKdlEvent(eventClass, code, data, text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    uint16_t eventClass = static_cast<uint16_t>(data[0] | data[1] << 8);
    const uint16_t code = static_cast<uint16_t>(data[2] | data[3] << 8);
    if (FindKdlClassFormatter(eventClass) == nullptr) {
        auto formatters = KdlClassFormatters();
        eventClass = formatters[eventClass % formatters.size()].Class;
    }
    const KdlClassData classData(data + 4, size - 4);

    static char first[kKdlTextSize], second[kKdlTextSize];
    const bool decodedFirst = Decode(eventClass, code, classData, first);
    const bool decodedSecond = Decode(eventClass, code, classData, second);
    const void *nul = std::memchr(first, '\0', sizeof first);
    Check(nul != nullptr);
    Check(decodedFirst == decodedSecond);
    Check(std::strcmp(first, second) == 0);
    Check(first[0] != '\0');
    if (!decodedFirst) {
        char fallback[64];
        std::snprintf(fallback, sizeof fallback, "Unknown Event (Class 0x%02X, Code 0x%02X)", eventClass, code);
        Check(std::strcmp(first, fallback) == 0);
    }
    return 0;
}
