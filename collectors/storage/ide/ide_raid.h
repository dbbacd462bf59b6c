#pragma once
// The RAID state of the controllers that keep one: the status of CSMI SATA controllers, and the
// logical drives of IDE RAID ("$XIDE$") and CSMI SATA controllers with the disks they name.

#include "ide_state.h"

// CSMI status into the controller status (type 5), then the second status and condition for
// every type: the CSMI result, or -1 for other types.
int IdeControllerStatus(IDE_CONTROLLER_NODE *controller);
// Rebuilds the controller's logical drives: the first failing request's result, -1 for types
// without RAID state.
int IdeRefreshLogicalDrives(IDE_CONTROLLER_NODE *controller);
