#include "nic_common.h"

extern "C" int ZdtNicMgmtReportError(int, const void *, int)
{
    return 1;
}
