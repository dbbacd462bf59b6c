#pragma once
// The standard equipment of a test machine, from a fixture file the end-to-end test writes and
// changes between cycles: PCI functions (made from a real PCI tree by
// tools/storagesim/pci_fixture.py), NVMe disks with their controllers, the SD/USB kit's log and
// the operating-system version. Tests only: it installs the simulated storage server and a WMI
// connection that answers the disk and controller classes from the fixture.
//
// Lines, tab-separated:
//   os      VERSION
//   pci     INSTANCE-ID BUS DEVICE FUNCTION NAME HARDWARE-ID[;HARDWARE-ID...]
//   nvme    INDEX SERIAL MODEL TEMPERATURE REFERENCE PERCENT-USED STATUS CONTROLLER-ID LOCATION
//   kitlog  RECORD
// The file is read again at the start of every collection cycle whose file differs from the last.

#include <string>

void InstallStdeqFixture(const std::wstring &path);
