// Drives CRegistry from a process of its own, for the tests that restart the wineserver:
//     registry_probe.exe create-volatile PATH   a volatile key with a value
//     registry_probe.exe create PATH            a persistent key with a value
//     registry_probe.exe exists PATH            exit 0 when the key exists, 1 when not
//     registry_probe.exe delete-value PATH      exit 0 when the value was deleted, 1 when not
// PATH is a prefixed path ("HKLM:\...").
#include "registry.h"

#include <cwchar>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return 2;
    const wchar_t *command = argv[1];
    const wchar_t *path = argv[2];
    CRegistry key;
    if (wcscmp(command, L"create-volatile") == 0 || wcscmp(command, L"create") == 0) {
        DWORD options = wcscmp(command, L"create") == 0 ? 0 : REG_OPTION_VOLATILE;
        if (!key.Create(path, options, KEY_ALL_ACCESS) || !key.SetDword(L"Marker", 1))
            return 1;
        return 0;
    }
    key = CRegistry(path, KEY_ALL_ACCESS);
    if (wcscmp(command, L"exists") == 0)
        return key.Exists() ? 0 : 1;
    if (wcscmp(command, L"delete-value") == 0)
        return key.DeleteValue(L"Marker") ? 0 : 1;
    return 2;
}
