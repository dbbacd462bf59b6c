// A library that enters Win2KMain and never answers: no Done, no acknowledgement of the stop.
// The collector must stop it on its own bounds.
#include <windows.h>

extern "C" int Win2KMain(int, char **)
{
    Sleep(INFINITE);
    return 0;
}
