#include "kdl_formatters.h"

void FormatEmptyEntry(uint16_t, const KdlClassData &, KdlText &text)
{
    text.Format("Empty");
}

void FormatReservedEntry(uint16_t, const KdlClassData &, KdlText &text)
{
    text.Format("Reserved");
}
