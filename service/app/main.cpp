#include "service_entry.h"

int wmain(int argc, wchar_t **argv)
{
    return RunServiceProgram(argc, argv);
}
