// Raw bytes as they could arrive after a packet header: the entry is opened, decoded twice into
// guarded buffers of several sizes, and the shared helpers are run over its class data. Any read
// or write out of bounds stops the run through the sanitizers; a text that is not terminated
// within its bound, a touched guard or two different results for the same bytes trap.
#include "kdl_decoder.h"
#include "kdl_entry.h"
#include "kdl_event_id.h"
#include "kdl_format.h"
#include "kdl_names.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kGuard = 16;
constexpr char kGuardByte = '\x5A';

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void CheckField(const KdlField &field)
{
    Check(std::memchr(field.Text, '\0', sizeof field.Text) != nullptr);
}

// Decodes into a buffer of the given capacity between two guards; returns the decoder's result.
bool DecodeGuarded(const KdlEntryView &view, size_t capacity, char *out, size_t outSize)
{
    static char area[kGuard + kKdlTextSize + kGuard];
    std::memset(area, kGuardByte, sizeof area);
    char *buffer = area + kGuard;
    KdlText text(buffer, capacity);
    bool decoded = KdlEntryToText(view, text);
    for (size_t i = 0; i < kGuard; ++i)
        Check(area[i] == kGuardByte);
    for (size_t i = kGuard + capacity; i < sizeof area; ++i)
        Check(area[i] == kGuardByte);
    if (capacity > 0) {
        Check(std::memchr(buffer, '\0', capacity) != nullptr);
        Check(text.Length() < capacity);
    }
    std::memset(out, 0, outSize);
    std::memcpy(out, buffer, capacity < outSize ? capacity : outSize);
    return decoded;
}

void RunHelpers(const KdlClassData &d)
{
    for (size_t offset = 0; offset < 8; ++offset) {
        uint8_t b = d.Byte(offset);
        const char *names[] = {
            SensorLocationName(b),     PowerComponentName(b),     AcLineEventName(b),     PowerOnDenialName(b),
            EnclosureSideName(b),      PowerConfigErrorName(b),   PowerModuleFaultName(b), PowerBusName(b),
            EnclosureComponentName(b), ManagementBusDeviceName(b), ManagementBoardErrorName(b),
            PowerDenialReasonName(b),  PowerSupplyFailureName(b), UpperLowerName(b),      InterlockFaultPrefix(b),
            EnclosureTypeName(b),      ExternalInternalName(d),
        };
        for (const char *name : names)
            Check(name != nullptr);
        size_t at = d.Byte(offset + 8);
        KdlField s = d.String(at);
        CheckField(s);
        CheckField(SqueezeSpaces(s.c_str()));
        CheckField(FormatChassisName(b, s.c_str()));
        CheckField(FormatChassisPrefix(s.c_str()));
        CheckField(FormatControllerLocation(d, at, b));
        CheckField(FormatEnclosureId(s.c_str(), d));
        CheckField(FormatStorageDevice(b, d.Byte(offset + 1), d.Byte(offset + 2)));
        CheckField(FormatPortName(b, d.Byte(offset + 1)));
        CheckField(FormatCharOrUnknown(b));
        CheckField(FormatDwordOrUnknown(d.U32(offset)));
        Check(d.After(at) <= d.Size());
        (void)BigEndianValue(d, at, b);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    KdlEntryView view;
    if (KdlEntryView::Open(data, size, &view) != KdlEntryStatus::Ok)
        return 0;
    Check(view.Size() >= kKdlEntryHeaderSize && view.Size() <= size);
    Check(view.ClassData().Size() == view.Size() - kKdlEntryHeaderSize);

    static char first[kKdlTextSize], second[kKdlTextSize];
    bool decodedFirst = DecodeGuarded(view, kKdlTextSize, first, sizeof first);
    bool decodedSecond = DecodeGuarded(view, kKdlTextSize, second, sizeof second);
    Check(decodedFirst == decodedSecond);
    Check(std::memcmp(first, second, sizeof first) == 0);
    Check(first[0] != '\0'); // a line or the fallback, never nothing

    // A smaller buffer holds the start of the same line.
    size_t small = size % 64;
    DecodeGuarded(view, small, second, sizeof second);
    if (small > 0)
        Check(std::strncmp(first, second, small - 1) == 0);

    uint32_t id = KdlEventId(view.Class(), view.Severity());
    Check(id == 0 || (id & 0xFFFF) == static_cast<uint32_t>(view.Class() * 256 + view.Severity()));
    (void)EventTypeFromEventId(id);

    RunHelpers(view.ClassData());
    return 0;
}
