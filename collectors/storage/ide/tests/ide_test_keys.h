#pragma once
// Test helper: the Ide keys the layer re-creates at start, and whether each exists without values.
#include "storage_keys.h"

#include <gtest/gtest.h>

#include <cstdio>

inline void ExpectEmptyIdeKeys()
{
    for (int row : {STORAGE_ROW_IDE_DEVICE, STORAGE_ROW_IDE_CONTROLLER, STORAGE_ROW_IDE_ATADISK,
                    STORAGE_ROW_IDE_ATAPIDEVICE, STORAGE_ROW_IDE_LOGICALDRIVE}) {
        char path[160];
        std::snprintf(path, sizeof path, "SYSTEM\\%s", StorageKeyPath(row));
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key), ERROR_SUCCESS) << path;
        DWORD values = 99;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                         nullptr);
        EXPECT_EQ(values, 0u) << path;
        RegCloseKey(key);
    }
}
