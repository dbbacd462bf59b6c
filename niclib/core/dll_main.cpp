// The library's entry does no work of its own: loading constructs the static objects (the log,
// the registry root, the platform table) and nothing else; no COM, no thread.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
