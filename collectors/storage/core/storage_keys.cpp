#include "storage_keys.h"

namespace {

LONG CreateVolatile(HKEY systemKey, const char *path, HKEY *key)
{
    DWORD disposition = 0;
    return RegCreateKeyExA(systemKey, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, key,
                           &disposition);
}

} // namespace

LONG RecreateStorageKey(HKEY systemKey, int row)
{
    const char *path = StorageKeyPath(row);
    RegDeleteKeyA(systemKey, path);
    HKEY key = nullptr;
    LONG result = CreateVolatile(systemKey, path, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}

LONG OpenOrRecreateStorageKey(HKEY systemKey, const char *rowText, int recreate, HKEY *key)
{
    *key = nullptr;
    if (recreate == 1) {
        RegDeleteKeyA(systemKey, rowText);
        return CreateVolatile(systemKey, rowText, key);
    }
    return RegOpenKeyA(systemKey, rowText, key);
}

LONG OpenOrCreateStorageKey(HKEY systemKey, const char *rowText, HKEY *key)
{
    *key = nullptr;
    return CreateVolatile(systemKey, rowText, key);
}
