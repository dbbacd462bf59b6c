#pragma once
// The SAS discovery engine: what the server's SAS host adapters hold (drives, expanders, logical
// drives), kept in process memory between refreshes in singly linked lists of plain records.
// Each export call rebuilds the adapter list, walks every adapter once and republishes the SCSI
// registry records. Runs only on the data-collection thread; nothing here locks or logs.

#include <windows.h>

#include <cstdint>

#include "csmi_reply.h"
#include "sas_records.h"
#include "storage_box.h"

// Where a device was found: {0, adapter phy}, {expander id, expander phy}, or
// {SAS_BAY_KEY_BASE + enclosure number, bay}.
struct SAS_LOCATION_KEY {
    uint32_t Parent;
    uint32_t Number;
};
constexpr uint32_t SAS_BAY_KEY_BASE = 0x10000000;

// A device as the adapter's PHY information shows it; devices behind expanders get one built
// from their DISCOVER reply.
using SAS_DEVICE_ENTRY = CSMI_PHY_ENTITY_INFO;

struct SAS_DRIVE_NODE {
    SAS_DRIVE_NODE *Next;
    SAS_PHYDRV_RECORD Record;
    uint8_t SasAddress[8];
    SAS_LOCATION_KEY Key;
    uint8_t Seen;
    uint8_t Bay;
    uint8_t FromRaid;
    uint8_t Missed;          // missed once already: the next miss frees a drive without array
};

struct SAS_EXPANDER_RECORD {
    SAS_EXPANDER_RECORD *Next;
    uint32_t Id;
    SAS_LOCATION_KEY Key;
    uint8_t PhyId;
    uint8_t PortId;
    uint8_t LinkRate;
    uint8_t TargetFlags;
    uint8_t SasAddress[8];
    uint8_t Phys;
    uint8_t Visited;
};

struct SAS_LOGDRV_NODE {
    SAS_LOGDRV_NODE *Next;
    SAS_LOGDRV_RECORD Record;
};

// An enclosure: its box record lives in the storage box list while the node does.
struct SAS_BOX_NODE {
    SAS_BOX_NODE *Next;
    SAS_LOCATION_KEY Key;
    STORAGE_BOX_RECORD Box;
    uint8_t SasAddress[8];
    char SasAddressText[17];
    uint8_t Seen;
    uint8_t Listed;          // the storage box list took it
    uint32_t Number;         // enclosure number on its adapter, from 1
};

struct SAS_TAPE_NODE {
    SAS_TAPE_NODE *Next;
    SAS_TAPEDRV_RECORD Record;
    uint8_t Seen;
};

struct SAS_HBA_NODE {
    SAS_HBA_NODE *Next;
    HANDLE Handle;
    SAS_DRIVE_NODE *Drives;
    SAS_LOGDRV_NODE *LogicalDrives;
    SAS_BOX_NODE *Boxes;
    SAS_EXPANDER_RECORD *Expanders;
    SAS_TAPE_NODE *Tapes;
    SAS_HBA_RECORD Record;
    uint32_t PublishedDrives;
    uint32_t NextId;          // last id given to a drive or expander
    uint32_t NextBox;         // last enclosure number given
};

struct SAS_DISCOVERY {
    SAS_HBA_NODE *First;
    uint8_t Overall;
    uint8_t Rebuild;
};
extern SAS_DISCOVERY s_SasDiscovery;

// Count-then-fill copies of the adapter and drive records: 13 without a count; the refresh's
// error; else 0 with up to *count records copied, and *count set to the number there are when
// it was 0 or less.
int SasGetHbaList(void *buffer, int32_t *count);
int SasGetPhysicalDriveList(void *buffer, int32_t *count);

int SasDiscoveryRefresh();

// Controller kinds: 2 for an adapter accepted by the generic board-id pattern, 3 to 13 for the
// adapters of the table; 0 for a board id that is not accepted at all.
uint8_t SasControllerKind(uint32_t boardId);
bool SasIsInternalPort(uint8_t kind, uint8_t phy);
const char *SasPortName(uint8_t kind, uint8_t phy);

// The maker's external enclosures, by the start of their INQUIRY product text.
bool SasIsExternalEnclosure(const char *product);

// Tests only: every adapter freed and its handle closed, as a new process starts.
void SasResetForTest();
// Tests only: every node allocation of the engine fails while set.
void SasFailAllocationsForTest(bool fail);
