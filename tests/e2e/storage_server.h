#pragma once
// The storage server of the storage end-to-end test, for collector_e2e_host.exe: one simulated
// server behind the storage device seam that every storage collector sees at once, the test HBA
// API library for its Fibre Channel adapters, and a root\WMI with the iSCSI initiator's classes.
//
//   SAS adapter 0 ("\\.\Scsi0:"): two SAS drives and a SATA drive on its phys, and on a wide port
//                 an expander with four SAS drives and the enclosure that holds them;
//   SAS adapter 1 ("\\.\Scsi1:"): two SAS drives in a RAID 1 set whose volume is a disk of the
//                 system, and a solid-state drive with its wear log;
//   "\\.\Scsi2:": a SATA controller found by its bus type, with a solid-state disk;
//   "\\.\Scsi3:": a CSMI SATA controller with two disks in a RAID set;
//   "\\.\Scsi4:", "\\.\Scsi5:": the ports of two FC adapters, each in a slot of its own;
//   the initiator: one instance with two sessions over one portal.
//
// Collection cycles change it by script: before cycle 2 a drive behind the expander predicts its
// failure and the second FC adapter's port loses its link; before cycle 3 a drive on adapter 0 is
// pulled, the solid-state drive on adapter 1 wears and the initiator logs in a third session.

#include <cstdio>
#include <string>

// Installs the server; library is the test HBA API library's path. False when that fails to load.
bool InstallStorageServer(const std::wstring &library);
// The scripted change before collection cycle `cycle` (1 is the first).
void StorageServerBeforeCycle(int cycle);
// After a cycle: the device requests it sent, by kind, and the devices whose handles stay open;
// the simulator then forgets those requests and the handles closed.
void StorageServerAfterCycle(FILE *report);
