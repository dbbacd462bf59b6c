#pragma once
// The QZTLMStorage registry tree: the table of subkey paths below HKLM\SYSTEM and the key
// operations the storage writers share. Code names a row of STORAGE_KEY_TABLE, never a path.
// Every key created here is volatile, so the tree goes when the operating system restarts.

#include <windows.h>

#include <array>
#include <cstring>

constexpr int STORAGE_KEY_ROWS = 155;
constexpr size_t STORAGE_KEY_PATH_SIZE = 128;
using STORAGE_KEY_ROW_TEXT = std::array<char, STORAGE_KEY_PATH_SIZE>;

enum StorageKeyRow : int {
    STORAGE_ROW_ROOT = 0,
    STORAGE_ROW_IDE = 36,
    STORAGE_ROW_IDE_DEVICE = 37,
    STORAGE_ROW_BOX = 46,
    STORAGE_ROW_SCSI = 57,
    STORAGE_ROW_IDE_CONTROLLER = 134,
    STORAGE_ROW_IDE_ATADISK = 135,
    STORAGE_ROW_IDE_ATAPIDEVICE = 136,
    STORAGE_ROW_IDE_LOGICALDRIVE = 137,
    STORAGE_ROW_ISCSI = 143,
    STORAGE_ROW_ISCSI_INSTANCE = 144,
    STORAGE_ROW_ISCSI_PORTAL = 145,
    STORAGE_ROW_ISCSI_NODE = 146,
    STORAGE_ROW_ISCSI_INITIATOR = 147,
    STORAGE_ROW_ISCSI_SESSION = 148,
    STORAGE_ROW_ISCSI_CONNECTION = 149,
    STORAGE_ROW_SAS_HBA = 151,
    STORAGE_ROW_SAS_LOGDRV = 152,
    STORAGE_ROW_SAS_PHYDRV = 153,
    STORAGE_ROW_SAS_TAPEDRV = 154,
};

namespace storage_keys_detail {
constexpr void SetRow(std::array<STORAGE_KEY_ROW_TEXT, STORAGE_KEY_ROWS> &table, int row, const char *text)
{
    for (size_t i = 0; text[i] != '\0' && i + 1 < STORAGE_KEY_PATH_SIZE; ++i)
        table[row][i] = text[i];
}
// Only the rows this system opens carry their paths; the other rows name keys of other agents
// that nothing here touches, and stay empty apart from the root's repetitions.
constexpr std::array<STORAGE_KEY_ROW_TEXT, STORAGE_KEY_ROWS> MakeTable()
{
    std::array<STORAGE_KEY_ROW_TEXT, STORAGE_KEY_ROWS> table{};
    SetRow(table, 0, "QZTLMStorage");
    SetRow(table, 8, "QZTLMStorage");
    SetRow(table, 36, "QZTLMStorage\\Ide");
    SetRow(table, 37, "QZTLMStorage\\Ide\\Device");
    SetRow(table, 46, "QZTLMStorage\\StorageSystem\\Box");
    SetRow(table, 57, "QZTLMStorage\\SCSI");
    SetRow(table, 134, "QZTLMStorage\\Ide\\Controller");
    SetRow(table, 135, "QZTLMStorage\\Ide\\AtaDisk");
    SetRow(table, 136, "QZTLMStorage\\Ide\\AtapiDevice");
    SetRow(table, 137, "QZTLMStorage\\Ide\\LogicalDrive");
    SetRow(table, 143, "QZTLMStorage\\iSCSI");
    SetRow(table, 144, "QZTLMStorage\\iSCSI\\Instance");
    SetRow(table, 145, "QZTLMStorage\\iSCSI\\Portal");
    SetRow(table, 146, "QZTLMStorage\\iSCSI\\Node");
    SetRow(table, 147, "QZTLMStorage\\iSCSI\\Initiator");
    SetRow(table, 148, "QZTLMStorage\\iSCSI\\Session");
    SetRow(table, 149, "QZTLMStorage\\iSCSI\\Connection");
    SetRow(table, 150, "QZTLMStorage\\SCSI");
    SetRow(table, 151, "QZTLMStorage\\SCSI\\SasHBA");
    SetRow(table, 152, "QZTLMStorage\\SCSI\\SasLogDrv");
    SetRow(table, 153, "QZTLMStorage\\SCSI\\SASPhyDrv");
    SetRow(table, 154, "QZTLMStorage\\SCSI\\SASTapeDrv");
    return table;
}
} // namespace storage_keys_detail

inline constexpr std::array<STORAGE_KEY_ROW_TEXT, STORAGE_KEY_ROWS> STORAGE_KEY_TABLE = storage_keys_detail::MakeTable();

// The subkey text of a row; "" for a row outside the table.
inline const char *StorageKeyPath(int row)
{
    return row >= 0 && row < STORAGE_KEY_ROWS ? STORAGE_KEY_TABLE[row].data() : "";
}

// Deletes the row's key (its result ignored) and creates it again, volatile; the new key is
// closed. A Win32 code.
LONG RecreateStorageKey(HKEY systemKey, int row);
// recreate 1: delete and create the key (volatile); otherwise open it. The caller closes *key.
LONG OpenOrRecreateStorageKey(HKEY systemKey, const char *rowText, int recreate, HKEY *key);
// Opens the key, creating it (volatile) when it is missing. The caller closes *key.
LONG OpenOrCreateStorageKey(HKEY systemKey, const char *rowText, HKEY *key);
