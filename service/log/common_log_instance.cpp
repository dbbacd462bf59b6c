// The one log object of the binary that links this library (the service program and the NIC
// library each get their own; both append to the same file).
#include "common_log.h"

CCommonLog s_CommonLog;
