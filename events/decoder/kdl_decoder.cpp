#include "kdl_decoder.h"

#include "kdl_formatters.h"

#include <iterator>

namespace {

// One row per class that has text; a class without a row decodes to the fallback. Adding a class
// is adding its formatter (kdl_formatters.h) and its row here.
const KdlClassFormatterRow kClassFormatters[] = {
    {0, FormatEmptyEntry},
    {1, FormatReservedEntry},
    {2, FormatEnvironmentEvent},
    {3, FormatMemoryEvent},
    {4, FormatAcceleratorEvent},
    {5, FormatProcessorEvent},
    {6, FormatHostBusEvent},
    {7, FormatEisaEvent},
    {8, FormatPciBusEvent},
    {9, FormatSlotEvent},
    {10, FormatPostEvent},
    {11, FormatPowerEvent},
    {13, FormatAsrEvent},
    {14, FormatOsEvent},
    {17, FormatNetworkAdapterEvent},
    {18, FormatScsiEvent},
    {19, FormatDriveArrayEvent},
    {20, FormatSystemErrorEvent},
    {32, FormatFlashEvent},
    {33, FormatMaintenanceEvent},
    {34, FormatRackInfrastructureEvent},
    {37, FormatVyrBoardEvent},
    {38, FormatEnclosureGenuineEvent},
    {39, FormatPowerCapEvent},
    {40, FormatBootFlashEvent},
    {41, FormatDeviceSeatingEvent},
    {42, FormatNvdimmEvent},
};

// The text table of every formatter (kdl_text_table.h). Adding a formatter adds its table here.
std::span<const KdlTextGroup> (*const kTextTables[])() = {
    EnvironmentTexts, MemoryTexts, PowerTexts, RackInfrastructureTexts, PowerCapTexts, EnclosureTexts,
    RecoveryTexts, ProcessorTexts, VyrBoardTexts, StorageTexts,
};

} // namespace

std::vector<KdlTextRow> KdlTextCatalogue()
{
    std::vector<KdlTextRow> rows;
    for (auto table : kTextTables)
        for (KdlTextGroup group : table())
            rows.insert(rows.end(), group.begin(), group.end());
    return rows;
}

std::span<const KdlClassFormatterRow> KdlClassFormatters()
{
    return kClassFormatters;
}

KdlClassFormatter FindKdlClassFormatter(uint16_t eventClass)
{
    for (const auto &row : kClassFormatters)
        if (row.Class == eventClass)
            return row.Formatter;
    return nullptr;
}

bool DecodeKdlEvent(uint16_t eventClass, uint16_t code, const KdlClassData &data, KdlText &text)
{
    text.Clear();
    if (KdlClassFormatter formatter = FindKdlClassFormatter(eventClass))
        formatter(code, data, text);
    if (!text.Empty())
        return true;
    text.Format("Unknown Event (Class 0x%02X, Code 0x%02X)", static_cast<unsigned>(eventClass),
                static_cast<unsigned>(code));
    return false;
}

bool KdlEntryToText(const KdlEntryView &entry, KdlText &text)
{
    return DecodeKdlEvent(entry.Class(), entry.Code(), entry.ClassData(), text);
}
